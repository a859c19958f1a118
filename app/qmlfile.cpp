#include "app/qmlfile.h"

#include "app/animalmodel.h"
#include "core/entries.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/stop.h"

#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kDialogCaption = "Select one or more files to open";
constexpr const char* kDialogFolder = "/home";
constexpr const char* kMediaFilter =
    "media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP4 *.3GP *.mpeg *.wmv *.MP3 *.mp3 )";
constexpr const char* kDeviceFilter = "media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP3)";

QStringList standard_dialog(const QString& caption, const QString& folder, const QString& filter) {
  // QQuickView is a QWindow, not a QWidget, so the dialog cannot have it as parent.
  return QFileDialog::getOpenFileNames(nullptr, caption, folder, filter);
}

// One sentence saying why no run can start, or empty when one can. Checked here,
// before the worker exists, because inside a run every failure only degrades it.
QString check_run(const QList<QString>& files, const RunSettings& settings) {
  if (const std::string problem = settings_problem(settings); !problem.empty())
    return QString::fromStdString(problem);
  if (const std::string problem = run_folder_problem(); !problem.empty())
    return QString::fromStdString(problem);
  for (const QString& entry : files) {
    if (is_marker(entry.toStdString())) continue;
    const QFileInfo file(entry);
    if (!file.isFile() || !file.isReadable())
      return QStringLiteral("Cannot read %1. Clear the list and pick the files again.")
          .arg(QDir::toNativeSeparators(entry));
  }
  return {};
}

// Where a stage sits on the progress bar, by the engine's stage name.
struct StageSpan {
  QString label;
  QString item;  // what i and n count; empty: the count is not shown
  double from = 0.0;
  double to = 0.0;
  bool known = false;
};

StageSpan span_of(const QString& stage) {
  const std::string name = stage.toStdString();
  if (name == kStageTranscode)
    return {QStringLiteral("Transcoding audio"), QStringLiteral("file"), 0.0, 0.25, true};
  if (name == kStageFingerprint)
    return {QStringLiteral("Fingerprinting"), QStringLiteral("file"), 0.25, 0.6, true};
  if (name == kStageMatch) return {QStringLiteral("Matching"), QStringLiteral("pair"), 0.6, 0.95, true};
  if (name == kStageExport) return {QStringLiteral("Writing projects"), QString(), 0.95, 1.0, true};
  return {stage, QStringLiteral("step"), 0.0, 0.0, false};
}

QString result_sentence(const QString& result, const QString& error, const QStringList& unreadable,
                        const QStringList& notices) {
  QString besides;  // what the user should know of the run, however it ended
  for (const QString& notice : notices) besides += QStringLiteral(" ") + notice + QStringLiteral(".");
  if (!error.isEmpty())
    return QStringLiteral("The run stopped: %1. The log is Brenvik.app/LOG/log_file.txt.").arg(error) +
           besides;
  if (!unreadable.isEmpty())
    besides.prepend(QStringLiteral(" %1 %2 could not be read: %3.")
                        .arg(unreadable.size())
                        .arg(unreadable.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                        .arg(unreadable.join(QStringLiteral("; "))));
  if (result == QLatin1String("mavo"))
    return QStringLiteral("Synced. The projects are in Brenvik.app/SYNCED.") + besides;
  return QStringLiteral("No two files were found in sync, so no projects were written.") + besides;
}

}  // namespace

QMLFile::QMLFile(AnimalModel& model, QObject* parent)
    : QObject(parent), model_(model), dialog_(standard_dialog) {
  entries_.setSourceModel(&model_);
}

void QMLFile::setRefine(bool refine) {
  if (refine == refine_) return;
  refine_ = refine;
  emit refineChanged();
}

void QMLFile::kazidekazavrsi(QString msg) {
  qDebug("STIGNA DO TUKA");
  emit send2gui(msg);
}

void QMLFile::skonciapp() {
  qDebug("skociappalot");
  emit send2gui2();
}

QStringList QMLFile::pickFiles(const QString& filter) {
  return dialog_(QString::fromUtf8(kDialogCaption), QString::fromUtf8(kDialogFolder), filter);
}

