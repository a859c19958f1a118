// Asks before a running run is lost.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Popup {
    id: dialog
    signal quitRequested()

    objectName: "quitpopup"
    modal: true
    padding: 20
    background: Rectangle {
        radius: 10
        color: "white"
        border.color: Theme.line
    }
    contentItem: ColumnLayout {
        spacing: 14
        Text {
            text: "A sync run is going."
            color: Theme.ink
            font { pixelSize: Theme.fontSize.large; bold: true }
        }
        Text {
            text: "Quitting stops it; no projects are written."
            color: Theme.ink
            font.pixelSize: Theme.fontSize.body
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8
            Button {
                FocusRing {}
                text: "Keep running"
                focus: true
                onClicked: dialog.close()
            }
            Button {
                FocusRing {}
                text: "Stop and quit"
                onClicked: dialog.quitRequested()
            }
        }
    }
}
