#pragma once
// One sync run at a time on a worker thread: its start, its progress and the time it has
// left, a stop request, and what the window shows of its end.

#include "app/filelistentries.h"
#include "app/mythread.h"
#include "core/progress.h"
#include "engine/run_settings.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>

// One sentence saying why no run can start over a list whose unreadable media entries
// are `missing`, or empty when one can. Checked before the worker exists, because
// inside a run every failure only degrades it.
QString run_refusal(const QStringList& missing, const RunSettings& settings, const QString& output_folder);

class RunController : public QObject {
  Q_OBJECT

 public:
  // Seconds since the running run started; a seam for tests and tools.
  using Clock = std::function<double()>;

  struct Request {
    QList<QString> files;      // snapshot of the list, markers included
    RunSettings settings;      // accepted by run_refusal
    bool open_output = true;
    bool use_cache = true;
    std::vector<FoundDevice> found_devices;  // the list's groups found from the files (FileList)
    QString output_folder;     // handed to the worker; empty: Brenvik.app/SYNCED
    QString documents_folder;  // where the documents land, absolute, as the window says
  };

  explicit RunController(QObject* parent = nullptr);

  bool running() const { return running_; }
  bool stopping() const { return stopping_; }
  // The stage and its count ("Fingerprinting: file 3 of 8"), the share done (0 to 1)
  // and "about 2 min left", empty while that cannot be told.
  QString progressText() const { return progress_text_; }
  double progressValue() const { return progress_value_; }
  QString timeLeft() const { return time_left_; }
  // The last run as the result view shows it (see describe_run), and the marks of its files.
  QVariantMap lastRun() const { return last_run_; }
  QHash<QString, FileListEntries::Mark> marks() const { return marks_; }
  // The file manager the last run started on its folder, and that folder; null and
  // empty when it started none.
  std::shared_ptr<DetachedProgram> folderViewer() const { return folder_viewer_; }
  QString shownFolder() const { return shown_folder_; }

  void setEngine(MyThread::SyncEngine engine) { engine_ = std::move(engine); }
  void setClock(Clock clock) { clock_ = std::move(clock); }

  // The last run no longer describes the list: lastRun says so ("stale": true).
  void markStale();
  // Forgets the last run, as a new one starts.
  void forgetLastRun();

  // Starts a run and returns at once; nothing while one is going.
  void start(const Request& request);
  // Asks the running run to end at its next step.
  void stop();

 signals:
  void runningChanged();
  void progressChanged();
  // A run has ended: lastRun and marks describe it; running turns false right after.
  void ended();
  // Relayed from the worker once the run's end has been taken in here.
  void finished2(QString msg);

 private:
  void showProgress(const QString& stage, int i, int n);
  void endRun(const QString& answer, const RunResult& outcome);
  void setProgress(const QString& text, double value, const QString& time_left);
  void setRunning(bool running);

  MyThread::SyncEngine engine_;
  Clock clock_;
  QElapsedTimer elapsed_;
  RunClock run_clock_;
  QString documents_folder_;
  double fps_ = RunSettings{}.fps;  // the run's sequence rate, for the result's ruler
  bool running_ = false;
  bool stopping_ = false;
  QString progress_text_;
  double progress_value_ = 0.0;
  QString time_left_;
  QVariantMap last_run_;
  QHash<QString, FileListEntries::Mark> marks_;
  std::shared_ptr<DetachedProgram> folder_viewer_;
  QString shown_folder_;
};
