#include "export/fcp_project.h"

#include "core/format.h"
#include "core/log.h"
#include "export/fcp_clips.h"
#include "export/fcp_sequences.h"
#include "export/timeline_layout.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {

constexpr const char* kSyncedProject = "Brenvik";
constexpr const char* kUnsyncedProject = "unsynced";

// Unsynced entry k gets the file id 4 + 101·k.
constexpr int kUnsyncedFirstId = 4;
constexpr int kUnsyncedIdStep = 101;
// Member m of group g gets g·stride + m; a stride of 100 serves every group of up to
// 100 members.
constexpr int kGroupIdStride = 100;

// A new sequence starts after every dozen members, so no timeline gets too tall to use.
constexpr size_t kMembersPerSequence = 12;
constexpr int kAudioDepth = 16;          // bits per sample
constexpr int kAudioSampleRate = static_cast<int>(kTimelineAudioRate);


const std::string kAmpersandLine(67, '&');
const std::string kAsteriskLine(67, '*');

// Widens the id stride to the next hundred when a group has more than 100 members, so
// that no two members of a document ever share a file id.
int group_id_stride(const Timeline& timeline) {
  size_t largest = 0;
  for (const SyncGroup& group : timeline.groups) largest = std::max(largest, group.members.size());
  const size_t hundreds = (largest + kGroupIdStride - 1) / kGroupIdStride;
  return kGroupIdStride * static_cast<int>(std::max<size_t>(1, hundreds));
}

struct Texts {
  std::string fcp_clips, fcp_sequences, pp_clips, pp_sequences;
};

struct Tracks {
  std::string fcp_video, fcp_audio, pp_video, pp_audio;
  void clear() { *this = Tracks{}; }
};

void close_sequence(Texts& out, Tracks& tracks, int group, float fps, int x, int y, int premiere) {
  const std::string name = float2string(static_cast<float>(group));
  out.fcp_sequences += Seq_XMLit(group, name, fps, x, y, tracks.fcp_video, tracks.fcp_audio,
                                 kAudioDepth, kAudioSampleRate);
  out.pp_sequences += Seq_XMLitPP(group, name, fps, x, y, tracks.pp_video, tracks.pp_audio,
                                  kAudioDepth, kAudioSampleRate, premiere);
  tracks.clear();
}

void add_group(Texts& out, int group, int first_id, const std::vector<TimelineMember>& members,
               float fps, int x, int y, int premiere) {
  std::ostream& trace = console();
  Tracks tracks;
  for (size_t m = 0; m < members.size(); ++m) {
    const TimelineMember& member = members[m];
    const int id = first_id + static_cast<int>(m);
    const std::string& path = member.path;
    const float offset = static_cast<float>(member.start);
    const float duration = member.duration;
    const std::string fcp_file = clip_track_XMLit_video(id, path);
    const std::string pp_audio = clip_track_XMLit_audioPP(id, path);
    const std::string pp_video = clip_track_XMLit_videoPP(id, path);
    trace << "fpss: " << float2string(member.frame_rate) << " --  ";

    if (member.audio_only()) {
      // Counted at the sequence's own rate like every other member: at a whole-number rate
      // (29 for 29.97) a sound would start early and end short of its picture.
      tracks.fcp_audio += Seq_track_XMLit_audio(id, offset, duration, fps);
      tracks.pp_audio += Seq_track_XMLit_audioPP(id, offset, duration, fps);
    } else {
      tracks.fcp_video += Seq_track_XMLit_video(id, offset, duration, fps);
      tracks.pp_video += Seq_track_XMLit_videoPP(id, offset, duration, fps);
      tracks.fcp_audio += Seq_track_XMLit_audio(id, offset, duration, fps);
      tracks.pp_audio += Seq_track_XMLit_audioPP(id, offset, duration, fps);
    }

    out.fcp_clips += clipXMLit(path, fps, fcp_file, duration);
    out.pp_clips += clipXMLitPP(path, fps, pp_audio, pp_video, duration);

    if ((m + 1) % kMembersPerSequence == 0) close_sequence(out, tracks, group, fps, x, y, premiere);
  }
  close_sequence(out, tracks, group, fps, x, y, premiere);
  trace << kAsteriskLine << '\n';
}

}  // namespace

std::string FINAL_XML(std::string name, std::string children) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><!DOCTYPE xmeml><xmeml version=\"4\"><project>"
      "<name>";
  text += xml_escape(name);
  text += "</name><children>";
  text += children;
  text += "</children></project></xmeml>";
  return text;
}

std::string FINAL_XMLPP(std::string name, std::string children) {
  return FINAL_XML(std::move(name), std::move(children));
}

ProjectDocuments build_documents(const Timeline& timeline, float fps, int x, int y, int premiere) {
  ProjectDocuments docs;
  std::ostream& trace = console();

  std::string fcp_children;
  std::string pp_children;
  for (size_t k = 0; k < timeline.unsynced.size(); ++k) {
    const int id = kUnsyncedFirstId + kUnsyncedIdStep * static_cast<int>(k);
    const TimelineMember& member = timeline.unsynced[k];
    const std::string fcp_file = clip_track_XMLit_video(id, member.path);
    const std::string pp_audio = clip_track_XMLit_audioPP(id, member.path);
    const std::string pp_video = clip_track_XMLit_videoPP(id, member.path);
    fcp_children += clipXMLit(member.path, member.frame_rate, fcp_file, member.duration);
    pp_children += clipXMLitPP(member.path, member.frame_rate, pp_audio, pp_video, member.duration);
  }
  trace << kAmpersandLine << '\n' << fcp_children << '\n' << kAmpersandLine << '\n';
  docs.unsynced_fcp = FINAL_XML(kUnsyncedProject, fcp_children);
  docs.unsynced_pp = FINAL_XMLPP(kUnsyncedProject, pp_children);

  trace << "pred xml-ot\n";
  const int stride = group_id_stride(timeline);
  Texts texts;
  for (size_t g = 0; g < timeline.groups.size(); ++g)
    add_group(texts, static_cast<int>(g), stride * static_cast<int>(g), timeline.groups[g].members,
              fps, x, y, premiere);
  docs.synced_fcp = FINAL_XML(kSyncedProject, texts.fcp_clips + texts.fcp_sequences);
  docs.synced_pp = FINAL_XMLPP(kSyncedProject, texts.pp_sequences + texts.pp_clips);
  return docs;
}
