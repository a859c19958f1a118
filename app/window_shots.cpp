// Renders the window for the documentation: the list with a device group, a run going,
// and the result view of a real run over generated recordings of two events and one
// unrelated file. Run it under an X server from the folder that holds Brenvik.app:
//   brenvik_window_shots OUT_DIR   (writes window-list.png, window-working.png and
//                                   window-result.png)

#include "app/animalmodel.h"
#include "app/qmlapplicationviewer.h"
#include "app/qmlfile.h"
#include "app/startup.h"
#include "core/entries.h"
#include "core/process.h"

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

constexpr int kSettleMs = 600;      // lets the scene's fades and the progress bar finish
constexpr int kRunWaitMs = 300000;  // the real run over the generated recordings

// A shoot as an editor would bring it, made by the event generator: a camera and a
// recorder's two takes at the ceremony, a second camera and a phone at the party, and a
// phone clip from elsewhere.
const char* const kDevices[] = {
    "file=A001_C003_0608.mov device=cam_a start=10 duration=60 fps=25 snr=24 reverb=on drift=12 "
    "timecode=15:12:10:00",
    "file=ZOOM0004.WAV device=zoom start=2 duration=30 snr=35 time_reference=54722",
    "file=ZOOM0005.WAV device=zoom start=40 duration=35 snr=35 time_reference=54760",
    "file=B002_C011_0608.mov device=cam_b event=2 start=5 duration=40 fps=29.97 snr=22",
    "file=VID_20240608_151203.mp4 device=phone event=2 start=20 duration=30 fps=25 filter=phone snr=15 drift=-25",
    "file=VID_20240608_170455.mp4 device=phone2 event=3 start=0 duration=20 fps=25 snr=20",
};

// The list as picked: the recorder's takes between the group markers.
const char* const kList[] = {"A001_C003_0608.mov", nullptr, "ZOOM0004.WAV", "ZOOM0005.WAV", nullptr,
                             "B002_C011_0608.mov", "VID_20240608_151203.mp4", "VID_20240608_170455.mp4"};

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

  std::vector<std::string> make = {BRENVIK_MAKE_EVENT, "--quiet", "--out", shoot.toStdString()};
  for (const char* device : kDevices) make.insert(make.end(), {"--device", device});
  bool ok = run_program(make) == 0;
  bool in_group = false;
  for (const char* name : kList) {
    if (!name) {
      model.addAnimal(Animal(QString::fromUtf8(in_group ? kEndMarker : kBeginMarker)));
      in_group = !in_group;
      continue;
    }
    model.addAnimal(Animal(shoot + QLatin1Char('/') + QString::fromUtf8(name)));
  }
  const QString projects = shoot + QStringLiteral("/Projects");
  QDir().mkpath(projects);
  controller.setOutputFolder(projects);
  controller.setOpenOutput(false);
  controller.setEditor(QStringLiteral("resolve"));

  view.setPosition(40, 40);
  view.show();
  ok = ok && QTest::qWaitForWindowExposed(&view) && save(view, out.filePath(QStringLiteral("window-list.png")));

  // The run going: a stand-in held half-way through, so that the picture does not
  // depend on how fast this machine is.
  QSemaphore finish;
  // Forty seconds between the two reports, so that the picture shows the time left too.
  controller.setRunClock([seconds = 0.0]() mutable { return (seconds += 40.0) - 40.0; });
  controller.setEngine([&](std::vector<std::string>, const RunSettings&, const SyncOptions& options) {
    options.progress("transcode", 6, 6);
    options.progress("fingerprint", 4, 6);
    finish.acquire();
    return std::string("nema");
  });
  QSignalSpy ended(&controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(view.rootObject(), "startRun");
  ok = ok && save(view, out.filePath(QStringLiteral("window-working.png")));
  finish.release();
  ok = ok && ended.wait(10000);

  controller.setEngine({});
  controller.setRunClock({});
  QMetaObject::invokeMethod(view.rootObject(), "startRun");
  ok = ok && ended.wait(kRunWaitMs) && save(view, out.filePath(QStringLiteral("window-result.png")));

  QDir(shoot).removeRecursively();
  view.setSource(QUrl());
  return ok ? 0 : 1;
}
