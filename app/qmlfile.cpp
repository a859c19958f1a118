#include "app/qmlfile.h"

#include "app/animalmodel.h"
#include "app/runreport.h"
#include "core/entries.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/stop.h"

#include <QDebug>
#include <QDesktopServices>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* kFilesCaption = "Select the recordings to add";
constexpr const char* kDeviceCaption = "Select the files one camera or recorder made, one after another";
constexpr const char* kFolderCaption = "Choose where the projects go";
constexpr int kStoppedByTheWindow = -1;  // a stop request's reason: not a signal

// The usual files of cameras, phones and recorders; "All files" offers the rest.
constexpr const char* kMediaExtensions[] = {
    "wav", "mp3", "m4a", "aac", "flac", "aif", "aiff", "ogg", "opus", "mov", "mp4", "m4v",
    "mts", "m2ts", "avi", "mkv", "mxf", "dv", "mpg", "mpeg", "wmv", "3gp", "webm"};

// Both cases, since a native dialog may match names case-sensitively and cameras write
// upper-case names.
QString media_filter() {
  QStringList patterns;
  for (const char* extension : kMediaExtensions) {
    const QString lower = QString::fromLatin1(extension);
    patterns << QStringLiteral("*.") + lower << QStringLiteral("*.") + lower.toUpper();
  }
  return QStringLiteral("Media files (%1);;All files (*)").arg(patterns.join(QLatin1Char(' ')));
}

QStringList standard_dialog(const QString& caption, const QString& folder, const QString& filter) {
  // QQuickView is a QWindow, not a QWidget, so the dialog cannot have it as parent.
  return QFileDialog::getOpenFileNames(nullptr, caption, folder, filter);
}

QString standard_folder_dialog(const QString& caption, const QString& folder) {
  return QFileDialog::getExistingDirectory(nullptr, caption, folder);
}

// The media entries of `files` that cannot be read now.
QStringList missing_files(const QList<QString>& files) {
  QStringList missing;
  for (const QString& entry : files) {
    if (is_marker(entry.toStdString())) continue;
    const QFileInfo file(entry);
    if (!file.isFile() || !file.isReadable()) missing << entry;
  }
  return missing;
}

// One sentence saying why no run can start, or empty when one can. Checked here,
// before the worker exists, because inside a run every failure only degrades it.
QString check_run(const QStringList& missing, const RunSettings& settings, const QString& output_folder) {
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

bool is_media_name(const QString& name) {
  const QString suffix = QFileInfo(name).suffix().toLower();
  return std::any_of(std::begin(kMediaExtensions), std::end(kMediaExtensions),
                     [&](const char* e) { return suffix == QLatin1String(e); });
}

// Documents an earlier run left in `folder`, which an editor could take for this run's.
bool holds_earlier_documents(const QString& folder) {
  return !QDir(folder).entryList({QStringLiteral("SYNCED*"), QStringLiteral("UNSYNCED*")}, QDir::Files).isEmpty();
}

// Where a stage sits on the progress bar, by the engine's stage name.
struct StageSpan {
  QString label;
  QString item;  // what i and n count; empty: the count is not shown; "%": as a share
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
  // The matcher's count takes in the device-group markers, which are no files to the
  // user, so its share is shown instead.
  if (name == kStageMatch) return {QStringLiteral("Matching"), QStringLiteral("%"), 0.6, 0.95, true};
  if (name == kStageCorrect)
    return {QStringLiteral("Correcting clock drift"), QStringLiteral("file"), 0.95, 0.99, true};
  if (name == kStageExport) return {QStringLiteral("Writing projects"), QString(), 0.99, 1.0, true};
  return {stage, QStringLiteral("step"), 0.0, 0.0, false};
}

}  // namespace

QMLFile::QMLFile(AnimalModel& model, QObject* parent)
    : QObject(parent),
      model_(model),
      dialog_(standard_dialog),
      folder_dialog_(standard_folder_dialog),
      last_folder_(QDir::homePath()) {
  entries_.setSourceModel(&model_);
}

