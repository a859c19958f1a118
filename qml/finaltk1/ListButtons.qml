// The ways to fill the list and to empty it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

RowLayout {
    id: buttons
    property bool running: false
    property bool listed: false   // the list holds entries
    property bool canUndo: false  // a removal, a clearing or a grouping can be taken back
    signal addFilesRequested()
    signal addDeviceRequested()
    signal clearRequested()
    signal undoRequested()

    spacing: 8
    Button {
        FocusRing {}
        objectName: "addbutton"
        text: "Add files…"
        enabled: !buttons.running
        onClicked: buttons.addFilesRequested()
    }
    Button {
        FocusRing {}
        objectName: "adddevicebutton"
        text: "Add files from one device…"
        enabled: !buttons.running
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: "Files recorded one after another by the same camera or recorder.\nThey are never compared with each other."
        onClicked: buttons.addDeviceRequested()
    }
    Button {
        FocusRing {}
        objectName: "undobutton"
        text: "Undo"
        visible: buttons.canUndo
        enabled: !buttons.running
        ToolTip.visible: hovered
        ToolTip.delay: 600
        ToolTip.text: "Takes back the last removal, clearing or grouping of files found to be one device (Ctrl+Z)."
        onClicked: buttons.undoRequested()
    }
    Button {
        FocusRing {}
        objectName: "clearbutton"
        text: "Clear"
        enabled: !buttons.running && buttons.listed
        onClicked: buttons.clearRequested()
    }
}
