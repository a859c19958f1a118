// The file list in its frame, with a hint while it is empty. A row's button or Delete
// asks for the removal of the current entry; the window decides.
import QtQuick
import QtQuick.Controls

Rectangle {
    id: panel
    required property var model     // QMLFile.entries
    property bool running: false
    property bool dropping: false   // media are dragged over the window
    readonly property alias count: fileList.count
    signal removeRequested(int row)

    radius: Theme.boxRadius
    color: "white"
    border.color: dropping || fileList.activeFocus ? Theme.accent : Theme.line
    border.width: dropping || fileList.activeFocus ? 2 : 1

    ListView {
        id: fileList
        objectName: "filelist"
        anchors { fill: parent; margins: 6 }
        clip: true
        model: panel.model
        boundsBehavior: Flickable.StopAtBounds
        activeFocusOnTab: count > 0
        keyNavigationEnabled: true
        currentIndex: -1
        // Always there when the list overflows, so that the hidden rows are evident.
        ScrollBar.vertical: ScrollBar {
            id: listScroll
            objectName: "listscroll"
            policy: fileList.contentHeight > fileList.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
        }
        Keys.onDeletePressed: {
            if (!panel.running && currentIndex >= 0)
                panel.removeRequested(currentIndex)
        }
        onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0
        delegate: FileEntry {
            width: fileList.width - (listScroll.policy === ScrollBar.AlwaysOn ? listScroll.width + 4 : 0)
            removable: !panel.running
            current: fileList.activeFocus && ListView.isCurrentItem
            onRemoveRequested: panel.removeRequested(index)
        }
    }

    Column {
        anchors.centerIn: parent
        visible: fileList.count === 0
        spacing: 6
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Drop media files or folders here"
            color: Theme.dimInk
            font.pixelSize: Theme.fontSize.title
        }
        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "or use “Add files…”. Every file needs sound to be synced."
            color: Theme.dimInk
            font.pixelSize: Theme.fontSize.note
        }
    }
}
