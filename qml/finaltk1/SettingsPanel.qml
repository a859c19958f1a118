// The five run settings and the two switches, starting from the saved ones; a typed
// value that was not taken is named under its own field. The chosen values are read from
// the readonly properties when a run starts.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

ColumnLayout {
    id: settings
    property bool running: false
    property real savedTolerance: 0.99
    property real defaultTolerance: 0.99
    property real savedFps: 25
    property int savedWidth: 1920
    property int savedHeight: 1080
    property bool savedPremiere: false
    property bool refine: true
    property bool driftCorrect: true
    property bool writeMedia: false
    property int soundStream: 0
    signal refineToggled(bool on)
    signal driftCorrectToggled(bool on)
    signal writeMediaToggled(bool on)
    signal soundStreamChosen(int stream)
    // The list's media files, and the one whose device gives the cameras their sound in
    // the ready-to-cut clips ("": each sync group's own).
    property var soundFiles: []
    property string mainSound: ""
    signal mainSoundChosen(string file)

    readonly property var frameRates: [23.976, 24, 25, 29.97, 30, 50, 59.94, 60]
    readonly property var frameSizes: [[1920, 1080], [1280, 720], [3840, 2160]]
    readonly property bool customSize: frameSizeBox.currentIndex === frameSizes.length
    readonly property real tolerance: toleranceBox.realValue
    readonly property real fps: frameRates[frameRateBox.currentIndex]
    readonly property int frameWidth: customSize ? customWidth.value : frameSizes[frameSizeBox.currentIndex][0]
    readonly property int frameHeight: customSize ? customHeight.value : frameSizes[frameSizeBox.currentIndex][1]
    readonly property bool premiere: premiereBox.checked

    // The listed rate nearest the saved frame rate: a float such as 29.97 does not
    // compare equal to the decimal in the list.
    function nearestRate(fps) {
        let best = 0
        for (let i = 1; i < frameRates.length; ++i)
            if (Math.abs(frameRates[i] - fps) < Math.abs(frameRates[best] - fps))
                best = i
        return best
    }

    // The listed size equal to the saved frame size, or "Custom…" when none is.
    function sizeIndex(w, h) {
        const i = frameSizes.findIndex(s => s[0] === w && s[1] === h)
        return i < 0 ? frameSizes.length : i
    }

    spacing: 12

    GridLayout {
        Layout.fillWidth: true
        columns: 6
        columnSpacing: 10
        rowSpacing: 8

        Label { text: "Tolerance" }
        CheckedSpinBox {
            id: toleranceBox
            objectName: "tolerance"
            what: "Tolerance"
            scaleBy: 1000
            decimals: 3
            // The span worth offering, well inside the limits the controller checks.
            from: 800
            to: 999
            value: Math.round(settings.savedTolerance * scaleBy)
            enabled: !settings.running
            Layout.preferredWidth: 110
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "How strict the match is. Higher is stricter: fewer pairs, and fewer false ones.\n"
                          + "Lower finds more pairs in short or noisy clips, and more false ones.\n"
                          + settings.defaultTolerance.toFixed(3) + " suits most recordings."
        }

        Label { text: "Sequence frame rate"; Layout.leftMargin: 8 }
        ComboBox {
            FocusRing {}
            id: frameRateBox
            objectName: "framerate"
            model: settings.frameRates.map(r => r + " fps")
            currentIndex: settings.nearestRate(settings.savedFps)
            enabled: !settings.running
            Layout.preferredWidth: 110
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "The frame rate of the timelines written: that of the project you will edit in."
        }

        Label { text: "Frame size"; Layout.leftMargin: 8 }
        ComboBox {
            FocusRing {}
            id: frameSizeBox
            objectName: "framesize"
            model: settings.frameSizes.map(s => s[0] + " × " + s[1]).concat(["Custom…"])
            currentIndex: settings.sizeIndex(settings.savedWidth, settings.savedHeight)
            enabled: !settings.running
            Layout.fillWidth: true
            Layout.minimumWidth: 120
        }

        CheckBox {
            FocusRing {}
            id: premiereBox
            objectName: "premiere"
            Layout.columnSpan: 2
            text: "Premiere Pro timeline view"
            checked: settings.savedPremiere
            enabled: !settings.running
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "The Final Cut Pro and the Premiere Pro documents are always both written.\n"
                          + "This adds Premiere Pro's timeline view settings (zoom, header width) to the sequences."
        }
        CheckBox {
            FocusRing {}
            objectName: "refine"
            Layout.columnSpan: 2
            Layout.leftMargin: 8
            text: "Refine offsets below one frame"
            checked: settings.refine
            enabled: !settings.running
            onToggled: settings.refineToggled(checked)
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "Measures each offset to a fraction of a frame, so that sound recorded on two\n"
                          + "devices plays without echo when mixed. Takes a little longer.\n"
                          + "Off, offsets are as found, to the nearest frame."
        }
        CheckBox {
            FocusRing {}
            objectName: "driftcorrect"
            Layout.columnSpan: 2
            Layout.leftMargin: 8
            text: "Correct the clock drift of sound recordings"
            checked: settings.driftCorrect
            enabled: !settings.running
            onToggled: settings.driftCorrectToggled(checked)
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "A recorder or phone whose clock runs faster or slower than the main camera's\n"
                          + "gets a copy of its sound resampled onto that clock, in the output folder's\n"
                          + "\"corrected\" folder; the OpenTimelineIO, MLT and FCPXML timelines use it.\n"
                          + "Your files are never changed."
        }
        CheckBox {
            FocusRing {}
            objectName: "writemedia"
            Layout.columnSpan: 2
            text: "Write synced media files"
            checked: settings.writeMedia
            enabled: !settings.running
            onToggled: settings.writeMediaToggled(checked)
            ToolTip.visible: hovered
            ToolTip.delay: 600
            ToolTip.text: "For every camera clip, a copy of its file in the output folder's \"synced-media\"\n"
                          + "folder: the same pictures, the main sound cut to them on the camera's clock as\n"
                          + "its first sound, the camera's own second. Your files are never changed."
        }
        // A row of its own, so that the grid's columns keep their widths.
        RowLayout {
            Layout.columnSpan: 6
            Layout.fillWidth: true
            Layout.leftMargin: 8
            spacing: 10
            Label { text: "Sound of a file with several streams" }
            ComboBox {
                FocusRing {}
                objectName: "soundstream"
                model: ["The one with the most signal", "Stream 1", "Stream 2", "Stream 3", "Stream 4"]
                currentIndex: Math.min(settings.soundStream, model.length - 1)
                enabled: !settings.running
                Layout.preferredWidth: 220
                onActivated: (index) => settings.soundStreamChosen(index)
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "A camera with a microphone input records its own microphone and the input\n"
                              + "as streams of their own. The sound analysed is the one with the most signal,\n"
                              + "or the stream chosen here for every file that has it."
            }
            Item { Layout.fillWidth: true }
            // The custom frame size shares this row, which has room to spare, so that
            // choosing it does not widen the settings.
            RowLayout {
                objectName: "customsize"
                spacing: 4
                visible: settings.customSize
                Label { text: "Custom size" }
                CheckedSpinBox {
                    id: customWidth
                    objectName: "customwidth"
                    what: "Width"
                    from: 16; to: 16384; value: settings.savedWidth
                    enabled: !settings.running
                    Layout.preferredWidth: 84
                }
                Label { text: "×" }
                CheckedSpinBox {
                    id: customHeight
                    objectName: "customheight"
                    what: "Height"
                    from: 16; to: 16384; value: settings.savedHeight
                    enabled: !settings.running
                    Layout.preferredWidth: 84
                }
            }
        }
        RowLayout {
            Layout.columnSpan: 6
            Layout.fillWidth: true
            Layout.leftMargin: 8
            spacing: 10
            Label { text: "Main sound of the ready-to-cut clips" }
            ComboBox {
                FocusRing {}
                objectName: "mainsound"
                model: ["Chosen for each sync group"].concat(settings.soundFiles.map(f => f.split("/").pop()))
                currentIndex: settings.soundFiles.indexOf(settings.mainSound) + 1
                enabled: !settings.running
                Layout.preferredWidth: 260
                onActivated: (index) => settings.mainSoundChosen(index === 0 ? "" : settings.soundFiles[index - 1])
                ToolTip.visible: hovered
                ToolTip.delay: 600
                ToolTip.text: "The sound that goes with every camera's picture in the multicam and synchronised\n"
                              + "clips of SYNCED.fcpxml and in the merged Final Cut Pro 7 documents: any file of\n"
                              + "its device. By default, the sound recorder that covers the most of the cameras' time."
            }
            Item { Layout.fillWidth: true }
        }
    }
}
