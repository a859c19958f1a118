// The window's palette, sizes and fonts, written once for every panel. Every text colour
// holds at least 4.5:1 against the background it sits on.
pragma Singleton
import QtQuick

QtObject {
    readonly property color ink: "#1f2329"
    readonly property color dimInk: "#5b6370"
    readonly property color softInk: "#4a5568"    // group notes on their blue block
    readonly property color accent: "#2f6fd6"
    readonly property color okGreen: "#16704a"
    readonly property color bad: "#b3261e"
    readonly property color panel: "#f5f6f8"
    readonly property color line: "#c9ced6"
    readonly property color faintLine: "#eef0f3"  // between files of the list
    readonly property color pressed: "#dfe3e8"    // hovered plain buttons, a disabled Sync
    readonly property color videoBar: "#2f6fd6"
    readonly property color audioBar: "#8a5010"

    readonly property color titleBar: "#262b33"
    readonly property color titleInk: "#aab2bf"
    readonly property color titleHover: "#3a414d"
    readonly property color closeHover: "#d9534f"

    readonly property color groupBlock: "#eaf1fc"
    readonly property color selection: "#cfe0fa"  // selected rows of the list, under their ink
    readonly property color groupInk: "#2456a8"
    // The badges of sound-only files and of films.
    readonly property color soundBadge: "#fdf0e1"
    readonly property color soundBadgeLine: "#f1c99b"
    readonly property color filmBadge: "#e9edf3"
    readonly property color filmBadgeLine: "#cfd6e0"
    readonly property color filmBadgeInk: "#4b5563"

    // The end-of-run panel by how the run ended.
    readonly property color syncedPanel: "#e7f5ee"
    readonly property color syncedLine: "#9fcfb6"
    readonly property color failedPanel: "#fbeceb"
    readonly property color failedLine: "#e3a9a4"
    readonly property color quietPanel: "#eef0f3"

    readonly property int frameRadius: 12
    readonly property int boxRadius: 8
    readonly property int controlRadius: 6
    readonly property int titleHeight: 44

    readonly property QtObject fontSize: QtObject {
        readonly property int badge: 10
        readonly property int small: 11
        readonly property int note: 12
        readonly property int body: 13
        readonly property int heading: 14
        readonly property int large: 15
        readonly property int title: 16
        readonly property int headline: 17
        readonly property int mark: 20
    }
}
