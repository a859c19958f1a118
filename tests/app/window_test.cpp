// The window with the real scene: its defaults, and the scene driving the controller
// through a run to the finished state.

#include "app/startup.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJSValue>
#include <QQuickItem>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QWindow>

#include <algorithm>
#include <QTest>

using namespace gui_test;
using testing_support::TempRunDir;

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void sceneShowsTheDefaultSettings();
  void sceneStartsOneRunAndShowsItsEnd();
  void aRunOnRealMediaEndsInTheResultView();
  void aRunEndsWithoutWaitingForTheFileManager();
  void theTimelineNamesEveryClipAndTellsOfTheOnePointedAt();
  void syncAsksBeforeReplacingAnotherRunsProjects();
  void noFileManagerIsSaidWithWhereTheProjectsAre();
  void keyboardAndMouseWorkAsOnTheDesktop();
  void theWindowComesBackWhereItWas();
  void startsFromAnyFolder();
  void filesOpenedWithItAreReadFromWhereItStarted();
};

void WindowTest::sceneShowsTheDefaultSettings() {
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  const RunSettings d;
  QCOMPARE(w.find("tolerance")->property("displayText").toString(),
           QString::number(d.tolerance, 'f', 3));
  QCOMPARE(w.find("framerate")->property("currentText").toString(), QString::number(d.fps) + " fps");
  QCOMPARE(w.find("framesize")->property("currentText").toString(),
           QString::fromUtf8("%1 × %2").arg(d.width).arg(d.height));
  QCOMPARE(w.find("premiere")->property("checked").toBool(), d.premiere != 0);
  QCOMPARE(w.find("refine")->property("checked").toBool(), d.refine);
  QCOMPARE(w.find("driftcorrect")->property("checked").toBool(), d.drift_correct);
  QCOMPARE(w.find("writemedia")->property("checked").toBool(), false);
  // What to do first, and later why a file was left out, is read at the foot from the start.
  QVERIFY(w.find("statusline")->property("width").toDouble() > 100);
  QCOMPARE(w.find("statusline")->property("text").toString(),
           QString("Add the recordings of one event, then press Sync."));

  // A list longer than its frame shows that it goes on.
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QCOMPARE(w.find("listscroll")->property("policy").toInt(), int(Qt::ScrollBarAlwaysOff));
  for (int i = 0; i < 13; ++i) w.add(QString("/m/%1.mov").arg(i));
  QTRY_COMPARE(w.find("listscroll")->property("policy").toInt(), int(Qt::ScrollBarAlwaysOn));

  // A typed value out of range is refused aloud under its own field, not clamped in
  // silence, and the note goes once a value is taken or a run starts.
  QObject* tolerance = w.find("tolerance");
  QObject* toleranceNote = w.find("toleranceproblem");
  QJSValue parse = tolerance->property("valueFromText").value<QJSValue>();
  QCOMPARE(parse.call({QJSValue("1.5")}).toInt(), qRound(d.tolerance * 1000));
  QTRY_VERIFY(toleranceNote->property("visible").toBool());
  QCOMPARE(tolerance->property("problem").toString(),
           QString("Tolerance 1.5 is not taken: it goes from 0.800 to 0.999. It stays 0.990."));
  QCOMPARE(parse.call({QJSValue("0,95")}).toInt(), 950);
  QTRY_VERIFY(!toleranceNote->property("visible").toBool());

  // "Custom…" brings its fields without widening the settings.
  QObject* settings = w.find("settings");
  const auto right_edge = [&](const char* name) {
    auto* item = qobject_cast<QQuickItem*>(w.find(name));
    return item->mapToScene(QPointF(item->width(), 0)).x();
  };
  const double clear = right_edge("clearbutton"), sync = right_edge("syncbutton");
  QVERIFY(sync <= w.view.width());
  w.find("framesize")->setProperty("currentIndex", 3);
  QTRY_VERIFY(w.find("customsize")->property("visible").toBool());
  QCOMPARE(right_edge("clearbutton"), clear);
  QCOMPARE(right_edge("syncbutton"), sync);
  QJSValue parse_width = w.find("customwidth")->property("valueFromText").value<QJSValue>();
  QCOMPARE(parse_width.call({QJSValue("20000")}).toInt(), d.width);
  parse.call({QJSValue("2")});
  QTRY_VERIFY(w.find("customwidthproblem")->property("visible").toBool());
  QVERIFY(toleranceNote->property("visible").toBool());  // one note per setting
  QVERIFY(w.find("customwidth")->property("problem").toString().startsWith("Width 20000 is not taken"));
  settings->setProperty("running", true);
  QTRY_VERIFY(!w.find("customwidthproblem")->property("visible").toBool());
  QVERIFY(!toleranceNote->property("visible").toBool());
}