void QMLFile::keepSettingsIn(QSettings* store) {
  store_ = store;
  if (!store_) return;
  RunSettings s;
  s.tolerance = store_->value(QStringLiteral("run/tolerance"), s.tolerance).toDouble();
  s.fps = store_->value(QStringLiteral("run/fps"), s.fps).toFloat();
  s.width = store_->value(QStringLiteral("run/width"), s.width).toInt();
  s.height = store_->value(QStringLiteral("run/height"), s.height).toInt();
  s.premiere = store_->value(QStringLiteral("run/premiere"), s.premiere).toInt();
  // A hand-edited or damaged file must not lock the window into settings it refuses.
  saved_ = settings_problem(s).empty() ? s : RunSettings{};
  refine_ = store_->value(QStringLiteral("run/refine"), refine_).toBool();
  drift_correct_ = store_->value(QStringLiteral("run/drift_correct"), drift_correct_).toBool();
  output_folder_ = store_->value(QStringLiteral("output/folder"), output_folder_).toString();
  open_output_ = store_->value(QStringLiteral("output/open"), open_output_).toBool();
  last_folder_ = store_->value(QStringLiteral("dialogs/folder"), last_folder_).toString();
  emit savedChanged();
  emit refineChanged();
  emit driftCorrectChanged();
  emit outputChanged();
}

void QMLFile::save() {
  if (!store_) return;
  store_->setValue(QStringLiteral("run/tolerance"), saved_.tolerance);
  store_->setValue(QStringLiteral("run/fps"), saved_.fps);
  store_->setValue(QStringLiteral("run/width"), saved_.width);
  store_->setValue(QStringLiteral("run/height"), saved_.height);
  store_->setValue(QStringLiteral("run/premiere"), saved_.premiere);
  store_->setValue(QStringLiteral("run/refine"), refine_);
  store_->setValue(QStringLiteral("run/drift_correct"), drift_correct_);
  store_->setValue(QStringLiteral("output/folder"), output_folder_);
  store_->setValue(QStringLiteral("output/open"), open_output_);
  store_->setValue(QStringLiteral("dialogs/folder"), last_folder_);
}

void QMLFile::setRefine(bool refine) {
  if (refine == refine_) return;
  refine_ = refine;
  save();
  emit refineChanged();
}

void QMLFile::setDriftCorrect(bool correct) {
  if (correct == drift_correct_) return;
  drift_correct_ = correct;
  save();
  emit driftCorrectChanged();
}

void QMLFile::setOutputFolder(const QString& folder) {
  if (folder == output_folder_) return;
  output_folder_ = folder;
  save();
  emit outputChanged();
}

void QMLFile::setOpenOutput(bool open) {
  if (open == open_output_) return;
  open_output_ = open;
  save();
  emit outputChanged();
}

void QMLFile::kazidekazavrsi(QString msg) {
  qDebug("STIGNA DO TUKA");
  emit send2gui(msg);
}

void QMLFile::skonciapp() {
  qDebug("skociappalot");
  emit send2gui2();
}

QStringList QMLFile::pickFiles(const QString& caption) {
  const QString folder = QFileInfo(last_folder_).isDir() ? last_folder_ : QDir::homePath();
  const QStringList paths = dialog_(caption, folder, media_filter());
  if (!paths.isEmpty()) {
    last_folder_ = QFileInfo(paths.front()).absolutePath();
    save();
  }
  return paths;
}

QStringList QMLFile::appendEntries(const QStringList& entries) {
  setStatus(QString());
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
  QStringList added;
  for (const QString& entry : entries) {
    if (is_marker(entry.toStdString())) {
      // A group whose files were all refused would be an empty group in the list.
      if (entry == QString::fromUtf8(kEndMarker) && !added.isEmpty() &&
          added.back() == QString::fromUtf8(kBeginMarker))
        added.removeLast();
      else
        added << entry;
      continue;
    }
    if (listed.contains(identity(entry))) {
      refused << QFileInfo(entry).fileName();
      continue;
    }
    listed.insert(identity(entry));
    added << entry;
  }
  for (const QString& entry : added) model_.addAnimal(Animal(entry));
  if (!refused.isEmpty())
    setStatus(QStringLiteral("Already in the list, so not added again: %1.")
                  .arg(refused.join(QStringLiteral(", "))));
  return added;
}

