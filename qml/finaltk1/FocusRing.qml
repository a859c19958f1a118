// A ring around the control that has the keyboard's focus, clearer than the style's own.
import QtQuick

Rectangle {
    anchors { fill: parent; margins: -3 }
    radius: 6
    color: "transparent"
    border { color: "#2f6fd6"; width: 2 }
    visible: parent.visualFocus === true
}
