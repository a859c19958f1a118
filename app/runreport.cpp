#include "app/runreport.h"

#include "core/entries.h"
#include "core/paths.h"
#include "engine/media_copies.h"
#include "export/formats.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>

namespace {

// Drift below this is measuring noise on short overlaps, not a clock worth naming.
constexpr double kDriftShownPpm = 0.5;

QString text(const std::string& utf8) { return QString::fromStdString(utf8); }

QVariantMap file_row(const QString& path) {
  const QFileInfo file(path);
  return {{QStringLiteral("fileName"), file.fileName()},
          {QStringLiteral("folder"), QDir::toNativeSeparators(file.path())}};
}

// The outline as the scene draws it: numbers in a list.
QVariantList envelope_row(const std::vector<float>& peaks) {
  QVariantList row;
  row.reserve(static_cast<qsizetype>(peaks.size()));
  for (float peak : peaks) row << static_cast<double>(peak);
  return row;
}

QVariantMap member_row(const TimelineMember& member, int lane) {
  QVariantMap row = file_row(text(member.path));
  row[QStringLiteral("start")] = member.exact_start;
  row[QStringLiteral("length")] = member.length;
  row[QStringLiteral("startText")] = QStringLiteral("+") + clock_text(member.exact_start);
  row[QStringLiteral("lengthText")] = clock_text(member.length);
  row[QStringLiteral("refined")] = member.refined;
  // The device's clock against the group's reference, and whether the timelines play a
  // copy of its sound moved onto the reference clock.
  QString drift;
  if (std::abs(member.rate_ppm) >= kDriftShownPpm && !member.reference_clock)
    drift = QStringLiteral("clock %1 ppm %2 against the reference")
                .arg(std::abs(member.rate_ppm), 0, 'f', 1)
                .arg(member.rate_ppm > 0 ? QStringLiteral("fast") : QStringLiteral("slow"));
  if (!member.corrected.empty()) drift += QStringLiteral(" \u00B7 drift-corrected copy");
  row[QStringLiteral("driftText")] = drift;
  row[QStringLiteral("reference")] = member.reference_clock;
  row[QStringLiteral("envelope")] = envelope_row(member.envelope);
  row[QStringLiteral("audioOnly")] = member.audio_only();
  row[QStringLiteral("timecodeText")] =
      member.timecode.present() ? QStringLiteral("TC ") + text(member.timecode.text) : QString();
  row[QStringLiteral("lane")] = lane;
  return row;
}

// Steps a ruler may take, seconds: the smallest that keeps it to kMostTicks labels.
constexpr double kTickSteps[] = {1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200};
constexpr int kMostTicks = 8;

QVariantList ruler_ticks(double span, double fps) {
  double step = kTickSteps[std::size(kTickSteps) - 1];
  for (double s : kTickSteps)
    if (span / s <= kMostTicks) {
      step = s;
      break;
    }
  QVariantList ticks;
  for (int k = 0; k * step <= span + 1e-9; ++k)
    ticks << QVariantMap{{QStringLiteral("at"), k * step},
                         {QStringLiteral("timecode"), timecode_text(k * step, fps)},
                         {QStringLiteral("seconds"), QStringLiteral("%1 s").arg(k * step)}};
  return ticks;
}

// One lane per device, in the order the devices start; a device's files share its lane.
QVariantList group_rows(const Timeline& timeline, double fps) {
  QVariantList groups;
  for (const SyncGroup& group : timeline.groups) {
    std::vector<TimelineMember> members = group.members;
    std::stable_sort(members.begin(), members.end(),
                     [](const TimelineMember& a, const TimelineMember& b) {
                       return a.exact_start < b.exact_start;
                     });
    std::vector<int> devices;
    QVariantList rows;
    double span = 0.0;
    // Where the lane's previous file ends, by lane: a short clip's name may use the room
    // around it up to its neighbours.
    std::vector<double> lane_end;
    std::vector<int> last_in_lane;
    for (const TimelineMember& m : members) {
      auto lane = std::find(devices.begin(), devices.end(), m.device);
      if (lane == devices.end()) lane = devices.insert(devices.end(), m.device);
      const auto at = static_cast<std::size_t>(lane - devices.begin());
      if (at >= lane_end.size()) {
        lane_end.resize(at + 1, 0.0);
        last_in_lane.resize(at + 1, -1);
      }
      QVariantMap row = member_row(m, static_cast<int>(at));
      row[QStringLiteral("laneFrom")] = lane_end[at];
      if (last_in_lane[at] >= 0) {
        QVariantMap before = rows[last_in_lane[at]].toMap();
        before[QStringLiteral("laneTo")] = m.exact_start;
        rows[last_in_lane[at]] = before;
      }
      last_in_lane[at] = static_cast<int>(rows.size());
      lane_end[at] = m.exact_start + m.length;
      rows << row;
      span = std::max(span, m.exact_start + m.length);
    }
    for (QVariant& row : rows) {
      QVariantMap map = row.toMap();
      if (!map.contains(QStringLiteral("laneTo"))) map[QStringLiteral("laneTo")] = span;
      row = map;
    }
    // The sound the ready-to-cut clips give the cameras, by its device's first file.
    QString main_sound;
    for (const TimelineMember& m : group.members)
      if (m.device == group.main_sound && main_sound.isEmpty()) main_sound = QFileInfo(text(m.path)).fileName();
    groups << QVariantMap{{QStringLiteral("mainSound"), main_sound},
                          {QStringLiteral("members"), rows},
                          {QStringLiteral("lanes"), static_cast<int>(devices.size())},
                          {QStringLiteral("span"), span},
                          {QStringLiteral("spanText"), clock_text(span)},
                          {QStringLiteral("ticks"), ruler_ticks(span, fps)}};
  }
  return groups;
}

// Files that were read and joined no group. A run that found no pair builds no
// timeline, so then these are every readable media entry.
QVariantList unsynced_rows(const QString& answer, const RunResult& result, const QSet<int>& unreadable) {
  QVariantList rows;
  if (answer == QLatin1String("mavo")) {
    for (const TimelineMember& member : result.timeline.unsynced)
      if (!unreadable.contains(member.entry)) rows << file_row(text(member.path));
    return rows;
  }
  for (std::size_t i = 0; i < result.entries.size(); ++i)
    if (!is_marker(result.entries[i]) && !unreadable.contains(static_cast<int>(i)))
      rows << file_row(text(result.entries[i]));
  return rows;
}

QString sentence(RunEnd end, const RunResult& result, const QString& folder) {
  QString besides;
  for (const std::string& notice : result.notices) besides += QStringLiteral(" ") + text(notice) + QStringLiteral(".");
  const auto unreadable = static_cast<int>(result.unreadable.size());
  if (unreadable > 0 && end != RunEnd::Failed && end != RunEnd::Stopped)
    besides.prepend(unreadable == 1 ? QStringLiteral(" 1 file could not be read.")
                                    : QStringLiteral(" %1 files could not be read.").arg(unreadable));
  switch (end) {
    case RunEnd::Synced:
      return QStringLiteral("Synced. The projects are in %1.").arg(QDir::toNativeSeparators(folder)) + besides;
    case RunEnd::NothingInSync:
      return QStringLiteral("No two files were found in sync, so no projects were written.") + besides;
    case RunEnd::Stopped:
      return QStringLiteral("Stopped before the end. No projects were written.");
    case RunEnd::Failed:
      break;
  }
  return QStringLiteral("The run could not go on: %1. The log is %2.")
             .arg(text(result.error), QString::fromStdString(run_folder().log)) + besides;
}

const char* state_name(RunEnd end) {
  switch (end) {
    case RunEnd::Synced: return "synced";
    case RunEnd::NothingInSync: return "nothing";
    case RunEnd::Stopped: return "stopped";
    case RunEnd::Failed: break;
  }
  return "failed";
}

}  // namespace

