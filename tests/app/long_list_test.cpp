// The window with 500 files in its list: dropping, picking, removing, scrolling and the
// result view stay right, and each step is one change of the model, not one per row.
// The times printed are for reading only; the machine is shared.

#include "core/entries.h"
#include "tests/app/gui_test_support.h"
#include "tests/support/test_support.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTest>


using namespace gui_test;
using testing_support::TempRunDir;

namespace {

constexpr int kFiles = 500;
constexpr int kSynced = 450;  // the rest are in sync with nothing
constexpr int kRunWaitMs = 60000;

// The real scene over a card folder of kFiles empty media files (and a note that is no
// media), with Qt's model checks on the list as the scene sees it.
struct LongList {
  TempRunDir dir;
  Window w;
  QString card = QString::fromStdString(dir.file("CARD"));
  QAbstractItemModelTester tester{w.controller.entries(), QAbstractItemModelTester::FailureReportingMode::QtTest};

  LongList() {
    QDir().mkpath(card);
    for (int i = 0; i < kFiles; ++i)
      testing_support::write_file(name(i).toStdString(), "");
    testing_support::write_file(dir.file("CARD/notes.txt"), "");
  }
  // Sorted by name as a dropped folder is read; every fifth a sound recording.
  QString name(int i) const {
    return card + QStringLiteral("/C%1.%2").arg(i, 4, 10, QLatin1Char('0')).arg(i % 5 == 0 ? "WAV" : "MP4");
  }
  QStringList drop() { return w.controller.addUrls({QUrl::fromLocalFile(card)}); }
  QQuickItem* list() const { return qobject_cast<QQuickItem*>(w.find("filelist")); }
  QString text(int row) const { return w.model.index(row, 0).data(AnimalModel::TypeRole).toString(); }
};

}  // namespace

class LongListTest : public QObject {
  Q_OBJECT

 private slots:
  void aDroppedCardIsTakenInAtOnceAndNeverTwice();
  void removingKeepsTheGroupsRight();
  void scrollsToTheEndAndBack();
  void theResultOfA500FileRunIsShownAndMarked();
};

void LongListTest::aDroppedCardIsTakenInAtOnceAndNeverTwice() {
  LongList l;
  QCOMPARE(l.w.load(BRENVIK_SCENE), QString());
  QSignalSpy inserted(&l.w.model, &QAbstractItemModel::rowsInserted);
  QCOMPARE(l.drop().size(), kFiles);
  QCOMPARE(inserted.count(), 1);
  QCOMPARE(l.w.controller.entries()->mediaCount(), kFiles);
  QCOMPARE(l.text(kFiles - 1), l.name(kFiles - 1));
  QCOMPARE(l.w.controller.status(), QString("Left out: notes.txt (not a recording)."));

  // The same card again, then a few of its files picked as one device: all refused.
  QVERIFY(l.drop().isEmpty());
  QVERIFY(l.w.controller.status().startsWith("Already in the list, so not added again: C0000.WAV, C0001.MP4"));
  l.w.controller.setFileDialog([&](const QString&, const QString&, const QString&) {
    return QStringList{l.name(3), l.name(7), QDir(l.card).filePath("../CARD/C0009.MP4")};
  });
  QVERIFY(l.w.controller.getFilesSelected2().isEmpty());
  QCOMPARE(l.w.model.rowCount(), kFiles);

  // New files are still taken, one by one as from a dialog, without a duplicate among them.
  for (int i = 0; i < 20; ++i) testing_support::write_file(l.dir.file("new" + std::to_string(i) + ".mov"), "");
  for (int i = 0; i < 20; ++i) {
    const QString file = QString::fromStdString(l.dir.file("new" + std::to_string(i) + ".mov"));
    l.w.controller.setFileDialog([=](const QString&, const QString&, const QString&) { return QStringList{file, file}; });
    QCOMPARE(l.w.controller.getFilesSelected(), QStringList{file});
  }
  QCOMPARE(l.w.controller.entries()->mediaCount(), kFiles + 20);
  QCOMPARE(l.w.warnings(), QStringList{});
}

void LongListTest::removingKeepsTheGroupsRight() {
  LongList l;
  QCOMPARE(l.w.load(BRENVIK_SCENE), QString());
  l.drop();
  const QString begin = beginMarker(), end = endMarker();
  // Files 490 to 499 again, as one device, after they were removed from the list.
  for (int i = 0; i < 10; ++i) l.w.controller.removeEntry(kFiles - 1 - i);
  QStringList device;
  for (int i = kFiles - 10; i < kFiles; ++i) device << l.name(i);
  l.w.controller.setFileDialog([&](const QString&, const QString&, const QString&) { return device; });
  QCOMPARE(l.w.controller.getFilesSelected2(), QStringList{begin} + device + QStringList{end});
  QCOMPARE(l.w.model.rowCount(), kFiles + 2);
  FileListEntries& shown = *l.w.controller.entries();
  QCOMPARE(shown.index(kFiles + 1, 0).data(FileListEntries::GroupFilesRole).toInt(), 10);
  QVERIFY(shown.index(kFiles, 0).data(FileListEntries::InGroupRole).toBool());
  QVERIFY(!shown.index(kFiles - 11, 0).data(FileListEntries::InGroupRole).toBool());

  // A file inside the group, a file above it, then the group by its head.
  l.w.controller.removeEntry(kFiles - 10 + 1 + 3);
  QCOMPARE(shown.index(kFiles, 0).data(FileListEntries::GroupFilesRole).toInt(), 9);
  l.w.controller.removeEntry(0);
  QCOMPARE(l.text(0), l.name(1));
  QCOMPARE(l.text(kFiles - 11), begin);
  l.w.controller.removeEntry(kFiles - 11);
  QCOMPARE(l.w.model.rowCount(), kFiles - 11);
  QCOMPARE(shown.mediaCount(), kFiles - 11);
  QCOMPARE(l.text(kFiles - 12), l.name(kFiles - 11));
  // Removed files can come back.
  QCOMPARE(l.drop().size(), 11);
  QCOMPARE(l.w.warnings(), QStringList{});
}

