// What the last run found: each sync group as a small timeline, one lane per device,
// the files that synced with nothing, and the documents written.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Flickable {
    id: view
    required property var run       // QMLFile.lastRun
    property string folderProblem   // QMLFile.folderProblem
    property bool running: false
    signal showFolder(string folder)
    signal copyText(string text)

    readonly property string ending: run.state || ""
    readonly property bool stale: run.stale || false
    contentHeight: column.height + 24
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    ScrollBar.vertical: ScrollBar {
        policy: view.contentHeight > view.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
    }

    function fileRows(list) { return list || [] }

    ColumnLayout {
        id: column
        x: 12; y: 12
        width: view.width - 36
        spacing: 10

        Text {
            Layout.fillWidth: true
            visible: view.ending === ""
            text: view.running ? "Syncing… The result shows here when the run ends."
                               : "The result of a run shows here."
            color: Theme.dimInk
            font.pixelSize: Theme.fontSize.body
        }
        // The list changed after this run: what follows is of the list as it was.
        Rectangle {
            objectName: "stalenote"
            visible: view.stale && view.ending !== ""
            Layout.fillWidth: true
            implicitHeight: staleText.implicitHeight + 12
            radius: 4
            color: Theme.quietPanel
            border.color: Theme.line
            Text {
                id: staleText
                anchors { fill: parent; margins: 6 }
                wrapMode: Text.Wrap
                text: "Out of date: the list has changed since this run. Below is what it found in the list as it was; press Sync for the list as it is."
                color: Theme.ink
                font { pixelSize: Theme.fontSize.body; bold: true }
            }
        }
        Text {
            objectName: "resultsentence"
            Layout.fillWidth: true
            visible: view.ending !== ""
            wrapMode: Text.Wrap
            text: view.run.sentence || ""
            color: view.ending === "failed" ? Theme.bad : Theme.ink
            font.pixelSize: Theme.fontSize.body
        }
        // No file manager came: the folder, to copy, where the eye is.
        RowLayout {
            objectName: "folderproblem"
            visible: view.folderProblem !== ""
            Layout.fillWidth: true
            spacing: 8
            Text {
                objectName: "folderproblemtext"
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: view.folderProblem
                color: Theme.bad
                font.pixelSize: Theme.fontSize.body
            }
            CopyButton {
                objectName: "folderproblemcopy"
                copied: view.run.folder || ""
                onCopyRequested: (text) => view.copyText(text)
            }
        }

        Repeater {
            model: view.run.groups || []
            delegate: ColumnLayout {
                id: groupBlock
                required property var modelData
                required property int index
                Layout.fillWidth: true
                spacing: 4
                Text {
                    text: "Sync group " + (groupBlock.index + 1) + "  ·  "
                          + groupBlock.modelData.members.length + " files  ·  "
                          + groupBlock.modelData.spanText
                    color: Theme.ink
                    font { pixelSize: Theme.fontSize.heading; bold: true }
                }
                // The timeline: lanes of bars placed by start and length.
                Rectangle {
                    id: lanes
                    objectName: "timeline"
                    readonly property int laneHeight: 26
                    readonly property real secondsWide: Math.max(groupBlock.modelData.span, 0.001)
                    Layout.fillWidth: true
                    Layout.preferredHeight: groupBlock.modelData.lanes * laneHeight + 8
                    radius: 6
                    color: Theme.panel
                    border.color: Theme.line
                    Repeater {
                        model: groupBlock.modelData.members
                        delegate: Rectangle {
                            id: bar
                            required property var modelData
                            x: 4 + (lanes.width - 8) * modelData.start / lanes.secondsWide
                            y: 4 + modelData.lane * lanes.laneHeight + 2
                            width: Math.max(6, (lanes.width - 8) * modelData.length / lanes.secondsWide)
                            height: lanes.laneHeight - 4
                            radius: 4
                            color: modelData.audioOnly ? Theme.audioBar : Theme.videoBar
                            border.color: barArea.containsMouse ? Theme.ink : "transparent"
                            Text {
                                anchors { fill: parent; leftMargin: 6; rightMargin: 4 }
                                verticalAlignment: Text.AlignVCenter
                                text: bar.modelData.fileName
                                elide: Text.ElideRight
                                color: "white"
                                font.pixelSize: Theme.fontSize.small
                            }
                            MouseArea {
                                id: barArea
                                anchors.fill: parent
                                hoverEnabled: true
                            }
                            ToolTip.visible: barArea.containsMouse
                            ToolTip.text: bar.modelData.fileName + "\nstarts " + bar.modelData.startText
                                          + ", lasts " + bar.modelData.lengthText
                                          + (bar.modelData.refined ? "\noffset refined below one frame"
                                                                   : "\noffset as found, to the frame")
                                          + (bar.modelData.driftText !== "" ? "\n" + bar.modelData.driftText : "")
                                          + (bar.modelData.timecodeText !== "" ? "\n" + bar.modelData.timecodeText : "")
                        }
                    }
                }
                // The same placements as text, for reading and for the keyboard.
                Repeater {
                    model: groupBlock.modelData.members
                    delegate: RowLayout {
                        required property var modelData
                        Layout.fillWidth: true
                        spacing: 10
                        Text {
                            text: modelData.startText
                            font { pixelSize: Theme.fontSize.note; family: "monospace" }
                            color: Theme.ink
                            Layout.preferredWidth: 96
                        }
                        Text {
                            text: modelData.fileName
                            elide: Text.ElideMiddle
                            color: Theme.ink
                            font.pixelSize: Theme.fontSize.note
                            Layout.fillWidth: true
                        }
                        Text {
                            text: modelData.lengthText + (modelData.refined ? "  ·  refined" : "")
                                  + (modelData.driftText !== "" ? "  ·  " + modelData.driftText : "")
                                  + (modelData.timecodeText !== "" ? "  ·  " + modelData.timecodeText : "")
                            color: Theme.dimInk
                            font.pixelSize: Theme.fontSize.note
                        }
                    }
                }
            }
        }

        Text {
            visible: (view.run.unsynced || []).length + (view.run.unreadable || []).length > 0
            text: "Not in any sync group"
            color: Theme.ink
            font { pixelSize: Theme.fontSize.heading; bold: true }
        }
        Repeater {
            model: view.fileRows(view.run.unsynced)
            delegate: Text {
                required property var modelData
                Layout.fillWidth: true
                elide: Text.ElideMiddle
                text: modelData.fileName + "  —  in sync with nothing"
                color: Theme.ink
                font.pixelSize: Theme.fontSize.note
            }
        }
        Repeater {
            model: view.fileRows(view.run.unreadable)
            delegate: Text {
                required property var modelData
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: modelData.fileName + "  —  could not be read: " + modelData.reason
                color: Theme.bad
                font.pixelSize: Theme.fontSize.note
            }
        }

        Text {
            visible: (view.run.documents || []).length > 0 || (view.run.folder || "") !== ""
            text: "Projects"
            color: Theme.ink
            font { pixelSize: Theme.fontSize.heading; bold: true }
        }
        Repeater {
            model: view.fileRows(view.run.documents)
            delegate: RowLayout {
                required property var modelData
                Layout.fillWidth: true
                spacing: 8
                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 0
                    Text {
                        Layout.fillWidth: true
                        text: modelData.path
                        elide: Text.ElideMiddle
                        color: Theme.ink
                        font.pixelSize: Theme.fontSize.note
                    }
                    Text {
                        visible: modelData.applications !== ""
                        text: "Import into " + modelData.applications
                        color: Theme.dimInk
                        font.pixelSize: Theme.fontSize.small
                    }
                }
                CopyButton {
                    copied: modelData.path
                    onCopyRequested: (text) => view.copyText(text)
                }
            }
        }
        RowLayout {
            visible: (view.run.folder || "") !== ""
            Layout.fillWidth: true
            spacing: 8
            Text {
                Layout.fillWidth: true
                text: view.run.folder || ""
                elide: Text.ElideMiddle
                color: Theme.dimInk
                font.pixelSize: Theme.fontSize.note
            }
            Button {
                FocusRing {}
                objectName: "resultshowfolder"
                text: "Show folder"
                onClicked: view.showFolder(view.run.folder)
            }
            CopyButton {
                copied: view.run.folder || ""
                onCopyRequested: (text) => view.copyText(text)
            }
        }
        Repeater {
            model: view.run.notices || []
            delegate: Text {
                required property string modelData
                Layout.fillWidth: true
                wrapMode: Text.Wrap
                text: modelData + "."
                color: Theme.dimInk
                font.pixelSize: Theme.fontSize.note
            }
        }
    }
}
