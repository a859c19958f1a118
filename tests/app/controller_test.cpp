// The controller: file picking through a stand-in dialog, dropped files, and the start
// of runs against a stand-in engine.

#include "app/startup.h"
#include "core/entries.h"
#include "core/stop.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QCoreApplication>
#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
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
    const QString path = QString::fromStdString(dir.file(name.toStdString()));
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
  void picksAppendEntries_data();
  void picksAppendEntries();
  void dropsTakeMediaFilesAndFolders();
  void filesThatAreNotRecordingsAreLeftOutWhicheverWayTheyCome();
  void removingTakesAFileOrAWholeGroup_data();
  void removingTakesAFileOrAWholeGroup();
  void settingsOutliveTheController();
  void oneRunAtATimeOnASnapshot();
  void runsThatCannotWorkAreRefused_data();
  void runsThatCannotWorkAreRefused();
  void progressReachesTheGuiThreadAndAFailingEngineEndsTheRun();
  void quittingStopsTheRunningRun();
  void aRunAsksBeforeReplacingAnEarlierRunsProjects();
};

void ControllerTest::picksAppendEntries_data() {
  QTest::addColumn<QString>("how");
  QTest::addColumn<QStringList>("chosen");  // in the dialog, or dropped
  QTest::addColumn<QStringList>("added");   // after the earlier file
  QTest::addColumn<bool>("refused");        // some were already listed
  const QStringList ab = {"/m/a.mov", "/m/b.MP3"};
  const QString b = beginMarker(), e = endMarker();
  QTest::addRow("files cancelled") << "files" << QStringList{} << QStringList{} << false;
  QTest::addRow("files a b") << "files" << ab << ab << false;
  // A cancelled device pick leaves no empty group behind.
  QTest::addRow("device cancelled") << "device" << QStringList{} << QStringList{} << false;
  QTest::addRow("device a b") << "device" << ab << QStringList{b, ab[0], ab[1], e} << false;
  // A file already listed, or picked twice, is not added again; nor is a group of such files.
  QTest::addRow("files twice") << "files" << QStringList{"/m/earlier.mov", ab[0], ab[0]} << QStringList{ab[0]}
                               << true;
  QTest::addRow("device all listed") << "device" << QStringList{"/m/earlier.mov"} << QStringList{} << true;
}

void ControllerTest::picksAppendEntries() {
  QFETCH(QString, how);
  QFETCH(QStringList, chosen);
  QFETCH(QStringList, added);
  QFETCH(bool, refused);
  AnimalModel model;
  model.addAnimal(Animal("/m/earlier.mov"));
  QMLFile controller(model);
  QStringList filters;
  controller.setFileDialog([&](const QString&, const QString&, const QString& filter) {
    filters << filter;
    return chosen;
  });

  QCOMPARE(how == "files" ? controller.getFilesSelected() : controller.getFilesSelected2(), added);
  QCOMPARE(model.dajmilista(), QStringList{"/m/earlier.mov"} + added);
  QCOMPARE(controller.status().startsWith("Already in the list"), refused);
  // Both pickers offer what cameras and recorders write, whatever the case of the name.
  for (const QString& filter : filters)
    for (const char* pattern : {"*.mp4 ", "*.MP4 ", "*.MTS ", "*.wav ", "*.WAV ", "*.m4a "})
      QVERIFY2(filter.contains(pattern), qPrintable(filter));
}

