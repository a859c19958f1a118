#pragma once
// The file manager as the window uses it: started on its own, never waited for, and
// when there is none, one sentence that says where the folder is all the same.

#include <QObject>
#include <QString>

#include <memory>

class DetachedProgram;
class QSocketNotifier;

class FolderViewer : public QObject {
  Q_OBJECT

 public:
  explicit FolderViewer(QObject* parent = nullptr);
  ~FolderViewer() override;

  // "No file manager to show the folder: the projects are in …", of the last folder
  // shown; empty while the file manager is there or nothing was shown.
  QString problem() const { return problem_; }

  // Shows `folder` now.
  void show(const QString& folder);
  // Follows a file manager a run started on `folder`; null: none was started.
  void follow(std::shared_ptr<DetachedProgram> viewer, const QString& folder);
  // Forgets the last folder and its problem, as when the result it belonged to goes.
  void forget();

 signals:
  void problemChanged();

 private:
  void hear();
  void stopListening();
  void setProblem(const QString& problem);

  std::shared_ptr<DetachedProgram> viewer_;
  std::unique_ptr<QSocketNotifier> notifier_;
  QString folder_;
  QString problem_;
};
