#pragma once
// The worker thread of one sync run.

#include "engine/run_settings.h"
#include "engine/synco.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

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
  SyncEngine engine;          // empty: the real driver

 signals:
  void finished2(QString msg);
  // From the engine's progress callback: stage name, item i (1-based) of n.
  void progressed(QString stage, int i, int n);
  // The driver's answer ("mavo", "nema"); `error` says why the run could not be done (empty
  // when it could); `unreadable` holds "file: reason" for every file whose sound could
  // not be read; `notices` what the user should know of a run that went on.
  void runEnded(QString result, QString error, QStringList unreadable, QStringList notices);

 protected:
  // One run, then the thread idles in its own event loop until the process ends.
  void run() override;
};
