// The file list model and the display roles the scene reads from it.

#include "app/animalmodel.h"
#include "app/filelistentries.h"
#include "tests/app/gui_test_support.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace gui_test;

namespace {

// createIndex reaches rows that index() would refuse, as a stale index would.
struct ProbeModel : AnimalModel {
  QModelIndex at(int r) const { return createIndex(r, 0); }
};

}  // namespace

class FileListTest : public QObject {
  Q_OBJECT

 private slots:
  void entriesAreAppendedAndCleared();
  void deviceGroupsAreShownAsGroups();
};

void FileListTest::entriesAreAppendedAndCleared() {
  ProbeModel model;
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
  QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
  QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
  model.addAnimal(Animal("/media/a.mov"));
  model.addAnimal(Animal(beginMarker()));
  model.addAnimal(Animal("/media/b.wav"));

  QCOMPARE(model.roleNames(), (QHash<int, QByteArray>{{Qt::UserRole + 1, "type"}}));
  QCOMPARE(model.rowCount(), 3);
  QCOMPARE(model.data(model.index(1), AnimalModel::TypeRole).toString(), beginMarker());
  QCOMPARE(model.dajmilista(), (QList<QString>{"/media/a.mov", beginMarker(), "/media/b.wav"}));
  QCOMPARE(inserted.count(), 3);
  QCOMPARE(inserted.at(2).at(1).toInt(), 2);  // first inserted row: the old count
  QCOMPARE(inserted.at(2).at(2).toInt(), 2);  // last inserted row: the same

  const int type = AnimalModel::TypeRole;  // other rows and roles are invalid
  for (const auto& [row, role] :
       {std::pair{-1, type}, {3, type}, {0, int(Qt::DisplayRole)}, {0, type + 1}})
    QVERIFY2(!model.data(model.at(row), role).isValid(),
             qPrintable(QString("row %1 role %2").arg(row).arg(role)));

  model.clearall();
  QCOMPARE(reset.count(), 1);
  QCOMPARE(model.rowCount(), 0);
  QVERIFY(model.dajmilista().isEmpty());
}

void FileListTest::deviceGroupsAreShownAsGroups() {
  AnimalModel model;
  FileListEntries entries;
  entries.setSourceModel(&model);
  QAbstractItemModelTester tester(&entries, QAbstractItemModelTester::FailureReportingMode::QtTest);
  const QStringList list = {"/shoot/cam a/A001.mov", beginMarker(), "/shoot/zoom/Z1.wav",
                            "/shoot/zoom/Z2.wav",    endMarker(),   "/shoot/čćž/Ünï.mp4",
                            beginMarker(),           endMarker()};
  QSignalSpy counted(&entries, &FileListEntries::mediaCountChanged);
  for (const QString& entry : list) model.addAnimal(Animal(entry));
  QCOMPARE(entries.mediaCount(), 4);
  QCOMPARE(counted.count(), 4);  // once per file, never for a marker

  struct Row {
    const char* kind;
    const char* name;
    const char* folder;
    bool in_group;
    int group_files;
  };
  const Row expected[] = {
      {"file", "A001.mov", "/shoot/cam a", false, 0}, {"begin", "", "", false, 0},
      {"file", "Z1.wav", "/shoot/zoom", true, 0},     {"file", "Z2.wav", "/shoot/zoom", true, 0},
      {"end", "", "", false, 2},                      {"file", "Ünï.mp4", "/shoot/čćž", false, 0},
      {"begin", "", "", false, 0},                    {"end", "", "", false, 0},
  };
  QCOMPARE(entries.rowCount(), int(std::size(expected)));
  for (int r = 0; r < entries.rowCount(); ++r) {
    const QModelIndex i = entries.index(r, 0);
    const Row& e = expected[r];
    const QByteArray where = "row " + QByteArray::number(r);
    QVERIFY2(i.data(FileListEntries::KindRole).toString() == e.kind, where);
    QVERIFY2(i.data(FileListEntries::FileNameRole).toString() == QString::fromUtf8(e.name), where);
    QVERIFY2(i.data(FileListEntries::FolderRole).toString() == QString::fromUtf8(e.folder), where);
    QVERIFY2(i.data(FileListEntries::InGroupRole).toBool() == e.in_group, where);
    QVERIFY2(i.data(FileListEntries::GroupFilesRole).toInt() == e.group_files, where);
    QVERIFY2(i.data(AnimalModel::TypeRole).toString() == list.at(r), where);
  }
  const QHash<int, QByteArray> names = entries.roleNames();
  for (const char* role : {"type", "fileName", "folder", "kind", "inGroup", "groupFiles"})
    QVERIFY2(names.values().contains(role), role);
  model.clearall();
  QCOMPARE(entries.mediaCount(), 0);
}

static RegisterSuite registration("FileList", [] { return std::make_unique<FileListTest>(); });

#include "file_list_test.moc"
