#pragma once
// The file list as the scene shows it: file name and folder apart, and the
// device-group markers turned into the start and end of a visible group.

#include <QHash>
#include <QIdentityProxyModel>

// Adds display roles on top of the file list; the list itself keeps its single
// "type" role, which is what a run reads.
class FileListEntries : public QIdentityProxyModel {
  Q_OBJECT
  Q_PROPERTY(int mediaCount READ mediaCount NOTIFY mediaCountChanged)

 public:
  enum Roles {
    FileNameRole = Qt::UserRole + 2,  // after the list's own "type" role
    FolderRole,
    KindRole,        // "file", "begin" or "end"
    InGroupRole,     // a file between a BEGIN marker and its END
    GroupFilesRole,  // on an "end" entry: the files in the group it closes
    MarkRole,        // what the last run, or the last refused start, found of the file
    MarkKindRole,    // "synced", "alone", "unreadable", "missing", or empty
    SoundOnlyRole,   // a file whose extension names a recording without picture
    FoundRole,       // on a "begin" entry of a group found from the files: its device and why
  };

  // A group found from what its files say, and what the list says of it.
  struct FoundGroup {
    QStringList files;
    QString text;  // "Sony FX3, same model, numbered, one folder"
  };

  struct Mark {
    QString kind;
    QString text;
  };

  explicit FileListEntries(QObject* parent = nullptr);

  // Entries that are media files, markers not counted.
  int mediaCount() const { return media_count_; }

  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QHash<int, QByteArray> roleNames() const override;
  void setSourceModel(QAbstractItemModel* source) override;
  // Marks files by their list text; a file without a mark shows none.
  void setMarks(QHash<QString, Mark> marks);
  const QHash<QString, Mark>& marks() const { return marks_; }
  // The groups found from the files; a group shows its text while it holds those files.
  void setFoundGroups(QList<FoundGroup> groups);

 signals:
  void mediaCountChanged();

 private:
  QString textAt(int row) const;
  void recount();

  int media_count_ = 0;
  QHash<QString, Mark> marks_;
  QList<FoundGroup> found_;
};