// Only media files on this machine are taken, those in a dropped folder too; what is
// left out is named.
void ControllerTest::dropsTakeMediaFilesAndFolders() {
  TempRunDir dir;
  const QString card = QString::fromStdString(dir.file("CARD"));
  QDir().mkpath(card + "/sub");
  QDir().mkpath(QString::fromStdString(dir.file("EMPTY")));
  for (const char* name : {"CARD/C0002.MP4", "CARD/C0001.MP4", "CARD/sub/C0003.MP4", "CARD/notes.txt", "a.wav"})
    testing_support::write_file(dir.file(name), "");
  AnimalModel model;
  QMLFile controller(model);
  const QString a = QString::fromStdString(dir.file("a.wav"));
  const QVariantList urls = {QUrl("https://example.org/c.mov"), QUrl::fromLocalFile(a + ".gone"),
                             QUrl::fromLocalFile(a), QUrl::fromLocalFile(card),
                             QUrl::fromLocalFile(QString::fromStdString(dir.file("EMPTY")))};
  const QStringList added = {a, card + "/C0001.MP4", card + "/C0002.MP4"};
  QCOMPARE(controller.addUrls(urls), added);
  QCOMPARE(model.dajmilista(), added);
  QCOMPARE(controller.status(), QString("Left out: notes.txt (not a recording). No media files directly in EMPTY."));
  // The list's badges tell recordings from films by the same list the drop used.
  QCOMPARE(controller.entries()->index(0, 0).data(FileListEntries::SoundOnlyRole).toBool(), true);
  QCOMPARE(controller.entries()->index(1, 0).data(FileListEntries::SoundOnlyRole).toBool(), false);
  // A camera's clips that say so are one device at once, and Undo says they are not.
  for (const char* clip : {"C0008.MP4", "C0007.MP4"})
    QCOMPARE(testing_support::ffmpeg({"-f", "lavfi", "-i", "sine=d=1", "-metadata", "make=Sony", "-metadata",
                                      "model=FX3", "-movflags", "use_metadata_tags", dir.file("CARD/sub/") + clip}), 0);
  controller.addUrls({QUrl::fromLocalFile(card + "/sub")});
  QTRY_COMPARE(model.dajmilista().mid(4), QList<QString>({kBeginMarker, card + "/sub/C0007.MP4", card + "/sub/C0008.MP4", kEndMarker}));
  QVERIFY2(controller.status().startsWith("Taken as one device, Sony FX3 (same model, numbered, one folder): C0007.MP4, C0008.MP4."), qPrintable(controller.status()));
  QCOMPARE(controller.entries()->index(4, 0).data(FileListEntries::FoundRole).toString(),
           QString("Sony FX3, same model, numbered, one folder"));
  // The run is handed the group to check by the sound, at its place in the list.
  const std::vector<FoundDevice> found = controller.fileList().foundDevices();
  QCOMPARE(found.size(), std::size_t{1});
  QCOMPARE(found[0].entries, (std::vector<int>{5, 6}));
  QVERIFY(controller.canUndo());
  controller.undo();
  QCOMPARE(model.dajmilista().size(), 6);
  QVERIFY(controller.fileList().foundDevices().empty());
}

