#include "app/qmlfile.h"

#include "app/animalmodel.h"
#include "app/runreport.h"
#include "core/entries.h"
#include "core/log.h"
#include "core/media_names.h"
#include "core/paths.h"
#include "export/formats.h"

#include <QClipboard>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QUrl>

#include <algorithm>

namespace {

constexpr const char* kFilesCaption = "Select the recordings to add";
constexpr const char* kDeviceCaption = "Select the files one camera or recorder made, one after another";
constexpr const char* kFolderCaption = "Choose where the projects go";

// Both cases, since a native dialog may match names case-sensitively and cameras write
// upper-case names. "All files" offers the rest.
QString media_filter() {
  QStringList patterns;
  for (const MediaExtension& extension : kMediaExtensions) {
    const QString lower = view_text(extension.name);
    patterns << QStringLiteral("*.") + lower << QStringLiteral("*.") + lower.toUpper();
  }
  return QStringLiteral("Media files (%1);;All files (*)").arg(patterns.join(QLatin1Char(' ')));
}

// The platform's own dialog where it has one (a desktop's file chooser or its portal);
// Qt's, elsewhere, at a size that shows its columns whole. QQuickView is a QWindow, not a
// QWidget, so the dialog cannot have it as parent.
constexpr int kDialogWidth = 960;
constexpr int kDialogHeight = 600;

QStringList standard_dialog(const QString& caption, const QString& folder, const QString& filter) {
  QFileDialog dialog(nullptr, caption, folder, filter);
  dialog.setFileMode(QFileDialog::ExistingFiles);
  dialog.resize(kDialogWidth, kDialogHeight);
  return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

QString standard_folder_dialog(const QString& caption, const QString& folder) {
  QFileDialog dialog(nullptr, caption, folder);
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.resize(kDialogWidth, kDialogHeight);
  return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().front()
                                                                                 : QString();
}

}  // namespace

QMLFile::QMLFile(AnimalModel& model, QObject* parent)
    : QObject(parent),
      model_(model),
      list_(model),
      dialog_(standard_dialog),
      folder_dialog_(standard_folder_dialog) {
  kept_.dialog_folder = QDir::homePath();
  connect(&run_, &RunController::runningChanged, this, &QMLFile::runningChanged);
  connect(&run_, &RunController::progressChanged, this, &QMLFile::progressChanged);
  connect(&run_, &RunController::ended, this, &QMLFile::showEnd);
  connect(&run_, &RunController::finished2, this, &QMLFile::kazidekazavrsi);
  connect(&viewer_, &FolderViewer::problemChanged, this, &QMLFile::folderProblemChanged);
  connect(&list_, &FileList::changed, this, &QMLFile::listChanged);
  connect(&list_, &FileList::devicesGrouped, this, [this](const QString& notice) {
    setStatus(notice);
    emit canUndoChanged();
  });
  connect(this, &QMLFile::lastRunChanged, this, &QMLFile::projectsChanged);
  connect(this, &QMLFile::editorChanged, this, &QMLFile::projectsChanged);
}

void QMLFile::keepSettingsIn(QSettings* store) {
  store_.use(store);
  if (!store_.keeps()) return;
  kept_ = store_.load(kept_);
  emit savedChanged();
  emit refineChanged();
  emit driftCorrectChanged();
  emit writeMediaChanged();
  emit soundStreamChanged();
  emit outputChanged();
  emit editorChanged();
}

void QMLFile::setRefine(bool refine) {
  if (refine == kept_.run.refine) return;
  kept_.run.refine = refine;
  save();
  emit refineChanged();
}

void QMLFile::setDriftCorrect(bool correct) {
  if (correct == kept_.run.drift_correct) return;
  kept_.run.drift_correct = correct;
  save();
  emit driftCorrectChanged();
}

void QMLFile::setWriteMedia(bool write) {
  if (write == kept_.run.write_media) return;
  kept_.run.write_media = write;
  save();
  emit writeMediaChanged();
}

void QMLFile::setSoundStream(int stream) {
  if (stream == kept_.run.sound_stream || !sound_stream_allowed(stream)) return;
  kept_.run.sound_stream = stream;
  save();
  emit soundStreamChanged();
}

QStringList QMLFile::soundFiles() const {
  QStringList files;
  for (const QString& entry : list_.snapshot())
    if (!is_marker(entry.toStdString())) files << entry;
  return files;
}

void QMLFile::setMainSound(const QString& file) {
  if (file == main_sound_ || (!file.isEmpty() && !soundFiles().contains(file))) return;
  main_sound_ = file;
  emit mainSoundChanged();
}

void QMLFile::setOutputFolder(const QString& folder) {
  if (folder == kept_.output_folder) return;
  kept_.output_folder = folder;
  save();
  emit outputChanged();
}

void QMLFile::setOpenOutput(bool open) {
  if (open == kept_.open_output) return;
  kept_.open_output = open;
  save();
  emit outputChanged();
}

void QMLFile::setUseCache(bool use) {
  if (use == kept_.use_cache) return;
  kept_.use_cache = use;
  save();
  emit outputChanged();
}

void QMLFile::setEditor(const QString& key) {
  if (key == kept_.editor || !find_editor(key.toStdString())) return;
  kept_.editor = key;
  save();
  emit editorChanged();
}

QVariantList QMLFile::editors() const {
  QVariantList list;
  for (const Editor& editor : ::editors())
    list << QVariantMap{{QStringLiteral("key"), view_text(editor.key)},
                        {QStringLiteral("name"), view_text(editor.name)}};
  return list;
}

QVariantMap QMLFile::projects() const {
  return arrange_documents(run_.lastRun().value(QStringLiteral("documents")).toList(), kept_.editor);
}

void QMLFile::answerReplace(bool replace) {
  replace_agreed_ = replace;
  setReplaceQuestion(QString());
}

void QMLFile::setReplaceQuestion(const QString& question) {
  if (question == replace_question_) return;
  replace_question_ = question;
  emit replaceQuestionChanged();
}

// The run folder has one output folder for every event: another event's projects there
// would go without a word. A folder the user chose, and the installed program's folder
// per run, are the user's to manage. The list the projects were just made from is
// re-run without a question.
QString QMLFile::earlierProjects() const {
  if (run_folder().installed || !kept_.output_folder.isEmpty()) return {};
  const QVariantMap last = run_.lastRun();
  if (last.value(QStringLiteral("state")).toString() == QLatin1String("synced") &&
      !last.value(QStringLiteral("stale")).toBool())
    return {};
  const std::string when = earlier_run_time(documentsFolder().toStdString());
  if (when.empty()) return {};
  return QStringLiteral("%1 holds the projects of the run of %2. Syncing replaces them; choose another folder to keep them.")
      .arg(QDir::toNativeSeparators(QString::fromStdString(kOutputFolder)), QString::fromStdString(when));
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
  const QString folder = QFileInfo(kept_.dialog_folder).isDir() ? kept_.dialog_folder : QDir::homePath();
  const QStringList paths = dialog_(caption, folder, media_filter());
  if (!paths.isEmpty()) {
    kept_.dialog_folder = QFileInfo(paths.front()).absolutePath();
    save();
  }
  return paths;
}

QStringList QMLFile::took(const FileList::Edit& edit) {
  setStatus(edit.notice);
  return edit.added;
}

QStringList QMLFile::getFilesSelected() {
  const QStringList picked = pickFiles(QString::fromUtf8(kFilesCaption));
  return took(list_.append(picked));
}

QStringList QMLFile::getFilesSelected2() {
  const QStringList picked = pickFiles(QString::fromUtf8(kDeviceCaption));
  if (picked.isEmpty()) return {};
  return took(list_.appendDevice(picked));
}

// Files that came by a drop or as arguments say where the event is: the next dialog opens there.
QStringList QMLFile::addUrls(const QVariantList& urls) {
  const QStringList added = took(list_.appendDropped(urls));
  const auto file = std::find_if(added.begin(), added.end(),
                                 [](const QString& entry) { return !is_marker(entry.toStdString()); });
  if (file != added.end()) {
    kept_.dialog_folder = QFileInfo(*file).absolutePath();
    save();
  }
  return added;
}

void QMLFile::clearall() {
  const bool had = model_.rowCount() > 0;
  list_.clear();
  setStatus(had ? QStringLiteral("The list is cleared. Ctrl+Z brings it back.") : QString());
  emit canUndoChanged();
}

void QMLFile::removeEntry(int row) { removeEntries({row}); }

void QMLFile::removeEntries(const QVariantList& rows) {
  if (running()) return;
  QList<int> picked;
  for (const QVariant& row : rows) picked << row.toInt();
  if (!list_.removeRows(picked)) return;
  setStatus(QString());
  emit canUndoChanged();
}

void QMLFile::undo() {
  if (running() || !list_.undo()) return;
  setStatus(QString());
  emit canUndoChanged();
}

void QMLFile::stopRun() { run_.stop(); }

bool QMLFile::chooseOutputFolder() {
  // Installed, the default is a folder each run makes: the dialog opens where they go.
  const QString start = kept_.output_folder.isEmpty() && run_folder().installed
      ? QString::fromStdString(run_folder().documents) : documentsFolder();
  const QString folder = folder_dialog_(QString::fromUtf8(kFolderCaption), start);
  if (folder.isEmpty()) return false;
  setOutputFolder(QDir::cleanPath(folder));
  return true;
}

void QMLFile::copyText(const QString& text) { QGuiApplication::clipboard()->setText(text); }

void QMLFile::showFolder(const QString& folder) { viewer_.show(folder); }

void QMLFile::start_sync(float tolerance, int x, int y, float fps, int premiere) {
  // Two runs at once would write the same analysis, table and project files.
  if (running()) {
    qDebug("start_sync refused: a sync run is still going");
    logthis("start_sync refused: a sync run is still going");
    return;
  }
  // Marks from before describe files that may have come back or gone since.
  const QStringList missing = list_.markMissing();
  const RunSettings settings{.tolerance = tolerance, .fps = fps, .width = x, .height = y,
                             .premiere = premiere, .refine = kept_.run.refine,
                             .drift_correct = kept_.run.drift_correct,
                             .sound_stream = kept_.run.sound_stream,
                             .main_sound = main_sound_.toUtf8().toStdString(),
                             .write_media = kept_.run.write_media};
  if (const QString problem = run_refusal(missing, settings, kept_.output_folder); !problem.isEmpty()) {
    logthis("start_sync refused: " + problem.toStdString());
    setStatus(problem);
    return;
  }
  if (const QString question = earlierProjects(); !question.isEmpty() && !replace_agreed_) {
    logthis("start_sync waits: " + question.toStdString());
    setReplaceQuestion(question);
    return;
  }
  replace_agreed_ = false;
  setReplaceQuestion(QString());
  kept_.run = settings;
  kept_.run.main_sound.clear();
  save();
  emit savedChanged();

  const QString documents = documentsFolder();
  setStatus(QString());
  viewer_.forget();
  // The result view must not show an earlier run as this one's while it goes.
  run_.forgetLastRun();
  emit lastRunChanged();
  // Installed, the run must write where the window will say it did.
  run_.start({.files = list_.snapshot(), .settings = settings, .open_output = kept_.open_output,
              .use_cache = kept_.use_cache,
              .found_devices = list_.foundDevices(),
              .output_folder = run_folder().installed ? documents : kept_.output_folder,
              .documents_folder = documents});
}

QString QMLFile::documentsFolder() const {
  return kept_.output_folder.isEmpty() ? QString::fromStdString(default_documents_folder()) : kept_.output_folder;
}

QString QMLFile::defaultOutput() const {
  if (!run_folder().installed) return QStringLiteral("Brenvik.app/SYNCED, beside the program");
  return QStringLiteral("a new folder for each run in %1")
      .arg(QDir::toNativeSeparators(QString::fromStdString(run_folder().documents)));
}

void QMLFile::setStatus(const QString& status) {
  if (status == status_) return;
  status_ = status;
  emit statusChanged();
}

// What the last run said of the list no longer holds: the result stays, marked as of an
// earlier list, and the files lose what it said of them. A notice of the edit itself
// is set after this.
void QMLFile::listChanged() {
  emit soundFilesChanged();
  if (!main_sound_.isEmpty() && !soundFiles().contains(main_sound_)) setMainSound(QString());
  if (running()) return;
  list_.forgetRunMarks();
  if (run_.lastRun().isEmpty() || run_.lastRun().value(QStringLiteral("stale")).toBool()) return;
  run_.markStale();
  setStatus(QString());
  emit lastRunChanged();
}

void QMLFile::showEnd() {
  list_.setMarks(run_.marks());
  viewer_.follow(run_.folderViewer(), run_.shownFolder());
  setStatus(run_.lastRun().value(QStringLiteral("sentence")).toString());
  emit lastRunChanged();
}
