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
        color: !tab.enabled ? "#5b6370" : tab.checked ? "#1f2329" : "#5b6370"
        font { pixelSize: 15; bold: tab.checked }
        opacity: tab.enabled ? 1 : 0.6
    }
    background: Rectangle {
        color: "transparent"
        Rectangle {
            anchors { left: parent.left; right: parent.right; rightMargin: 12; bottom: parent.bottom }
            height: 3
            radius: 1.5
            color: "#2f6fd6"
            visible: tab.checked
        }
    }
    FocusRing {}
}