// The event's notes beside its recordings: picked, picked for one device, or handed over
// as arguments, they stay out of the list and are named; a recording under a name the
// media list does not know is read and taken.
void ControllerTest::filesThatAreNotRecordingsAreLeftOutWhicheverWayTheyCome() {
  TempRunDir dir;
  for (const char* name : {"devices.txt", "truth.json", "manifest.tsv", "a.mov"})
    testing_support::write_file(dir.file(name), "{\"x\": 1}\n");
  QVERIFY(testing_support::make_media(dir.file("take.wav"), "sine=frequency=300:sample_rate=8000", 1));
  QVERIFY(QFile::rename(QString::fromStdString(dir.file("take.wav")), QString::fromStdString(dir.file("take.rec"))));
  const auto path = [&](const char* name) { return QString::fromStdString(dir.file(name)); };
  AnimalModel model;
  QMLFile controller(model);
  QStringList picked;
  QString opened_in;
  controller.setFileDialog([&](const QString&, const QString& folder, const QString&) {
    opened_in = folder;
    return picked;
  });

  picked = {path("devices.txt"), path("manifest.tsv")};
  QCOMPARE(controller.getFilesSelected(), QStringList());
  QCOMPARE(controller.status(), QString("Left out: devices.txt, manifest.tsv (not recordings)."));
  picked = {path("a.mov"), path("truth.json")};
  QCOMPARE(controller.getFilesSelected(), QStringList{path("a.mov")});
  QCOMPARE(controller.status(), QString("Left out: truth.json (not a recording)."));
  picked = {path("devices.txt")};
  QCOMPARE(controller.getFilesSelected2(), QStringList());  // no group without files
  QCOMPARE(controller.status(), QString("Left out: devices.txt (not a recording)."));

  controller.clearall();
  controller.addUrls(opened_files({"take.rec", "truth.json"}, QString::fromStdString(dir.path())));
  QCOMPARE(model.dajmilista(), QStringList{path("take.rec")});
  QCOMPARE(controller.status(), QString("Left out: truth.json (not a recording)."));
  // Files handed over say where the event is: the next dialog opens there.
  const QString elsewhere = QString::fromStdString(dir.file("elsewhere"));
  QVERIFY(QDir().mkpath(elsewhere));
  picked = {elsewhere + "/x.wav"};
  controller.getFilesSelected();
  controller.addUrls(opened_files({"a.mov"}, QString::fromStdString(dir.path())));
  picked = {};
  controller.getFilesSelected2();
  QCOMPARE(opened_in, QString::fromStdString(dir.path()));
}

void ControllerTest::removingTakesAFileOrAWholeGroup_data() {
  QTest::addColumn<int>("row");
  QTest::addColumn<QStringList>("left");
  const QString b = beginMarker(), e = endMarker();
  QTest::addRow("file outside a group") << 0 << QStringList{b, "c", "d", e, b, "g", e, "h"};
  QTest::addRow("file in a group") << 2 << QStringList{"a", b, "d", e, b, "g", e, "h"};
  QTest::addRow("only file of a group") << 6 << QStringList{"a", b, "c", "d", e, "h"};
  QTest::addRow("group head") << 1 << QStringList{"a", b, "g", e, "h"};
  QTest::addRow("group foot") << 4 << QStringList{"a", b, "g", e, "h"};
  QTest::addRow("past the end") << 9 << QStringList{"a", b, "c", "d", e, b, "g", e, "h"};
}

void ControllerTest::removingTakesAFileOrAWholeGroup() {
  QFETCH(int, row);
  QFETCH(QStringList, left);
  AnimalModel model;
  for (const QString& entry : {QString("a"), beginMarker(), QString("c"), QString("d"), endMarker(),
                               beginMarker(), QString("g"), endMarker(), QString("h")})
    model.addAnimal(Animal(entry));
  QMLFile controller(model);
  QAbstractItemModelTester tester(controller.entries(), QAbstractItemModelTester::FailureReportingMode::QtTest);
  controller.removeEntry(row);
  QCOMPARE(model.dajmilista(), left);
  // Every group foot counts the files it still closes.
  FileListEntries& shown = *controller.entries();
  for (int r = 0; r < shown.rowCount(); ++r) {
    const QModelIndex at = shown.index(r, 0);
    if (at.data(FileListEntries::KindRole) != "end") continue;
    int files = 0;
    for (int f = r - 1; f >= 0 && shown.index(f, 0).data(FileListEntries::KindRole) == "file"; --f) ++files;
    QCOMPARE(at.data(FileListEntries::GroupFilesRole).toInt(), files);
  }
}

