#include "app/filelist.h"

#include "app/animalmodel.h"
#include "core/entries.h"
#include "core/media_names.h"
#include "core/parallel.h"
#include "core/process.h"
#include "engine/found_devices.h"
#include "media/device_proposal.h"
#include "media/streams.h"

#include <QSet>

#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

namespace {

bool is_marker_text(const QString& entry) { return is_marker(entry.toStdString()); }

// A file twice in one run would be synced with itself.
QString identity(const QString& entry) {
  const QString canonical = QFileInfo(entry).canonicalFilePath();
  return canonical.isEmpty() ? entry : canonical;
}

}  // namespace

FileList::FileList(AnimalModel& model, QObject* parent) : QObject(parent), model_(model) {
  entries_.setSourceModel(&model_);
  listRows(0, model_.rowCount() - 1);
  connect(&model_, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
    listRows(first, last);
    emit changed();
  });
  connect(&model_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
          [this](const QModelIndex&, int first, int last) { unlistRows(first, last); });
  connect(&model_, &QAbstractItemModel::rowsRemoved, this, &FileList::changed);
  connect(&model_, &QAbstractItemModel::modelReset, this, [this] {
    identities_.clear();
    listed_.clear();
    listRows(0, model_.rowCount() - 1);
    emit changed();
  });
}

void FileList::listRows(int first, int last) {
  QList<QString> added;
  for (int row = first; row <= last; ++row) {
    const QString entry = model_.index(row, 0).data(AnimalModel::TypeRole).toString();
    added << (is_marker_text(entry) ? QString() : identity(entry));
    if (!added.back().isEmpty()) ++listed_[added.back()];
  }
  identities_.insert(first, added.size(), QString());
  std::copy(added.begin(), added.end(), identities_.begin() + first);
}

void FileList::unlistRows(int first, int last) {
  for (int row = first; row <= last; ++row) {
    const QString& file = identities_.at(row);
    if (!file.isEmpty() && --listed_[file] <= 0) listed_.remove(file);
  }
  identities_.remove(first, last - first + 1);
}

QList<QString> FileList::snapshot() const { return model_.dajmilista(); }

FileList::Edit FileList::append(const QStringList& entries) {
  QHash<QString, int> taken;  // files of this edit, which the model does not hold yet
  QStringList refused;
  Edit edit;
  for (const QString& entry : entries) {
    if (is_marker_text(entry)) {
      // A group whose files were all refused would be an empty group in the list.
      if (entry == QString::fromUtf8(kEndMarker) && !edit.added.isEmpty() &&
          edit.added.back() == QString::fromUtf8(kBeginMarker))
        edit.added.removeLast();
      else
        edit.added << entry;
      continue;
    }
    const QString file = identity(entry);
    if (listed_.contains(file) || taken.contains(file)) {
      refused << QFileInfo(entry).fileName();
      continue;
    }
    // A file that is not there is kept: the list marks it, and a run refuses it aloud.
    if (QFileInfo(entry).isFile() && !is_recording(entry.toStdString())) {
      edit.not_recordings << entry;
      continue;
    }
    taken.insert(file, 1);
    edit.added << entry;
  }
  QList<Animal> animals;
  animals.reserve(edit.added.size());
  for (const QString& entry : edit.added) animals.append(Animal(entry));
  model_.addAnimals(animals);
  QStringList notices;
  if (!refused.isEmpty())
    notices << QStringLiteral("Already in the list, so not added again: %1.").arg(refused.join(QStringLiteral(", ")));
  QStringList names;
  for (const QString& entry : edit.not_recordings) names << QFileInfo(entry).fileName();
  if (names.size() == 1)
    notices << QStringLiteral("Left out: %1 (not a recording).").arg(names.front());
  else if (!names.isEmpty())
    notices << QStringLiteral("Left out: %1 (not recordings).").arg(names.join(QStringLiteral(", ")));
  edit.notice = notices.join(QLatin1Char(' '));
  if (!edit.added.isEmpty()) readCluesThenGroup(edit.added);
  return edit;
}