void WindowTest::sceneStartsOneRunAndShowsItsEnd() {
  TempRunDir run;
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QObject* sync = w.find("syncbutton");
  QVERIFY(sync);

  QVERIFY(!sync->property("enabled").toBool());  // empty list
  w.add(beginMarker());
  w.add(endMarker());
  QVERIFY(!sync->property("enabled").toBool());  // markers are no media
  testing_support::write_file(run.file("a.wav"), "");
  w.add(QString::fromStdString(run.file("a.wav")));
  QVERIFY(sync->property("enabled").toBool());

  EngineStub stub;
  stub.block = true;
  QSemaphore reported;
  stub.during = [&](const SyncOptions& o) {
    o.progress("transcode", 1, 4);
    o.progress("transcode", 3, 4);
    reported.release();
  };
  w.controller.setRunClock([seconds = 0.0]() mutable { return (seconds += 30.0) - 30.0; });
  w.controller.setEngine(stub.engine());
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(w.controller.running());
  QVERIFY(!sync->property("enabled").toBool());
  // While it goes: the stage, its count and the time left in one line.
  QVERIFY(reported.tryAcquire(1, 20000));
  QTRY_COMPARE(w.find("statusline")->property("text").toString(),
               QString::fromUtf8("Transcoding audio: file 3 of 4  ·  about 1 min left"));
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  stub.release();
  QVERIFY(ended.wait(20000));

  QCOMPARE(stub.calls.load(), 1);
  // The scene starts with the defaults; the tolerance passes through start_sync's float.
  RunSettings defaults;
  defaults.tolerance = static_cast<float>(defaults.tolerance);
  QCOMPARE(stub.settings, defaults);
  // stopbar's finished state, and nothing left of the working one.
  QTRY_COMPARE(w.find("done")->property("opacity").toDouble(), 1.0);
  QTRY_COMPARE(w.find("progressbar")->property("opacity").toDouble(), 0.0);
  for (const char* shown : {"ima1", "newexit"})
    QCOMPARE(w.find(shown)->property("opacity").toDouble(), 1.0);
  QCOMPARE(w.find("text3")->property("text").toString(), QString("Done!"));
  QVERIFY(sync->property("enabled").toBool());
  // Nothing was in sync: no green "Done!", no check mark.
  QVERIFY(!w.find("text3")->property("visible").toBool());
  QCOMPARE(w.find("headline")->property("text").toString(), QString("Nothing in sync"));
  QVERIFY(w.find("endmark")->property("text").toString() != QString::fromUtf8("✓"));
  QVERIFY(w.find("resultsentence")->property("visible").toBool());

  // The next run shows nothing of this one's end while it goes.
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(w.controller.running());
  QVERIFY(w.controller.lastRun().isEmpty());
  QTRY_VERIFY(!w.find("resultsentence")->property("visible").toBool());
  stub.release();
  QVERIFY(ended.wait(20000));
  QCOMPARE(w.warnings(), QStringList{});
}