void QMLFile::appendEntries(const QStringList& entries) {
  // A file twice in one run would be synced with itself; links and relative names are
  // seen through.
  const auto identity = [](const QString& entry) {
    const QString canonical = QFileInfo(entry).canonicalFilePath();
    return canonical.isEmpty() ? entry : canonical;
  };
  QSet<QString> listed;
  for (const QString& entry : model_.dajmilista())
    if (!is_marker(entry.toStdString())) listed.insert(identity(entry));
  QStringList refused;
  for (const QString& entry : entries) {
    if (!is_marker(entry.toStdString()) && listed.contains(identity(entry))) {
      refused << QFileInfo(entry).fileName();
      continue;
    }
    listed.insert(identity(entry));
    model_.addAnimal(Animal(entry));
  }
  if (!refused.isEmpty())
    setStatus(QStringLiteral("Already in the list, so not added again: %1.")
                  .arg(refused.join(QStringLiteral(", "))));
}

QStringList QMLFile::getFilesSelected() {
  const QStringList paths = pickFiles(QString::fromUtf8(kMediaFilter));
  appendEntries(paths);
  return paths;
}

QStringList QMLFile::getFilesSelected2() {
  QStringList group;
  group << QString::fromUtf8(kBeginMarker) << pickFiles(QString::fromUtf8(kDeviceFilter))
        << QString::fromUtf8(kEndMarker);
  appendEntries(group);
  return group;
}

void QMLFile::clearall() { model_.clearall(); }

QStringList QMLFile::addUrls(const QVariantList& urls) {
  QStringList added;
  for (const QVariant& value : urls) {
    const QUrl url = value.toUrl();
    if (!url.isLocalFile()) continue;
    const QFileInfo file(url.toLocalFile());
    if (file.isFile()) added << file.absoluteFilePath();
  }
  appendEntries(added);
  return added;
}

void QMLFile::start_sync(float tolerance, int x, int y, float fps, int premiere) {
  // Two runs at once would write the same analysis, table and project files.
  if (running_) {
    qDebug("start_sync refused: a sync run is still going");
    logthis("start_sync refused: a sync run is still going");
    return;
  }
  const QList<QString> files = model_.dajmilista();
  const RunSettings settings{.tolerance = tolerance, .fps = fps, .width = x, .height = y,
                             .premiere = premiere, .refine = refine_};
  if (const QString problem = check_run(files, settings); !problem.isEmpty()) {
    logthis("start_sync refused: " + problem.toStdString());
    setStatus(problem);
    return;
  }

  clear_stop_request();
  auto* worker = new MyThread();
  connect(worker, &MyThread::progressed, this, &QMLFile::showProgress);
  // Connected before finished2 so that running is false by the time stopbar runs.
  connect(worker, &MyThread::runEnded, this, &QMLFile::endRun);
  connect(worker, &MyThread::finished2, this, &QMLFile::kazidekazavrsi);
  worker->settings = settings;
  worker->files = files;
  worker->open_output = open_output_;
  worker->engine = engine_;

  setStatus(QString());
  setProgress(QStringLiteral("Starting"), 0.0);
  setRunning(true);
  worker->start();
  qDebug("tuka odi kod za start sync");
}

void QMLFile::setRunning(bool running) {
  if (running == running_) return;
  running_ = running;
  emit runningChanged();
}

void QMLFile::setStatus(const QString& status) {
  if (status == status_) return;
  status_ = status;
  emit statusChanged();
}

void QMLFile::setProgress(const QString& text, double value) {
  progress_text_ = text;
  progress_value_ = value;
  emit progressChanged();
}

void QMLFile::showProgress(const QString& stage, int i, int n) {
  const StageSpan span = span_of(stage);
  QString text = span.label;
  if (!span.item.isEmpty() && n > 1) text += QStringLiteral(": %1 %2 of %3").arg(span.item).arg(i).arg(n);
  double value = progress_value_;
  if (span.known) {
    const double part = n > 0 ? std::clamp(static_cast<double>(i) / n, 0.0, 1.0) : 1.0;
    // Stages may report out of order (parallel transcoding); the bar never goes back.
    value = std::max(value, span.from + (span.to - span.from) * part);
  }
  setProgress(text, value);
}

void QMLFile::endRun(const QString& result, const QString& error, const QStringList& unreadable,
                     const QStringList& notices) {
  setProgress(QString(), error.isEmpty() ? 1.0 : progress_value_);
  setStatus(result_sentence(result, error, unreadable, notices));
  setRunning(false);
}
