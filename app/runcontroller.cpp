#include "app/runcontroller.h"

#include "app/runreport.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/stop.h"
#include "export/formats.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

constexpr int kStoppedByTheWindow = -1;  // a stop request's reason: not a signal

}  // namespace

QString run_refusal(const QStringList& missing, const RunSettings& settings, const QString& output_folder) {
  if (const std::string problem = settings_problem(settings); !problem.empty())
    return QString::fromStdString(problem);
  if (const std::string problem = run_folder_problem(); !problem.empty())
    return QString::fromStdString(problem);
  if (const QFileInfo folder(output_folder);
      !output_folder.isEmpty() && (!folder.isDir() || !folder.isWritable()))
    return QStringLiteral("Cannot write to %1. Choose another folder for the projects.")
        .arg(QDir::toNativeSeparators(output_folder));
  if (missing.size() == 1)
    return QStringLiteral("Cannot read %1. Remove it from the list or put it back.")
        .arg(QDir::toNativeSeparators(missing.front()));
  if (!missing.isEmpty())
    return QStringLiteral("Cannot read %1 files, marked in the list. Remove them or put them back.")
        .arg(missing.size());
  return {};
}

RunController::RunController(QObject* parent) : QObject(parent) {}

void RunController::start(const Request& request) {
  if (running_) return;
  clear_stop_request();
  auto* worker = new MyThread();
  connect(worker, &MyThread::progressed, this, &RunController::showProgress);
  // Connected before finished2 so that running is false by the time stopbar runs.
  connect(worker, &MyThread::runEnded, this, &RunController::endRun);
  connect(worker, &MyThread::finished2, this, &RunController::finished2);
  worker->settings = request.settings;
  worker->files = request.files;
  worker->open_output = request.open_output;
  worker->use_cache = request.use_cache;
  worker->found_devices = request.found_devices;
  worker->output_folder = request.output_folder;
  worker->engine = engine_;
  documents_folder_ = request.documents_folder;
  fps_ = request.settings.fps;

  run_clock_ = RunClock{};
  elapsed_.start();
  setProgress(QStringLiteral("Starting"), 0.0, QString());
  setRunning(true);
  worker->start();
  qDebug("tuka odi kod za start sync");
}

void RunController::markStale() {
  if (!last_run_.isEmpty()) last_run_[QStringLiteral("stale")] = true;
}

void RunController::forgetLastRun() {
  last_run_.clear();
  marks_.clear();
  folder_viewer_.reset();
  shown_folder_.clear();
}

void RunController::stop() {
  if (!running_ || stopping_) return;
  logthis("stop pressed during a sync run");
  stopping_ = true;
  request_stop(kStoppedByTheWindow);
  emit runningChanged();
}

void RunController::showProgress(const QString& stage, int i, int n) {
  const std::string name = stage.toStdString();
  run_clock_.report(name, i, n, clock_ ? clock_() : elapsed_.elapsed() / 1000.0);
  setProgress(QString::fromStdString(progress_text(name, i, n)), run_clock_.share(),
              QString::fromStdString(time_left_text(run_clock_.seconds_left())));
}

void RunController::endRun(const QString& answer, const RunResult& outcome) {
  last_run_ = describe_run(answer, outcome, stopping_, documents_folder_, fps_);
  marks_ = file_marks(answer, outcome);
  folder_viewer_ = outcome.folder_viewer;
  shown_folder_ = QDir::cleanPath(QString::fromStdString(outcome.shown_folder));
  if (answer != QLatin1String("mavo") && !earlier_run_time(documents_folder_.toStdString()).empty())
    last_run_[QStringLiteral("sentence")] = last_run_.value(QStringLiteral("sentence")).toString() +
        QStringLiteral(" The projects in %1 are from an earlier run.").arg(QDir::toNativeSeparators(documents_folder_));
  const bool ended_well = outcome.error.empty();
  setProgress(QString(), ended_well ? 1.0 : progress_value_, QString());
  emit ended();
  stopping_ = false;
  setRunning(false);
}

void RunController::setProgress(const QString& text, double value, const QString& time_left) {
  progress_text_ = text;
  progress_value_ = value;
  time_left_ = time_left;
  emit progressChanged();
}

void RunController::setRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  emit runningChanged();
}
