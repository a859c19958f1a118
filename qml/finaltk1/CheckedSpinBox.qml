// A spin box that refuses a typed value out of its range aloud, through `refused`,
// instead of clamping it in silence; the value stays what it was.
import QtQuick
import QtQuick.Controls

SpinBox {
    property int scaleBy: 1  // value is the shown number times this
    property int decimals: 0
    property string refused: ""  // the text last refused; empty when the last was taken
    readonly property real realValue: value / scaleBy

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

    FocusRing {}
}