// The settings of the last accepted run, the output choices and the dialogs' folder
// outlive the window; a damaged store gives the defaults back.
void ControllerTest::settingsOutliveTheController() {
  StubRun r;
  const QString ini = QString::fromStdString(r.dir.file("brenvik.ini"));
  const QString shoot = QString::fromStdString(r.dir.file("shoot"));
  QDir().mkpath(shoot);
  {
    QSettings store(ini, QSettings::IniFormat);
    r.w.controller.keepSettingsIn(&store);
    r.w.controller.setFileDialog([&](const QString&, const QString&, const QString&) {
      return QStringList{shoot + "/a.wav"};
    });
    r.w.controller.getFilesSelected();
    r.w.controller.setOutputFolder(shoot);
    r.w.controller.setRefine(false);
    r.w.controller.setEditor("resolve");
    r.w.controller.setEditor("avid");
    r.w.controller.setUseCache(false);
    r.add_file("b.wav");
    r.w.controller.removeEntry(0);
    r.w.controller.start_sync(0.97f, 1280, 720, 29.97f, 1);
    QVERIFY(r.ended.wait(kRunWaitMs));
  }
  QSettings store(ini, QSettings::IniFormat);
  AnimalModel model;
  QMLFile later(model);
  QString opened_in;
  later.setFileDialog([&](const QString&, const QString& folder, const QString&) {
    opened_in = folder;
    return QStringList{};
  });
  later.keepSettingsIn(&store);
  QCOMPARE(later.savedTolerance(), double(0.97f));
  QCOMPARE(later.savedWidth(), 1280);
  QCOMPARE(later.savedFps(), double(29.97f));
  QVERIFY(later.savedPremiere());
  QVERIFY(!later.refine());
  QCOMPARE(later.editor(), QString("resolve"));
  QCOMPARE(later.outputFolder(), shoot);
  later.getFilesSelected();
  QCOMPARE(opened_in, shoot);
  // The run went to the chosen folder.
  QCOMPARE(r.stub.output_folder, shoot.toStdString());
  QVERIFY(!r.stub.use_cache && !later.useCache());

  store.setValue("run/width", 0);
  store.setValue("output/editor", "avid");
  QMLFile damaged(model);
  damaged.keepSettingsIn(&store);
  QCOMPARE(damaged.editor(), QString("other"));
  QCOMPARE(damaged.savedTolerance(), RunSettings{}.tolerance);
  QCOMPARE(damaged.savedWidth(), RunSettings{}.width);
}

// One run at a time, each on a copy of the list and settings taken when it starts.
void ControllerTest::oneRunAtATimeOnASnapshot() {
  StubRun r;
  r.w.add(beginMarker());
  r.add_file(QString::fromUtf8("čćž Ünï.wav"));
  r.add_file("b.mov");
  r.w.add(endMarker());
  r.stub.block = true;
  r.w.controller.setRefine(false);
  r.w.controller.setDriftCorrect(false);
  r.w.controller.setWriteMedia(true);
  r.w.controller.setMainSound(QString::fromStdString(r.dir.file("b.mov")));

  r.w.controller.start_sync(0.97f, 1280, 720, 29.97f, 1);
  QVERIFY(r.w.controller.running());
  r.start();
  QMetaObject::invokeMethod(&r.w.controller, "kazidekazavrsi", Q_ARG(QString, QString()));
  r.start();  // a stray end signal changes nothing
  r.w.controller.clearall();  // the run must see neither change
  r.w.controller.setRefine(true);
  r.stub.release();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QTRY_VERIFY(!r.w.controller.running());
  QCOMPARE(r.stub.calls.load(), 1);
  QCOMPARE(r.runningChanged.count(), 2);
  QCOMPARE(r.stub.files, (std::vector<std::string>{kBeginMarker, r.dir.file("čćž Ünï.wav"),
                                                   r.dir.file("b.mov"), kEndMarker}));
  QCOMPARE(r.stub.settings, (RunSettings{.tolerance = 0.97f, .fps = 29.97f, .width = 1280,
                                         .height = 720, .premiere = 1, .refine = false,
                                         .drift_correct = false, .main_sound = r.dir.file("b.mov"),
                                         .write_media = true}));
  QVERIFY(!r.stub.open_output);
  QVERIFY(r.stub.thread != QCoreApplication::instance()->thread());

  // Once the first run has ended, a new one starts in a worker of its own.
  QThread* first = r.stub.thread;
  r.stub.block = false;
  r.add_file("c.wav");
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QCOMPARE(r.stub.calls.load(), 2);
  QVERIFY(r.stub.thread != first);
  QCOMPARE(r.stub.settings.refine, true);
  QVERIFY(r.stub.settings.main_sound.empty());  // its file left the list
}

