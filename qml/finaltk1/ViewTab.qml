// A tab of the window's two views: a heading, underlined when current.
import QtQuick
import QtQuick.Controls

TabButton {
    id: tab
    width: implicitWidth
    padding: 6
    leftPadding: 4
    rightPadding: 12
    contentItem: Text {
        text: tab.text
        color: tab.enabled && tab.checked ? Theme.ink : Theme.dimInk
        font { pixelSize: Theme.fontSize.large; bold: tab.checked }
        opacity: tab.enabled ? 1 : 0.6
    }
    background: Rectangle {
        color: "transparent"
        Rectangle {
            anchors { left: parent.left; right: parent.right; rightMargin: 12; bottom: parent.bottom }
            height: 3
            radius: 1.5
            color: Theme.accent
            visible: tab.checked
        }
    }
    FocusRing {}
}
