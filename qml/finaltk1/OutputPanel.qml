// Where the projects go, and whether the folder is shown when a run is done.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

RowLayout {
    id: output
    property string folder         // empty: the default
    property string defaultText    // the default, named for the user
    property bool openWhenDone: true
    property bool running: false
    signal chooseRequested()
    signal defaultRequested()
    signal openWhenDoneToggled(bool open)

    spacing: 8
    Label { text: "Projects go to" }
    Text {
        objectName: "outputfolder"
        Layout.fillWidth: true
        elide: Text.ElideMiddle
        text: output.folder !== "" ? output.folder : output.defaultText
        color: Theme.ink
        font.pixelSize: Theme.fontSize.body
    }
    Button {
        FocusRing {}
        text: "Choose…"
        enabled: !output.running
        onClicked: output.chooseRequested()
    }
    Button {
        FocusRing {}
        text: "Default"
        visible: output.folder !== ""
        enabled: !output.running
        onClicked: output.defaultRequested()
    }
    CheckBox {
        FocusRing {}
        objectName: "openoutput"
        text: "Show it when done"
        checked: output.openWhenDone
        onToggled: output.openWhenDoneToggled(checked)
    }
}
