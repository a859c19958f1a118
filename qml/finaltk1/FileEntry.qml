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
    property bool removable: true
    property bool current: false
    signal removeRequested()

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
        color: "#eaf1fc"
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
            color: "#2f6fd6"
        }
    }

    Row {
        visible: entry.kind === "begin"
        anchors { left: parent.left; leftMargin: 14; verticalCenter: parent.verticalCenter; verticalCenterOffset: 2 }
        spacing: 8
        Text {
            text: "Recorded on one device"
            color: "#2456a8"
            font { pixelSize: 13; bold: true }
        }
        Text {
            text: "never compared with each other"
            color: "#4a5568"
            font.pixelSize: 12
            anchors.baseline: parent.children[0].baseline
        }
    }

    Text {
        visible: entry.kind === "end"
        anchors { left: parent.left; leftMargin: 14; verticalCenter: parent.verticalCenter; verticalCenterOffset: -2 }
        text: entry.groupFiles === 0 ? "No files picked: this empty group is ignored"
              : entry.groupFiles === 1 ? "1 file from this device"
              : entry.groupFiles + " files from this device"
        color: "#4a5568"
        font.pixelSize: 12
    }

    Item {
        visible: entry.kind === "file"
        anchors.fill: parent
        anchors.leftMargin: entry.inGroup ? 22 : 8

        Rectangle {
            id: badge
            width: 40; height: 26; radius: 5
            anchors.verticalCenter: parent.verticalCenter
            color: entry.soundOnly ? "#fdf0e1" : "#e9edf3"
            border.color: entry.soundOnly ? "#f1c99b" : "#cfd6e0"
            Text {
                anchors.centerIn: parent
                text: entry.extension.length > 0 && entry.extension.length <= 4 ? entry.extension : "FILE"
                color: entry.soundOnly ? "#8a5010" : "#4b5563"
                font { pixelSize: 10; bold: true }
            }
        }
        Column {
            anchors { left: badge.right; leftMargin: 10; right: markText.left; rightMargin: 8; verticalCenter: parent.verticalCenter }
            spacing: 1
            Text {
                width: parent.width
                text: entry.fileName
                elide: Text.ElideMiddle
                color: "#1f2329"
                font.pixelSize: 13
            }
            Text {
                width: parent.width
                text: entry.folder
                elide: Text.ElideMiddle
                color: "#5b6370"
                font.pixelSize: 12
            }
        }
        Text {
            id: markText
            objectName: "mark"
            anchors { right: parent.right; rightMargin: 44; verticalCenter: parent.verticalCenter }
            text: entry.mark
            color: entry.markKind === "synced" ? "#16704a"
                 : entry.markKind === "alone" ? "#5b6370" : "#b3261e"
            font { pixelSize: 12; bold: entry.markKind === "missing" || entry.markKind === "unreadable" }
        }
        Rectangle {  // separates files outside groups
            visible: !entry.inGroup
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
            height: 1
            color: "#eef0f3"
        }
    }

    // Keyboard focus sits on the list; the current row shows where Delete acts.
    Rectangle {
        anchors.fill: parent
        visible: entry.current && entry.kind !== "end"
        color: "transparent"
        border { color: "#2f6fd6"; width: 2 }
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
