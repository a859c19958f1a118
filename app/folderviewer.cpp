#include "app/folderviewer.h"

#include "core/process.h"

#include <QDir>
#include <QSocketNotifier>

FolderViewer::FolderViewer(QObject* parent) : QObject(parent) {}

FolderViewer::~FolderViewer() = default;

void FolderViewer::show(const QString& folder) {
  const QString shown = QDir::fromNativeSeparators(folder);
  follow(std::make_shared<DetachedProgram>(show_in_file_manager(shown.toStdString())), folder);
}

void FolderViewer::follow(std::shared_ptr<DetachedProgram> viewer, const QString& folder) {
  stopListening();
  viewer_ = std::move(viewer);
  folder_ = QDir::toNativeSeparators(folder);
  setProblem(QString());
  if (!viewer_) return;
  // Its answer comes when it ends, which for a file manager that stays open is never:
  // listened for, never waited for.
  if (viewer_->status_fd() >= 0) {
    notifier_ = std::make_unique<QSocketNotifier>(viewer_->status_fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &FolderViewer::hear);
  } else {
    hear();
  }
}

void FolderViewer::forget() {
  stopListening();
  viewer_.reset();
  folder_.clear();
  setProblem(QString());
}

void FolderViewer::hear() {
  if (!viewer_) return;
  const std::optional<int> status = viewer_->status();
  if (!status && viewer_->status_fd() >= 0) return;
  stopListening();
  if (status && viewer_failed(*status))
    setProblem(QString::fromStdString(no_file_manager_sentence(folder_.toStdString())) + QLatin1Char('.'));
  viewer_.reset();
}

// Later, since the notifier may be the one whose signal is being handled.
void FolderViewer::stopListening() {
  if (!notifier_) return;
  notifier_->setEnabled(false);
  notifier_.release()->deleteLater();
}

void FolderViewer::setProblem(const QString& problem) {
  if (problem == problem_) return;
  problem_ = problem;
  emit problemChanged();
}
