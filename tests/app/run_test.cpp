// Whole runs through start_sync and the real engine, ending in the scene's finished state.

#include "media/media.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QSignalSpy>
#include <QTest>

using namespace gui_test;
using testing_support::TempRunDir;

namespace {

// Generous: the engine transcodes and fingerprints on a shared two-core machine.
constexpr int kRealRunWaitMs = 600000;

}  // namespace

class RunTest : public QObject {
  Q_OBJECT

 private slots:
  void runsReachTheFinishedState_data();
  void runsReachTheFinishedState();
};

void RunTest::runsReachTheFinishedState_data() {
  QTest::addColumn<bool>("withFiles");
  QTest::addRow("empty list") << false;
  QTest::addRow("two generated files") << true;
}

void RunTest::runsReachTheFinishedState() {
  QFETCH(bool, withFiles);
  TempRunDir run;
  const std::string accented = run.file("čćž Ünï.wav");
  const std::string plain = run.file("b.mov");
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  if (withFiles) {
    QVERIFY(testing_support::make_media(accented, "anoisesrc=seed=3:a=0.3", 3.0));
    QVERIFY(testing_support::make_media(plain, "anoisesrc=seed=8:a=0.3", 3.0, true));
    w.add(QString::fromStdString(accented));
    w.add(QString::fromStdString(plain));
  }
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);

  w.controller.start_sync(0.99f, 1920, 1080, 25.0f, 0);

  QVERIFY(w.controller.running());
  QVERIFY(ended.wait(kRealRunWaitMs));
  QVERIFY(!w.controller.running());
  QTRY_COMPARE(w.find("done")->property("opacity").toDouble(), 1.0);
  QCOMPARE(w.find("text3")->property("text").toString(), QString("Done!"));
  const std::string log = run.log_text();
  QVERIFY(log.find("pristisnat Sync IT....\n") != std::string::npos);
  QVERIFY(log.find("posle sync it\n") != std::string::npos);
  // The driver logs every entry's analysis name: the UTF-8 bytes arrived as they were.
  if (withFiles) QVERIFY(log.find(accented + kAnalysisSuffix + "\n") != std::string::npos);
}

static RegisterSuite registration("Run", [] { return std::make_unique<RunTest>(); });

#include "run_test.moc"
