// The Brenvik window. The native side needs from this scene only the context
// properties "myModel" and "QMLFile" and six objects by name, which it sets when a
// run has finished: progressbar, ima1, text3, newexit, ma3 and done.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: root
    width: 800
    height: 740

    // Every text colour holds at least 4.5:1 against the background it sits on.
    readonly property QtObject colors: QtObject {
        readonly property color ink: "#1f2329"
        readonly property color dimInk: "#5b6370"
        readonly property color accent: "#2f6fd6"
        readonly property color okGreen: "#16704a"
        readonly property color bad: "#b3261e"
        readonly property color panel: "#f5f6f8"
        readonly property color line: "#c9ced6"
        readonly property color videoBar: "#2f6fd6"
        readonly property color audioBar: "#8a5010"
    }
    readonly property color ink: colors.ink
    readonly property color dimInk: colors.dimInk
    readonly property color accent: colors.accent
    readonly property color okGreen: colors.okGreen
    readonly property bool running: QMLFile.running
    readonly property string ending: QMLFile.lastRun.state || ""
    readonly property var frameRates: [23.976, 24, 25, 29.97, 30, 50, 59.94, 60]
    readonly property var frameSizes: [[1920, 1080], [1280, 720], [3840, 2160]]

    // The listed rate nearest the default frame rate: a float default such as 29.97
    // does not compare equal to the decimal in the list.
    function nearestRate(fps) {
        let best = 0
        for (let i = 1; i < frameRates.length; ++i)
            if (Math.abs(frameRates[i] - fps) < Math.abs(frameRates[best] - fps))
                best = i
        return best
    }

    // The listed size equal to the default frame size, or "Custom…" when none is.
    function sizeIndex(w, h) {
        const i = frameSizes.findIndex(s => s[0] === w && s[1] === h)
        return i < 0 ? frameSizes.length : i
    }

    // Back to the working state; stopbar only ever moves the scene the other way.
    function backToWork() {
        done.opacity = 0
        ima1.opacity = 0
        text3.scale = 0
        newexit.opacity = 0
    }

    function startRun() {
        backToWork()
        progressbar.opacity = 1
        const custom = frameSize.currentIndex === frameSizes.length
        const w = custom ? customWidth.value : frameSizes[frameSize.currentIndex][0]
        const h = custom ? customHeight.value : frameSizes[frameSize.currentIndex][1]
        QMLFile.start_sync(tolerance.realValue, w, h, frameRates[frameRate.currentIndex],
                           premiere.checked ? 1 : 0)
        if (!QMLFile.running)
            progressbar.opacity = 0
    }

    // A finished state describes the list it ran on; a changed list makes it stale.
    Connections {
        target: QMLFile.entries
        function onMediaCountChanged() {
            if (!root.running) {
                root.backToWork()
                tabs.currentIndex = 0
            }
        }
    }
    Connections {
        target: QMLFile
        function onLastRunChanged() { tabs.currentIndex = 1 }
        function onRunningChanged() { if (!QMLFile.running) quitPopup.close() }
    }

    Shortcut {
        sequence: StandardKey.Open
        enabled: !root.running
        onActivated: QMLFile.getFilesSelected()
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        radius: 12
        color: "#f5f6f8"
        border.color: "#c9ced6"
        clip: true

        // Title bar: the window has no system frame, so it moves by this bar.
        Rectangle {
            id: titleBar
            objectName: "titlebar"
            anchors { left: parent.left; right: parent.right; top: parent.top }
            height: 44
            radius: frame.radius
            color: "#262b33"
            Rectangle {  // squares off the lower corners of the bar
                anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
                height: parent.radius
                color: parent.color
            }

            MouseArea {
                id: mover
                anchors.fill: parent
                property point pressedAt
                property bool manual: false
                onPressed: (mouse) => {
                    // Window managers move the window themselves; without one, follow the mouse.
                    manual = !root.Window.window.startSystemMove()
                    pressedAt = Qt.point(mouse.x, mouse.y)
                }
                onPositionChanged: (mouse) => {
                    if (!manual)
                        return
                    const win = root.Window.window
                    win.x += mouse.x - pressedAt.x
                    win.y += mouse.y - pressedAt.y
                }
                onDoubleClicked: root.Window.window.showMinimized()
            }

            Row {
                anchors { left: parent.left; leftMargin: 16; verticalCenter: parent.verticalCenter }
                spacing: 10
                Rectangle {
                    width: 22; height: 22; radius: 11
                    color: root.accent
                    anchors.verticalCenter: parent.verticalCenter
                    Row {  // a small waveform as the badge
                        anchors.centerIn: parent
                        spacing: 2
                        Repeater {
                            model: [6, 12, 8, 14, 5]
                            Rectangle {
                                required property int modelData
                                width: 2; height: modelData; radius: 1
                                color: "white"
                                anchors.verticalCenter: parent.verticalCenter
                            }
                        }
                    }
                }
                Text {
                    text: "Brenvik"
                    color: "white"
                    font { pixelSize: 16; bold: true }
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    text: Qt.application.version + "  ·  line up recordings by their sound"
                    color: "#aab2bf"
                    font.pixelSize: 12
                    anchors.verticalCenter: parent.verticalCenter
                }
            }

            Row {
                anchors { right: parent.right; rightMargin: 8; verticalCenter: parent.verticalCenter }
                spacing: 2
                TitleButton {
                    label: "–"
                    tip: "Minimise"
                    onClicked: root.Window.window.showMinimized()
                }
                TitleButton {
                    objectName: "closebutton"
                    label: "✕"
                    tip: "Close Brenvik"
                    hoverColor: "#d9534f"
                    onClicked: root.running ? quitPopup.open() : Qt.quit()
                }
            }
        }

        ColumnLayout {
            anchors { fill: parent; topMargin: titleBar.height + 14; margins: 18 }
            spacing: 12

            // The file list and the ways to fill it.
            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                TabBar {
                    id: tabs
                    objectName: "tabs"
                    background: Item {}
                    ViewTab {
                        text: QMLFile.entries.mediaCount === 1 ? "Media files (1)"
                                                               : "Media files (" + QMLFile.entries.mediaCount + ")"
                    }
                    ViewTab {
                        objectName: "resulttab"
                        text: "Result"
                        enabled: root.ending !== ""
                    }
                }
                Item { Layout.fillWidth: true }
                Button {
                    FocusRing {}
                    objectName: "addbutton"
                    visible: tabs.currentIndex === 0
                    text: "Add files…"
                    enabled: !root.running
                    onClicked: QMLFile.getFilesSelected()
                }
                Button {
                    FocusRing {}
                    objectName: "adddevicebutton"
                    visible: tabs.currentIndex === 0
                    text: "Add files from one device…"
                    enabled: !root.running
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "Files recorded one after another by the same camera or recorder.\nThey are never compared with each other."
                    onClicked: QMLFile.getFilesSelected2()
                }
                Button {
                    FocusRing {}
                    objectName: "clearbutton"
                    visible: tabs.currentIndex === 0
                    text: "Clear"
                    enabled: !root.running && fileList.count > 0
                    onClicked: QMLFile.clearall()
                }
            }

            StackLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 150
                currentIndex: tabs.currentIndex

                Rectangle {
                    id: listFrame
                    radius: 8
                    color: "white"
                    border.color: dropArea.containsDrag || fileList.activeFocus ? root.accent : root.colors.line
                    border.width: dropArea.containsDrag || fileList.activeFocus ? 2 : 1

                    ListView {
                        id: fileList
                        objectName: "filelist"
                        anchors { fill: parent; margins: 6 }
                        clip: true
                        model: QMLFile.entries
                        boundsBehavior: Flickable.StopAtBounds
                        activeFocusOnTab: count > 0
                        keyNavigationEnabled: true
                        currentIndex: -1
                        // Always there when the list overflows, so that the hidden rows are evident.
                        ScrollBar.vertical: ScrollBar {
                            id: listScroll
                            objectName: "listscroll"
                            policy: fileList.contentHeight > fileList.height ? ScrollBar.AlwaysOn : ScrollBar.AlwaysOff
                        }
                        Keys.onDeletePressed: {
                            if (!root.running && currentIndex >= 0)
                                QMLFile.removeEntry(currentIndex)
                        }
                        onActiveFocusChanged: if (activeFocus && currentIndex < 0 && count > 0) currentIndex = 0
                        delegate: FileEntry {
                            width: fileList.width - (listScroll.policy === ScrollBar.AlwaysOn ? listScroll.width + 4 : 0)
                            removable: !root.running
                            current: fileList.activeFocus && ListView.isCurrentItem
                            onRemoveRequested: QMLFile.removeEntry(index)
                        }
                    }

                    Column {
                        anchors.centerIn: parent
                        visible: fileList.count === 0
                        spacing: 6
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "Drop media files or folders here"
                            color: root.dimInk
                            font.pixelSize: 16
                        }
                        Text {
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: "or use “Add files…”. Every file needs sound to be synced."
                            color: root.dimInk
                            font.pixelSize: 12
                        }
                    }
                }

                Rectangle {
                    radius: 8
                    color: "white"
                    border.color: root.colors.line
                    ResultView {
                        objectName: "resultview"
                        anchors { fill: parent; margins: 2 }
                        run: QMLFile.lastRun
                        colors: root.colors
                        onShowFolder: (folder) => QMLFile.showFolder(folder)
                        onCopyText: (text) => QMLFile.copyText(text)
                    }
                }
            }

            // The five run settings.
            GridLayout {
                Layout.fillWidth: true
                columns: 6
                columnSpacing: 10
                rowSpacing: 8

                Label { text: "Tolerance" }
                CheckedSpinBox {
                    id: tolerance
                    objectName: "tolerance"
                    scaleBy: 1000
                    decimals: 3
                    // The span worth offering, well inside the limits the controller checks.
                    from: 800
                    to: 999
                    value: Math.round(QMLFile.savedTolerance * scaleBy)
                    enabled: !root.running
                    Layout.preferredWidth: 110
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "How strict the match is. Higher is stricter: fewer pairs, and fewer false ones.\n"
                                  + "Lower finds more pairs in short or noisy clips, and more false ones.\n"
                                  + QMLFile.defaultTolerance.toFixed(3) + " suits most recordings."
                }

                Label { text: "Sequence frame rate"; Layout.leftMargin: 8 }
                ComboBox {
                    FocusRing {}
                    id: frameRate
                    objectName: "framerate"
                    model: root.frameRates.map(r => r + " fps")
                    currentIndex: root.nearestRate(QMLFile.savedFps)
                    enabled: !root.running
                    Layout.preferredWidth: 110
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "The frame rate of the timelines written: that of the project you will edit in."
                }

                Label { text: "Frame size"; Layout.leftMargin: 8 }
                ComboBox {
                    FocusRing {}
                    id: frameSize
                    objectName: "framesize"
                    model: root.frameSizes.map(s => s[0] + " × " + s[1]).concat(["Custom…"])
                    currentIndex: root.sizeIndex(QMLFile.savedWidth, QMLFile.savedHeight)
                    enabled: !root.running
                    Layout.fillWidth: true
                    Layout.minimumWidth: 120
                }

                CheckBox {
                    FocusRing {}
                    id: premiere
                    objectName: "premiere"
                    Layout.columnSpan: 2
                    text: "Premiere Pro timeline view"
                    checked: QMLFile.savedPremiere
                    enabled: !root.running
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
                    checked: QMLFile.refine
                    enabled: !root.running
                    onToggled: QMLFile.refine = checked
                }
                CheckBox {
                    FocusRing {}
                    objectName: "driftcorrect"
                    Layout.columnSpan: 2
                    Layout.leftMargin: 8
                    text: "Correct the clock drift of sound recordings"
                    checked: QMLFile.driftCorrect
                    enabled: !root.running
                    onToggled: QMLFile.driftCorrect = checked
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "A recorder or phone whose clock runs faster or slower than the main camera's\n"
                                  + "gets a copy of its sound resampled onto that clock, in the output folder's\n"
                                  + "\"corrected\" folder; the OpenTimelineIO, MLT and FCPXML timelines use it.\n"
                                  + "Your files are never changed."
                }
                RowLayout {
                    Layout.columnSpan: 2
                    Layout.alignment: Qt.AlignRight
                    spacing: 4
                    visible: frameSize.currentIndex === root.frameSizes.length
                    CheckedSpinBox {
                        id: customWidth
                        objectName: "customwidth"
                        from: 16; to: 16384; value: QMLFile.savedWidth
                        enabled: !root.running
                        Layout.preferredWidth: 92
                    }
                    Label { text: "×" }
                    CheckedSpinBox {
                        id: customHeight
                        from: 16; to: 16384; value: QMLFile.savedHeight
                        enabled: !root.running
                        Layout.preferredWidth: 92
                    }
                }
            }

            Text {
                objectName: "settingsproblem"
                Layout.fillWidth: true
                visible: text !== ""
                text: [[tolerance, "Tolerance"], [customWidth, "Width"], [customHeight, "Height"]]
                      .filter(p => p[0].refused !== "")
                      .map(p => p[1] + " " + p[0].refused + " is not taken: it goes from "
                                + p[0].textFromValue(p[0].from) + " to " + p[0].textFromValue(p[0].to)
                                + ". It stays " + p[0].textFromValue(p[0].value) + ".")
                      .join(" ")
                color: root.colors.bad
                font.pixelSize: 12
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Label { text: "Projects go to" }
                Text {
                    objectName: "outputfolder"
                    Layout.fillWidth: true
                    elide: Text.ElideMiddle
                    text: QMLFile.outputFolder !== "" ? QMLFile.outputFolder : QMLFile.defaultOutput
                    color: root.ink
                    font.pixelSize: 13
                }
                Button {
                    FocusRing {}
                    text: "Choose…"
                    enabled: !root.running
                    onClicked: QMLFile.chooseOutputFolder()
                }
                Button {
                    FocusRing {}
                    text: "Default"
                    visible: QMLFile.outputFolder !== ""
                    enabled: !root.running
                    onClicked: QMLFile.outputFolder = ""
                }
                CheckBox {
                    FocusRing {}
                    objectName: "openoutput"
                    text: "Show it when done"
                    checked: QMLFile.openOutput
                    onToggled: QMLFile.openOutput = checked
                }
            }

            // Progress while a run is going, the finished state after it, and Sync.
            RowLayout {
                Layout.fillWidth: true
                Layout.fillHeight: false
                Layout.preferredHeight: 62
                spacing: 14

                Item {
                    Layout.fillWidth: true
                    Layout.fillHeight: true

                    RowLayout {
                        anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter }
                        spacing: 10
                        Column {
                            Layout.fillWidth: true
                            spacing: 6
                            ProgressBar {
                                id: progressbar
                                objectName: "progressbar"
                                width: parent.width
                                opacity: 0
                                from: 0
                                to: 1
                                value: QMLFile.progressValue
                                Behavior on opacity { NumberAnimation { duration: 200 } }
                            }
                            Text {
                                id: statusLine
                                objectName: "statusline"
                                width: parent.width
                                visible: done.opacity < 0.5
                                wrapMode: Text.Wrap
                                maximumLineCount: 2
                                elide: Text.ElideRight
                                color: root.ink
                                font.pixelSize: 13
                                text: root.running ? (QMLFile.stopping ? "Stopping…" : QMLFile.progressText)
                                     : QMLFile.status !== "" ? QMLFile.status
                                     : QMLFile.entries.mediaCount === 0 ? "Add the recordings of one event, then press Sync."
                                     : "Ready to sync."
                            }
                        }
                        Button {
                            FocusRing {}
                            objectName: "stopbutton"
                            visible: root.running
                            enabled: !QMLFile.stopping
                            text: "Stop"
                            onClicked: QMLFile.stopRun()
                        }
                    }

                    // The finished state, coloured by how the run ended: green only when
                    // projects were written.
                    Rectangle {
                        id: done
                        objectName: "done"
                        anchors.fill: parent
                        radius: 8
                        color: root.ending === "synced" ? "#e7f5ee" : root.ending === "failed" ? "#fbeceb" : "#eef0f3"
                        border.color: root.ending === "synced" ? "#9fcfb6" : root.ending === "failed" ? "#e3a9a4" : root.colors.line
                        opacity: 0
                        visible: opacity > 0
                        Behavior on opacity { NumberAnimation { duration: 250 } }

                        Rectangle {
                            id: ima1
                            objectName: "ima1"
                            width: 34; height: 34; radius: 17
                            anchors { left: parent.left; leftMargin: 12; verticalCenter: parent.verticalCenter }
                            color: root.ending === "synced" ? root.okGreen : root.ending === "failed" ? root.colors.bad : root.dimInk
                            opacity: 0
                            Text {
                                objectName: "endmark"
                                anchors.centerIn: parent
                                text: root.ending === "synced" ? "✓" : root.ending === "failed" ? "!" : root.ending === "stopped" ? "■" : "–"
                                color: "white"
                                font { pixelSize: 20; bold: true }
                            }
                        }
                        // stopbar writes "Done!" here; it is shown only when it is true.
                        Text {
                            id: text3
                            objectName: "text3"
                            anchors { left: ima1.right; leftMargin: 12; top: parent.top; topMargin: 7 }
                            transformOrigin: Item.Left
                            scale: 0
                            visible: root.ending === "synced"
                            text: ""
                            color: root.okGreen
                            font { pixelSize: 17; bold: true }
                            Behavior on scale { NumberAnimation { duration: 250; easing.type: Easing.OutBack } }
                        }
                        Text {
                            objectName: "headline"
                            anchors { left: text3.left; top: text3.top }
                            transformOrigin: Item.Left
                            scale: text3.scale
                            visible: !text3.visible
                            text: root.ending === "failed" ? "The run could not go on"
                                : root.ending === "stopped" ? "Stopped" : "Nothing in sync"
                            color: root.ending === "failed" ? root.colors.bad : root.ink
                            font { pixelSize: 17; bold: true }
                        }
                        Text {
                            objectName: "resultline"
                            anchors { left: text3.left; right: endButtons.left; rightMargin: 10; bottom: parent.bottom; bottomMargin: 8 }
                            elide: Text.ElideRight
                            text: QMLFile.status
                            color: root.ink
                            font.pixelSize: 12
                        }
                        Row {
                            id: endButtons
                            anchors { right: parent.right; rightMargin: 12; verticalCenter: parent.verticalCenter }
                            spacing: 8
                            Button {
                                FocusRing {}
                                objectName: "showfolder"
                                visible: (QMLFile.lastRun.folder || "") !== ""
                                text: "Show folder"
                                onClicked: QMLFile.showFolder(QMLFile.lastRun.folder)
                            }
                            Rectangle {
                                id: newexit
                                objectName: "newexit"
                                width: 70; height: 32; radius: 6
                                color: ma3.containsMouse ? "#dfe3e8" : "white"
                                border.color: activeFocus ? root.accent : root.colors.line
                                border.width: activeFocus ? 2 : 1
                                opacity: 0
                                activeFocusOnTab: opacity > 0.5
                                Accessible.role: Accessible.Button
                                Accessible.name: "Quit"
                                Keys.onReturnPressed: Qt.quit()
                                Keys.onSpacePressed: Qt.quit()
                                Text {
                                    anchors.centerIn: parent
                                    text: "Quit"
                                    color: root.ink
                                    font.pixelSize: 13
                                }
                                MouseArea {
                                    id: ma3
                                    objectName: "ma3"
                                    anchors.fill: parent
                                    enabled: newexit.opacity > 0.5
                                    hoverEnabled: true
                                    onClicked: Qt.quit()
                                }
                            }
                        }
                    }
                }

                Button {
                    FocusRing {}
                    id: syncButton
                    objectName: "syncbutton"
                    text: root.running ? "Syncing…" : "Sync"
                    // A second run would write the same files as the first.
                    enabled: !root.running && QMLFile.entries.mediaCount > 0
                    font { pixelSize: 15; bold: true }
                    Layout.preferredWidth: 120
                    Layout.preferredHeight: 44
                    onClicked: root.startRun()
                    contentItem: Text {
                        text: syncButton.text
                        font: syncButton.font
                        color: syncButton.enabled ? "white" : root.dimInk
                        horizontalAlignment: Text.AlignHCenter
                        verticalAlignment: Text.AlignVCenter
                    }
                    background: Rectangle {
                        radius: 8
                        color: !syncButton.enabled ? "#dfe3e8"
                             : syncButton.down ? Qt.darker(root.accent, 1.2)
                             : syncButton.hovered ? Qt.lighter(root.accent, 1.1) : root.accent
                    }
                }
            }
        }

        // A grip for resizing, since the window has no frame.
        MouseArea {
            anchors { right: parent.right; bottom: parent.bottom }
            width: 16; height: 16
            cursorShape: Qt.SizeFDiagCursor
            onPressed: root.Window.window.startSystemResize(Qt.RightEdge | Qt.BottomEdge)
        }
    }

    // Files dragged from the file manager are added like picked ones.
    DropArea {
        id: dropArea
        anchors.fill: parent
        onEntered: (drag) => { drag.accepted = drag.hasUrls && !root.running }
        onDropped: (drop) => {
            if (drop.hasUrls && !root.running) {
                QMLFile.addUrls(drop.urls)
                drop.acceptProposedAction()
            }
        }
    }

    // Asks before a running run is lost; closes by itself when the run ends.
    Popup {
        id: quitPopup
        objectName: "quitpopup"
        anchors.centerIn: parent
        modal: true
        padding: 20
        background: Rectangle {
            radius: 10
            color: "white"
            border.color: root.colors.line
        }
        contentItem: ColumnLayout {
            spacing: 14
            Text {
                text: "A sync run is going."
                color: root.ink
                font { pixelSize: 15; bold: true }
            }
            Text {
                text: "Quitting stops it; no projects are written."
                color: root.ink
                font.pixelSize: 13
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                spacing: 8
                Button {
                    FocusRing {}
                    text: "Keep running"
                    focus: true
                    onClicked: quitPopup.close()
                }
                Button {
                    FocusRing {}
                    text: "Stop and quit"
                    onClicked: Qt.quit()
                }
            }
        }
    }
}