RunEnd run_end(const QString& answer, const RunResult& result, bool stop_asked) {
  if (!result.error.empty()) return stop_asked ? RunEnd::Stopped : RunEnd::Failed;
  return answer == QLatin1String("mavo") ? RunEnd::Synced : RunEnd::NothingInSync;
}

QVariantMap describe_run(const QString& answer, const RunResult& result, bool stop_asked,
                         const QString& folder, double fps) {
  const RunEnd end = run_end(answer, result, stop_asked);
  QSet<int> unreadable_entries;
  QVariantList unreadable;
  for (const UnreadableFile& file : result.unreadable) {
    unreadable_entries.insert(file.entry);
    const auto at = static_cast<std::size_t>(file.entry);
    QVariantMap row = file_row(at < result.entries.size() ? text(result.entries[at]) : QString());
    row[QStringLiteral("reason")] = text(file.reason);
    unreadable << row;
  }
  // The unsynced files' timelines are empty when every file synced: not worth a line.
  const bool every_file_synced = result.timeline.unsynced.empty() && result.unreadable.empty();
  QVariantList documents;
  for (const std::string& path : result.documents) {
    const QString name = QFileInfo(text(path)).fileName();
    if (every_file_synced && name.startsWith(QLatin1String("UNSYNCED"))) continue;
    QStringList opening;
    for (const Editor& editor : editors())
      if (opens_in(editor, name.toStdString())) opening << view_text(editor.key);
    documents << QVariantMap{{QStringLiteral("fileName"), name},
                             {QStringLiteral("path"), QDir::toNativeSeparators(text(path))},
                             {QStringLiteral("applications"), applications_for(name)},
                             {QStringLiteral("editors"), opening}};
  }
  for (const std::string& path : result.media)
    documents << QVariantMap{{QStringLiteral("fileName"), QStringLiteral("%1/%2").arg(QLatin1String(kSyncedMediaFolder), QFileInfo(text(path)).fileName())},
                             {QStringLiteral("path"), QDir::toNativeSeparators(text(path))},
                             {QStringLiteral("applications"), QString::fromLatin1(kSyncedMediaApplications)},
                             {QStringLiteral("editors"), QStringList()}};
  // The folder the documents name wins over the one the run was told: it is where they are.
  QString written;
  if (!result.documents.empty()) written = QFileInfo(text(result.documents.front())).absolutePath();
  else if (end == RunEnd::Synced) written = folder;
  QStringList notices;
  for (const std::string& notice : result.notices) notices << text(notice);

  const bool ran = end == RunEnd::Synced || end == RunEnd::NothingInSync;
  return {{QStringLiteral("state"), QString::fromLatin1(state_name(end))},
          {QStringLiteral("sentence"), sentence(end, result, written)},
          {QStringLiteral("error"), end == RunEnd::Failed ? text(result.error) : QString()},
          {QStringLiteral("groups"), group_rows(result.timeline, fps)},
          {QStringLiteral("unsynced"), ran ? unsynced_rows(answer, result, unreadable_entries) : QVariantList()},
          {QStringLiteral("unreadable"), unreadable},
          {QStringLiteral("documents"), documents},
          {QStringLiteral("folder"), QDir::toNativeSeparators(written)},
          {QStringLiteral("notices"), notices}};
}

