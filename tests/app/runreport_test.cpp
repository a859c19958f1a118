// What the window shows of an ended run, made from hand-built engine results.

#include "app/runreport.h"
#include "core/entries.h"
#include "tests/app/gui_test_support.h"

#include <QTest>

using namespace gui_test;

namespace {

TimelineMember member(int entry, const std::string& path, int device, double start) {
  TimelineMember m;
  m.entry = entry;
  m.path = path;
  m.device = device;
  m.exact_start = start;
  m.start = start;
  m.length = 61.5;
  return m;
}

QStringList names(const QVariant& rows) {
  QStringList list;
  for (const QVariant& row : rows.toList()) list << row.toMap().value("fileName").toString();
  return list;
}

}  // namespace

class RunReportTest : public QObject {
  Q_OBJECT

 private slots:
  void showsGroupsByStartAndEveryFileOnce();
  void namesHowTheRunEnded_data();
  void namesHowTheRunEnded();
  void clockTextCarriesTheMilliseconds();
  void rulerSpeaksTimecodeAtTheSequenceRate();
  void editorsDocumentComesFirst();
};

void RunReportTest::showsGroupsByStartAndEveryFileOnce() {
  RunResult r;
  r.entries = {"/s/cam.mov", kBeginMarker, "/s/zoom1.wav", "/s/zoom2.wav", kEndMarker,
               "/s/phone.mp4", "/s/other.mp3", "/s/broken.mov"};
  SyncGroup group;
  group.members = {member(0, "/s/cam.mov", 0, 12.25), member(2, "/s/zoom1.wav", 2, 0.0),
                   member(3, "/s/zoom2.wav", 2, 0.5), member(5, "/s/phone.mp4", 5, 3.5)};
  group.members[0].refined = true;
  group.members[0].rate_ppm = -12.34;
  group.members[0].envelope = {0.0f, 0.5f, 1.0f};
  group.members[1].rate_ppm = 45.04;
  group.members[1].corrected = "/out/corrected/zoom1.wav";
  group.members[3].reference_clock = true;
  group.members[3].length = 3.0;
  r.timeline.groups = {group};
  r.timeline.unsynced = {member(6, "/s/other.mp3", 6, 0), member(7, "/s/broken.mov", 7, 0)};
  r.unreadable = {{7, "Invalid data found when processing input"}};
  r.documents = {"/out/SYNCED_fcp.XML", "/out/SYNCED.otio", "/out/SYNCED-2.mlt", "/out/notes.txt"};
  r.media = {"/out/synced-media/cam (2).mov"};

  const QVariantMap shown = describe_run("mavo", r, false, "/elsewhere");

  const QVariantList groups = shown.value("groups").toList();
  QCOMPARE(groups.size(), 1);
  const QVariantList members = groups[0].toMap().value("members").toList();
  QCOMPARE(names(members), (QStringList{"zoom1.wav", "zoom2.wav", "phone.mp4", "cam.mov"}));
  QCOMPARE(members[3].toMap().value("startText").toString(), QString("+0:12.250"));
  QCOMPARE(members[3].toMap().value("driftText").toString(), QString("clock 12.3 ppm slow against the reference"));
  QCOMPARE(members[0].toMap().value("driftText").toString(),
           QString::fromUtf8("clock 45.0 ppm fast against the reference \u00B7 drift-corrected copy"));
  QCOMPARE(members[2].toMap().value("driftText").toString(), QString());
  // The reference is named as such, and its outline comes along, point by point.
  QList<bool> reference;
  for (const QVariant& m : members) reference << m.toMap().value("reference").toBool();
  QCOMPARE(reference, (QList<bool>{false, false, true, false}));
  QCOMPARE(members[3].toMap().value("envelope").toList(), (QVariantList{0.0, 0.5, 1.0}));
  QVERIFY(members[0].toMap().value("envelope").toList().isEmpty());
  // The room a name may take around its clip: up to the lane's neighbours, or the ends.
  const auto room = [&](int i) {
    const QVariantMap m = members[i].toMap();
    return QPair<double, double>(m.value("laneFrom").toDouble(), m.value("laneTo").toDouble());
  };
  QCOMPARE(room(0), (QPair<double, double>(0.0, 0.5)));
  QCOMPARE(room(1), (QPair<double, double>(61.5, 12.25 + 61.5)));
  QCOMPARE(room(2), (QPair<double, double>(0.0, 12.25 + 61.5)));
  QCOMPARE(room(3), (QPair<double, double>(0.0, 12.25 + 61.5)));
  // The recorder's two takes share a lane.
  QList<int> lanes;
  for (const QVariant& m : members) lanes << m.toMap().value("lane").toInt();
  QCOMPARE(lanes, (QList<int>{0, 0, 1, 2}));
  QCOMPARE(groups[0].toMap().value("span").toDouble(), 12.25 + 61.5);
  QCOMPARE(names(shown.value("unsynced")), QStringList{"other.mp3"});
  QCOMPARE(names(shown.value("unreadable")), QStringList{"broken.mov"});
  QVERIFY(shown.value("sentence").toString().contains("1 file could not be read"));
  const auto marks = file_marks("mavo", r);
  QCOMPARE(marks.value("/s/zoom2.wav").text, QString("in sync with 3 files"));
  QCOMPARE(marks.value("/s/other.mp3").kind, QString("alone"));
  QCOMPARE(marks.value("/s/broken.mov").kind, QString("unreadable"));
  QVERIFY(!marks.contains(kBeginMarker));

  const QVariantList documents = shown.value("documents").toList();
  QCOMPARE(names(documents), (QStringList{"SYNCED_fcp.XML", "SYNCED.otio", "SYNCED-2.mlt", "notes.txt",
                                          "synced-media/cam (2).mov"}));
  QVERIFY(documents[4].toMap().value("applications").toString().startsWith("any editor or player"));
  QCOMPARE(documents[0].toMap().value("applications").toString(), QString("Final Cut Pro 7, DaVinci Resolve"));
  QVERIFY(documents[2].toMap().value("applications").toString().startsWith("Shotcut"));
  QCOMPARE(documents[3].toMap().value("applications").toString(), QString());
  // Where the documents are, not where the run was told to write.
  QCOMPARE(shown.value("folder").toString(), QString("/out"));
}

