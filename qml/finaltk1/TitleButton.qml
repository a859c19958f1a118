// A flat button of the title bar, reachable with Tab like every other control.
import QtQuick
import QtQuick.Controls

AbstractButton {
    id: button
    property string label
    property string tip
    property color hoverColor: "#3a414d"

    implicitWidth: 34; implicitHeight: 28
    focusPolicy: Qt.StrongFocus
    Accessible.name: tip

    background: Rectangle {
        radius: 6
        color: button.hovered || button.visualFocus ? button.hoverColor : "transparent"
        border { color: "white"; width: button.visualFocus ? 2 : 0 }
    }
    contentItem: Text {
        text: button.label
        color: "white"
        font.pixelSize: 14
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    ToolTip.visible: hovered && tip !== ""
    ToolTip.delay: 600
    ToolTip.text: tip
}