void ControllerTest::runsThatCannotWorkAreRefused_data() {
  QTest::addColumn<RunSettings>("settings");
  QTest::addColumn<QString>("spoil");
  QTest::addColumn<QString>("sentence");
  // Bad settings are refused with the sentence both front ends share.
  auto bad = [](const char* name, RunSettings s) {
    QTest::addRow("%s", name) << s << QString() << QString::fromStdString(settings_problem(s));
  };
  bad("tolerance 0", {.tolerance = 0.0});
  bad("tolerance above 1", {.tolerance = 1.5});
  bad("frame rate 0", {.fps = 0.0f});
  bad("width 0", {.width = 0});
  bad("premiere 2", {.premiere = 2});
  QTest::addRow("no transcoder") << RunSettings{} << "ffmpeg" << "Brenvik.app/ffmpeg";
  QTest::addRow("file gone") << RunSettings{} << "file" << "Cannot read";
}

void ControllerTest::runsThatCannotWorkAreRefused() {
  QFETCH(RunSettings, settings);
  QFETCH(QString, spoil);
  QFETCH(QString, sentence);
  QVERIFY(!sentence.isEmpty());
  StubRun r;
  const QString media = r.add_file("a.wav");
  if (spoil == "ffmpeg") std::filesystem::remove("Brenvik.app/ffmpeg");
  if (spoil == "file") QFile::remove(media);

  r.w.controller.start_sync(settings.tolerance, settings.width, settings.height, settings.fps,
                            settings.premiere);

  QVERIFY2(r.w.controller.status().contains(sentence), qPrintable(r.w.controller.status()));
  // A file that vanished is marked in the list, so that it can be found among many.
  QCOMPARE(r.w.controller.entries()->index(0, 0).data(FileListEntries::MarkKindRole).toString(),
           spoil == "file" ? QString("missing") : QString());
  QCOMPARE(r.runningChanged.count(), 0);
  QCOMPARE(r.stub.calls.load(), 0);
  if (spoil == "file") {  // back again: the next start forgets the mark
    testing_support::write_file(media.toStdString(), "");
    r.start();
    QCOMPARE(r.w.controller.entries()->index(0, 0).data(FileListEntries::MarkKindRole).toString(), QString());
    QVERIFY(r.ended.wait(kRunWaitMs));
  }
}

void ControllerTest::progressReachesTheGuiThreadAndAFailingEngineEndsTheRun() {
  StubRun r;
  r.stub.during = [](const SyncOptions& o) {
    for (auto [stage, i, n] : {std::tuple{"transcode", 2, 2}, {"transcode", 1, 2},
                               {"fingerprint", 1, 2}, {"match", 1, 1}, {"decide", 1, 2}})
      o.progress(stage, i, n);
  };
  // Each report ten seconds after the one before.
  r.w.controller.setRunClock([seconds = 0.0]() mutable { return (seconds += 10.0) - 10.0; });
  QStringList texts;
  QList<double> values;
  QStringList left;
  connect(&r.w.controller, &QMLFile::progressChanged, this, [&] {
    QVERIFY(QThread::currentThread() == QCoreApplication::instance()->thread());
    texts << r.w.controller.progressText();
    values << r.w.controller.progressValue();
    left << r.w.controller.timeLeft();
  });
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  // Out of order reports (parallel transcoding) never move the bar back; only the end fills it.
  QVERIFY2(texts.contains("Fingerprinting: file 1 of 2"), qPrintable(texts.join(" | ")));
  // The matcher counts pairs with the group markers in them, so no count is shown.
  QVERIFY2(texts.contains("Matching: 100%"), qPrintable(texts.join(" | ")));
  QVERIFY2(std::is_sorted(values.begin(), values.end()) && values.count(1.0) == 1 && values.last() == 1.0,
           qPrintable(texts.join(" | ")));
  QVERIFY2(texts.contains("Checking the pairs: 50%"), qPrintable(texts.join(" | ")));
  // No estimate before the pace shows (the first report, and ten seconds without
  // progress), then one from the share done per second; none once the run has ended.
  QCOMPARE(left, (QStringList{"", "", "", "about 2 min left", "about 40 s left", "about 30 s left", ""}));

  r.stub.during = [](const SyncOptions&) { throw std::runtime_error("disk full"); };
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QVERIFY(!r.w.controller.running());
  QVERIFY2(r.w.controller.status().contains("disk full"), qPrintable(r.w.controller.status()));
  QCOMPARE(r.w.controller.lastRun().value("state").toString(), QString("failed"));
}

