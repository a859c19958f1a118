// "Copy path", which says "Copied" for a moment once it has: a clipboard shows nothing.
import QtQuick
import QtQuick.Controls

Button {
    id: button
    required property string copied  // the text it puts on the clipboard
    signal copyRequested(string text)

    property bool done: false
    text: done ? "Copied" : "Copy path"
    // As wide as the longer of its two words, so that the row does not move.
    implicitWidth: Math.max(implicitContentWidth, longest.implicitWidth) + leftPadding + rightPadding
    Text { id: longest; visible: false; text: "Copy path"; font: button.font }
    onClicked: {
        button.copyRequested(button.copied)
        done = true
        settle.restart()
    }
    Timer { id: settle; interval: 1500; onTriggered: button.done = false }
    FocusRing {}
}
