// The controller: file picking through a stand-in dialog, dropped URLs, and the
// start of runs against a stand-in engine.

#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"
#include "engine/devicegroups.h"

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <stdexcept>

using namespace gui_test;
using testing_support::TempRunDir;

namespace {

constexpr int kRunWaitMs = 20000;

// An empty file: the stand-in engine never reads it, but the controller checks it exists.
QString touch(const QString& path) {
  testing_support::write_file(path.toStdString(), "");
  return path;
}

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
  void failingEngineStillEndsTheRun();
  void progressReachesTheGuiThread();
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

  const QStringList result = device ? controller.getFilesSelected2() : controller.getFilesSelected();

  QCOMPARE(result, returned);
  QCOMPARE(model.dajmilista(), QStringList{"/m/earlier.mov"} + returned);
  QCOMPARE(asked.value(0), QString("Select one or more files to open"));
  QCOMPARE(asked.value(1), QString("/home"));
  QCOMPARE(asked.value(2),
           device ? QString("media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP3)")
                  : QString("media files (*.wav *.avi *.mov *.mts *.dv *.mpg *.MP4 *.3GP *.mpeg "
                            "*.wmv *.MP3 *.mp3 )"));
}

void ControllerTest::runGetsASnapshotOfListAndSettings() {
  TempRunDir run;
  const QString dir = QString::fromStdString(run.path());
  const QString accented = touch(dir + QString::fromUtf8("/čćž Ünï.wav"));
  const QString plain = touch(dir + "/b.mov");
  Window w;
  for (const QString& entry : {beginMarker(), accented, plain, endMarker()}) w.add(entry);
  EngineStub stub;
  stub.block = true;
  w.controller.setEngine(stub.engine());
  w.controller.setRefine(false);
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);

  w.controller.start_sync(0.97f, 1280, 720, 29.97f, 1);
  QVERIFY(w.controller.running());
  w.controller.clearall();  // the run must not see this
  stub.release();
  QVERIFY(ended.wait(kRunWaitMs));

  const std::string accented_utf8 = run.path() + "/čćž Ünï.wav";
  QCOMPARE(stub.files, (std::vector<std::string>{kBeginMarker, accented_utf8, run.path() + "/b.mov",
                                                 kEndMarker}));
  QCOMPARE(stub.tolerance, double(0.97f));
  QCOMPARE(stub.x, 1280);
  QCOMPARE(stub.y, 720);
  QCOMPARE(stub.fps, 29.97f);
  QCOMPARE(stub.premiere, 1);
  QCOMPARE(stub.refine, false);
  QCOMPARE(stub.open_output, false);
  QVERIFY(stub.thread != QCoreApplication::instance()->thread());
  QVERIFY(!w.controller.running());
  const std::string log = run.log_text();
  const size_t pressed = log.find("pristisnat Sync IT....\n");
  QVERIFY(pressed != std::string::npos);
  QVERIFY(log.find("posle sync it\n", pressed) != std::string::npos);
}

void ControllerTest::secondRunIsRefusedWhileOneIsGoing() {
  TempRunDir run;
  Window w;
  w.add(touch(QString::fromStdString(run.file("a.wav"))));
  EngineStub stub;
  stub.block = true;
  w.controller.setEngine(stub.engine());
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QSignalSpy runningChanged(&w.controller, &QMLFile::runningChanged);

  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);
  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);
  QMetaObject::invokeMethod(&w.controller, "kazidekazavrsi", Q_ARG(QString, QString()));
  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);  // a stray end signal changes nothing
  stub.release();
  QVERIFY(ended.wait(kRunWaitMs));
  QTRY_VERIFY(!w.controller.running());
  QCOMPARE(stub.calls.load(), 1);
  QCOMPARE(runningChanged.count(), 2);
  QVERIFY(run.log_text().find("start_sync refused: a sync run is still going") != std::string::npos);

  // Once the first run has ended, a new one starts in a worker of its own.
  QThread* first = stub.thread;
  stub.block = false;
  ended.clear();
  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);
  QVERIFY(ended.wait(kRunWaitMs));
  QCOMPARE(stub.calls.load(), 2);
  QVERIFY(stub.thread != first);
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
  TempRunDir run;
  Window w;
  const QString media = touch(QString::fromStdString(run.file("a.wav")));
  w.add(media);
  if (spoil == "ffmpeg") std::filesystem::remove("Brenvik.app/ffmpeg");
  if (spoil == "file") QFile::remove(media);
  EngineStub stub;
  w.controller.setEngine(stub.engine());
  QSignalSpy runningChanged(&w.controller, &QMLFile::runningChanged);

  w.controller.start_sync(tolerance, width, 1080, fps, 0);

  QVERIFY2(w.controller.status().contains(sentence), qPrintable(w.controller.status()));
  QCOMPARE(runningChanged.count(), 0);
  QVERIFY(!w.controller.running());
}

void ControllerTest::failingEngineStillEndsTheRun() {
  TempRunDir run;
  Window w;
  EngineStub stub;
  stub.during = [](const SyncOptions&) { throw std::runtime_error("disk full"); };
  w.controller.setEngine(stub.engine());
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);

  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);

  QVERIFY(ended.wait(kRunWaitMs));
  QVERIFY(!w.controller.running());
  QVERIFY2(w.controller.status().contains("disk full"), qPrintable(w.controller.status()));
  const std::string log = run.log_text();
  QVERIFY(log.find("sync run failed: disk full\nposle sync it\n") != std::string::npos);
}

void ControllerTest::progressReachesTheGuiThread() {
  TempRunDir run;
  Window w;
  EngineStub stub;
  stub.during = [](const SyncOptions& o) {
    o.progress("transcode", 1, 2);
    o.progress("transcode", 2, 2);
    o.progress("fingerprint", 1, 2);
    o.progress("match", 1, 1);
  };
  w.controller.setEngine(stub.engine());
  QStringList texts;
  QList<double> values;
  bool off_thread = false;
  connect(&w.controller, &QMLFile::progressChanged, this, [&] {
    off_thread |= QThread::currentThread() != QCoreApplication::instance()->thread();
    texts << w.controller.progressText();
    values << w.controller.progressValue();
  });
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);

  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);
  QVERIFY(ended.wait(kRunWaitMs));

  QVERIFY(!off_thread);
  QVERIFY2(texts.contains("Fingerprinting: file 1 of 2"), qPrintable(texts.join(" | ")));
  for (int k = 1; k < values.size(); ++k) QVERIFY2(values[k] >= values[k - 1], qPrintable(texts.join(" | ")));
  QCOMPARE(values.last(), 1.0);
  QVERIFY(values[values.size() - 2] < 1.0);
}

static RegisterSuite registration("Controller", [] { return std::make_unique<ControllerTest>(); });

#include "controller_test.moc"