void LongListTest::scrollsToTheEndAndBack() {
  LongList l;
  QCOMPARE(l.w.load(BRENVIK_SCENE), QString());
  l.w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&l.w.view));
  l.drop();
  QQuickItem* list = l.list();
  QTRY_COMPARE(list->property("count").toInt(), kFiles);
  QTRY_COMPARE(l.w.find("listscroll")->property("policy").toInt(), int(Qt::ScrollBarAlwaysOn));

  QMetaObject::invokeMethod(list, "positionViewAtEnd");
  QTRY_VERIFY(list->property("atYEnd").toBool());
  QVERIFY(list->property("contentY").toDouble() > 0);
  // The last row is made and shows the last file.
  QQuickItem* last = nullptr;
  QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, last), Q_ARG(int, kFiles - 1));
  QVERIFY(last);
  QCOMPARE(last->property("fileName").toString(), QFileInfo(l.name(kFiles - 1)).fileName());

  // Removing the last rows while they are shown leaves the view at the new end.
  for (int i = 0; i < 5; ++i) l.w.controller.removeEntry(l.w.model.rowCount() - 1);
  QTRY_COMPARE(list->property("count").toInt(), kFiles - 5);
  QMetaObject::invokeMethod(list, "positionViewAtEnd");
  QTRY_VERIFY(list->property("atYEnd").toBool());
  QMetaObject::invokeMethod(list, "itemAtIndex", Q_RETURN_ARG(QQuickItem*, last), Q_ARG(int, kFiles - 6));
  QVERIFY(last);
  QCOMPARE(last->property("fileName").toString(), QFileInfo(l.name(kFiles - 6)).fileName());

  QMetaObject::invokeMethod(list, "positionViewAtBeginning");
  QTRY_VERIFY(list->property("atYBeginning").toBool());
  QCOMPARE(l.w.warnings(), QStringList{});
}

// A run whose result names every one of the 500 files: the view shows them all and
// every entry of the list gets its mark.
void LongListTest::theResultOfA500FileRunIsShownAndMarked() {
  LongList l;
  QCOMPARE(l.w.load(BRENVIK_SCENE), QString());
  l.w.view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&l.w.view));
  l.drop();
  EngineStub stub;
  stub.answer = "mavo";
  stub.during = [](const SyncOptions& options) {
    RunResult& r = *options.result;
    // The entries as run come from the stub's copy below; the timeline places them.
    SyncGroup group;
    for (int i = 0; i < kFiles; ++i) {
      TimelineMember m;
      m.entry = i;
      m.path = r.entries[static_cast<std::size_t>(i)];
      m.device = i;
      m.frame_rate = i % 5 == 0 ? 999.0f : 25.0f;
      m.exact_start = m.start = 2.0 * i;
      m.length = 60.0;
      if (i < kSynced) group.members.push_back(m);
      else r.timeline.unsynced.push_back(m);
    }
    r.timeline.groups.push_back(group);
  };
  l.w.controller.setEngine([&stub, inner = stub.engine()](std::vector<std::string> files, const RunSettings& s,
                                                            const SyncOptions& options) {
    options.result->entries = files;
    return inner(std::move(files), s, options);
  });
  QSignalSpy ended(&l.w.controller, &QMLFile::send2gui);
  QMetaObject::invokeMethod(l.w.view.rootObject(), "startRun");
  QVERIFY(ended.wait(kRunWaitMs));
  QTRY_COMPARE(l.w.find("done")->property("opacity").toDouble(), 1.0);
  QCOMPARE(stub.files.size(), std::size_t(kFiles));
  QCOMPARE(l.w.find("tabs")->property("currentIndex").toInt(), 1);

  // One timeline of one lane per device, and a text row per placement and per unsynced file.
  QQuickItem* view = qobject_cast<QQuickItem*>(l.w.find("resultview"));
  QVERIFY(view);
  QQuickItem* timeline = find_item(view, "timeline");
  QVERIFY(timeline);
  QCOMPARE(qRound(timeline->height()), kSynced * 30 + 8);
  QVERIFY(view->property("contentHeight").toDouble() > timeline->height() + kFiles * 14);
  view->setProperty("contentY", view->property("contentHeight").toDouble() - view->height());
  QVERIFY(view->property("atYEnd").toBool());

  const QAbstractItemModel& shown = *l.w.controller.entries();
  int synced = 0, alone = 0;
  for (int row = 0; row < shown.rowCount(); ++row) {
    const QString kind = shown.index(row, 0).data(FileListEntries::MarkKindRole).toString();
    synced += kind == "synced";
    alone += kind == "alone";
  }
  QCOMPARE(synced, kSynced);
  QCOMPARE(alone, kFiles - kSynced);
  QCOMPARE(shown.index(0, 0).data(FileListEntries::MarkRole).toString(),
           QStringLiteral("in sync with %1 files").arg(kSynced - 1));
  QCOMPARE(l.w.warnings(), QStringList{});
}

static RegisterSuite registration("LongList", [] { return std::make_unique<LongListTest>(); });

#include "long_list_test.moc"
