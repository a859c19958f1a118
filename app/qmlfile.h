#pragma once
// The object the scene talks to. It hands the work to three parts: the settings store,
// the file list's edits and the run controller, and keeps for the scene one property
// or call for each thing it shows or does.

#include "app/filelist.h"
#include "app/folderviewer.h"
#include "app/runcontroller.h"
#include "app/settingsstore.h"
#include "engine/run_settings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <functional>

class AnimalModel;
class QSettings;

class QMLFile : public QObject {
  Q_OBJECT
  // True from an accepted start_sync until the run's end has reached this thread.
  Q_PROPERTY(bool running READ running NOTIFY runningChanged)
  // Stop was pressed and the run has not ended yet.
  Q_PROPERTY(bool stopping READ stopping NOTIFY runningChanged)
  // Refine offsets below one frame in the next run.
  Q_PROPERTY(bool refine READ refine WRITE setRefine NOTIFY refineChanged)
  // Copy drifting sound-only recordings onto the reference clock in the next run.
  Q_PROPERTY(bool driftCorrect READ driftCorrect WRITE setDriftCorrect NOTIFY driftCorrectChanged)
  Q_PROPERTY(bool writeMedia READ writeMedia WRITE setWriteMedia NOTIFY writeMediaChanged)
  // Of files with several sound streams, the 1-based one to analyse; 0: the loudest.
  Q_PROPERTY(int soundStream READ soundStream WRITE setSoundStream NOTIFY soundStreamChanged)
  // The media files of the list, and the one whose device is every group's main sound for
  // the next run ("": each group's own); a choice per run, not kept.
  Q_PROPERTY(QStringList soundFiles READ soundFiles NOTIFY soundFilesChanged)
  Q_PROPERTY(QString mainSound READ mainSound WRITE setMainSound NOTIFY mainSoundChanged)
  // What the running run is doing ("Fingerprinting: file 3 of 8"), how far it is, 0 to 1,
  // and how long it is likely to take still ("about 2 min left"; empty while unknown).
  Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
  Q_PROPERTY(double progressValue READ progressValue NOTIFY progressChanged)
  Q_PROPERTY(QString timeLeft READ timeLeft NOTIFY progressChanged)
  // One sentence for the user: why a run or an entry was refused, or how the last run ended.
  Q_PROPERTY(QString status READ status NOTIFY statusChanged)
  // The last run as the result view shows it (see describe_run); empty before the first
  // and while a run goes; "stale" is true once the list has changed since it.
  Q_PROPERTY(QVariantMap lastRun READ lastRun NOTIFY lastRunChanged)
  // The file list with display roles (file name, folder, device groups, sound only).
  Q_PROPERTY(FileListEntries* entries READ entries CONSTANT)
  // The settings the scene starts with: those of the last accepted run, else the defaults.
  Q_PROPERTY(double savedTolerance READ savedTolerance NOTIFY savedChanged)
  Q_PROPERTY(double savedFps READ savedFps NOTIFY savedChanged)
  Q_PROPERTY(int savedWidth READ savedWidth NOTIFY savedChanged)
  Q_PROPERTY(int savedHeight READ savedHeight NOTIFY savedChanged)
  Q_PROPERTY(bool savedPremiere READ savedPremiere NOTIFY savedChanged)
  Q_PROPERTY(double defaultTolerance READ defaultTolerance CONSTANT)
  // Where the documents go; empty: the default, which defaultOutput names for the user.
  Q_PROPERTY(QString outputFolder READ outputFolder WRITE setOutputFolder NOTIFY outputChanged)
  Q_PROPERTY(QString defaultOutput READ defaultOutput CONSTANT)
  // Show the output folder in the file manager after a run that wrote projects.
  Q_PROPERTY(bool openOutput READ openOutput WRITE setOpenOutput NOTIFY outputChanged)
  // Keep each file's analysis for later runs of the same files, and take it from there.
  Q_PROPERTY(bool useCache READ useCache WRITE setUseCache NOTIFY outputChanged)
  // Why the last folder shown is not in a file manager, with where it is; empty when it
  // is, or while that cannot be told yet.
  Q_PROPERTY(QString folderProblem READ folderProblem NOTIFY folderProblemChanged)
  // The key of the editing application the user edits in (editors() of export/formats.h),
  // and every one the user can choose: [{key, name}].
  Q_PROPERTY(QString editor READ editor WRITE setEditor NOTIFY editorChanged)
  Q_PROPERTY(QVariantList editors READ editors CONSTANT)
  // The last run's documents for that editor (arrange_documents): {editor, open, others}.
  Q_PROPERTY(QVariantMap projects READ projects NOTIFY projectsChanged)
  // Why Sync waits for an answer: the output folder holds an earlier run's projects,
  // which a run would replace; empty when it does not wait.
  Q_PROPERTY(QString replaceQuestion READ replaceQuestion NOTIFY replaceQuestionChanged)
  // A removal or a clearing of the list can be taken back (undo).
  Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)

 public:
  // Shows an open dialog for several files; returns the chosen paths, empty when cancelled.
  using FileDialog =
      std::function<QStringList(const QString& caption, const QString& folder, const QString& filter)>;
  // Shows a folder dialog; returns the chosen folder, empty when cancelled.
  using FolderDialog = std::function<QString(const QString& caption, const QString& folder)>;

  explicit QMLFile(AnimalModel& model, QObject* parent = nullptr);

  bool running() const { return run_.running(); }
  bool stopping() const { return run_.stopping(); }
  bool refine() const { return kept_.run.refine; }
  void setRefine(bool refine);
  bool driftCorrect() const { return kept_.run.drift_correct; }
  bool writeMedia() const { return kept_.run.write_media; }
  void setDriftCorrect(bool correct);
  void setWriteMedia(bool write);
  int soundStream() const { return kept_.run.sound_stream; }
  void setSoundStream(int stream);
  QStringList soundFiles() const;
  QString mainSound() const { return main_sound_; }
  void setMainSound(const QString& file);
  QString progressText() const { return run_.progressText(); }
  double progressValue() const { return run_.progressValue(); }
  QString timeLeft() const { return run_.timeLeft(); }
  QString status() const { return status_; }
  QVariantMap lastRun() const { return run_.lastRun(); }
  FileListEntries* entries() { return list_.entries(); }
  const FileList& fileList() const { return list_; }
  double savedTolerance() const { return kept_.run.tolerance; }
  double savedFps() const { return kept_.run.fps; }
  int savedWidth() const { return kept_.run.width; }
  int savedHeight() const { return kept_.run.height; }
  bool savedPremiere() const { return kept_.run.premiere != 0; }
  double defaultTolerance() const { return RunSettings{}.tolerance; }
  QString outputFolder() const { return kept_.output_folder; }
  QString defaultOutput() const;
  void setOutputFolder(const QString& folder);
  bool openOutput() const { return kept_.open_output; }
  void setOpenOutput(bool open);
  bool useCache() const { return kept_.use_cache; }
  void setUseCache(bool use);
  QString folderProblem() const { return viewer_.problem(); }
  bool canUndo() const { return list_.canUndo(); }
  QString editor() const { return kept_.editor; }
  void setEditor(const QString& key);
  QVariantList editors() const;
  QVariantMap projects() const;
  QString replaceQuestion() const { return replace_question_; }

  // Keeps the settings, the output choices and the dialogs' folder in `store` from now
  // on, starting from what it holds. Without a store nothing outlives the process.
  void keepSettingsIn(QSettings* store);

  // Seams for tests and tools: the dialogs, the engine and the run's clock.
  void setFileDialog(FileDialog dialog) { dialog_ = std::move(dialog); }
  void setFolderDialog(FolderDialog dialog) { folder_dialog_ = std::move(dialog); }
  void setEngine(MyThread::SyncEngine engine) { run_.setEngine(std::move(engine)); }
  void setRunClock(RunController::Clock clock) { run_.setClock(std::move(clock)); }

 signals:
  void send2gui(QString msg);
  void send2gui2();
  void runningChanged();
  void refineChanged();
  void driftCorrectChanged();
  void writeMediaChanged();
  void soundStreamChanged();
  void soundFilesChanged();
  void mainSoundChanged();
  void progressChanged();
  void statusChanged();
  void lastRunChanged();
  void savedChanged();
  void outputChanged();
  void folderProblemChanged();
  void canUndoChanged();
  void editorChanged();
  void projectsChanged();
  void replaceQuestionChanged();

 public slots:
  // The end of a run on its way to the window's finished state.
  void kazidekazavrsi(QString msg);
  // Ends the application.
  void skonciapp();

 public:
  // Picks files and appends them to the list; returns the added paths.
  Q_INVOKABLE QStringList getFilesSelected();
  // Picks files recorded on one device and appends them between the two group markers;
  // returns the bracketed list, or nothing when no new file was picked.
  Q_INVOKABLE QStringList getFilesSelected2();
  // Starts one run over a copy of the list and returns at once. Refused, with one log
  // line and a status sentence, while a run is going or when the settings or the
  // Brenvik.app folder cannot make a run.
  Q_INVOKABLE void start_sync(float tolerance, int x, int y, float fps, int premiere);
  Q_INVOKABLE void clearall();
  // Appends the local media files among dropped URLs, and those directly in a dropped
  // folder; remote URLs are skipped, other files named in the status. Returns the added paths.
  Q_INVOKABLE QStringList addUrls(const QVariantList& urls);
  // Removes the entry at `row`: a file, or a whole device group when `row` is one of its
  // markers; a group left without files goes too. Nothing while a run is going.
  Q_INVOKABLE void removeEntry(int row);
  // The same for several rows at once (the selection), as one step to undo.
  Q_INVOKABLE void removeEntries(const QVariantList& rows);
  // Puts back the list as it was before the last removal or clearing. Nothing while a
  // run is going.
  Q_INVOKABLE void undo();
  // Asks the running run to end at its next step.
  Q_INVOKABLE void stopRun();
  // Lets the user pick the output folder; false when cancelled.
  Q_INVOKABLE bool chooseOutputFolder();
  Q_INVOKABLE void copyText(const QString& text);
  // Shows a folder in the file manager, without waiting for it; see folderProblem.
  Q_INVOKABLE void showFolder(const QString& folder);
  // The answer to replaceQuestion: true lets the next start_sync replace the projects.
  Q_INVOKABLE void answerReplace(bool replace);

 private:
  QStringList pickFiles(const QString& caption);
  QStringList took(const FileList::Edit& edit);
  void setStatus(const QString& status);
  void showEnd();
  void listChanged();
  void save() const { store_.save(kept_); }
  // Where a run writes its documents, absolute; installed, a new folder for every call.
  QString documentsFolder() const;
  // What replaceQuestion asks before a run over the list as it is; empty: nothing to ask.
  QString earlierProjects() const;
  void setReplaceQuestion(const QString& question);

  AnimalModel& model_;
  FileList list_;
  RunController run_;
  FolderViewer viewer_;
  SettingsStore store_;
  StoredSettings kept_;
  FileDialog dialog_;
  FolderDialog folder_dialog_;
  QString status_;
  QString replace_question_;
  bool replace_agreed_ = false;
  QString main_sound_;
};
