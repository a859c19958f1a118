// The editing application the user edits in, where the projects go, and whether the
// folder is shown when a run is done.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

GridLayout {
    id: output
    property string folder         // empty: the default
    property string defaultText    // the default, named for the user
    property bool openWhenDone: true
    property bool useCache: true
    property bool running: false
    property var editors: []        // [{key, name}]
    property string editor          // the chosen one's key
    signal editorChosen(string key)
    signal chooseRequested()
    signal defaultRequested()
    signal openWhenDoneToggled(bool open)
    signal useCacheToggled(bool use)

    columns: 2
    columnSpacing: 10
    rowSpacing: 6

    Label { text: "I edit in" }
    RowLayout {
        spacing: 8
        ComboBox {
            FocusRing {}
            objectName: "editor"
            model: output.editors
            textRole: "name"
            valueRole: "key"
            currentIndex: output.editors.findIndex(e => e.key === output.editor)
            enabled: !output.running
            Layout.preferredWidth: 170
            onActivated: (index) => output.editorChosen(output.editors[index].key)
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "The result names the one project to open in it first."
        }
        Item { Layout.fillWidth: true }
        CheckBox {
            FocusRing {}
            objectName: "openoutput"
            text: "Show the folder when done"
            checked: output.openWhenDone
            onToggled: output.openWhenDoneToggled(checked)
        }
        CheckBox {
            FocusRing {}
            objectName: "usecache"
            text: "Keep analyses"
            checked: output.useCache
            enabled: !output.running
            onToggled: output.useCacheToggled(checked)
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "A later run of the same files, or of them with files added, takes their analysis from the cache instead of doing it again. The projects are the same either way."
        }
    }

    Label { text: "Projects go to" }
    RowLayout {
        spacing: 8
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
    }
}
