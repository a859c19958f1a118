// The controller: file picking through a stand-in dialog and the start of runs against a
// stand-in engine.

#include "media/devicegroups.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <stdexcept>

using namespace gui_test;
using testing_support::TempRunDir;

namespace {

constexpr int kRunWaitMs = 20000;

// A window in a fresh run folder whose controller runs the stand-in engine.
struct StubRun {
  TempRunDir dir;
  Window w;
  EngineStub stub;
  QSignalSpy ended{&w.controller, &QMLFile::send2gui};
  QSignalSpy runningChanged{&w.controller, &QMLFile::runningChanged};

  StubRun() { w.controller.setEngine(stub.engine()); }
  // An empty file, added to the list: the stand-in never reads it, the controller checks it.
  QString add_file(const QString& name) {
    const QString path = QString::fromStdString(dir.path()) + "/" + name;
    testing_support::write_file(path.toStdString(), "");
    w.add(path);
    return path;
  }
  void start() { w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0); }
};

}  // namespace

class ControllerTest : public QObject {
  Q_OBJECT

 private slots:
  void picksAppendWhatTheDialogReturns_data();
  void picksAppendWhatTheDialogReturns();
  void runGetsASnapshotOfListAndSettings();
  void secondRunIsRefusedWhileOneIsGoing();
  void runsThatCannotWorkAreRefused_data();
  void runsThatCannotWorkAreRefused();
  void progressReachesTheGuiThreadAndAFailingEngineEndsTheRun();
};

void ControllerTest::picksAppendWhatTheDialogReturns_data() {
  QTest::addColumn<bool>("device");
  QTest::addColumn<QStringList>("chosen");
  QTest::addColumn<QStringList>("returned");
  const QStringList ab = {"/m/a.mov", "/m/b.MP3"};
  const QString b = beginMarker(), e = endMarker();
  QTest::addRow("files cancelled") << false << QStringList{} << QStringList{};
  QTest::addRow("files a b") << false << ab << ab;
  QTest::addRow("device cancelled") << true << QStringList{} << QStringList{b, e};
  QTest::addRow("device a b") << true << ab << QStringList{b, ab[0], ab[1], e};
}

void ControllerTest::picksAppendWhatTheDialogReturns() {
  QFETCH(bool, device);
  QFETCH(QStringList, chosen);
  QFETCH(QStringList, returned);
  AnimalModel model;
  model.addAnimal(Animal("/m/earlier.mov"));
  QMLFile controller(model);
  QStringList asked;
  controller.setFileDialog([&](const QString& caption, const QString& folder, const QString& filter) {
    asked = {caption, folder, filter};
    return chosen;
  });

  QCOMPARE(device ? controller.getFilesSelected2() : controller.getFilesSelected(), returned);
  QCOMPARE(model.dajmilista(), QStringList{"/m/earlier.mov"} + returned);
  QCOMPARE(asked, (QStringList{"Select one or more files to open", "/home",
                               device ? "media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP3)"
                                      : "media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP4 "
                                        "*.3GP *.mpeg *.wmv *.MP3 *.mp3 )"}));
}

void ControllerTest::runGetsASnapshotOfListAndSettings() {
  StubRun r;
  r.w.add(beginMarker());
  r.add_file(QString::fromUtf8("čćž Ünï.wav"));
  r.add_file("b.mov");
  r.w.add(endMarker());
  r.stub.block = true;
  r.w.controller.setRefine(false);

  r.w.controller.start_sync(0.97f, 1280, 720, 29.97f, 1);
  QVERIFY(r.w.controller.running());
  r.w.controller.clearall();  // the run must not see this
  r.stub.release();
  QVERIFY(r.ended.wait(kRunWaitMs));

  QCOMPARE(r.stub.files, (std::vector<std::string>{kBeginMarker, r.dir.file("čćž Ünï.wav"),
                                                   r.dir.file("b.mov"), kEndMarker}));
  QCOMPARE(std::make_tuple(r.stub.tolerance, r.stub.x, r.stub.y, r.stub.fps, r.stub.premiere),
           std::make_tuple(double(0.97f), 1280, 720, 29.97f, 1));
  QCOMPARE(r.stub.refine, false);
  QCOMPARE(r.stub.open_output, false);
  QVERIFY(r.stub.thread != QCoreApplication::instance()->thread());
  QVERIFY(!r.w.controller.running());
  const std::string log = r.dir.log_text();
  const size_t pressed = log.find("pristisnat Sync IT....\n");
  QVERIFY(pressed != std::string::npos);
  QVERIFY(log.find("posle sync it\n", pressed) != std::string::npos);
}