// A real run on generated media, from the scene's Sync to the result view, and the
// finished state giving way when the list changes.
void WindowTest::aRunOnRealMediaEndsInTheResultView() {
  TempRunDir run;
  using testing_support::ffmpeg;
  QVERIFY(testing_support::make_media(run.file("long.wav"),
                                      "anoisesrc=seed=11:sample_rate=48000:c=pink,tremolo=f=2.5:d=0.9", 20));
  QCOMPARE(ffmpeg({"-i", run.file("long.wav"), "-ss", "4", "-t", "12", run.file("cut.wav")}), 0);
  QVERIFY(testing_support::make_media(run.file("other.wav"),
                                      "anoisesrc=seed=12:sample_rate=48000:c=pink,tremolo=f=3:d=0.9", 8));
  testing_support::write_file(run.file("notes.mov"), "not a film");
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  for (const char* name : {"long.wav", "cut.wav", "other.wav", "notes.mov"})
    w.add(QString::fromStdString(run.file(name)));
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(ended.wait(120000));

  const QVariantMap shown = w.controller.lastRun();
  QCOMPARE(shown.value("state").toString(), QString("synced"));
  const QVariantList groups = shown.value("groups").toList();
  QCOMPARE(groups.size(), 1);
  const QVariantList members = groups[0].toMap().value("members").toList();
  QCOMPARE(members.size(), 2);
  QCOMPARE(members[1].toMap().value("fileName").toString(), QString("cut.wav"));
  QCOMPARE(members[1].toMap().value("startText").toString(), QString("+0:04.000"));
  QCOMPARE(shown.value("unsynced").toList().size(), 1);
  QCOMPARE(shown.value("unreadable").toList().size(), 1);
  QVERIFY(QDir::isAbsolutePath(shown.value("folder").toString()));
  QCOMPARE(w.find("tabs")->property("currentIndex").toInt(), 1);
  QTRY_COMPARE(w.find("done")->property("opacity").toDouble(), 1.0);
  QVERIFY(w.find("text3")->property("visible").toBool());
  // The end said in full at the foot, however long the folder's name.
  QObject* said = w.find("resultline");
  QCOMPARE(said->property("text").toString(), shown.value("sentence").toString());
  QVERIFY(!said->property("truncated").toBool());
  auto* foot = qobject_cast<QQuickItem*>(w.find("done"));
  auto* line = qobject_cast<QQuickItem*>(said);
  QTRY_VERIFY(foot->height() >= line->y() + line->height());
  // Enlarged, the foot still says it all: shown, whole, inside the panel and the window.
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  for (const QSize size : {QSize(560, 600), QSize(1600, 1000), QSize(2400, 1300), QSize(800, 740)}) {
    w.view.resize(size);
    QTRY_COMPARE(qobject_cast<QQuickItem*>(w.view.rootObject())->width(), double(size.width()));
    QTRY_VERIFY(foot->height() >= line->y() + line->height());
    QVERIFY(line->isVisible() && line->width() > 200 && line->height() >= line->property("implicitHeight").toDouble());
    QVERIFY(!said->property("truncated").toBool());
    QVERIFY(foot->mapToScene(QPointF(0, foot->height())).y() <= size.height());
  }

  // What the timeline shows: a ruler from the start, and each clip's sound outline.
  auto* result = qobject_cast<QQuickItem*>(w.find("resultview"));
  const QVariantList ticks = groups[0].toMap().value("ticks").toList();
  QVERIFY(ticks.size() >= 3);
  QCOMPARE(ticks[0].toMap().value("timecode").toString(), QString("00:00:00:00"));
  QCOMPARE(find_items(result, "ruler").size(), 1);
  for (const QVariant& m : members) {
    const QVariantList peaks = m.toMap().value("envelope").toList();
    QVERIFY(peaks.size() > 100);
    const auto [low, high] = std::minmax_element(peaks.begin(), peaks.end(),
                                                 [](const QVariant& a, const QVariant& b) { return a.toDouble() < b.toDouble(); });
    QVERIFY(low->toDouble() >= 0.0 && high->toDouble() <= 1.0 && high->toDouble() > 0.05);
  }
  // Every clip named where it can be read, the shorter one too.
  const QList<QQuickItem*> names = find_items(result, "cliplabel");
  QCOMPARE(names.size(), 2);
  for (QQuickItem* name : names) QVERIFY(name->width() >= std::min(60.0, name->implicitWidth()));

  // The editor's document first; the unsynced files' documents stay, since one file
  // synced with nothing.
  QCOMPARE(find_items(result, "opendocument").size(), 0);
  w.controller.setEditor("resolve");
  QTRY_COMPARE(find_items(result, "opendocument").size(), 1);
  QCOMPARE(find_item(result, "opendocument")->property("text").toString(),
           QString("Open in DaVinci Resolve: SYNCED.fcpxml"));
  QCOMPARE(find_item(result, "alldocuments")->property("text").toString(), QString("All documents"));
  QStringList others;
  for (const QVariant& d : w.controller.projects().value("others").toList()) others << d.toMap().value("fileName").toString();
  QVERIFY(others.contains("UNSYNCED.otio") && !others.contains("SYNCED.fcpxml"));

  const QAbstractItemModel& list = *w.controller.entries();
  QCOMPARE(list.index(0, 0).data(FileListEntries::MarkRole).toString(), QString("in sync with 1 file"));
  QCOMPARE(list.index(3, 0).data(FileListEntries::MarkKindRole).toString(), QString("unreadable"));

  // A changed list: the result stays, marked as of the list as it was, and the files
  // lose what it said of them.
  w.controller.removeEntry(3);
  QTRY_COMPARE(w.find("done")->property("opacity").toDouble(), 0.0);
  QCOMPARE(w.find("tabs")->property("currentIndex").toInt(), 0);
  QCOMPARE(w.controller.status(), QString());
  QVERIFY(w.controller.lastRun().value("stale").toBool());
  QVERIFY(w.find("resultview")->property("stale").toBool());
  QVERIFY(w.find("resulttab")->property("enabled").toBool());
  QCOMPARE(list.index(0, 0).data(FileListEntries::MarkRole).toString(), QString());
  QCOMPARE(w.warnings(), QStringList{});
}

