// The Brenvik window: its panels wired to the controller. The native side needs from
// this scene only the context properties "myModel" and "QMLFile" and six objects by
// name, which it sets when a run has finished: progressbar, ima1, text3, newexit, ma3
// and done (all in RunStatus.qml).
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Item {
    id: root
    width: 800
    height: 740

    readonly property bool running: QMLFile.running
    readonly property string ending: QMLFile.lastRun.state || ""

    function startRun() {
        runStatus.backToWork()
        runStatus.showProgressBar(true)
        QMLFile.start_sync(settings.tolerance, settings.frameWidth, settings.frameHeight, settings.fps,
                           settings.premiere ? 1 : 0)
        if (!QMLFile.running)
            runStatus.showProgressBar(false)
    }

    // A finished state describes the list it ran on; a changed list makes it stale.
    Connections {
        target: QMLFile.entries
        function onMediaCountChanged() {
            if (!root.running) {
                runStatus.backToWork()
                tabs.currentIndex = 0
            }
        }
    }
    Connections {
        target: QMLFile
        // A run that has just ended; not one forgotten or outdated by the list.
        function onLastRunChanged() {
            if ((QMLFile.lastRun.state || "") !== "" && !QMLFile.lastRun.stale)
                tabs.currentIndex = 1
        }
        function onRunningChanged() { if (!QMLFile.running) quitDialog.close() }
        function onFolderProblemChanged() { if (QMLFile.folderProblem !== "") tabs.currentIndex = 1 }
    }

    Shortcut {
        sequence: StandardKey.Open
        enabled: !root.running
        onActivated: QMLFile.getFilesSelected()
    }
    Shortcut {
        sequence: StandardKey.SelectAll
        enabled: tabs.currentIndex === 0 && fileList.count > 0
        onActivated: fileList.selectAll()
    }
    Shortcut {
        sequences: [StandardKey.Undo]
        enabled: !root.running && QMLFile.canUndo
        onActivated: { tabs.currentIndex = 0; QMLFile.undo() }
    }

    Rectangle {
        id: frame
        anchors.fill: parent
        radius: Theme.frameRadius
        color: Theme.panel
        border.color: Theme.line
        clip: true

        TitleBar {
            id: titleBar
            anchors { left: parent.left; right: parent.right; top: parent.top }
            cornerRadius: frame.radius
            maximised: root.Window.window ? root.Window.window.visibility === Window.Maximized : false
            onMinimiseRequested: root.Window.window.showMinimized()
            onMaximiseToggled: {
                const win = root.Window.window
                if (win.visibility === Window.Maximized)
                    win.showNormal()
                else
                    win.showMaximized()
            }
            onCloseRequested: root.running ? quitDialog.open() : Qt.quit()
        }

        ColumnLayout {
            anchors { fill: parent; topMargin: titleBar.height + 14; margins: 18 }
            spacing: 12

            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                TabBar {
                    id: tabs
                    objectName: "tabs"
                    background: Item {}
                    ViewTab {
                        text: "Media files (" + QMLFile.entries.mediaCount + ")"
                    }
                    ViewTab {
                        objectName: "resulttab"
                        text: "Result"
                        enabled: root.ending !== ""
                    }
                }
                Item { Layout.fillWidth: true }
                ListButtons {
                    visible: tabs.currentIndex === 0
                    running: root.running
                    listed: fileList.count > 0
                    canUndo: QMLFile.canUndo
                    onUndoRequested: QMLFile.undo()
                    onAddFilesRequested: QMLFile.getFilesSelected()
                    onAddDeviceRequested: QMLFile.getFilesSelected2()
                    onClearRequested: QMLFile.clearall()
                }
            }

            StackLayout {
                Layout.fillWidth: true
                Layout.fillHeight: true
                Layout.minimumHeight: 150
                currentIndex: tabs.currentIndex

                FileListPanel {
                    id: fileList
                    objectName: "filelistpanel"
                    model: QMLFile.entries
                    running: root.running
                    dropping: dropArea.containsDrag
                    onRemoveRequested: (rows) => QMLFile.removeEntries(rows)
                }
                Rectangle {
                    radius: Theme.boxRadius
                    color: "white"
                    border.color: Theme.line
                    ResultView {
                        objectName: "resultview"
                        anchors { fill: parent; margins: 2 }
                        run: QMLFile.lastRun
                        projects: QMLFile.projects
                        folderProblem: QMLFile.folderProblem
                        running: root.running
                        onShowFolder: (folder) => QMLFile.showFolder(folder)
                        onCopyText: (text) => QMLFile.copyText(text)
                    }
                }
            }

            SettingsPanel {
                id: settings
                objectName: "settings"
                Layout.fillWidth: true
                running: root.running
                savedTolerance: QMLFile.savedTolerance
                defaultTolerance: QMLFile.defaultTolerance
                savedFps: QMLFile.savedFps
                savedWidth: QMLFile.savedWidth
                savedHeight: QMLFile.savedHeight
                savedPremiere: QMLFile.savedPremiere
                refine: QMLFile.refine
                driftCorrect: QMLFile.driftCorrect
                writeMedia: QMLFile.writeMedia
                soundStream: QMLFile.soundStream
                onRefineToggled: (on) => QMLFile.refine = on
                onDriftCorrectToggled: (on) => QMLFile.driftCorrect = on
                onWriteMediaToggled: (on) => QMLFile.writeMedia = on
                onSoundStreamChosen: (stream) => QMLFile.soundStream = stream
                soundFiles: QMLFile.soundFiles
                mainSound: QMLFile.mainSound
                onMainSoundChosen: (file) => QMLFile.mainSound = file
            }

            OutputPanel {
                Layout.fillWidth: true
                folder: QMLFile.outputFolder
                defaultText: QMLFile.defaultOutput
                openWhenDone: QMLFile.openOutput
                useCache: QMLFile.useCache
                running: root.running
                editors: QMLFile.editors
                editor: QMLFile.editor
                onEditorChosen: (key) => QMLFile.editor = key
                onChooseRequested: QMLFile.chooseOutputFolder()
                onDefaultRequested: QMLFile.outputFolder = ""
                onOpenWhenDoneToggled: (open) => QMLFile.openOutput = open
                onUseCacheToggled: (use) => QMLFile.useCache = use
            }

            RunStatus {
                id: runStatus
                Layout.fillWidth: true
                running: root.running
                stopping: QMLFile.stopping
                progressValue: QMLFile.progressValue
                progressText: QMLFile.progressText
                timeLeft: QMLFile.timeLeft
                status: QMLFile.status
                idleText: QMLFile.entries.mediaCount === 0 ? "Add the recordings of one event, then press Sync."
                                                           : "Ready to sync."
                ending: root.ending
                folder: QMLFile.lastRun.folder || ""
                canSync: QMLFile.entries.mediaCount > 0
                onSyncRequested: root.startRun()
                onStopRequested: QMLFile.stopRun()
                onShowFolderRequested: QMLFile.showFolder(QMLFile.lastRun.folder)
                onQuitRequested: Qt.quit()
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

    // Sync waits on it while the output folder holds another run's projects.
    ReplaceDialog {
        id: replaceDialog
        anchors.centerIn: parent
        question: QMLFile.replaceQuestion
        onQuestionChanged: question !== "" ? open() : close()
        onReplaceRequested: { QMLFile.answerReplace(true); root.startRun() }
        onOtherFolderRequested: {
            QMLFile.answerReplace(false)
            if (QMLFile.chooseOutputFolder())
                root.startRun()
        }
        onCancelled: QMLFile.answerReplace(false)
    }

    // Closes by itself when the run ends.
    QuitDialog {
        id: quitDialog
        anchors.centerIn: parent
        onQuitRequested: Qt.quit()
    }
}