void ControllerTest::secondRunIsRefusedWhileOneIsGoing() {
  StubRun r;
  r.add_file("a.wav");
  r.stub.block = true;
  r.start();
  r.start();
  QMetaObject::invokeMethod(&r.w.controller, "kazidekazavrsi", Q_ARG(QString, QString()));
  r.start();  // a stray end signal changes nothing
  r.stub.release();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QTRY_VERIFY(!r.w.controller.running());
  QCOMPARE(r.stub.calls.load(), 1);
  QCOMPARE(r.runningChanged.count(), 2);
  QVERIFY(r.dir.log_text().find("start_sync refused: a sync run is still going") != std::string::npos);

  // Once the first run has ended, a new one starts in a worker of its own.
  QThread* first = r.stub.thread;
  r.stub.block = false;
  r.ended.clear();
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QCOMPARE(r.stub.calls.load(), 2);
  QVERIFY(r.stub.thread != first);
}

void ControllerTest::runsThatCannotWorkAreRefused_data() {
  QTest::addColumn<float>("tolerance");
  QTest::addColumn<int>("width");
  QTest::addColumn<float>("fps");
  QTest::addColumn<QString>("spoil");
  QTest::addColumn<QString>("sentence");
  QTest::addRow("tolerance 0") << 0.0f << 1920 << 25.0f << "" << "Tolerance";
  QTest::addRow("tolerance above 1") << 1.5f << 1920 << 25.0f << "" << "Tolerance";
  QTest::addRow("frame rate 0") << 0.99f << 1920 << 0.0f << "" << "frame rate";
  QTest::addRow("width 0") << 0.99f << 0 << 25.0f << "" << "frame size";
  QTest::addRow("no transcoder") << 0.99f << 1920 << 25.0f << "ffmpeg" << "Brenvik.app/ffmpeg";
  QTest::addRow("file gone") << 0.99f << 1920 << 25.0f << "file" << "Cannot read";
}

void ControllerTest::runsThatCannotWorkAreRefused() {
  QFETCH(float, tolerance);
  QFETCH(int, width);
  QFETCH(float, fps);
  QFETCH(QString, spoil);
  QFETCH(QString, sentence);
  StubRun r;
  const QString media = r.add_file("a.wav");
  if (spoil == "ffmpeg") std::filesystem::remove("Brenvik.app/ffmpeg");
  if (spoil == "file") QFile::remove(media);

  r.w.controller.start_sync(tolerance, width, 1080, fps, 0);

  QVERIFY2(r.w.controller.status().contains(sentence), qPrintable(r.w.controller.status()));
  QCOMPARE(r.runningChanged.count(), 0);
  QCOMPARE(r.stub.calls.load(), 0);
}

void ControllerTest::progressReachesTheGuiThreadAndAFailingEngineEndsTheRun() {
  StubRun r;
  r.stub.during = [](const SyncOptions& o) {
    o.progress("transcode", 1, 2);
    o.progress("transcode", 2, 2);
    o.progress("fingerprint", 1, 2);
    o.progress("match", 1, 1);
  };
  QStringList texts;
  QList<double> values;
  bool off_thread = false;
  connect(&r.w.controller, &QMLFile::progressChanged, this, [&] {
    off_thread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    texts << r.w.controller.progressText();
    values << r.w.controller.progressValue();
  });

  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));

  QVERIFY(!off_thread);
  QVERIFY2(texts.contains("Fingerprinting: file 1 of 2"), qPrintable(texts.join(" | ")));
  for (int k = 1; k < values.size(); ++k) QVERIFY2(values[k] >= values[k - 1], qPrintable(texts.join(" | ")));
  QCOMPARE(values.last(), 1.0);
  QVERIFY(values[values.size() - 2] < 1.0);

  r.stub.during = [](const SyncOptions&) { throw std::runtime_error("disk full"); };
  r.ended.clear();
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QVERIFY(!r.w.controller.running());
  QVERIFY2(r.w.controller.status().contains("disk full"), qPrintable(r.w.controller.status()));
  QVERIFY(r.dir.log_text().find("sync run failed: disk full\nposle sync it\n") != std::string::npos);
}

static RegisterSuite registration("Controller", [] { return std::make_unique<ControllerTest>(); });

#include "controller_test.moc"