void FileList::readCluesThenGroup(const QStringList& added) {
  std::vector<std::string> paths;
  QList<QString> identities;
  const QList<QString> listed = model_.dajmilista();
  for (qsizetype i = 0; i < listed.size(); ++i) {
    const QString& id = identities_.at(i);
    if (id.isEmpty() || clues_.contains(id) || reading_.contains(id)) continue;
    reading_.insert(id);
    identities << id;
    paths.push_back(listed.at(i).toStdString());
  }
  // Grouped after the edit either way, so that its notice follows the edit's.
  if (paths.empty()) {
    QMetaObject::invokeMethod(this, [this, added] { groupFoundDevices(added); }, Qt::QueuedConnection);
    return;
  }
  readers_.start([this, paths, identities, added] {
    auto read = std::make_shared<std::vector<DeviceClues>>(paths.size());
    ordered_parallel_for(static_cast<int>(paths.size()), worker_count(), [&](int k) {
      (*read)[static_cast<std::size_t>(k)] = media_start(paths[static_cast<std::size_t>(k)]).clues;
    }, [](int) {});
    QMetaObject::invokeMethod(this, [this, read, identities, added] {
      for (qsizetype k = 0; k < identities.size(); ++k) {
        clues_.insert(identities.at(k), read->at(static_cast<std::size_t>(k)));
        reading_.remove(identities.at(k));
      }
      groupFoundDevices(added);
    }, Qt::QueuedConnection);
  });
}

void FileList::groupFoundDevices(const QStringList& added) {
  std::vector<std::string> files;
  for (const QString& entry : model_.dajmilista()) files.push_back(entry.toStdString());
  std::vector<DeviceClues> clues;
  for (std::size_t i = 0; i < files.size(); ++i)
    clues.push_back(is_marker(files[i]) ? DeviceClues{} : clues_.value(identities_.at(static_cast<qsizetype>(i))));
  DeviceProposal proposal = propose_devices(files, clues);
  // Only devices the new files join: a grouping undone stays undone until more of its files come.
  const QSet<QString> fresh(added.begin(), added.end());
  std::erase_if(proposal.devices, [&](const FoundDevice& d) {
    return std::none_of(d.entries.begin(), d.entries.end(),
                        [&](int e) { return fresh.contains(QString::fromStdString(files[static_cast<std::size_t>(e)])); });
  });
  if (proposal.devices.empty()) return;
  std::vector<int> moved;
  const std::vector<std::string> grouped = bracket_devices(files, proposal.devices, moved);
  keepForUndo();
  model_.clearall();
  QList<Animal> animals;
  for (const std::string& entry : grouped) animals.append(Animal(QString::fromStdString(entry)));
  model_.addAnimals(animals);
  QStringList notices;
  for (const FoundDevice& d : proposal.devices) {
    notices << QStringLiteral("Taken as one device, %1 Undo if they are not.")
                   .arg(QString::fromStdString(found_device_text(d, grouped)) + QLatin1Char('.'));
    FoundGroup group{{}, d};
    const int first = d.entries.front();
    for (int& e : group.device.entries) {
      group.files << QString::fromStdString(grouped[static_cast<std::size_t>(e)]);
      e -= first;
    }
    for (int& t : group.device.takes) t -= first;
    // The same files grouped again after an Undo are one group, handed to a run once.
    found_.removeIf([&](const FoundGroup& g) { return g.files == group.files; });
    found_.append(group);
  }
  QList<FileListEntries::FoundGroup> shown;
  for (const FoundGroup& g : found_)
    shown.append({g.files, QString::fromStdString((g.device.name.empty() ? "" : g.device.name + ", ") + g.device.reason)});
  entries_.setFoundGroups(shown);
  emit devicesGrouped(notices.join(QLatin1Char(' ')));
}

std::vector<FoundDevice> FileList::foundDevices() const {
  const QList<QString> listed = model_.dajmilista();
  std::vector<FoundDevice> devices;
  for (const FoundGroup& g : found_) {
    const qsizetype n = g.files.size();
    for (qsizetype i = 1; i + n < listed.size(); ++i) {
      if (listed.at(i) != g.files.front() || listed.at(i - 1) != QString::fromUtf8(kBeginMarker) ||
          listed.at(i + n) != QString::fromUtf8(kEndMarker) || listed.mid(i, n) != g.files)
        continue;
      FoundDevice d = g.device;
      for (int& e : d.entries) e += static_cast<int>(i);
      for (int& t : d.takes) t += static_cast<int>(i);
      devices.push_back(std::move(d));
      break;
    }
  }
  return devices;
}

FileList::Edit FileList::appendDevice(const QStringList& files) {
  if (files.isEmpty()) return {};
  return append(QStringList{QString::fromUtf8(kBeginMarker)} + files +
                QStringList{QString::fromUtf8(kEndMarker)});
}

