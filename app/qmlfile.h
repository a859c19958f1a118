#pragma once
// The controller the scene talks to: file picking, the list, and sync runs.

#include "app/filelistentries.h"
#include "app/mythread.h"
#include "engine/run_settings.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>

class AnimalModel;

class QMLFile : public QObject {
  Q_OBJECT
  // True from an accepted start_sync until the run's end has reached this thread.
  Q_PROPERTY(bool running READ running NOTIFY runningChanged)
  // Refine offsets below one frame in the next run.
  Q_PROPERTY(bool refine READ refine WRITE setRefine NOTIFY refineChanged)
  // What the running run is doing ("Fingerprinting: file 3 of 8") and how far it is, 0 to 1.
  Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)
  Q_PROPERTY(double progressValue READ progressValue NOTIFY progressChanged)
  // One sentence for the user: why a run was refused, or how the last run ended.
  Q_PROPERTY(QString status READ status NOTIFY statusChanged)
  // The file list with display roles (file name, folder, device groups).
  Q_PROPERTY(FileListEntries* entries READ entries CONSTANT)
  // The run settings the scene starts with, so that the defaults live in RunSettings only.
  Q_PROPERTY(double defaultTolerance READ defaultTolerance CONSTANT)
  Q_PROPERTY(double defaultFps READ defaultFps CONSTANT)
  Q_PROPERTY(int defaultWidth READ defaultWidth CONSTANT)
  Q_PROPERTY(int defaultHeight READ defaultHeight CONSTANT)
  Q_PROPERTY(bool defaultPremiere READ defaultPremiere CONSTANT)

 public:
  // Shows an open dialog for several files; returns the chosen paths, empty when cancelled.
  using FileDialog =
      std::function<QStringList(const QString& caption, const QString& folder, const QString& filter)>;

  explicit QMLFile(AnimalModel& model, QObject* parent = nullptr);

  bool running() const { return running_; }
  bool refine() const { return refine_; }
  void setRefine(bool refine);
  QString progressText() const { return progress_text_; }
  double progressValue() const { return progress_value_; }
  QString status() const { return status_; }
  FileListEntries* entries() { return &entries_; }
  double defaultTolerance() const { return RunSettings{}.tolerance; }
  double defaultFps() const { return RunSettings{}.fps; }
  int defaultWidth() const { return RunSettings{}.width; }
  int defaultHeight() const { return RunSettings{}.height; }
  bool defaultPremiere() const { return RunSettings{}.premiere != 0; }

  // Seams for tests and tools: the dialog, the engine, and whether a run shows its output folder.
  void setFileDialog(FileDialog dialog) { dialog_ = std::move(dialog); }
  void setEngine(MyThread::SyncEngine engine) { engine_ = std::move(engine); }
  void setOpenOutput(bool open) { open_output_ = open; }

 signals:
  void send2gui(QString msg);
  void send2gui2();
  void runningChanged();
  void refineChanged();
  void progressChanged();
  void statusChanged();

 public slots:
  // The end of a run on its way to the window's finished state.
  void kazidekazavrsi(QString msg);
  // Ends the application.
  void skonciapp();

 public:
  // Picks files and appends them to the list; returns the chosen paths.
  Q_INVOKABLE QStringList getFilesSelected();
  // Picks files recorded on one device and appends them between the two group markers,
  // even when cancelled; returns the bracketed list.
  Q_INVOKABLE QStringList getFilesSelected2();
  // Starts one run over a copy of the list and returns at once. Refused, with one log
  // line and a status sentence, while a run is going or when the settings or the
  // Brenvik.app folder cannot make a run.
  Q_INVOKABLE void start_sync(float tolerance, int x, int y, float fps, int premiere);
  Q_INVOKABLE void clearall();
  // Appends the local files among dropped URLs (folders and remote URLs are skipped);
  // returns the added paths.
  Q_INVOKABLE QStringList addUrls(const QVariantList& urls);

 private:
  QStringList pickFiles(const QString& filter);
  void appendEntries(const QStringList& entries);
  void setRunning(bool running);
  void setStatus(const QString& status);
  void setProgress(const QString& text, double value);
  void showProgress(const QString& stage, int i, int n);
  void endRun(const QString& result, const QString& error, const QStringList& unreadable,
              const QStringList& notices);

  AnimalModel& model_;
  FileListEntries entries_;
  FileDialog dialog_;
  MyThread::SyncEngine engine_;
  bool open_output_ = true;
  bool running_ = false;
  bool refine_ = RunSettings{}.refine;
  QString progress_text_;
  double progress_value_ = 0.0;
  QString status_;
};