// An hour-long group with a 3 s phone clip: the clip gets a bar and its name beside it,
// the reference device its mark, and pointing at a clip tells of it below the lanes.
void WindowTest::theTimelineNamesEveryClipAndTellsOfTheOnePointedAt() {
  TempRunDir run;
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  for (const char* name : {"camera.mov", "phone.mp4", "recorder.wav"}) {
    testing_support::write_file(run.file(name), "");
    w.add(QString::fromStdString(run.file(name)));
  }
  EngineStub stub;
  stub.answer = "mavo";
  stub.during = [&](const SyncOptions& o) {
    RunResult& r = *o.result;
    r.entries = {run.file("camera.mov"), run.file("phone.mp4"), run.file("recorder.wav")};
    const auto member = [&](int entry, double start, double length, float rate) {
      TimelineMember m;
      m.entry = m.device = entry;
      m.path = r.entries[static_cast<std::size_t>(entry)];
      m.start = m.exact_start = start;
      m.length = length;
      m.frame_rate = rate;
      m.envelope = {0.1f, 0.9f, 0.4f};
      return m;
    };
    SyncGroup group;
    group.members = {member(0, 60.0, 3540.0, 25.0f), member(1, 1800.0, 3.0, 25.0f), member(2, 0.0, 3600.0, 999.0f)};
    group.members[2].reference_clock = true;
    r.timeline.groups = {group};
  };
  w.controller.setEngine(stub.engine());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(ended.wait(20000));
  auto* result = qobject_cast<QQuickItem*>(w.find("resultview"));
  QTRY_COMPARE(find_items(result, "cliplabel").size(), 3);

  // By start: the recorder, the camera, the phone.
  const QList<QQuickItem*> bars = find_items(result, "clipbar");
  const QList<QQuickItem*> names = find_items(result, "cliplabel");
  QCOMPARE(names[0]->property("text").toString(), QString::fromUtf8("\u2605 recorder.wav"));
  QCOMPARE(names[2]->property("text").toString(), QString("phone.mp4"));
  QQuickItem* phone = bars[2];
  QVERIFY(phone->width() >= 10);
  // Its name beside the bar, whole, in the lane's room.
  QCOMPARE(names[2]->width(), names[2]->implicitWidth());
  QVERIFY(names[2]->x() >= phone->x() + phone->width());
  QVERIFY(find_item(result, "legend")->isVisible());
  // The ruler's labels side by side, none over another, all inside the ruler.
  QQuickItem* ruler = find_item(result, "ruler");
  double right = -1;
  int labels = 0;
  for (QQuickItem* label : find_items(ruler, "ticklabel")) {
    if (!label->isVisible()) continue;
    const QRectF at = label->mapRectToItem(ruler, QRectF(0, 0, label->width(), label->height()));
    QVERIFY2(at.left() > right && at.left() >= 0 && at.right() <= ruler->width() + 0.5,
             qPrintable(QString("label %1 at %2..%3").arg(labels).arg(at.left()).arg(at.right())));
    right = at.right();
    ++labels;
  }
  QVERIFY(labels >= 4);  // of an hour in steps of ten minutes, every one or every second

  QQuickItem* hover = find_item(result, "hoverline");
  QVERIFY(hover->property("text").toString().startsWith("Point at a clip"));
  QTest::mouseMove(&w.view, phone->mapToScene(QPointF(phone->width() / 2, phone->height() / 2)).toPoint());
  QTRY_VERIFY2(hover->property("text").toString().startsWith(QString::fromUtf8("phone.mp4  ·  starts +30:00.000  ·  lasts 0:03.000")),
               qPrintable(hover->property("text").toString()));
  // The box tells below the lanes, over no bar.
  QVERIFY(hover->mapToScene(QPointF(0, 0)).y() >= bars[0]->mapToScene(QPointF(0, 0)).y() + 3 * 30);
  QCOMPARE(w.warnings(), QStringList{});
}