void RunReportTest::namesHowTheRunEnded_data() {
  QTest::addColumn<QString>("answer");
  QTest::addColumn<QString>("error");
  QTest::addColumn<bool>("stopAsked");
  QTest::addColumn<QString>("state");
  QTest::addColumn<QString>("folder");
  QTest::addColumn<QStringList>("unsynced");
  const QStringList all = {"a.wav", "b.mov"};
  QTest::addRow("synced, no documents named") << "mavo" << "" << false << "synced" << "/run/SYNCED" << QStringList{};
  // A run without a pair builds no timeline; every file read is in sync with nothing.
  QTest::addRow("nothing in sync") << "nema" << "" << false << "nothing" << "" << all;
  QTest::addRow("failed") << "nema" << "disk full" << false << "failed" << "" << QStringList{};
  QTest::addRow("stopped") << "nema" << "the run was stopped" << true << "stopped" << "" << QStringList{};
  // Stop pressed too late: the run had already ended well.
  QTest::addRow("stop after the end") << "nema" << "" << true << "nothing" << "" << all;
}

void RunReportTest::namesHowTheRunEnded() {
  QFETCH(QString, answer);
  QFETCH(QString, error);
  QFETCH(bool, stopAsked);
  QFETCH(QString, state);
  QFETCH(QString, folder);
  QFETCH(QStringList, unsynced);
  RunResult r;
  r.entries = {kBeginMarker, "/s/a.wav", kEndMarker, "/s/b.mov"};
  r.error = error.toStdString();
  const QVariantMap shown = describe_run(answer, r, stopAsked, "/run/SYNCED");
  QCOMPARE(shown.value("state").toString(), state);
  QCOMPARE(shown.value("folder").toString(), folder);
  QCOMPARE(names(shown.value("unsynced")), unsynced);
  QCOMPARE(shown.value("sentence").toString().contains(error), state == "failed" || error.isEmpty());
}

