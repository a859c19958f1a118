#pragma once
// The worker thread of one sync run.

#include "engine/run_settings.h"
#include "engine/synco.h"

#include <QList>
#include <QMetaType>
#include <QString>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

Q_DECLARE_METATYPE(RunResult)

// Everything a run needs is copied in before start(): the worker never reads the
// file list model or the scene. Results leave only through queued signals.
class MyThread : public QThread {
  Q_OBJECT

 public:
  // The sync run driver as the worker calls it; tests put a stand-in here.
  using SyncEngine = std::function<std::string(
      std::vector<std::string> files, const RunSettings& settings, const SyncOptions& options)>;

  explicit MyThread(QObject* parent = nullptr);

  RunSettings settings;       // checked before the run: see settings_problem
  QList<QString> files;       // snapshot of the file list, markers included
  bool open_output = true;    // show the output folder after a run that wrote projects
  bool use_cache = true;      // take and keep the analyses of earlier runs
  std::vector<FoundDevice> found_devices;  // groups of `files` found from the files, for the sound to check
  QString output_folder;      // where the documents go; empty: Brenvik.app/SYNCED
  SyncEngine engine;          // empty: the real driver

 signals:
  void finished2(QString msg);
  // From the engine's progress callback: stage name, item i (1-based) of n.
  void progressed(QString stage, int i, int n);
  // The driver's answer ("mavo", "nema") and everything the run found; an exception
  // that left the driver is in outcome.error.
  void runEnded(QString answer, RunResult outcome);

 protected:
  // One run, then the thread idles in its own event loop until the process ends.
  void run() override;
};
