// A flat button of the title bar, reachable with Tab like every other control.
import QtQuick
import QtQuick.Controls

AbstractButton {
    id: button
    property string label
    property string tip
    property color hoverColor: Theme.titleHover

    implicitWidth: 34; implicitHeight: 28
    focusPolicy: Qt.StrongFocus
    Accessible.name: tip

    background: Rectangle {
        radius: Theme.controlRadius
        color: button.hovered || button.visualFocus ? button.hoverColor : "transparent"
        border { color: "white"; width: button.visualFocus ? 2 : 0 }
    }
    contentItem: Text {
        text: button.label
        color: "white"
        font.pixelSize: Theme.fontSize.heading
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    ToolTip.visible: hovered && tip !== ""
    ToolTip.delay: 600
    ToolTip.text: tip
}
