// Asks before a run replaces the projects an earlier run left in the output folder.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Popup {
    id: dialog
    property string question        // QMLFile.replaceQuestion
    signal replaceRequested()
    signal otherFolderRequested()
    signal cancelled()

    objectName: "replacepopup"
    modal: true
    padding: 20
    width: 520
    closePolicy: Popup.CloseOnEscape
    onClosed: if (question !== "") cancelled()
    // Return answers as the button in focus does: Replace them, unless the user moved on.
    onOpened: replaceButton.forceActiveFocus()
    background: Rectangle {
        radius: 10
        color: "white"
        border.color: Theme.line
    }
    contentItem: ColumnLayout {
        spacing: 14
        Text {
            text: "Replace the earlier projects?"
            color: Theme.ink
            font { pixelSize: Theme.fontSize.large; bold: true }
        }
        Text {
            objectName: "replacequestion"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: dialog.question
            color: Theme.ink
            font.pixelSize: Theme.fontSize.body
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            spacing: 8
            Button {
                FocusRing {}
                text: "Cancel"
                onClicked: dialog.cancelled()
            }
            Button {
                FocusRing {}
                objectName: "replaceotherfolder"
                text: "Choose another folder…"
                onClicked: dialog.otherFolderRequested()
            }
            Button {
                FocusRing {}
                id: replaceButton
                objectName: "replacebutton"
                text: "Replace them"
                onClicked: dialog.replaceRequested()
                Keys.onReturnPressed: dialog.replaceRequested()
                Keys.onEnterPressed: dialog.replaceRequested()
            }
        }
    }
}