QStringList QMLFile::getFilesSelected() {
  return appendEntries(pickFiles(QString::fromUtf8(kFilesCaption)));
}

QStringList QMLFile::getFilesSelected2() {
  const QStringList picked = pickFiles(QString::fromUtf8(kDeviceCaption));
  if (picked.isEmpty()) return {};
  return appendEntries(QStringList{QString::fromUtf8(kBeginMarker)} + picked +
                       QStringList{QString::fromUtf8(kEndMarker)});
}

void QMLFile::clearall() {
  setStatus(QString());
  entries_.setMarks({});
  model_.clearall();
}

QStringList QMLFile::addUrls(const QVariantList& urls) {
  QStringList found;
  QStringList skipped;
  QStringList empty_folders;
  for (const QVariant& value : urls) {
    const QUrl url = value.toUrl();
    if (!url.isLocalFile()) continue;
    const QFileInfo dropped(url.toLocalFile());
    // A dropped folder brings the media directly in it, as a card's clip folder would.
    const QFileInfoList files = dropped.isDir()
        ? QDir(dropped.absoluteFilePath()).entryInfoList(QDir::Files, QDir::Name)
        : QFileInfoList{dropped};
    const auto before = found.size();
    for (const QFileInfo& file : files) {
      if (!file.isFile()) continue;
      if (is_media_name(file.fileName())) found << file.absoluteFilePath();
      else skipped << file.fileName();
    }
    if (dropped.isDir() && found.size() == before) empty_folders << dropped.fileName();
  }
  const QStringList added = appendEntries(found);
  QStringList notices;
  if (!status_.isEmpty()) notices << status_;
  if (!skipped.isEmpty())
    notices << QStringLiteral("Not media files, so not added: %1.").arg(skipped.join(QStringLiteral(", ")));
  if (!empty_folders.isEmpty())
    notices << QStringLiteral("No media files directly in %1.").arg(empty_folders.join(QStringLiteral(", ")));
  setStatus(notices.join(QLatin1Char(' ')));
  return added;
}

void QMLFile::removeEntry(int row) {
  const QList<QString> list = model_.dajmilista();
  if (running_ || row < 0 || row >= list.size()) return;
  const QString begin = QString::fromUtf8(kBeginMarker), end = QString::fromUtf8(kEndMarker);
  int first = row;
  int last = row;
  if (list[row] == begin) {
    while (last + 1 < list.size() && list[last] != end) ++last;
  } else if (list[row] == end) {
    while (first > 0 && list[first] != begin) --first;
  } else if (first > 0 && last + 1 < list.size() && list[first - 1] == begin && list[last + 1] == end) {
    --first;
    ++last;
  }
  setStatus(QString());
  model_.removeEntries(first, last - first + 1);
}

void QMLFile::stopRun() {
  if (!running_ || stopping_) return;
  logthis("stop pressed during a sync run");
  stopping_ = true;
  request_stop(kStoppedByTheWindow);
  emit runningChanged();
}

bool QMLFile::chooseOutputFolder() {
  // Installed, the default is a folder each run makes: the dialog opens where they go.
  const QString start = output_folder_.isEmpty() && run_folder().installed
      ? QString::fromStdString(run_folder().documents) : documentsFolder();
  const QString folder = folder_dialog_(QString::fromUtf8(kFolderCaption), start);
  if (folder.isEmpty()) return false;
  setOutputFolder(QDir::cleanPath(folder));
  return true;
}

void QMLFile::copyText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