void WindowTest::syncAsksBeforeReplacingAnotherRunsProjects() {
  TempRunDir run;
  testing_support::write_file(run.file("Brenvik.app/SYNCED/SYNCED.otio"), "{}");
  testing_support::write_file(run.file("a.wav"), "");
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.add(QString::fromStdString(run.file("a.wav")));
  EngineStub stub;
  w.controller.setEngine(stub.engine());
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QObject* dialog = w.find("replacepopup");
  QVERIFY(!dialog->property("visible").toBool());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QTRY_VERIFY(dialog->property("visible").toBool());
  QVERIFY(!w.controller.running());
  QVERIFY(w.find("replacequestion")->property("text").toString().contains("holds the projects of the run of"));
  // Return answers with the button in focus: Replace them.
  QTest::keyClick(&w.view, Qt::Key_Return);
  // The stub ends the run at once: it may have ended before the wait begins.
  QVERIFY(!ended.isEmpty() || ended.wait(20000));
  QCOMPARE(stub.calls.load(), 1);
  QTRY_VERIFY(!dialog->property("visible").toBool());
  QCOMPARE(w.warnings(), QStringList{});
}

// A file manager kept open (this one never ends) must not keep the run going.
void WindowTest::aRunEndsWithoutWaitingForTheFileManager() {
  TempRunDir run;
  QVERIFY(testing_support::make_media(run.file("long.wav"),
                                      "anoisesrc=seed=11:sample_rate=8000,tremolo=f=2.5:d=0.9", 16));
  QCOMPARE(testing_support::ffmpeg({"-i", run.file("long.wav"), "-ss", "4", "-t", "9", run.file("cut.wav")}), 0);
  testing_support::StandInViewer viewer;
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.controller.setOpenOutput(true);
  for (const char* name : {"long.wav", "cut.wav"}) w.add(QString::fromStdString(run.file(name)));
  QSignalSpy ended(&w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(w.view.rootObject(), "startRun");
  QVERIFY(ended.wait(120000));
  const QDateTime now = QDateTime::currentDateTime();
  QDateTime written;
  const QVariantList documents = w.controller.lastRun().value("documents").toList();
  QVERIFY(!documents.isEmpty());
  for (const QVariant& d : documents)
    written = std::max(written, QFileInfo(d.toMap().value("path").toString()).lastModified());
  QVERIFY2(written.msecsTo(now) < 1000, qPrintable(QString::number(written.msecsTo(now))));
  QVERIFY(!w.controller.running());
  QTRY_VERIFY(viewer.running());
  QCOMPARE(QDir::cleanPath(QString::fromStdString(viewer.shown())),
           QDir::fromNativeSeparators(w.controller.lastRun().value("folder").toString()));
  QCOMPARE(w.controller.folderProblem(), QString());
}

QPoint centre_of(QObject* object);

// Show folder without a file manager, or with one that gives up: the window says so and
// where the projects are, beside a Copy path.
void WindowTest::noFileManagerIsSaidWithWhereTheProjectsAre() {
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  QSignalSpy said(&w.controller, &QMLFile::folderProblemChanged);
  {
    testing_support::StandInViewer gives_up(3);
    w.controller.showFolder("/tmp/Projects");
    QVERIFY(said.wait(20000));
  }
  QCOMPARE(w.controller.folderProblem(),
           QString("No file manager to show the folder: the projects are in /tmp/Projects."));
  QCOMPARE(w.find("folderproblemtext")->property("text").toString(), w.controller.folderProblem());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  QTRY_VERIFY(w.find("folderproblem")->property("visible").toBool());
  // Its Copy path says it has copied.
  QObject* copy = w.find("folderproblemcopy");
  QCOMPARE(copy->property("text").toString(), QString("Copy path"));
  QTest::mouseClick(&w.view, Qt::LeftButton, {}, centre_of(copy));
  QTRY_COMPARE(copy->property("text").toString(), QString("Copied"));

  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", "/nonexistent");
  w.controller.showFolder("/tmp/Other");
  qputenv("PATH", path);
  QTRY_COMPARE(w.controller.folderProblem(),
               QString("No file manager to show the folder: the projects are in /tmp/Other."));
  testing_support::StandInViewer viewer;
  w.controller.showFolder("/tmp/Projects");
  QCOMPARE(w.controller.folderProblem(), QString());  // a new attempt forgets the old one
  QTRY_VERIFY(viewer.running());
}

QPoint centre_of(QObject* object) {
  auto* item = qobject_cast<QQuickItem*>(object);
  return item ? item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint() : QPoint();
}

namespace {

// The rows of the list whose selection shows.
QList<int> selected_rows(Window& w) {
  QList<int> rows;
  const QVariantList chosen = w.find("filelistpanel")->property("selected").toList();
  for (const QVariant& row : chosen) rows << row.toInt();
  return rows;
}

}  // namespace

void WindowTest::keyboardAndMouseWorkAsOnTheDesktop() {
  Window w;
  QCOMPARE(w.load(BRENVIK_SCENE), QString());
  w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&w.view));
  const QStringList files = {"/m/a.mov", "/m/b.wav", "/m/c.mov", "/m/d.mp4"};
  for (const QString& f : files) w.add(f);
  auto* list = qobject_cast<QQuickItem*>(w.find("filelist"));
  QTRY_VERIFY(list->property("contentHeight").toDouble() >= 4 * 46);  // its rows are laid out

  // A click selects the row it lands on, Ctrl adds one, Delete takes the selection.
  const QPoint row1 = list->mapToScene(QPointF(120, 46 + 23)).toPoint();
  const QPoint row3 = list->mapToScene(QPointF(120, 3 * 46 + 23)).toPoint();
  QTest::mouseClick(&w.view, Qt::LeftButton, {}, row1);
  QTRY_COMPARE(selected_rows(w), QList<int>{1});
  QTest::mouseClick(&w.view, Qt::LeftButton, Qt::ControlModifier, row3);
  QTRY_COMPARE(selected_rows(w), (QList<int>{1, 3}));
  QTest::keyClick(&w.view, Qt::Key_Delete);
  QTRY_COMPARE(w.model.dajmilista(), (QStringList{"/m/a.mov", "/m/c.mov"}));
  // Taken back with Ctrl+Z; Ctrl+A and Delete empty it, and Ctrl+Z again fills it.
  QTest::keyClick(&w.view, Qt::Key_Z, Qt::ControlModifier);
  QTRY_COMPARE(w.model.dajmilista(), files);
  QTRY_VERIFY(list->property("contentHeight").toDouble() >= 4 * 46);
  QTest::mouseClick(&w.view, Qt::LeftButton, {}, row1);
  QTRY_COMPARE(selected_rows(w), QList<int>{1});
  QTest::keyClick(&w.view, Qt::Key_A, Qt::ControlModifier);
  QTRY_COMPARE(selected_rows(w), (QList<int>{0, 1, 2, 3}));
  QTest::keyClick(&w.view, Qt::Key_Delete);
  QTRY_COMPARE(w.model.rowCount(), 0);
  QTest::keyClick(&w.view, Qt::Key_Z, Qt::ControlModifier);
  QTRY_COMPARE(w.model.dajmilista(), files);
  // Clear says how to take it back.
  QTRY_VERIFY(w.find("clearbutton")->property("enabled").toBool());
  QTest::mouseClick(&w.view, Qt::LeftButton, {}, centre_of(w.find("clearbutton")));
  QTRY_COMPARE(w.model.rowCount(), 0);
  QCOMPARE(w.controller.status(), QString("The list is cleared. Ctrl+Z brings it back."));
  QTest::keyClick(&w.view, Qt::Key_Z, Qt::ControlModifier);
  QTRY_COMPARE(w.model.dajmilista(), files);
  QVERIFY(!w.controller.canUndo());

  // The title bar maximises on a double click, and restores on the next.
  const QPoint title = centre_of(w.find("titlebar"));
  QTest::mouseDClick(&w.view, Qt::LeftButton, {}, title);
  QTRY_COMPARE(w.view.visibility(), QWindow::Maximized);
  QTest::mouseDClick(&w.view, Qt::LeftButton, {}, centre_of(w.find("titlebar")));
  QTRY_COMPARE(w.view.visibility(), QWindow::Windowed);
}

