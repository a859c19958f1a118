#include "export/timeline_layout.h"

#include "core/format.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <numeric>
#include <string_view>
#include <utility>

namespace {

// Clips of one device closer than this are taken to touch, not to overlap: the
// placements of consecutive files carry the pairs' measuring error.
constexpr double kTouching = 0.002;
constexpr double kNtscFactor = 1.001;
constexpr std::int64_t kThousandths = 1000;
constexpr std::int64_t kNtscDen = 1001;
constexpr double kRateTolerance = 0.005;
constexpr double kPpmScale = 1e-6;
// What is left of the files' common beginning must say more than a letter or two
// ("C0001.MP4", "C0002.MP4" share only "C").
constexpr std::size_t kShortestDeviceName = 3;

LayoutClip make_clip(const TimelineMember& member, const std::map<int, std::string>& paths) {
  LayoutClip clip;
  clip.member = member;
  clip.name = file_name(member.path);
  clip.source = absolute_path(member.path);
  clip.corrected = !member.corrected.empty();
  clip.absolute = clip.corrected ? absolute_path(member.corrected) : clip.source;
  clip.url = file_url(clip.absolute);
  // The copy runs on the reference clock: a faster device's sound gets shorter.
  if (clip.corrected) clip.member.length = member.length / (1.0 + member.rate_ppm * kPpmScale);
  if (const auto partner = paths.find(member.placed_by); partner != paths.end())
    clip.placed_by = absolute_path(partner->second);
  return clip;
}

// Adds the clip to the first track of its kind and device that has room for it.
void place(std::vector<LayoutTrack>& tracks, bool video, const LayoutClip& clip) {
  for (LayoutTrack& track : tracks) {
    if (track.video != video || track.device != clip.member.device) continue;
    const LayoutClip& last = track.clips.back();
    if (last.member.exact_start + last.member.length <= clip.member.exact_start + kTouching) {
      track.clips.push_back(clip);
      return;
    }
  }
  tracks.push_back({video, clip.member.device, clip.name, {clip}});
}

GroupLayout lay_out(std::string name, std::vector<TimelineMember> members,
                    const std::map<int, std::string>& device_names) {
  std::map<int, std::string> paths;
  for (const TimelineMember& m : members) paths[m.entry] = m.path;
  std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
    return a.device != b.device ? a.device < b.device : a.exact_start < b.exact_start;
  });

  GroupLayout layout;
  layout.name = std::move(name);
  std::vector<LayoutTrack> video;
  std::vector<LayoutTrack> audio;
  for (const TimelineMember& m : members) {
    const LayoutClip clip = make_clip(m, paths);
    if (!m.audio_only()) place(video, true, clip);
    place(audio, false, clip);
    layout.duration = std::max(layout.duration, m.exact_start + clip.member.length);
  }
  for (std::vector<LayoutTrack>* kind : {&video, &audio})
    for (LayoutTrack& track : *kind) {
      if (const auto named = device_names.find(track.device); named != device_names.end())
        track.name = named->second;
      layout.tracks.push_back(std::move(track));
    }
  return layout;
}

bool is_percent_safe(unsigned char c) {
  return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
}

// The clip spans the file from its start to the end of its sound; the classic documents'
// whole seconds stay whole.
void start_with_file(TimelineMember& m) {
  m.start -= m.sound_at;
  m.exact_start -= m.sound_at;
  m.length = std::max(0.0, m.length + m.sound_at);
  m.duration = std::max(0.0f, std::floor(m.duration + static_cast<float>(m.sound_at)));
}

}  // namespace

Timeline from_media_starts(Timeline timeline) {
  for (SyncGroup& group : timeline.groups) {
    double earliest = 0.0;
    for (TimelineMember& m : group.members) {
      if (m.sound_at == 0.0) continue;
      start_with_file(m);
      earliest = std::min(earliest, m.exact_start);
    }
    if (earliest == 0.0) continue;
    for (TimelineMember& m : group.members) {
      m.start -= earliest;
      m.exact_start -= earliest;
    }
  }
  for (TimelineMember& m : timeline.unsynced) {
    if (m.sound_at == 0.0) continue;
    start_with_file(m);
    m.start = m.exact_start = 0.0;
  }
  return timeline;
}

ExactRate exact_rate(double fps) {
  if (!(fps > 0.0)) return {};
  const double ntsc = fps * kNtscFactor;
  const double whole = std::round(ntsc);
  if (std::abs(ntsc - whole) < kRateTolerance && std::abs(fps - whole) > kRateTolerance)
    return {static_cast<std::int64_t>(whole) * kThousandths, kNtscDen};
  const auto thousandths = static_cast<std::int64_t>(std::llround(fps * kThousandths));
  std::int64_t num = thousandths;
  std::int64_t den = kThousandths;
  const std::int64_t common = std::gcd(num, den);
  return {num / common, den / common};
}