// What quitting the window does: the run hears the stop request at its next step.
void ControllerTest::quittingStopsTheRunningRun() {
  StubRun r;
  r.stub.during = [](const SyncOptions&) {
    while (stop_requested() == 0) QThread::msleep(10);
    throw RunStopped();
  };
  QVERIFY(stop_run(r.w.controller, 0));  // nothing to stop
  r.start();
  QVERIFY(r.w.controller.running());
  QVERIFY(stop_run(r.w.controller, kRunWaitMs));
  QCOMPARE(r.w.controller.lastRun().value("state").toString(), QString("stopped"));
  QVERIFY(!r.w.controller.stopping());
  // The run is over once it no longer runs; its last word to the window comes after that,
  // and must not pass for the next run's.
  QTRY_COMPARE(r.ended.count(), 1);
  r.start();  // the stop is forgotten: the next run goes on until asked again
  QVERIFY(!r.ended.wait(300));
  QVERIFY(stop_run(r.w.controller, kRunWaitMs));
}

// The projects of an earlier run could be imported by mistake for this one's.
// The run folder's one output folder serves every event: a run asks before it replaces
// projects it did not just make from the same list, and one that wrote nothing points at
// those still there.
void ControllerTest::aRunAsksBeforeReplacingAnEarlierRunsProjects() {
  StubRun r;
  QMLFile& c = r.w.controller;
  r.add_file("a.wav");
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QVERIFY2(!c.status().contains("earlier run"), qPrintable(c.status()));
  QCOMPARE(c.replaceQuestion(), QString());
  testing_support::write_file(r.dir.file("Brenvik.app/SYNCED/SYNCED_fcp.XML"), "<xmeml/>");

  r.start();
  QVERIFY(!c.running());
  QCOMPARE(r.stub.calls.load(), 1);
  QVERIFY2(c.replaceQuestion().startsWith("Brenvik.app/SYNCED holds the projects of the run of "),
           qPrintable(c.replaceQuestion()));
  c.answerReplace(false);
  QCOMPARE(c.replaceQuestion(), QString());
  r.start();
  QVERIFY(!c.replaceQuestion().isEmpty());
  QCOMPARE(r.stub.calls.load(), 1);

  c.answerReplace(true);
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QCOMPARE(r.stub.calls.load(), 2);
  QVERIFY2(c.status().contains(QString::fromStdString(r.dir.file("Brenvik.app/SYNCED")) + " are from an earlier run"),
           qPrintable(c.status()));
  QCOMPARE(c.lastRun().value("state").toString(), QString("nothing"));

  r.stub.answer = "mavo";
  c.answerReplace(true);
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  r.start();
  QVERIFY(r.ended.wait(kRunWaitMs));
  QCOMPARE(r.stub.calls.load(), 4);
  r.add_file("b.wav");
  r.start();
  QVERIFY(!c.replaceQuestion().isEmpty());
  QCOMPARE(r.stub.calls.load(), 4);
}

static RegisterSuite registration("Controller", [] { return std::make_unique<ControllerTest>(); });

#include "controller_test.moc"