// The place and size of the window outlive the process; a place on no screen is not taken.
void WindowTest::theWindowComesBackWhereItWas() {
  TempRunDir run;
  QSettings store(QString::fromStdString(run.file("window.ini")), QSettings::IniFormat);
  QWindow window;
  QVERIFY(!restore_window(window, store));  // first start: as the window makes itself
  window.setGeometry(QRect(60, 50, 900, 800));
  remember_window(window, store);
  QWindow again;
  QVERIFY(!restore_window(again, store));
  QCOMPARE(again.geometry(), QRect(60, 50, 900, 800));
  store.setValue("window/maximised", true);
  QVERIFY(restore_window(again, store));
  store.setValue("window/geometry", QRect(-90000, -90000, 800, 740));
  QWindow gone;
  gone.setGeometry(QRect(10, 10, 300, 200));
  QVERIFY(!restore_window(gone, store));
  QCOMPARE(gone.geometry(), QRect(10, 10, 300, 200));
}

// From a launcher or another folder the program finds its run folder above its own.
void WindowTest::startsFromAnyFolder() {
  TempRunDir run;
  const QString app = QString::fromStdString(run.file("Brenvik.app"));
  QVERIFY(QDir().mkpath(app + "/qml/finaltk1"));
  testing_support::write_file(run.file("Brenvik.app/qml/finaltk1/main.qml"), "");
  const QString here = QDir::currentPath();
  QVERIFY(enter_run_folder("/nowhere/Brenvik.app"));  // the working directory holds it
  QCOMPARE(QDir::currentPath(), here);

  QVERIFY(QDir::setCurrent(app + "/qml"));
  QVERIFY(!enter_run_folder("/nowhere/Brenvik.app"));
  QCOMPARE(QDir::currentPath(), app + "/qml");
  QVERIFY(enter_run_folder(app));
  QCOMPARE(QDir::currentPath(), here);
}

void WindowTest::filesOpenedWithItAreReadFromWhereItStarted() {
  const QVariantList urls =
      opened_files({"take 1.mov", "/media/b.wav", "-style", "sub/../c.MP4"}, "/home/ed/event");
  QCOMPARE(urls, (QVariantList{QUrl::fromLocalFile("/home/ed/event/take 1.mov"),
                               QUrl::fromLocalFile("/media/b.wav"),
                               QUrl::fromLocalFile("/home/ed/event/c.MP4")}));
}

static RegisterSuite registration("Window", [] { return std::make_unique<WindowTest>(); });

#include "window_test.moc"
