// One row of the file list. Device-group markers become the head and foot of a
// shaded block; the files between them sit inside it. A file shows what the last run
// found of it; a file or a group head can be removed.
import QtQuick
import QtQuick.Controls

Item {
    id: entry
    required property int index
    required property string fileName
    required property string folder
    required property string kind
    required property bool inGroup
    required property int groupFiles
    required property string mark
    required property string markKind
    required property bool soundOnly
    required property string found     // a group found from its files: its device and why
    property bool removable: true
    property bool current: false
    property bool selected: false
    signal removeRequested()
    signal chosen(int modifiers)  // clicked, with the keyboard modifiers held

    readonly property bool grouped: kind !== "file" || inGroup
    readonly property string extension: {
        const dot = fileName.lastIndexOf(".")
        return dot < 0 ? "" : fileName.slice(dot + 1).toUpperCase()
    }

    height: kind === "begin" ? 36 : kind === "end" ? 28 : 46

    // The shaded block of a device group; its ends are rounded.
    Rectangle {
        visible: entry.grouped
        anchors.fill: parent
        anchors.topMargin: entry.kind === "begin" ? 4 : 0
        anchors.bottomMargin: entry.kind === "end" ? 4 : 0
        color: Theme.groupBlock
        radius: entry.kind === "file" ? 0 : 6
        Rectangle {  // squares the inner corners where the block continues
            visible: entry.kind !== "file"
            anchors { left: parent.left; right: parent.right }
            height: parent.radius
            y: entry.kind === "begin" ? parent.height - height : 0
            color: parent.color
        }
        Rectangle {
            anchors { left: parent.left; top: parent.top; bottom: parent.bottom }
            anchors.topMargin: entry.kind === "begin" ? 8 : 0
            anchors.bottomMargin: entry.kind === "end" ? 8 : 0
            width: 3
            color: Theme.accent
        }
    }

    Rectangle {
        objectName: "selection"
        anchors.fill: parent
        visible: entry.selected && entry.kind !== "end"
        color: Theme.selection
        radius: 4
    }

    Row {
        visible: entry.kind === "begin"
        anchors { left: parent.left; leftMargin: 14; verticalCenter: parent.verticalCenter; verticalCenterOffset: 2 }
        spacing: 8
        Text {
            id: groupHead
            text: "Recorded on one device"
            color: Theme.groupInk
            font { pixelSize: Theme.fontSize.body; bold: true }
        }
        Text {
            // Clear of the row's remove button, which sits over the row's right end.
            width: Math.max(0, entry.width - groupHead.width - 14 - 8 - 52)
            elide: Text.ElideRight
            text: entry.found !== "" ? "found from the files: " + entry.found
                                     : "never compared with each other"
            color: Theme.softInk
            font.pixelSize: Theme.fontSize.note
            anchors.baseline: parent.children[0].baseline
        }
    }

    Text {
        visible: entry.kind === "end"
        anchors { left: parent.left; leftMargin: 14; verticalCenter: parent.verticalCenter; verticalCenterOffset: -2 }
        text: entry.groupFiles === 0 ? "No files picked: this empty group is ignored"
              : entry.groupFiles === 1 ? "1 file from this device"
              : entry.groupFiles + " files from this device"
        color: Theme.softInk
        font.pixelSize: Theme.fontSize.note
    }

    Item {
        visible: entry.kind === "file"
        anchors.fill: parent
        anchors.leftMargin: entry.inGroup ? 22 : 8

        Rectangle {
            id: badge
            width: 40; height: 26; radius: 5
            anchors.verticalCenter: parent.verticalCenter
            color: entry.soundOnly ? Theme.soundBadge : Theme.filmBadge
            border.color: entry.soundOnly ? Theme.soundBadgeLine : Theme.filmBadgeLine
            Text {
                anchors.centerIn: parent
                text: entry.extension.length > 0 && entry.extension.length <= 4 ? entry.extension : "FILE"
                color: entry.soundOnly ? Theme.audioBar : Theme.filmBadgeInk
                font { pixelSize: Theme.fontSize.badge; bold: true }
            }
        }
        Column {
            anchors { left: badge.right; leftMargin: 10; right: markText.left; rightMargin: 8; verticalCenter: parent.verticalCenter }
            spacing: 1
            Text {
                width: parent.width
                text: entry.fileName
                elide: Text.ElideMiddle
                color: Theme.ink
                font.pixelSize: Theme.fontSize.body
            }
            Text {
                width: parent.width
                text: entry.folder
                elide: Text.ElideMiddle
                color: Theme.dimInk
                font.pixelSize: Theme.fontSize.note
            }
        }
        Text {
            id: markText
            objectName: "mark"
            anchors { right: parent.right; rightMargin: 44; verticalCenter: parent.verticalCenter }
            text: entry.mark
            color: entry.markKind === "synced" ? Theme.okGreen
                 : entry.markKind === "alone" ? Theme.dimInk : Theme.bad
            font { pixelSize: Theme.fontSize.note; bold: entry.markKind === "missing" || entry.markKind === "unreadable" }
        }
        Rectangle {  // separates files outside groups
            visible: !entry.inGroup
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
            height: 1
            color: Theme.faintLine
        }
    }

    MouseArea {
        anchors.fill: parent
        onPressed: (mouse) => entry.chosen(mouse.modifiers)
    }

    // Keyboard focus sits on the list; the current row shows where Delete acts.
    Rectangle {
        anchors.fill: parent
        visible: entry.current && entry.kind !== "end"
        color: "transparent"
        border { color: Theme.accent; width: 2 }
        radius: 4
    }

    Button {
        objectName: "removeentry"
        visible: entry.kind !== "end"
        enabled: entry.removable
        anchors { right: parent.right; rightMargin: 6; verticalCenter: parent.verticalCenter }
        width: 30; height: 28
        text: "✕"
        focusPolicy: Qt.NoFocus  // the list takes Delete instead
        Accessible.name: entry.kind === "begin" ? "Remove this device group" : "Remove " + entry.fileName
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: entry.kind === "begin" ? "Remove the group and its files" : "Remove from the list"
        onClicked: entry.removeRequested()
    }
}
