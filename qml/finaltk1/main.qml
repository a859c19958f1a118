// The Brenvik window. The native side needs from this scene only the context
// properties "myModel" and "QMLFile" and six objects by name, which it sets when a
// run has finished: progressbar, ima1, text3, newexit, ma3 and done.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: root
    width: 780
    height: 700

    readonly property color ink: "#1f2329"
    readonly property color dimInk: "#6b7280"
    readonly property color accent: "#2f6fd6"
    readonly property color groupTint: "#eaf1fc"
    readonly property color okGreen: "#1f8a5b"
    readonly property bool running: QMLFile.running
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
    function startRun() {
        progressbar.opacity = 1
        done.opacity = 0
        ima1.opacity = 0
        text3.scale = 0
        newexit.opacity = 0
        const custom = frameSize.currentIndex === frameSizes.length
        const w = custom ? customWidth.value : frameSizes[frameSize.currentIndex][0]
        const h = custom ? customHeight.value : frameSizes[frameSize.currentIndex][1]
        QMLFile.start_sync(tolerance.realValue, w, h, frameRates[frameRate.currentIndex],
                           premiere.checked ? 1 : 0)
        if (!QMLFile.running)
            progressbar.opacity = 0
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
                Text {
                    text: "Media files"
                    color: root.ink
                    font { pixelSize: 15; bold: true }
                }
                Text {
                    text: QMLFile.entries.mediaCount === 1 ? "1 file"
                                                          : QMLFile.entries.mediaCount + " files"
                    color: root.dimInk
                    font.pixelSize: 13
                }
                Item { Layout.fillWidth: true }
                Button {
                    objectName: "addbutton"
                    text: "Add files…"
                    enabled: !root.running
                    onClicked: QMLFile.getFilesSelected()
                }
                Button {
                    objectName: "adddevicebutton"
                    text: "Add files from one device…"
                    enabled: !root.running
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "Files recorded one after another by the same camera or recorder.\nThey are never compared with each other."
                    onClicked: QMLFile.getFilesSelected2()
                }
                Button {
                    objectName: "clearbutton"
                    text: "Clear"
                    enabled: !root.running && fileList.count > 0
                    onClicked: QMLFile.clearall()
                }
            }

            Rectangle {
                id: listFrame
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 150
                radius: 8
                color: "white"
                border.color: dropArea.containsDrag ? root.accent : "#d5dae1"
                border.width: dropArea.containsDrag ? 2 : 1

                ListView {
                    id: fileList
                    objectName: "filelist"
                    anchors { fill: parent; margins: 6 }
                    clip: true
                    model: QMLFile.entries
                    boundsBehavior: Flickable.StopAtBounds
                    ScrollBar.vertical: ScrollBar { }
                    delegate: FileEntry {
                        width: fileList.width - 12
                    }
                }

                Column {
                    anchors.centerIn: parent
                    visible: fileList.count === 0
                    spacing: 6
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "Drop media files here"
                        color: root.dimInk
                        font.pixelSize: 16
                    }
                    Text {
                        anchors.horizontalCenter: parent.horizontalCenter
                        text: "or use “Add files…”. Every file needs sound to be synced."
                        color: "#9aa1ab"
                        font.pixelSize: 12
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
                SpinBox {
                    id: tolerance
                    objectName: "tolerance"
                    readonly property int scaleBy: 1000
                    readonly property real realValue: value / scaleBy
                    // The span worth offering, well inside the limits the controller checks.
                    from: 800
                    to: 999
                    value: Math.round(QMLFile.savedTolerance * scaleBy)
                    stepSize: 1
                    editable: true
                    enabled: !root.running
                    Layout.preferredWidth: 110
                    validator: DoubleValidator { bottom: tolerance.from / tolerance.scaleBy; top: tolerance.to / tolerance.scaleBy; decimals: 3 }
                    textFromValue: (v, locale) => (v / scaleBy).toFixed(3)
                    valueFromText: (text, locale) => Math.round(Number(text) * scaleBy)
                    ToolTip.visible: hovered
                    ToolTip.delay: 600
                    ToolTip.text: "How fast the fingerprint's peak threshold decays per 24 ms.\nLower values keep more peaks; "
                                  + QMLFile.defaultTolerance.toFixed(3) + " suits most recordings."
                }

                Label { text: "Sequence frame rate"; Layout.leftMargin: 8 }
                ComboBox {
                    id: frameRate
                    objectName: "framerate"
                    model: root.frameRates.map(r => r + " fps")
                    currentIndex: root.nearestRate(QMLFile.savedFps)
                    enabled: !root.running
                    Layout.preferredWidth: 110
                }

                Label { text: "Frame size"; Layout.leftMargin: 8 }
                ComboBox {
                    id: frameSize
                    objectName: "framesize"
                    model: root.frameSizes.map(s => s[0] + " × " + s[1]).concat(["Custom…"])
                    currentIndex: root.sizeIndex(QMLFile.savedWidth, QMLFile.savedHeight)
                    enabled: !root.running
                    Layout.fillWidth: true
                    Layout.minimumWidth: 120
                }

                CheckBox {
                    id: premiere
                    objectName: "premiere"
                    Layout.columnSpan: 2
                    text: "Premiere Pro sequence settings"
                    checked: QMLFile.savedPremiere
                    enabled: !root.running
                }
                CheckBox {
                    objectName: "refine"
                    Layout.columnSpan: 2
                    Layout.leftMargin: 8
                    text: "Refine offsets below one frame"
                    checked: QMLFile.refine
                    enabled: !root.running
                    onToggled: QMLFile.refine = checked
                }
                RowLayout {
                    Layout.columnSpan: 2
                    Layout.alignment: Qt.AlignRight
                    spacing: 4
                    visible: frameSize.currentIndex === root.frameSizes.length
                    SpinBox {
                        id: customWidth
                        from: 16; to: 16384; value: QMLFile.savedWidth; editable: true
                        enabled: !root.running
                        Layout.preferredWidth: 92
                    }
                    Label { text: "×" }
                    SpinBox {
                        id: customHeight
                        from: 16; to: 16384; value: QMLFile.savedHeight; editable: true
                        enabled: !root.running
                        Layout.preferredWidth: 92
                    }
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

                    Column {
                        anchors { left: parent.left; right: parent.right; verticalCenter: parent.verticalCenter }
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
                            elide: Text.ElideRight
                            color: root.running ? root.ink : root.dimInk
                            font.pixelSize: 13
                            text: root.running ? QMLFile.progressText
                                 : QMLFile.status !== "" ? QMLFile.status
                                 : QMLFile.entries.mediaCount === 0 ? "Add the recordings of one event, then press Sync."
                                 : "Ready to sync."
                        }
                    }

                    // The finished state.
                    Rectangle {
                        id: done
                        objectName: "done"
                        anchors.fill: parent
                        radius: 8
                        color: "#e7f5ee"
                        border.color: "#b9e0cc"
                        opacity: 0
                        visible: opacity > 0
                        Behavior on opacity { NumberAnimation { duration: 250 } }

                        Rectangle {
                            id: ima1
                            objectName: "ima1"
                            width: 34; height: 34; radius: 17
                            anchors { left: parent.left; leftMargin: 12; verticalCenter: parent.verticalCenter }
                            color: root.okGreen
                            opacity: 0
                            Text {
                                anchors.centerIn: parent
                                text: "✓"
                                color: "white"
                                font { pixelSize: 20; bold: true }
                            }
                        }
                        Text {
                            id: text3
                            objectName: "text3"
                            anchors { left: ima1.right; leftMargin: 12; top: parent.top; topMargin: 9 }
                            transformOrigin: Item.Left
                            scale: 0
                            text: ""
                            color: root.okGreen
                            font { pixelSize: 17; bold: true }
                            Behavior on scale { NumberAnimation { duration: 250; easing.type: Easing.OutBack } }
                        }
                        Text {
                            objectName: "resultline"
                            anchors { left: text3.left; right: newexit.left; rightMargin: 10; bottom: parent.bottom; bottomMargin: 9 }
                            elide: Text.ElideRight
                            text: QMLFile.status
                            color: root.ink
                            font.pixelSize: 12
                        }
                        Rectangle {
                            id: newexit
                            objectName: "newexit"
                            width: 70; height: 30; radius: 6
                            anchors { right: parent.right; rightMargin: 12; verticalCenter: parent.verticalCenter }
                            color: ma3.containsMouse ? "#d0ebdd" : "white"
                            border.color: "#9fcfb6"
                            opacity: 0
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

                Button {
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
                        color: syncButton.enabled ? "white" : "#8a919c"
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

    Popup {
        id: quitPopup
        anchors.centerIn: parent
        modal: true
        padding: 18
        contentItem: ColumnLayout {
            spacing: 12
            Text {
                text: "A sync run is still going.\nQuit and lose it?"
                color: root.ink
                font.pixelSize: 14
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                Button { text: "Keep running"; onClicked: quitPopup.close() }
                Button { text: "Quit"; onClicked: Qt.quit() }
            }
        }
    }
}
