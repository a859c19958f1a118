// What the last run found: each sync group as a small timeline, one lane per device,
// the files that synced with nothing, and the documents written.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Flickable {
    id: view
    required property var run       // QMLFile.lastRun
    property var projects: ({})     // QMLFile.projects: its documents for the user's editor
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

        // The one document for the user's editor, with what to do with it, first.
        Repeater {
            model: view.fileRows(view.projects.open)
            delegate: RowLayout {
                required property var modelData
                Layout.fillWidth: true
                spacing: 8
                Text {
                    objectName: "opendocument"
                    Layout.fillWidth: true
                    text: "Open in " + view.projects.editor + ": " + modelData.fileName
                    elide: Text.ElideMiddle
                    color: Theme.okGreen
                    font { pixelSize: Theme.fontSize.body; bold: true }
                }
                Button {
                    FocusRing {}
                    text: "Show folder"
                    onClicked: view.showFolder(view.run.folder)
                }
                CopyButton {
                    copied: modelData.path
                    onCopyRequested: (text) => view.copyText(text)
                }
            }
        }

        // What the timelines' colours and marks mean.
        Flow {
            objectName: "legend"
            visible: (view.run.groups || []).length > 0
            Layout.fillWidth: true
            spacing: 14
            Repeater {
                model: [{ swatch: Theme.videoBar, text: "video" },
                        { swatch: Theme.audioBar, text: "sound only" }]
                delegate: Row {
                    required property var modelData
                    spacing: 5
                    Rectangle {
                        width: 14; height: 10; radius: 2
                        anchors.verticalCenter: parent.verticalCenter
                        color: modelData.swatch
                    }
                    Text { text: modelData.text; color: Theme.ink; font.pixelSize: Theme.fontSize.small }
                }
            }
            Text {
                text: "\u2605 the reference device: the others' clocks are told against it"
                color: Theme.ink
                font.pixelSize: Theme.fontSize.small
            }
            Text {
                text: "light inside a clip: its sound"
                color: Theme.dimInk
                font.pixelSize: Theme.fontSize.small
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
                          + (groupBlock.modelData.mainSound ? "  ·  main sound " + groupBlock.modelData.mainSound : "")
                    color: Theme.ink
                    font { pixelSize: Theme.fontSize.heading; bold: true }
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                GroupTimeline {
                    Layout.fillWidth: true
                    group: groupBlock.modelData
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
                            text: modelData.lengthText + (modelData.reference ? "  ·  reference clock" : "")
                                  + (modelData.refined ? "  ·  refined" : "")
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
            objectName: "alldocuments"
            visible: (view.run.documents || []).length > 0 || (view.run.folder || "") !== ""
            text: view.fileRows(view.projects.open).length > 0 ? "All documents" : "Projects"
            color: Theme.ink
            font { pixelSize: Theme.fontSize.heading; bold: true }
        }
        Repeater {
            model: view.fileRows(view.projects.others)
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