void RunReportTest::clockTextCarriesTheMilliseconds() {
  QCOMPARE(clock_text(0.0), QString("0:00.000"));
  QCOMPARE(clock_text(59.9996), QString("1:00.000"));
  QCOMPARE(clock_text(3723.5), QString("1:02:03.500"));
  QCOMPARE(clock_text(-0.2), QString("0:00.000"));
}

void RunReportTest::rulerSpeaksTimecodeAtTheSequenceRate() {
  QCOMPARE(timecode_text(0.0, 25.0), QString("00:00:00:00"));
  QCOMPARE(timecode_text(61.52, 25.0), QString("00:01:01:13"));
  QCOMPARE(timecode_text(3723.5, 50.0), QString("01:02:03:25"));
  // 29.97 counts thirty to a timecode second, so a real minute is two frames short of one.
  QCOMPARE(timecode_text(60.0, 29.97), QString("00:00:59:28"));
  QCOMPARE(timecode_text(0.5, 23.976), QString("00:00:00:12"));

  RunResult r;
  r.entries = {"/s/a.wav", "/s/b.mov"};
  SyncGroup group;
  group.members = {member(0, "/s/a.wav", 0, 0.0), member(1, "/s/b.mov", 1, 10.0)};
  r.timeline.groups = {group};
  const QVariantList ticks =
      describe_run("mavo", r, false, "/o", 29.97).value("groups").toList()[0].toMap().value("ticks").toList();
  // 71.5 s: steps of ten, eight labels at most, from the start.
  QCOMPARE(ticks.size(), 8);
  QCOMPARE(ticks[1].toMap().value("at").toDouble(), 10.0);
  QCOMPARE(ticks[1].toMap().value("seconds").toString(), QString("10 s"));
  QCOMPARE(ticks[7].toMap().value("timecode").toString(), QString("00:01:09:28"));
}

// The user's editor gets its documents first, further groups' too; the unsynced files'
// documents only when some file did not sync.
void RunReportTest::editorsDocumentComesFirst() {
  RunResult r;
  r.entries = {"/s/a.wav", "/s/b.mov", "/s/c.mov"};
  SyncGroup group;
  group.members = {member(0, "/s/a.wav", 0, 0.0), member(1, "/s/b.mov", 1, 1.0)};
  r.timeline.groups = {group, group};
  r.documents = {"/o/SYNCED_fcp.XML", "/o/UNSYNCED_fcp.XML", "/o/SYNCED.fcpxml", "/o/UNSYNCED.fcpxml",
                 "/o/SYNCED.mlt", "/o/SYNCED-2.mlt", "/o/UNSYNCED.mlt"};
  const QVariantList all_synced = describe_run("mavo", r, false, "/o").value("documents").toList();
  QCOMPARE(names(all_synced), (QStringList{"SYNCED_fcp.XML", "SYNCED.fcpxml", "SYNCED.mlt", "SYNCED-2.mlt"}));

  r.timeline.unsynced = {member(2, "/s/c.mov", 2, 0.0)};
  const QVariantList documents = describe_run("mavo", r, false, "/o").value("documents").toList();
  QCOMPARE(documents.size(), 7);
  QVariantMap shotcut = arrange_documents(documents, "shotcut");
  QCOMPARE(shotcut.value("editor").toString(), QString("Shotcut"));
  QCOMPARE(names(shotcut.value("open")), (QStringList{"SYNCED.mlt", "SYNCED-2.mlt"}));
  QCOMPARE(names(shotcut.value("others")),
           (QStringList{"SYNCED_fcp.XML", "UNSYNCED_fcp.XML", "SYNCED.fcpxml", "UNSYNCED.fcpxml", "UNSYNCED.mlt"}));
  QCOMPARE(names(arrange_documents(documents, "resolve").value("open")), QStringList{"SYNCED.fcpxml"});
  // Other, and an editor whose document this run did not write, leave the list as it is.
  for (const char* key : {"other", "kdenlive"}) {
    const QVariantMap arranged = arrange_documents(documents, key);
    QCOMPARE(arranged.value("editor").toString(), QString());
    QCOMPARE(arranged.value("others").toList().size(), 7);
  }
}

static RegisterSuite registration("RunReport", [] { return std::make_unique<RunReportTest>(); });

#include "runreport_test.moc"
