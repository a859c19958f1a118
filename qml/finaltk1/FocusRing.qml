// A ring around the control that has the keyboard's focus, clearer than the style's own.
import QtQuick

Rectangle {
    anchors { fill: parent; margins: -3 }
    radius: Theme.controlRadius
    color: "transparent"
    border { color: Theme.accent; width: 2 }
    visible: parent.visualFocus === true
}
