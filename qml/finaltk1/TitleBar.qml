// The title bar: the window has no system frame, so it moves by this bar, a double click
// on it maximises or restores the window, and it holds the minimise, maximise and close
// buttons.
import QtQuick
import QtQuick.Controls

Rectangle {
    id: bar
    property int cornerRadius: Theme.frameRadius
    property bool maximised: false
    signal minimiseRequested()
    signal maximiseToggled()
    signal closeRequested()

    objectName: "titlebar"
    height: Theme.titleHeight
    radius: cornerRadius
    color: Theme.titleBar
    Rectangle {  // squares off the lower corners of the bar
        anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
        height: parent.radius
        color: parent.color
    }

    MouseArea {
        anchors.fill: parent
        property point pressedAt
        property bool manual: false
        onPressed: (mouse) => {
            // Window managers move the window themselves; without one, follow the mouse.
            manual = !bar.Window.window.startSystemMove()
            pressedAt = Qt.point(mouse.x, mouse.y)
        }
        onPositionChanged: (mouse) => {
            if (!manual)
                return
            const win = bar.Window.window
            win.x += mouse.x - pressedAt.x
            win.y += mouse.y - pressedAt.y
        }
        onDoubleClicked: bar.maximiseToggled()
    }

    Row {
        anchors { left: parent.left; leftMargin: 16; verticalCenter: parent.verticalCenter }
        spacing: 10
        Rectangle {
            width: 22; height: 22; radius: 11
            color: Theme.accent
            anchors.verticalCenter: parent.verticalCenter
            Row {  // a small waveform as the badge
                anchors.centerIn: parent
                spacing: 2
                Repeater {
                    model: [6, 12, 8, 14, 5]
                    Rectangle {
                        required property int modelData
                        width: 2; height: modelData; radius: 1
                        color: "white"
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
            }
        }
        Text {
            text: "Brenvik"
            color: "white"
            font { pixelSize: Theme.fontSize.title; bold: true }
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            text: "line up recordings by their sound"
            color: Theme.titleInk
            font.pixelSize: Theme.fontSize.note
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    Row {
        anchors { right: parent.right; rightMargin: 8; verticalCenter: parent.verticalCenter }
        spacing: 2
        TitleButton {
            label: "–"
            tip: "Minimise"
            onClicked: bar.minimiseRequested()
        }
        TitleButton {
            objectName: "maximisebutton"
            label: bar.maximised ? "❐" : "□"
            tip: bar.maximised ? "Restore" : "Maximise"
            onClicked: bar.maximiseToggled()
        }
        TitleButton {
            objectName: "closebutton"
            label: "✕"
            tip: "Close Brenvik"
            hoverColor: Theme.closeHover
            onClicked: bar.closeRequested()
        }
    }
}
