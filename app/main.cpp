// brenvik: the desktop application. Files given as arguments ("Open with") join its list.

#include "app/animalmodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"
#include "app/startup.h"
#include "core/log.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

namespace {

constexpr int kBannerLines = 17;
constexpr int kBannerWidth = 160;
constexpr int kStopWaitMs = 30000;

// The file list outlives every window and controller of the process.
AnimalModel model;

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  use_utf8_ctype_in_c_locale();
  // Read before the working directory moves to the run folder.
  const QVariantList opened = opened_files(app.arguments().mid(1), QDir::currentPath());
  // Before the first log line: the log is below the run folder, or the installation's.
  enter_run_folder(QCoreApplication::applicationDirPath());
  use_run_folder(locate_run_folder(QCoreApplication::applicationDirPath().toStdString()));
  for (int i = 0; i < kBannerLines; ++i) logthis(std::string(kBannerWidth, '*'));
  logthis("START NA APLIKACIJATA");
  QCoreApplication::setApplicationName(QStringLiteral("Brenvik"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.53rc"));
  QCoreApplication::setOrganizationName(QStringLiteral("Brenvik"));

  QmlApplicationViewer viewer;
  QMLFile controller(model);
  QSettings store;
  controller.keepSettingsIn(&store);
  connect_window(viewer, model, controller, app);
  console() << exelokacija() << "abc/main.qml" << std::endl;

  // Without its scene the frameless window would be invisible and impossible to close.
  const QString scene = QString::fromStdString(run_folder().scene);
  if (const QString problem = load_scene(viewer, scene); !problem.isEmpty()) {
    logthis(problem.toStdString());
    const QString advice = QFileInfo::exists(scene)
        ? QString()
        : QStringLiteral("Brenvik.app, with its qml folder, was found neither in the working directory, nor beside the program, nor in its installation.");
    std::fprintf(stderr, "brenvik: %s\n%s\n", problem.toLocal8Bit().constData(), advice.toLocal8Bit().constData());
    // Started from a file manager, stderr goes nowhere: say it where it is seen.
    QMessageBox::critical(nullptr, QStringLiteral("Brenvik cannot start"), advice.isEmpty() ? problem : advice + "\n\n" + problem);
    return EXIT_FAILURE;
  }
  if (!opened.isEmpty()) controller.addUrls(opened);
  viewer.setTitle(QStringLiteral("Brenvik"));
  if (restore_window(viewer, store))
    viewer.showMaximized();
  else
    viewer.show();
  const int status = app.exec();
  remember_window(viewer, store);
  // The scene's bindings read the controller; let the scene go first.
  viewer.setSource(QUrl());

  if (controller.running()) {
    // Quit during a run: it ends at its next step and removes its work folder; the
    // documents are whole or untouched either way.
    logthis("quit during a sync run");
    if (!stop_run(controller, kStopWaitMs)) {
      // A step that does not end: leave without tearing down what it still uses.
      std::fflush(nullptr);
      std::_Exit(status);
    }
  }
  return status;
}
