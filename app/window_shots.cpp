// Renders the window for the documentation: once while a run is going, with a device
// group in the list, and once in its finished state. Run it under an X server from the
// folder that holds Brenvik.app:
//   brenvik_window_shots OUT_DIR   (writes window-working.png and window-finished.png)

#include "app/animalmodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"
#include "app/startup.h"
#include "core/entries.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QQuickItem>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>

namespace {

constexpr int kSettleMs = 600;  // lets the scene's fades and the progress bar finish

// A shoot as an editor would bring it: two cameras, a recorder's takes, a phone.
const char* const kShoot[] = {
    "Camera A/A001_C003_0608.mov", "Camera B/B002_C011_0608.MP4", nullptr,
    "Zoom H5/ZOOM0004.WAV",        "Zoom H5/ZOOM0005.WAV",        "Zoom H5/ZOOM0006.WAV",
    nullptr,                       "Phone/VID_20240608_151203.mp4", "Camera A/A001_C004_0608.mov",
};

bool save(QmlApplicationViewer& view, const QString& path) {
  QTest::qWait(kSettleMs);
  const QImage image = view.grabWindow();
  if (image.isNull() || !image.save(path)) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("wrote %s (%dx%d)\n", qPrintable(path), image.width(), image.height());
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QCoreApplication::setApplicationVersion(QStringLiteral("1.53rc"));
  use_utf8_ctype_in_c_locale();
  if (argc < 2) {
    std::fprintf(stderr, "usage: brenvik_window_shots OUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  const QString shoot = QDir::tempPath() + QStringLiteral("/Wedding 2024-06-08");
  if (QDir(shoot).exists()) {
    std::fprintf(stderr, "%s exists already; remove it first\n", qPrintable(shoot));
    return 2;
  }

  AnimalModel model;
  QmlApplicationViewer view;
  QMLFile controller(model);
  connect_window(view, model, controller, app);
  if (const QString problem = load_scene(view, QStringLiteral(BRENVIK_SCENE)); !problem.isEmpty()) {
    std::fprintf(stderr, "%s\n", qPrintable(problem));
    return 1;
  }

  // The run must see readable files; empty ones do, since the stand-in engine reads nothing.
  bool in_group = false;
  for (const char* entry : kShoot) {
    if (!entry) {
      model.addAnimal(Animal(QString::fromUtf8(in_group ? kEndMarker : kBeginMarker)));
      in_group = !in_group;
      continue;
    }
    const QString path = shoot + QLatin1Char('/') + QString::fromUtf8(entry);
    QDir().mkpath(QFileInfo(path).path());
    QFile(path).open(QIODevice::WriteOnly);
    model.addAnimal(Animal(path));
  }

  QSemaphore finish;
  controller.setOpenOutput(false);
  controller.setEngine([&](std::vector<std::string>, const RunSettings&, const SyncOptions& options) {
    options.progress("transcode", 7, 7);
    options.progress("fingerprint", 4, 7);
    finish.acquire();
    return std::string("mavo");
  });

  view.setPosition(40, 40);
  view.show();
  bool ok = QTest::qWaitForWindowExposed(&view);
  QSignalSpy ended(&controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(view.rootObject(), "startRun");
  ok = ok && save(view, out.filePath(QStringLiteral("window-working.png")));
  finish.release();
  ok = ok && ended.wait(10000) && save(view, out.filePath(QStringLiteral("window-finished.png")));

  QDir(shoot).removeRecursively();
  view.setSource(QUrl());
  return ok ? 0 : 1;
}