std::string file_url(const std::string& absolute_path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (const char ch : absolute_path) {
    const auto c = static_cast<unsigned char>(ch);
    if (is_percent_safe(c)) {
      url += ch;
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 0x0F];
    }
  }
  return url;
}

std::string absolute_path(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return (error ? std::filesystem::path(path) : absolute).lexically_normal().string();
}

std::string device_name(const std::vector<std::string>& files) {
  if (files.empty()) return {};
  if (files.size() == 1) return files.front();
  std::string common = files.front();
  for (const std::string& f : files)
    common.resize(static_cast<std::size_t>(
        std::mismatch(common.begin(), common.end(), f.begin(), f.end()).first - common.begin()));
  // The numbering's first digits and the separator before it say nothing of the device;
  // digits before that separator are its name's ("cam1_001.mov").
  while (!common.empty() && std::isdigit(static_cast<unsigned char>(common.back()))) common.pop_back();
  while (!common.empty() && std::string_view("_-. ").find(common.back()) != std::string_view::npos)
    common.pop_back();
  const std::string count = " (" + std::to_string(files.size()) + " files)";
  if (common.size() >= kShortestDeviceName) return common + count;
  return files.front() + " … " + files.back();
}

std::vector<GroupLayout> layout_groups(const Timeline& timeline) {
  // A device's name comes from all of its files, wherever they synced, so that its tracks
  // are named alike in every group.
  std::map<int, std::vector<std::pair<int, std::string>>> files_of;
  std::map<int, std::vector<std::string>> makers_of;
  for (const SyncGroup& group : timeline.groups)
    for (const TimelineMember& m : group.members) {
      files_of[m.device].emplace_back(m.entry, file_name(m.path));
      makers_of[m.device].push_back(m.maker_model);
    }
  std::map<int, std::string> names;
  std::map<int, std::string> maker_names;
  std::map<std::string, int> devices_named;
  for (auto& [device, files] : files_of) {
    std::sort(files.begin(), files.end());
    std::vector<std::string> in_order;
    for (const auto& file : files) in_order.push_back(file.second);
    names[device] = device_name(in_order);
    const std::vector<std::string>& makers = makers_of[device];
    if (!makers.front().empty() && std::all_of(makers.begin(), makers.end(),
                                               [&](const std::string& m) { return m == makers.front(); })) {
      maker_names[device] = makers.front();
      ++devices_named[makers.front()];
    }
  }
  // The maker and model its files name is the device's name; two devices of one model
  // keep their files' names beside it.
  for (const auto& [device, maker] : maker_names) {
    const std::size_t count = files_of[device].size();
    names[device] = devices_named[maker] > 1 ? maker + " · " + names[device]
                    : count > 1               ? maker + " (" + std::to_string(count) + " files)"
                                              : maker;
  }
  std::vector<GroupLayout> layouts;
  for (std::size_t g = 0; g < timeline.groups.size(); ++g) {
    layouts.push_back(
        lay_out("Sync group " + std::to_string(g + 1), timeline.groups[g].members, names));
    layouts.back().main_sound = timeline.groups[g].main_sound;
  }
  return layouts;
}

GroupLayout layout_unsynced(const Timeline& timeline) {
  // A file without sound that could be read has no length to lay out: it would sit on
  // the next file's start. The run's messages and the classic documents still name it.
  std::vector<TimelineMember> loose;
  for (const TimelineMember& m : timeline.unsynced)
    if (m.length > 0.0) loose.push_back(m);
  double at = 0.0;
  for (TimelineMember& m : loose) {
    m.exact_start = at;
    at += m.length;
    // One device for all, so that they share one track of each kind.
    m.device = -1;
    m.placed_by = -1;
  }
  GroupLayout layout = lay_out("Unsynced", std::move(loose), {});
  for (LayoutTrack& track : layout.tracks) track.name = "Unsynced";
  return layout;
}

std::vector<const LayoutClip*> main_sound_clips(const GroupLayout& layout) {
  std::vector<const LayoutClip*> main;
  for (const LayoutTrack& track : layout.tracks) {
    // A camera's sound tracks hold its pictures' sound, which its video track carries too.
    const bool sound_only = !track.video && std::any_of(track.clips.begin(), track.clips.end(),
                                                        [](const LayoutClip& c) { return c.member.audio_only(); });
    if (track.device == layout.main_sound && (track.video || sound_only))
      for (const LayoutClip& clip : track.clips) main.push_back(&clip);
  }
  return main;
}

std::vector<SoundPiece> cut_to(const std::vector<const LayoutClip*>& sounds, const LayoutClip& camera) {
  std::vector<SoundPiece> pieces;
  const double from = camera.member.exact_start, to = from + camera.member.length;
  for (const LayoutClip* sound : sounds) {
    const double s = sound->member.exact_start;
    SoundPiece piece{sound, std::max(from, s), std::min(to, s + sound->member.length), 0.0};
    piece.in = piece.start - s;
    if (piece.end > piece.start) pieces.push_back(piece);
  }
  return pieces;
}
