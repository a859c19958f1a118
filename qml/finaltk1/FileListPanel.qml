// The file list in its frame, with a hint while it is empty. A click selects a row (Ctrl
// adds one, Shift a span), the arrow keys move it, Ctrl+A takes every row; a row's button
// or Delete asks for the removal of the row or of the selection; the window decides.
import QtQuick
import QtQuick.Controls

Rectangle {
    id: panel
    required property var model     // QMLFile.entries
    property bool running: false
    property bool dropping: false   // media are dragged over the window
    readonly property alias count: fileList.count
    property var selected: []        // selected rows, ascending
    signal removeRequested(var rows)

    // Rows move when the list changes: what was selected is no longer where it was.
    Connections {
        target: panel.model
        function onRowsInserted() { panel.selected = [] }
        function onRowsRemoved() { panel.selected = [] }
        function onModelReset() { panel.selected = [] }
    }

    function isSelected(row) { return selected.indexOf(row) >= 0 }
    function selectAll() {
        selected = Array.from({length: fileList.count}, (v, i) => i)
        fileList.forceActiveFocus()
    }
    function choose(row, modifiers) {
        if (modifiers & Qt.ControlModifier) {
            selected = isSelected(row) ? selected.filter(r => r !== row)
                                       : selected.concat([row]).sort((a, b) => a - b)
        } else if ((modifiers & Qt.ShiftModifier) && fileList.currentIndex >= 0) {
            const from = Math.min(row, fileList.currentIndex), to = Math.max(row, fileList.currentIndex)
            selected = Array.from({length: to - from + 1}, (v, i) => from + i)
        } else {
            selected = [row]
        }
        fileList.currentIndex = row
        fileList.forceActiveFocus()
    }

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
            if (panel.running)
                return
            if (panel.selected.length > 0)
                panel.removeRequested(panel.selected)
            else if (currentIndex >= 0)
                panel.removeRequested([currentIndex])
        }
        // The keys move the selection with the current row.
        Keys.onUpPressed: { decrementCurrentIndex(); panel.selected = [currentIndex] }
        Keys.onDownPressed: { incrementCurrentIndex(); panel.selected = [currentIndex] }
        onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0
        delegate: FileEntry {
            width: fileList.width - (listScroll.policy === ScrollBar.AlwaysOn ? listScroll.width + 4 : 0)
            removable: !panel.running
            current: fileList.activeFocus && ListView.isCurrentItem
            selected: panel.isSelected(index)
            onChosen: (modifiers) => panel.choose(index, modifiers)
            onRemoveRequested: panel.removeRequested(panel.isSelected(index) ? panel.selected : [index])
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
