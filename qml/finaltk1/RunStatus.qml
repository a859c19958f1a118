// The foot of the window: progress and the time left while a run is going, the end of
// the last run after it, and Sync. The native side's stopbar finds the end panel's
// parts by name (progressbar, ima1, text3, newexit, ma3, done) and shows them; only
// backToWork hides them again.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

RowLayout {
    id: foot
    property bool running: false
    property bool stopping: false
    property real progressValue: 0
    property string progressText
    property string timeLeft        // "about 2 min left"; empty while unknown
    property string status          // the controller's last sentence
    property string idleText        // what to do next, when there is no sentence
    property string ending          // how the last run ended: "synced", "nothing", "failed", "stopped"
    property string folder          // where the last run's projects are
    property bool canSync: false
    signal syncRequested()
    signal stopRequested()
    signal showFolderRequested()
    signal quitRequested()

    function backToWork() {
        done.opacity = 0
        ima1.opacity = 0
        text3.scale = 0
        newexit.opacity = 0
    }
    function showProgressBar(shown) { progressbar.opacity = shown ? 1 : 0 }

    Layout.fillHeight: false
    // Tall enough for the end of a run said in full: its sentence wraps, never cut.
    Layout.preferredHeight: Math.max(62, done.visible ? resultline.y + resultline.implicitHeight + 8 : 0)
    spacing: 14

    Item {
        Layout.fillWidth: true
        Layout.fillHeight: true

        RowLayout {
            anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter }
            spacing: 10
            ColumnLayout {
                Layout.fillWidth: true
                spacing: 6
                ProgressBar {
                    id: progressbar
                    objectName: "progressbar"
                    Layout.fillWidth: true
                    opacity: 0
                    from: 0
                    to: 1
                    value: foot.progressValue
                    Behavior on opacity { NumberAnimation { duration: 200 } }
                }
                Text {
                    objectName: "statusline"
                    Layout.fillWidth: true
                    visible: done.opacity < 0.5
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                    color: Theme.ink
                    font.pixelSize: Theme.fontSize.body
                    text: foot.running ? (foot.stopping ? "Stopping…"
                                          : foot.progressText + (foot.timeLeft !== "" ? "  ·  " + foot.timeLeft : ""))
                         : foot.status !== "" ? foot.status : foot.idleText
                }
            }
            Button {
                FocusRing {}
                objectName: "stopbutton"
                visible: foot.running
                enabled: !foot.stopping
                text: "Stop"
                onClicked: foot.stopRequested()
            }
        }

        // The end of the last run, coloured by how it ended: green only when projects
        // were written. Without a state of its own it reads "Nothing in sync".
        Rectangle {
            id: done
            objectName: "done"
            anchors.fill: parent
            radius: Theme.boxRadius
            color: Theme.quietPanel
            border.color: Theme.line
            opacity: 0
            visible: opacity > 0
            Behavior on opacity { NumberAnimation { duration: 250 } }
            state: foot.ending
            states: [
                State {
                    name: "synced"
                    PropertyChanges { target: done; color: Theme.syncedPanel; border.color: Theme.syncedLine }
                    PropertyChanges { target: ima1; color: Theme.okGreen }
                    PropertyChanges { target: endMark; text: "✓" }
                    PropertyChanges { target: text3; visible: true }
                },
                State {
                    name: "failed"
                    PropertyChanges { target: done; color: Theme.failedPanel; border.color: Theme.failedLine }
                    PropertyChanges { target: ima1; color: Theme.bad }
                    PropertyChanges { target: endMark; text: "!" }
                    PropertyChanges { target: headline; text: "The run could not go on"; color: Theme.bad }
                },
                State {
                    name: "stopped"
                    PropertyChanges { target: endMark; text: "■" }
                    PropertyChanges { target: headline; text: "Stopped" }
                }
            ]

            Rectangle {
                id: ima1
                objectName: "ima1"
                width: 34; height: 34; radius: 17
                anchors { left: parent.left; leftMargin: 12; verticalCenter: parent.verticalCenter }
                color: Theme.dimInk
                opacity: 0
                Text {
                    id: endMark
                    objectName: "endmark"
                    anchors.centerIn: parent
                    text: "–"
                    color: "white"
                    font { pixelSize: Theme.fontSize.mark; bold: true }
                }
            }
            // stopbar writes "Done!" here; it is shown only when it is true.
            Text {
                id: text3
                objectName: "text3"
                anchors { left: ima1.right; leftMargin: 12; top: parent.top; topMargin: 7 }
                transformOrigin: Item.Left
                scale: 0
                visible: false
                text: ""
                color: Theme.okGreen
                font { pixelSize: Theme.fontSize.headline; bold: true }
                Behavior on scale { NumberAnimation { duration: 250; easing.type: Easing.OutBack } }
            }
            Text {
                id: headline
                objectName: "headline"
                anchors { left: text3.left; top: text3.top }
                transformOrigin: Item.Left
                scale: text3.scale
                visible: !text3.visible
                text: "Nothing in sync"
                color: Theme.ink
                font { pixelSize: Theme.fontSize.headline; bold: true }
            }
            Text {
                id: resultline
                objectName: "resultline"
                anchors { left: text3.left; right: endButtons.left; rightMargin: 10; top: headline.bottom; topMargin: 2 }
                wrapMode: Text.Wrap
                text: foot.status
                color: Theme.ink
                font.pixelSize: Theme.fontSize.note
            }
            Row {
                id: endButtons
                anchors { right: parent.right; rightMargin: 12; verticalCenter: parent.verticalCenter }
                spacing: 8
                Button {
                    FocusRing {}
                    objectName: "showfolder"
                    visible: foot.folder !== ""
                    text: "Show folder"
                    onClicked: foot.showFolderRequested()
                }
                Rectangle {
                    id: newexit
                    objectName: "newexit"
                    width: 70; height: 32; radius: Theme.controlRadius
                    color: ma3.containsMouse ? Theme.pressed : "white"
                    border.color: activeFocus ? Theme.accent : Theme.line
                    border.width: activeFocus ? 2 : 1
                    opacity: 0
                    activeFocusOnTab: opacity > 0.5
                    Accessible.role: Accessible.Button
                    Accessible.name: "Quit"
                    Keys.onReturnPressed: foot.quitRequested()
                    Keys.onSpacePressed: foot.quitRequested()
                    Text {
                        anchors.centerIn: parent
                        text: "Quit"
                        color: Theme.ink
                        font.pixelSize: Theme.fontSize.body
                    }
                    MouseArea {
                        id: ma3
                        objectName: "ma3"
                        anchors.fill: parent
                        enabled: newexit.opacity > 0.5
                        hoverEnabled: true
                        onClicked: foot.quitRequested()
                    }
                }
            }
        }
    }

    Button {
        FocusRing {}
        id: syncButton
        objectName: "syncbutton"
        text: foot.running ? "Syncing…" : "Sync"
        // A second run would write the same files as the first.
        enabled: !foot.running && foot.canSync
        font { pixelSize: Theme.fontSize.large; bold: true }
        Layout.preferredWidth: 120
        Layout.preferredHeight: 44
        onClicked: foot.syncRequested()
        contentItem: Text {
            text: syncButton.text
            font: syncButton.font
            color: syncButton.enabled ? "white" : Theme.dimInk
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: Theme.boxRadius
            color: !syncButton.enabled ? Theme.pressed
                 : syncButton.down ? Qt.darker(Theme.accent, 1.2)
                 : syncButton.hovered ? Qt.lighter(Theme.accent, 1.1) : Theme.accent
        }
    }
}