FileList::Edit FileList::appendDropped(const QVariantList& urls) {
  QStringList found;
  QList<QPair<QString, QStringList>> folders;  // each dropped folder's name and its files
  for (const QVariant& value : urls) {
    const QUrl url = value.toUrl();
    if (!url.isLocalFile()) continue;
    const QFileInfo dropped(url.toLocalFile());
    // A dropped folder brings the media directly in it, as a card's clip folder would.
    const QFileInfoList files = dropped.isDir()
        ? QDir(dropped.absoluteFilePath()).entryInfoList(QDir::Files, QDir::Name)
        : QFileInfoList{dropped};
    QStringList held;
    for (const QFileInfo& file : files)
      if (file.isFile()) held << file.absoluteFilePath();
    found << held;
    if (dropped.isDir()) folders.append({dropped.fileName(), held});
  }
  Edit edit = append(found);
  QStringList empty_folders;
  for (const auto& [name, held] : folders)
    if (std::all_of(held.begin(), held.end(), [&](const QString& f) { return edit.not_recordings.contains(f); }))
      empty_folders << name;
  QStringList notices;
  if (!edit.notice.isEmpty()) notices << edit.notice;
  if (!empty_folders.isEmpty())
    notices << QStringLiteral("No media files directly in %1.").arg(empty_folders.join(QStringLiteral(", ")));
  edit.notice = notices.join(QLatin1Char(' '));
  return edit;
}

bool FileList::remove(int row) { return removeRows({row}); }

bool FileList::removeRows(const QList<int>& picked) {
  QList<int> sorted = picked;
  std::sort(sorted.begin(), sorted.end());
  QList<int> rows;
  for (int row : sorted)
    if (row >= 0 && row < model_.rowCount()) spanOf(row, rows);
  if (rows.isEmpty()) return false;
  keepForUndo();
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  // From the end, in runs of neighbours, so that the rows still to go keep their numbers.
  for (auto last = rows.size() - 1; last >= 0;) {
    auto first = last;
    while (first > 0 && rows[first - 1] == rows[first] - 1) --first;
    model_.removeEntries(rows[first], static_cast<int>(last - first + 1));
    last = first - 1;
  }
  return true;
}

void FileList::keepForUndo() {
  // Enough to take back a run of slips, not a history.
  constexpr qsizetype kUndoSteps = 20;
  undo_.append(model_.dajmilista());
  if (undo_.size() > kUndoSteps) undo_.removeFirst();
}

bool FileList::undo() {
  if (undo_.isEmpty()) return false;
  const QList<QString> before = undo_.takeLast();
  model_.clearall();
  QList<Animal> animals;
  for (const QString& entry : before) animals.append(Animal(entry));
  model_.addAnimals(animals);
  return true;
}

void FileList::spanOf(int row, QList<int>& out) const {
  const int rows = model_.rowCount();
  const auto text = [this](int r) { return model_.index(r, 0).data(AnimalModel::TypeRole).toString(); };
  const QString begin = QString::fromUtf8(kBeginMarker), end = QString::fromUtf8(kEndMarker);
  int first = row;
  int last = row;
  if (text(row) == begin) {
    while (last + 1 < rows && text(last) != end) ++last;
  } else if (text(row) == end) {
    while (first > 0 && text(first) != begin) --first;
  } else if (first > 0 && last + 1 < rows && text(first - 1) == begin && text(last + 1) == end) {
    --first;
    ++last;
  }
  for (int r = first; r <= last; ++r) out << r;
  // A group whose files all go, one by one, goes with them.
  if (text(row) != begin && text(row) != end && first == row) {
    int head = row, foot = row;
    while (head > 0 && text(head - 1) != begin && text(head - 1) != end) --head;
    while (foot + 1 < rows && text(foot + 1) != begin && text(foot + 1) != end) ++foot;
    if (head > 0 && foot + 1 < rows && text(head - 1) == begin && text(foot + 1) == end) {
      bool all = true;
      for (int r = head; r <= foot && all; ++r) all = out.contains(r);
      if (all) out << head - 1 << foot + 1;
    }
  }
}

void FileList::clear() {
  if (model_.rowCount() > 0) keepForUndo();
  entries_.setMarks({});
  model_.clearall();
}

void FileList::forgetRunMarks() {
  QHash<QString, FileListEntries::Mark> kept;
  const QHash<QString, FileListEntries::Mark>& marks = entries_.marks();
  for (auto it = marks.begin(); it != marks.end(); ++it)
    if (it->kind == QLatin1String("missing") || it->kind == QLatin1String("unreadable")) kept.insert(it.key(), *it);
  if (kept.size() != marks.size()) entries_.setMarks(std::move(kept));
}

QStringList FileList::markMissing() {
  QStringList missing;
  QHash<QString, FileListEntries::Mark> marks;
  for (const QString& entry : model_.dajmilista()) {
    if (is_marker_text(entry)) continue;
    const QFileInfo file(entry);
    if (file.isFile() && file.isReadable()) continue;
    missing << entry;
    marks.insert(entry, {QStringLiteral("missing"), QStringLiteral("cannot be read")});
  }
  entries_.setMarks(std::move(marks));
  return missing;
}
