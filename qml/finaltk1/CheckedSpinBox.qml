// A spin box that refuses a typed value out of its range aloud, instead of clamping it in
// silence: the value stays what it was, and a note under the field says why, until a
// value is taken, a run starts or the field goes. The note floats, so that the settings
// keep their places and their width.
import QtQuick
import QtQuick.Controls

SpinBox {
    id: box
    property string what: ""     // the setting's name, as the note says it
    property int scaleBy: 1  // value is the shown number times this
    property int decimals: 0
    property string refused: ""  // the text last refused; empty when the last was taken
    readonly property real realValue: value / scaleBy
    readonly property string problem: refused === "" ? ""
        : what + " " + refused + " is not taken: it goes from " + textFromValue(from) + " to "
          + textFromValue(to) + ". It stays " + textFromValue(value) + "."

    editable: true
    // Any number may be typed, so that one out of range reaches valueFromText.
    validator: RegularExpressionValidator { regularExpression: /[0-9]*[.,]?[0-9]*/ }
    textFromValue: (v, locale) => (v / scaleBy).toFixed(decimals)
    valueFromText: (text, locale) => {
        const v = Math.round(Number(text.replace(",", ".")) * scaleBy)
        if (text === "" || isNaN(v) || v < from || v > to) {
            refused = text
            return value
        }
        refused = ""
        return v
    }
    onValueModified: refused = ""
    onEnabledChanged: if (!enabled) refused = ""
    onVisibleChanged: if (!visible) refused = ""

    FocusRing {}

    Popup {
        objectName: box.objectName + "problem"
        y: box.height + 4
        visible: box.problem !== "" && box.visible
        closePolicy: Popup.NoAutoClose
        margins: 4  // kept inside the window
        padding: 6
        width: Math.min(300, note.implicitWidth) + 2 * padding
        contentItem: Text {
            id: note
            text: box.problem
            wrapMode: Text.Wrap
            color: Theme.bad
            font.pixelSize: Theme.fontSize.note
        }
        background: Rectangle { color: "white"; border.color: Theme.bad; radius: 4 }
    }
}
