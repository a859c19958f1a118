#include "app/filelistentries.h"

#include "app/animalmodel.h"
#include "core/entries.h"
#include "core/media_names.h"

#include <QDir>
#include <QFileInfo>

namespace {

enum class Kind { File, Begin, End };

Kind kind_of(const QString& text) {
  static const QString begin = QString::fromUtf8(kBeginMarker);
  static const QString end = QString::fromUtf8(kEndMarker);
  if (text == begin) return Kind::Begin;
  if (text == end) return Kind::End;
  return Kind::File;
}

QString kind_name(Kind kind) {
  switch (kind) {
    case Kind::Begin: return QStringLiteral("begin");
    case Kind::End: return QStringLiteral("end");
    case Kind::File: break;
  }
  return QStringLiteral("file");
}

}  // namespace

FileListEntries::FileListEntries(QObject* parent) : QIdentityProxyModel(parent) {}

void FileListEntries::setSourceModel(QAbstractItemModel* source) {
  if (sourceModel()) disconnect(sourceModel(), nullptr, this, nullptr);
  QIdentityProxyModel::setSourceModel(source);
  if (source) {
    connect(source, &QAbstractItemModel::rowsInserted, this, &FileListEntries::recount);
    connect(source, &QAbstractItemModel::rowsRemoved, this, [this] {
      // A group's foot counts its files, which a removal above it may have changed.
      if (rowCount() > 0)
        emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {GroupFilesRole});
      recount();
    });
    connect(source, &QAbstractItemModel::modelReset, this, &FileListEntries::recount);
  }
  recount();
}

void FileListEntries::setMarks(QHash<QString, Mark> marks) {
  marks_ = std::move(marks);
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {MarkRole, MarkKindRole});
}

QString FileListEntries::textAt(int row) const {
  return sourceModel()->index(row, 0).data(AnimalModel::TypeRole).toString();
}

void FileListEntries::recount() {
  int count = 0;
  const int rows = sourceModel() ? sourceModel()->rowCount() : 0;
  for (int row = 0; row < rows; ++row) count += kind_of(textAt(row)) == Kind::File ? 1 : 0;
  if (count == media_count_) return;
  media_count_ = count;
  emit mediaCountChanged();
}

QVariant FileListEntries::data(const QModelIndex& index, int role) const {
  if (role < FileNameRole || !sourceModel() || !checkIndex(index, CheckIndexOption::IndexIsValid))
    return QIdentityProxyModel::data(index, role);
  const int row = index.row();
  const QString text = textAt(row);
  const Kind kind = kind_of(text);
  switch (role) {
    case FileNameRole:
      return kind == Kind::File ? QFileInfo(text).fileName() : QString();
    case FolderRole:
      return kind == Kind::File ? QDir::toNativeSeparators(QFileInfo(text).path()) : QString();
    case KindRole:
      return kind_name(kind);
    case InGroupRole: {
      if (kind != Kind::File) return false;
      // Entries are appended, cleared, or removed a file or a whole group at a time, so
      // whether a file is inside a group never changes while it is listed.
      for (int r = row - 1; r >= 0; --r) {
        const Kind before = kind_of(textAt(r));
        if (before != Kind::File) return before == Kind::Begin;
      }
      return false;
    }
    case GroupFilesRole: {
      if (kind != Kind::End) return 0;
      int files = 0;
      for (int r = row - 1; r >= 0 && kind_of(textAt(r)) == Kind::File; --r) ++files;
      return files;
    }
    case MarkRole:
      return marks_.value(text).text;
    case MarkKindRole:
      return marks_.value(text).kind;
    case FoundRole: {
      if (kind != Kind::Begin) return QString();
      QStringList files;
      for (int r = row + 1; r < rowCount() && kind_of(textAt(r)) == Kind::File; ++r) files << textAt(r);
      for (const FoundGroup& g : found_)
        if (g.files == files) return g.text;
      return QString();
    }
    case SoundOnlyRole:
      return kind == Kind::File && is_sound_only_name(text.toStdString());
    default:
      return {};
  }
}

QHash<int, QByteArray> FileListEntries::roleNames() const {
  QHash<int, QByteArray> names = QIdentityProxyModel::roleNames();
  names.insert(FileNameRole, "fileName");
  names.insert(FolderRole, "folder");
  names.insert(KindRole, "kind");
  names.insert(InGroupRole, "inGroup");
  names.insert(GroupFilesRole, "groupFiles");
  names.insert(MarkRole, "mark");
  names.insert(MarkKindRole, "markKind");
  names.insert(SoundOnlyRole, "soundOnly");
  names.insert(FoundRole, "found");
  return names;
}

void FileListEntries::setFoundGroups(QList<FoundGroup> groups) {
  found_ = std::move(groups);
  if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, 0), {FoundRole});
}