QHash<QString, FileListEntries::Mark> file_marks(const QString& answer, const RunResult& result) {
  QHash<QString, FileListEntries::Mark> marks;
  if (!result.error.empty()) return marks;
  for (std::size_t i = 0; i < result.entries.size(); ++i)
    if (!is_marker(result.entries[i]))
      marks.insert(text(result.entries[i]), {QStringLiteral("alone"), QStringLiteral("in sync with nothing")});
  if (answer == QLatin1String("mavo"))
    for (const SyncGroup& group : result.timeline.groups) {
      const auto others = static_cast<int>(group.members.size()) - 1;
      for (const TimelineMember& m : group.members)
        marks.insert(text(m.path), {QStringLiteral("synced"),
                                    others == 1 ? QStringLiteral("in sync with 1 file")
                                                : QStringLiteral("in sync with %1 files").arg(others)});
    }
  for (const UnreadableFile& file : result.unreadable) {
    const auto at = static_cast<std::size_t>(file.entry);
    if (at < result.entries.size())
      marks.insert(text(result.entries[at]), {QStringLiteral("unreadable"), QStringLiteral("cannot be read")});
  }
  return marks;
}

QString applications_for(const QString& document_name) {
  return QString::fromStdString(::applications_for(document_name.toStdString()));
}

QString clock_text(double seconds) {
  const auto millis = static_cast<long long>(std::llround(std::max(seconds, 0.0) * 1000.0));
  const long long h = millis / 3600000, m = millis / 60000 % 60, s = millis / 1000 % 60, ms = millis % 1000;
  const QString tail = QStringLiteral("%1.%2").arg(s, 2, 10, QLatin1Char('0')).arg(ms, 3, 10, QLatin1Char('0'));
  if (h > 0) return QStringLiteral("%1:%2:").arg(h).arg(m, 2, 10, QLatin1Char('0')) + tail;
  return QStringLiteral("%1:").arg(m) + tail;
}

QVariantMap arrange_documents(const QVariantList& documents, const QString& editor_key) {
  const Editor* editor = find_editor(editor_key.toStdString());
  QVariantList open, others;
  for (const QVariant& document : documents)
    (editor && document.toMap().value(QStringLiteral("editors")).toStringList().contains(editor_key) ? open : others)
        << document;
  return {{QStringLiteral("editor"), open.isEmpty() ? QString() : view_text(editor->name)},
          {QStringLiteral("open"), open},
          {QStringLiteral("others"), others}};
}

QString timecode_text(double seconds, double fps) {
  const long long base = std::max(1LL, std::llround(fps));
  const long long frames = std::llround(std::max(seconds, 0.0) * fps);
  const long long ff = frames % base, total = frames / base;
  return QStringLiteral("%1:%2:%3:%4")
      .arg(total / 3600, 2, 10, QLatin1Char('0'))
      .arg(total / 60 % 60, 2, 10, QLatin1Char('0'))
      .arg(total % 60, 2, 10, QLatin1Char('0'))
      .arg(ff, 2, 10, QLatin1Char('0'));
}

QString view_text(std::string_view name) {
  return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
}