void QMLFile::showFolder(const QString& folder) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QDir::fromNativeSeparators(folder)));
}

void QMLFile::start_sync(float tolerance, int x, int y, float fps, int premiere) {
  // Two runs at once would write the same analysis, table and project files.
  if (running_) {
    qDebug("start_sync refused: a sync run is still going");
    logthis("start_sync refused: a sync run is still going");
    return;
  }
  const QList<QString> files = model_.dajmilista();
  // Marks from before describe files that may have come back or gone since.
  const QStringList missing = missing_files(files);
  QHash<QString, FileListEntries::Mark> marks;
  for (const QString& file : missing) marks.insert(file, {QStringLiteral("missing"), QStringLiteral("cannot be read")});
  entries_.setMarks(marks);
  const RunSettings settings{.tolerance = tolerance, .fps = fps, .width = x, .height = y,
                             .premiere = premiere, .refine = refine_,
                             .drift_correct = drift_correct_};
  if (const QString problem = check_run(missing, settings, output_folder_); !problem.isEmpty()) {
    logthis("start_sync refused: " + problem.toStdString());
    setStatus(problem);
    return;
  }
  saved_ = settings;
  save();
  emit savedChanged();

  clear_stop_request();
  auto* worker = new MyThread();
  connect(worker, &MyThread::progressed, this, &QMLFile::showProgress);
  // Connected before finished2 so that running is false by the time stopbar runs.
  connect(worker, &MyThread::runEnded, this, &QMLFile::endRun);
  connect(worker, &MyThread::finished2, this, &QMLFile::kazidekazavrsi);
  worker->settings = settings;
  worker->files = files;
  worker->open_output = open_output_;
  run_folder_ = documentsFolder();
  // Installed, the run must write where the window will say it did.
  worker->output_folder = run_folder().installed ? run_folder_ : output_folder_;
  worker->engine = engine_;

  setStatus(QString());
  setProgress(QStringLiteral("Starting"), 0.0);
  setRunning(true);
  worker->start();
  qDebug("tuka odi kod za start sync");
}
QString QMLFile::documentsFolder() const {
  return output_folder_.isEmpty() ? QString::fromStdString(default_documents_folder()) : output_folder_;
}

QString QMLFile::defaultOutput() const {
  if (!run_folder().installed) return QStringLiteral("Brenvik.app/SYNCED, beside the program");
  return QStringLiteral("a new folder for each run in %1")
      .arg(QDir::toNativeSeparators(QString::fromStdString(run_folder().documents)));
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
  if (span.item == QLatin1String("%") && n > 0)
    text += QStringLiteral(": %1%").arg(100 * std::clamp(i, 0, n) / n);
  else if (!span.item.isEmpty() && n > 1)
    text += QStringLiteral(": %1 %2 of %3").arg(span.item).arg(i).arg(n);
  double value = progress_value_;
  if (span.known) {
    const double part = n > 0 ? std::clamp(static_cast<double>(i) / n, 0.0, 1.0) : 1.0;
    // Stages may report out of order (parallel transcoding); the bar never goes back.
    value = std::max(value, span.from + (span.to - span.from) * part);
  }
  setProgress(text, value);
}

void QMLFile::endRun(const QString& answer, const RunResult& outcome) {
  last_run_ = describe_run(answer, outcome, stopping_, run_folder_);
  entries_.setMarks(file_marks(answer, outcome));
  if (answer != QLatin1String("mavo") && holds_earlier_documents(run_folder_))
    last_run_[QStringLiteral("sentence")] = last_run_.value(QStringLiteral("sentence")).toString() +
        QStringLiteral(" The projects in %1 are from an earlier run.").arg(QDir::toNativeSeparators(run_folder_));
  const bool ended_well = outcome.error.empty();
  setProgress(QString(), ended_well ? 1.0 : progress_value_);
  setStatus(last_run_.value(QStringLiteral("sentence")).toString());
  emit lastRunChanged();
  stopping_ = false;
  setRunning(false);
}
