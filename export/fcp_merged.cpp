#include "export/fcp_merged.h"

#include "core/format.h"
#include "export/fcp_project.h"
#include "export/fcp_sequences.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

constexpr const char* kProjectName = "Brenvik ready to cut";
constexpr int kAudioDepth = 16;  // bits per sample
constexpr int kAudioSampleRate = static_cast<int>(kTimelineAudioRate);
// Ten-thousandths of a frame: 4 µs at 25 fps, well below one 48 kHz sample.
constexpr int kFrameDecimals = 4;

// A frame count with the zeros of its decimals left off: "312.5", "0".
std::string frames_text(double frames) {
  std::string text = fixed_text(frames, kFrameDecimals);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text == "-0" ? "0" : text;
}

// One clip item: `start`..`end` on the sequence, from `in` into its media, in seconds.
struct Item {
  const LayoutClip* clip = nullptr;
  bool video = false;
  bool enabled = true;
  double start = 0.0, end = 0.0, in = 0.0;
  int track = 0;   // 1-based among the tracks of its kind
  int index = 0;   // 1-based within its track
  int link = -1;   // the camera clip whose pictures it moves with; -1: none
  std::string id;
};

struct Track {
  bool video = false;
  std::vector<std::size_t> items;
};

class Sequence {
 public:
  explicit Sequence(float fps) : fps_(fps) {}

  int add_track(bool video) {
    tracks_.push_back({video, {}});
    int of_kind = 0;
    for (const Track& t : tracks_) of_kind += t.video == video;
    return of_kind;
  }

  std::size_t add(Item item, int next_id) {
    Track& track = tracks_.back();
    item.track = 0;
    for (const Track& t : tracks_) item.track += t.video == track.video;
    item.video = track.video;
    item.index = static_cast<int>(track.items.size()) + 1;
    item.id = "clipitem-" + std::to_string(next_id);
    items_.push_back(item);
    track.items.push_back(items_.size() - 1);
    return items_.size() - 1;
  }

  std::vector<Item>& items() { return items_; }

  // The video and the audio tracks' text; `files` holds the file ids already described.
  std::pair<std::string, std::string> text(std::map<std::string, std::string>& files) const {
    std::string video, audio;
    for (const Track& track : tracks_) {
      std::string text = "<track>";
      for (const std::size_t k : track.items) text += item_text(items_[k], files);
      (track.video ? video : audio) += text + "</track>";
    }
    return {video, audio};
  }

 private:
  std::string frames(double seconds) const { return frames_text(seconds * fps_); }

  std::string item_text(const Item& item, std::map<std::string, std::string>& files) const {
    const LayoutClip& clip = *item.clip;
    const std::string rate = "<rate><timebase>" + float2string(fps_) + "</timebase></rate>";
    std::string text = "<clipitem id=\"" + item.id + "\"><name>" + xml_escape(clip.name) + "</name><enabled>" +
                       (item.enabled ? "TRUE" : "FALSE") + "</enabled><duration>" + frames(clip.member.length) +
                       "</duration>" + rate + "<start>" + frames(item.start) + "</start><end>" +
                       frames(item.end) + "</end><in>" + frames(item.in) + "</in><out>" +
                       frames(item.in + item.end - item.start) + "</out>";
    const auto [file, added] = files.emplace(clip.absolute, "file-" + std::to_string(files.size() + 1));
    text += "<file id=\"" + file->second + "\"";
    if (added)
      text += "><name>" + xml_escape(clip.name) + "</name><pathurl>" + xml_escape(urito(clip.absolute)) +
              "</pathurl>" + rate + "<duration>" + frames(clip.member.length) + "</duration></file>";
    else
      text += "/>";
    text += "<sourcetrack><mediatype>" + std::string(item.video ? "video" : "audio") +
            "</mediatype><trackindex>1</trackindex></sourcetrack>";
    // Every item of a linked set names all of them, itself too.
    if (item.link >= 0)
      for (const Item& other : items_)
        if (other.link == item.link)
          text += "<link><linkclipref>" + other.id + "</linkclipref><mediatype>" +
                  (other.video ? "video" : "audio") + "</mediatype><trackindex>" +
                  std::to_string(other.track) + "</trackindex><clipindex>" + std::to_string(other.index) +
                  "</clipindex></link>";
    return text + "</clipitem>";
  }

