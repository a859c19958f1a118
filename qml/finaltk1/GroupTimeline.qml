// One sync group as a timeline an editor can check by eye: a ruler in timecode and
// seconds, one lane per device, each clip with its name and its sound's outline, and a
// line under the lanes that tells of the clip under the mouse without covering any.
import QtQuick
import QtQuick.Layouts

ColumnLayout {
    id: timeline
    required property var group     // one of describe_run's groups
    spacing: 2

    readonly property int laneHeight: 30
    readonly property int inset: 4
    // A clip a few frames long still gets a bar to point at.
    readonly property int shortestBar: 10
    readonly property real secondsWide: Math.max(group.span, 0.001)
    property var hovered: null

    function xAt(seconds) { return inset + (lanes.width - 2 * inset) * seconds / secondsWide }

    // The ruler: a tick per step with its timecode above and its seconds below.
    Item {
        id: ruler
        objectName: "ruler"
        Layout.fillWidth: true
        implicitHeight: 30
        // A narrow window labels every second or third tick, so that no two labels touch.
        readonly property int labelEvery: Math.max(1, Math.ceil(timeline.group.ticks.length * 95 / Math.max(width, 1)))
        Repeater {
            model: timeline.group.ticks
            delegate: Item {
                id: tick
                required property var modelData
                required property int index
                x: timeline.xAt(modelData.at)
                height: ruler.height
                Rectangle { x: 0; y: ruler.height - 6; width: 1; height: 6; color: Theme.dimInk }
                Column {
                    objectName: "ticklabel"
                    visible: tick.index % ruler.labelEvery === 0
                    // Kept inside the ruler at both ends.
                    x: Math.max(-tick.x, Math.min(-width / 2, ruler.width - tick.x - width))
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: tick.modelData.timecode
                        color: Theme.ink
                        font { pixelSize: Theme.fontSize.badge; family: "monospace" }
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: tick.modelData.seconds
                        color: Theme.dimInk
                        font.pixelSize: Theme.fontSize.badge
                    }
                }
            }
        }
    }

    Rectangle {
        id: lanes
        objectName: "timeline"
        Layout.fillWidth: true
        Layout.preferredHeight: timeline.group.lanes * timeline.laneHeight + 2 * timeline.inset
        radius: 6
        color: Theme.panel
        border.color: Theme.line

        Repeater {
            model: timeline.group.members
            delegate: Item {
                id: clip
                required property var modelData
                readonly property real startX: timeline.xAt(modelData.start)
                readonly property real barWidth: Math.max(timeline.shortestBar, timeline.xAt(modelData.start + modelData.length) - startX)
                // The name goes inside the bar when it fits, else into the lane's room
                // after the bar, else before it.
                readonly property real roomAfter: timeline.xAt(modelData.laneTo) - (startX + barWidth) - 4
                readonly property real roomBefore: startX - timeline.xAt(modelData.laneFrom) - 4
                readonly property bool nameInside: label.implicitWidth + 10 <= barWidth
                readonly property bool nameAfter: !nameInside && (roomAfter >= Math.min(label.implicitWidth, 60) || roomAfter >= roomBefore)
                readonly property string name: (modelData.reference ? "\u2605 " : "") + modelData.fileName
                anchors.fill: parent

                Rectangle {
                    id: bar
                    objectName: "clipbar"
                    x: clip.startX
                    y: timeline.inset + clip.modelData.lane * timeline.laneHeight + 2
                    width: clip.barWidth
                    height: timeline.laneHeight - 4
                    radius: 4
                    color: clip.modelData.audioOnly ? Theme.audioBar : Theme.videoBar
                    border.color: barArea.containsMouse ? Theme.ink : "transparent"
                    border.width: 2

                    // The sound's outline, peaks mirrored about the middle.
                    Canvas {
                        id: wave
                        anchors { fill: parent; margins: 2 }
                        readonly property var peaks: clip.modelData.envelope || []
                        onPeaksChanged: requestPaint()
                        onWidthChanged: requestPaint()
                        onPaint: {
                            const ctx = getContext("2d")
                            ctx.reset()
                            const n = peaks.length
                            if (n < 2 || width < 2)
                                return
                            const mid = height / 2
                            ctx.fillStyle = Qt.rgba(1, 1, 1, 0.45)
                            ctx.beginPath()
                            ctx.moveTo(0, mid)
                            for (let i = 0; i < n; ++i)
                                ctx.lineTo(i * width / (n - 1), mid - peaks[i] * mid)
                            for (let i = n - 1; i >= 0; --i)
                                ctx.lineTo(i * width / (n - 1), mid + peaks[i] * mid)
                            ctx.closePath()
                            ctx.fill()
                        }
                    }
                    MouseArea {
                        id: barArea
                        anchors.fill: parent
                        hoverEnabled: true
                        onContainsMouseChanged: {
                            if (containsMouse)
                                timeline.hovered = clip.modelData
                            else if (timeline.hovered === clip.modelData)
                                timeline.hovered = null
                        }
                    }
                }
                // Inside the bar the name sits on a patch of the bar's colour, over the outline.
                Rectangle {
                    visible: clip.nameInside
                    x: label.x - 3
                    y: label.y
                    width: label.width + 6
                    height: label.height
                    radius: 3
                    color: bar.color
                }
                Text {
                    id: label
                    objectName: "cliplabel"
                    readonly property real room: clip.nameInside ? clip.barWidth - 10
                                               : clip.nameAfter ? clip.roomAfter : clip.roomBefore
                    x: clip.nameInside ? bar.x + 6
                       : clip.nameAfter ? bar.x + bar.width + 4 : bar.x - 4 - width
                    anchors.verticalCenter: bar.verticalCenter
                    width: Math.max(0, Math.min(implicitWidth, room))
                    text: clip.name
                    elide: Text.ElideRight
                    color: clip.nameInside ? "white" : Theme.ink
                    font.pixelSize: Theme.fontSize.small
                }
            }
        }
    }

    // The clip under the mouse, in one line below the lanes.
    Text {
        objectName: "hoverline"
        Layout.fillWidth: true
        elide: Text.ElideRight
        text: timeline.hovered === null ? "Point at a clip for its start, length and clock."
              : timeline.hovered.fileName + "  ·  starts " + timeline.hovered.startText
                + "  ·  lasts " + timeline.hovered.lengthText
                + (timeline.hovered.reference ? "  ·  the reference clock" : "")
                + (timeline.hovered.refined ? "  ·  refined below one frame" : "  ·  to the frame")
                + (timeline.hovered.driftText !== "" ? "  ·  " + timeline.hovered.driftText : "")
                + (timeline.hovered.timecodeText !== "" ? "  ·  " + timeline.hovered.timecodeText : "")
        color: timeline.hovered === null ? Theme.dimInk : Theme.ink
        font.pixelSize: Theme.fontSize.small
    }
}
