#pragma once
// The edits of the file list: picked and dropped media appended without a file twice,
// device groups kept whole, and the marks a run or a refused start leaves on files.

#include "app/filelistentries.h"
#include "core/results.h"
#include "media/device_clues.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QThreadPool>
#include <QVariantList>

class AnimalModel;

class FileList : public QObject {
  Q_OBJECT

 public:
  // What an edit did: the entries it added, and one or more sentences on what it left
  // out and why; empty when it took everything.
  struct Edit {
    QStringList added;
    QStringList not_recordings;  // the files left out as no recordings (is_recording)
    QString notice;
  };

  explicit FileList(AnimalModel& model, QObject* parent = nullptr);

  FileListEntries* entries() { return &entries_; }
  // The entries in list order, markers included: what a run is handed.
  QList<QString> snapshot() const;

  // Appends media paths and group markers in order, leaving out files already listed and
  // files that are not recordings; a file not there is taken, for the list to mark. The
  // files added that are one device with others outside the groups by what they say of it
  // (media/device_proposal.h) are grouped as that device once their containers are read,
  // off this thread, and devicesGrouped says so; Undo takes the grouping back.
  Edit append(const QStringList& entries);
  // Appends files recorded on one device between the two group markers.
  Edit appendDevice(const QStringList& files);
  // Appends the local media files among dropped URLs, and those directly in a dropped
  // folder; remote URLs are skipped, files that are not recordings named in the notice.
  Edit appendDropped(const QVariantList& urls);
  // Removes the entry at `row`: a file, or a whole device group when `row` is one of its
  // markers; a group left without files goes too. False when `row` is no entry.
  bool remove(int row);
  // Removes the entries at `rows` as remove() would each, in one edit; false when none
  // of them is an entry.
  bool removeRows(const QList<int>& rows);
  void clear();

  // The list as it was before the last removals or clearing, back; false when there is
  // nothing to undo. Adding files is undone by removing them.
  bool undo();
  bool canUndo() const { return !undo_.isEmpty(); }

  // The groups of the list as grouping found them from the files, still whole and as
  // they were grouped, by their positions in snapshot(): what the run's sound checks.
  std::vector<FoundDevice> foundDevices() const;

  // Marks the media entries that cannot be read now, and only those; returns them.
  QStringList markMissing();
  void setMarks(QHash<QString, FileListEntries::Mark> marks) { entries_.setMarks(std::move(marks)); }
  // Drops the marks that say how a file fared against the others of a run ("in sync with
  // 3 files"), which a changed list makes untrue; a file that cannot be read stays marked.
  void forgetRunMarks();

 signals:
  // Entries were added, removed or cleared.
  void changed();
  // Files just added were grouped as devices; one sentence each, with its reason.
  void devicesGrouped(const QString& notice);

 private:
  // The rows remove(row) takes away: a group's markers bring its files, and a group left
  // without files goes too.
  void spanOf(int row, QList<int>& rows) const;
  void keepForUndo();
  // Reads the containers of the listed files not read yet, off this thread (hundreds of
  // files take seconds), then groups the devices the files of `added` are one of.
  void readCluesThenGroup(const QStringList& added);
  void groupFoundDevices(const QStringList& added);
  void listRows(int first, int last);
  void unlistRows(int first, int last);

  AnimalModel& model_;
  FileListEntries entries_;
  // What each row is on disk (links and relative names seen through; empty for a
  // marker), as it was when the row was added, and how often each is listed. Kept with
  // the model's rows so that an append costs what it adds, not what is listed already.
  QList<QString> identities_;
  QHash<QString, int> listed_;
  // What each file says of its device, read once, when it was first added; by identity.
  QHash<QString, DeviceClues> clues_;
  QSet<QString> reading_;  // identities whose clues a reader has not brought back yet
  // Each group found from the files: its entries as grouped, and the device with its
  // positions counted from the group's first file.
  struct FoundGroup {
    QStringList files;
    FoundDevice device;
  };
  QList<FoundGroup> found_;
  QList<QList<QString>> undo_;  // lists before each removal or clearing, latest last
  // Last, so that it is the first to go: it waits for its readers, whose results are
  // delivered to this object.
  QThreadPool readers_;
};