  float fps_;
  std::vector<Track> tracks_;
  std::vector<Item> items_;
};

Item whole(const LayoutClip& clip, bool enabled = true, int link = -1) {
  return {&clip, false, enabled, clip.member.exact_start, clip.member.exact_start + clip.member.length, 0.0, 0, 0, link, {}};
}

// The layout's tracks in the sequence's order; the item count runs on through the document.
Sequence merged_sequence(const GroupLayout& layout, float fps, int& next_id) {
  Sequence sequence(fps);
  std::vector<const LayoutTrack*> cameras, sounds;
  const std::vector<const LayoutClip*> main = main_sound_clips(layout);
  for (const LayoutTrack& track : layout.tracks) {
    // A camera's sound tracks hold its pictures' sound, which its video track carries here.
    const bool sound_only = !track.video && std::any_of(track.clips.begin(), track.clips.end(),
                                                        [](const LayoutClip& c) { return c.member.audio_only(); });
    if (track.video) cameras.push_back(&track);
    if (sound_only) sounds.push_back(&track);
  }
  // A link set per camera clip, numbered by the camera item's position.
  std::vector<std::pair<const LayoutClip*, std::size_t>> camera_items;
  for (const LayoutTrack* track : cameras) {
    sequence.add_track(true);
    for (const LayoutClip& clip : track->clips) {
      const std::size_t at = sequence.add(whole(clip), next_id++);
      sequence.items()[at].link = static_cast<int>(at);
      camera_items.emplace_back(&clip, at);
    }
  }
  for (const LayoutTrack* track : cameras) {
    const bool own_is_main = track->device == layout.main_sound;
    if (layout.main_sound >= 0 && !own_is_main) {
      sequence.add_track(false);
      for (const auto& [camera, link] : camera_items) {
        if (camera->member.device != track->device) continue;
        for (const SoundPiece& cut : cut_to(main, *camera)) {
          Item piece = whole(*cut.sound, true, static_cast<int>(link));
          piece.start = cut.start;
          piece.end = cut.end;
          piece.in = cut.in;
          sequence.add(piece, next_id++);
        }
      }
    }
    sequence.add_track(false);
    for (const auto& [camera, link] : camera_items)
      if (camera->member.device == track->device)
        sequence.add(whole(*camera, layout.main_sound < 0 || own_is_main, static_cast<int>(link)), next_id++);
  }
  for (const LayoutTrack* track : sounds) {
    sequence.add_track(false);
    for (const LayoutClip& clip : track->clips)
      if (clip.member.audio_only())
        sequence.add(whole(clip, track->device != layout.main_sound || cameras.empty()), next_id++);
  }
  return sequence;
}

}  // namespace

MergedDocuments merged_documents(const std::vector<GroupLayout>& layouts, float fps, int x, int y,
                                 int premiere) {
  std::string fcp, pp;
  std::map<std::string, std::string> fcp_files, pp_files;
  int next_id = 1;
  for (std::size_t g = 0; g < layouts.size(); ++g) {
    const Sequence sequence = merged_sequence(layouts[g], fps, next_id);
    const int id = static_cast<int>(g);
    const auto [fcp_video, fcp_audio] = sequence.text(fcp_files);
    const auto [pp_video, pp_audio] = sequence.text(pp_files);
    fcp += Seq_XMLit(id, layouts[g].name, fps, x, y, fcp_video, fcp_audio, kAudioDepth, kAudioSampleRate);
    pp += Seq_XMLitPP(id, layouts[g].name, fps, x, y, pp_video, pp_audio, kAudioDepth, kAudioSampleRate, premiere);
  }
  return {FINAL_XML(kProjectName, fcp), FINAL_XMLPP(kProjectName, pp)};
}
