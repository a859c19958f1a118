// One row of the file list. Device-group markers become the head and foot of a
// shaded block; the files between them sit inside it.
import QtQuick

Item {
    id: entry
    required property int index
    required property string fileName
    required property string folder
    required property string kind
    required property bool inGroup
    required property int groupFiles

    readonly property bool grouped: kind !== "file" || inGroup
    readonly property string extension: {
        const dot = fileName.lastIndexOf(".")
        return dot < 0 ? "" : fileName.slice(dot + 1).toUpperCase()
    }
    readonly property bool audioOnly: ["WAV", "MP3", "AIF", "AIFF", "M4A", "FLAC", "AAC"].indexOf(extension) >= 0

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
            color: "#2f6fd6"
            font { pixelSize: 13; bold: true }
        }
        Text {
            text: "never compared with each other"
            color: "#7d8aa0"
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
        color: "#7d8aa0"
        font.pixelSize: 11
    }

    Item {
        visible: entry.kind === "file"
        anchors.fill: parent
        anchors.leftMargin: entry.inGroup ? 22 : 8

        Rectangle {
            id: badge
            width: 40; height: 26; radius: 5
            anchors.verticalCenter: parent.verticalCenter
            color: entry.audioOnly ? "#fdf0e1" : "#e9edf3"
            border.color: entry.audioOnly ? "#f1c99b" : "#cfd6e0"
            Text {
                anchors.centerIn: parent
                text: entry.extension.length > 0 && entry.extension.length <= 4 ? entry.extension : "FILE"
                color: entry.audioOnly ? "#a35f12" : "#4b5563"
                font { pixelSize: 10; bold: true }
            }
        }
        Column {
            anchors { left: badge.right; leftMargin: 10; right: parent.right; rightMargin: 8; verticalCenter: parent.verticalCenter }
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
                color: "#9aa1ab"
                font.pixelSize: 11
            }
        }
        Rectangle {  // separates files outside groups
            visible: !entry.inGroup
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
            height: 1
            color: "#eef0f3"
        }
    }
}
