// A flat button of the title bar.
import QtQuick
import QtQuick.Controls

Rectangle {
    id: button
    property string label
    property string tip
    property color hoverColor: "#3a414d"
    signal clicked()

    width: 34; height: 28; radius: 6
    color: area.containsMouse ? hoverColor : "transparent"

    Text {
        anchors.centerIn: parent
        text: button.label
        color: "white"
        font.pixelSize: 14
    }
    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        onClicked: button.clicked()
    }
    ToolTip.visible: area.containsMouse && tip !== ""
    ToolTip.delay: 600
    ToolTip.text: tip
}
