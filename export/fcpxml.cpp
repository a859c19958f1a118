#include "export/fcpxml.h"

#include "core/format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kSampleRate = kTimelineAudioRate;
// A placement this close above a frame boundary is taken to be on it: the double carries
// the exact place only to its last bits.
constexpr double kOnTheFrame = 1e-9;

// A time as a rational number of seconds, written the way FCPXML wants it: "0s", "3s",
// "1001/30000s", always reduced.
std::string seconds(std::int64_t num, std::int64_t den) {
  if (num == 0) return "0s";
  const std::int64_t common = std::gcd(num, den);
  num /= common;
  den /= common;
  if (den == 1) return std::to_string(num) + "s";
  return std::to_string(num) + "/" + std::to_string(den) + "s";
}

bool same_rate(const ExactRate& a, const ExactRate& b) { return a.num * b.den == b.num * a.den; }

// Final Cut Pro's own name of a format, only for the sizes and rates it has names for.
std::string format_name(ExactRate rate, int width, int height) {
  std::string size;
  if (width == 1920 && height == 1080)
    size = "1080";
  else if (width == 1280 && height == 720)
    size = "720";
  else if (width == 3840 && height == 2160)
    size = "3840x2160";
  else
    return {};
  static const struct {
    std::int64_t num, den;
    const char* code;
  } kRates[] = {{24000, 1001, "2398"}, {24, 1, "24"},          {25, 1, "25"},
                {30000, 1001, "2997"}, {30, 1, "30"},          {50, 1, "50"},
                {60000, 1001, "5994"}, {60, 1, "60"}};
  for (const auto& r : kRates)
    if (same_rate(rate, {r.num, r.den})) return "FFVideoFormat" + size + "p" + r.code;
  return {};
}

// The media's timecode plus `samples` at the timeline's audio rate, as FCPXML's media time.
std::string media_time(const StartTimecode& timecode, std::int64_t samples) {
  if (!timecode.present()) return seconds(samples, kSampleRate);
  return seconds(timecode.num * kSampleRate + samples * timecode.den, timecode.den * kSampleRate);
}

// Seconds of one frame: den/num.
std::string frame_duration(ExactRate rate) { return seconds(rate.den, rate.num); }

struct Asset {
  std::string id;
  const LayoutClip* clip = nullptr;  // the first clip of the file
  std::string format;                // empty for a file without video
  std::int64_t samples = 0;          // its length at the audio sample
};

// One clip of the document: where it goes and which part of its media it shows.
struct Placed {
  const LayoutClip* clip = nullptr;
  int lane = 0;
  std::int64_t frame = 0;     // offset on the sequence's frame grid
  std::int64_t start = 0;     // samples into the media: frame's time less exact_start
  std::int64_t frames = 0;    // duration on the frame grid
};

std::int64_t media_samples(const LayoutClip& clip) {
  return std::max<std::int64_t>(0, std::llround(clip.member.length * kSampleRate));
}

// The clips of one lane, in timeline order, each at the first frame not before its exact
// place; the rest of that frame is skipped inside its media, so that the media's first
// sample still sits at exact_start to the sample.
std::vector<Placed> place_lane(const std::vector<const LayoutClip*>& clips, int lane,
                               ExactRate rate) {
  std::vector<Placed> placed;
  for (const LayoutClip* clip : clips) {
    Placed p;
    p.clip = clip;
    p.lane = lane;
    const double at = std::max(0.0, clip->member.exact_start);
    const double num = static_cast<double>(rate.num);
    const double den = static_cast<double>(rate.den);
    const double first_frame = std::ceil(at * num / den - kOnTheFrame);
    p.frame = std::max<std::int64_t>(0, static_cast<std::int64_t>(first_frame));
    const double frame_time = static_cast<double>(p.frame) * den / num;
    p.start = std::max<std::int64_t>(0, std::llround((frame_time - at) * kSampleRate));
    // Whole frames of the media left after the start: floor(samples · num / (48000 · den)).
    const std::int64_t left = std::max<std::int64_t>(0, media_samples(*clip) - p.start);
    p.frames = left * rate.num / (kSampleRate * rate.den);
    placed.push_back(p);
  }
  // A device's next file may start up to the layout's touching margin before this one
  // ends. Rounding the offsets up and the durations down keeps them apart already; should
  // the doubles' last bits say otherwise, this one ends where the next begins.
  for (std::size_t i = 0; i + 1 < placed.size(); ++i) {
    const std::int64_t room = std::max<std::int64_t>(0, placed[i + 1].frame - placed[i].frame);
    placed[i].frames = std::min(placed[i].frames, room);
  }
  // A clip shorter than one frame cannot be shown on the frame grid.
  std::erase_if(placed, [](const Placed& p) { return p.frames <= 0; });
  return placed;
}

// One lane of a project: a track's clips as placed, and the track they come from.
struct Lane {
  const LayoutTrack* track = nullptr;
  int lane = 0;
  std::vector<Placed> clips;
};

// Video tracks in lanes 1, 2, …: each of those clips carries its own sound. The audio
// tracks then only for their files without video, in lanes -1, -2, …
std::vector<Lane> place_lanes(const GroupLayout& layout, ExactRate rate) {
  std::vector<Lane> lanes;
  int video_lane = 0;
  int audio_lane = 0;
  for (const LayoutTrack& track : layout.tracks) {
    std::vector<const LayoutClip*> clips;
    for (const LayoutClip& clip : track.clips)
      if (track.video || clip.member.audio_only()) clips.push_back(&clip);
    if (clips.empty()) continue;
    const int lane = track.video ? ++video_lane : -++audio_lane;
    lanes.push_back({&track, lane, place_lane(clips, lane, rate)});
  }
  return lanes;
}

std::vector<Placed> place_layout(const GroupLayout& layout, ExactRate rate) {
  std::vector<Placed> placed;
  for (const Lane& lane : place_lanes(layout, rate))
    placed.insert(placed.end(), lane.clips.begin(), lane.clips.end());
  return placed;
}

std::string note(const LayoutClip& clip) {
  const TimelineMember& m = clip.member;
  std::string text = "offset " + fixed_text(m.exact_start, 6) + " s \xC2\xB7 clock " +
                     fixed_text(m.rate_ppm, 2) + " ppm \xC2\xB7 drift " +
                     fixed_text(m.drift_ppm, 2) + " ppm \xC2\xB7 " +
                     (m.refined ? "refined" : "not refined");
  if (clip.corrected) text += " \xC2\xB7 drift-corrected copy of " + clip.source;
  if (m.second_look) text += " \xC2\xB7 found on a second look";
  if (!clip.placed_by.empty()) text += " \xC2\xB7 placed by " + file_name(clip.placed_by);
  return text;
}

}  // namespace

namespace {

// One project of the library: a gap as long as the group, its clips at their places on it.
std::string project_xml(const std::string& name, const std::vector<Placed>& placed, ExactRate rate,
                        const std::vector<Asset>& assets,
                        const std::map<std::string, std::size_t>& asset_of) {
  std::int64_t end = 1;  // frames; at least one, so that the gap has a length
  for (const Placed& p : placed) end = std::max(end, p.frame + p.frames);
  const std::string duration = seconds(end * rate.den, rate.num);
  std::string text = "      <project name=\"" + xml_attribute(name) +
                     "\">\n        <sequence format=\"r1\" duration=\"" + duration +
                     "\" tcStart=\"0s\" tcFormat=\"NDF\" audioLayout=\"stereo\" audioRate=\"48k\">\n"
                     "          <spine>\n"
                     "            <gap name=\"Gap\" offset=\"0s\" start=\"0s\" duration=\"" +
                     duration + "\">\n";
  for (const Placed& p : placed) {
    const LayoutClip& clip = *p.clip;
    text += "              <asset-clip ref=\"" + assets[asset_of.at(clip.absolute)].id +
            "\" lane=\"" + std::to_string(p.lane) + "\" offset=\"" +
            seconds(p.frame * rate.den, rate.num) + "\" name=\"" + xml_attribute(clip.name) +
            "\" start=\"" + media_time(clip.media_timecode(), p.start) + "\" duration=\"" +
            seconds(p.frames * rate.den, rate.num) + "\">\n" +
            "                <note>" + xml_escape(note(clip)) + "</note>\n" +
            "              </asset-clip>\n";
  }
  return text + "            </gap>\n          </spine>\n        </sequence>\n      </project>\n";
}

}  // namespace


namespace {

// A time as an exact fraction of seconds, for the sums of media times and frames that
// the synchronised clips need; __int128 so that a timecode's denominator times a frame
// rate's cannot overflow before the fraction is reduced.
struct Time {
  std::int64_t num = 0;
  std::int64_t den = 1;
};

Time reduced(__int128 num, __int128 den) {
  __int128 a = num < 0 ? -num : num, b = den;
  while (b != 0) {
    const __int128 r = a % b;
    a = b;
    b = r;
  }
  if (a == 0) return {0, 1};
  return {static_cast<std::int64_t>(num / a), static_cast<std::int64_t>(den / a)};
}

Time operator+(Time a, Time b) {
  return reduced(static_cast<__int128>(a.num) * b.den + static_cast<__int128>(b.num) * a.den,
                 static_cast<__int128>(a.den) * b.den);
}

std::string time_text(Time t) { return seconds(t.num, t.den); }

Time frames_time(std::int64_t frames, ExactRate rate) { return reduced(frames * rate.den, rate.num); }

// The media time `samples` into the clip's media, from its timecode.
Time media_at(const LayoutClip& clip, std::int64_t samples) {
  const StartTimecode& tc = clip.media_timecode();
  if (!tc.present()) return reduced(samples, kSampleRate);
  return reduced(static_cast<__int128>(tc.num) * kSampleRate + static_cast<__int128>(samples) * tc.den,
                 static_cast<__int128>(tc.den) * kSampleRate);
}

// The roles that let an editor hear the main sound and keep the camera's own at hand.
constexpr const char* kCameraRole = "dialogue.camera";
constexpr const char* kMainSoundRole = "dialogue";

struct Resources {
  const std::vector<Asset>& assets;
  const std::map<std::string, std::size_t>& asset_of;
  const Asset& of(const LayoutClip& clip) const { return assets[asset_of.at(clip.absolute)]; }
};

std::int64_t lane_end(const std::vector<Lane>& lanes) {
  std::int64_t end = 1;  // frames; at least one, so that every element has a length
  for (const Lane& lane : lanes)
    for (const Placed& p : lane.clips) end = std::max(end, p.frame + p.frames);
  return end;
}

// One angle per lane: its clips at their frames, gaps between them, as a storyline
// holds them one after another.
std::string angle_xml(const Lane& lane, const std::string& id, const std::string& name,
                      ExactRate rate, const Resources& r) {
  std::string text = "        <mc-angle name=\"" + xml_attribute(name) + "\" angleID=\"" + id + "\">\n";
  std::int64_t at = 0;
  for (const Placed& p : lane.clips) {
    if (p.frame > at)
      text += "          <gap name=\"Gap\" offset=\"" + seconds(at * rate.den, rate.num) +
              "\" start=\"0s\" duration=\"" + seconds((p.frame - at) * rate.den, rate.num) + "\"/>\n";
    text += "          <asset-clip ref=\"" + r.of(*p.clip).id + "\" offset=\"" +
            seconds(p.frame * rate.den, rate.num) + "\" name=\"" + xml_attribute(p.clip->name) +
            "\" start=\"" + media_time(p.clip->media_timecode(), p.start) + "\" duration=\"" +
            seconds(p.frames * rate.den, rate.num) + "\"/>\n";
    at = p.frame + p.frames;
  }
  return text + "        </mc-angle>\n";
}

std::string angle_id(std::size_t group, std::size_t lane) {
  return "g" + std::to_string(group + 1) + "a" + std::to_string(lane + 1);
}

// A lane's angle name: its device's; a device's further lanes (files that overlap) numbered.
std::vector<std::string> angle_names(const std::vector<Lane>& lanes) {
  std::map<int, int> seen;
  std::vector<std::string> names;
  for (const Lane& lane : lanes) {
    const int k = ++seen[lane.track->device * 2 + (lane.lane > 0 ? 1 : 0)];
    names.push_back(k == 1 ? lane.track->name : lane.track->name + " " + std::to_string(k));
  }
  return names;
}

// The group as one multicam clip: a media resource with one angle per lane.
std::string multicam_media(const GroupLayout& layout, std::size_t group, const std::string& id,
                           const std::vector<Lane>& lanes, ExactRate rate, const Resources& r) {
  const std::vector<std::string> names = angle_names(lanes);
  std::string text = "    <media id=\"" + id + "\" name=\"" + xml_attribute(layout.name + " multicam") +
                     "\">\n      <multicam format=\"r1\" duration=\"" +
                     seconds(lane_end(lanes) * rate.den, rate.num) + "\" tcStart=\"0s\" tcFormat=\"NDF\">\n";
  for (std::size_t l = 0; l < lanes.size(); ++l)
    text += angle_xml(lanes[l], angle_id(group, l), names[l], rate, r);
  return text + "      </multicam>\n    </media>\n";
}

// A project of the multicam clip alone: the first camera's picture, the main sound's angle
// as its sound.
std::string multicam_project(const GroupLayout& layout, std::size_t group, const std::string& id,
                             const std::vector<Lane>& lanes, ExactRate rate) {
  const std::string duration = seconds(lane_end(lanes) * rate.den, rate.num);
  std::size_t picture = 0, sound = lanes.size();
  for (std::size_t l = lanes.size(); l-- > 0;) {
    if (lanes[l].lane > 0) picture = l;
    if (lanes[l].track->device == layout.main_sound) sound = l;
  }
  std::string sources;
  if (sound == lanes.size() || sound == picture) {
    sources = "            <mc-source angleID=\"" + angle_id(group, picture) + "\" srcEnable=\"all\"/>\n";
  } else {
    sources = "            <mc-source angleID=\"" + angle_id(group, picture) + "\" srcEnable=\"video\"/>\n" +
              "            <mc-source angleID=\"" + angle_id(group, sound) + "\" srcEnable=\"audio\"/>\n";
  }
  const std::string name = xml_attribute(layout.name + " multicam");
  return "      <project name=\"" + name + "\">\n        <sequence format=\"r1\" duration=\"" + duration +
         "\" tcStart=\"0s\" tcFormat=\"NDF\" audioLayout=\"stereo\" audioRate=\"48k\">\n"
         "          <spine>\n            <mc-clip ref=\"" + id + "\" offset=\"0s\" name=\"" + name +
         "\" start=\"0s\" duration=\"" + duration + "\">\n" + sources +
         "            </mc-clip>\n          </spine>\n        </sequence>\n      </project>\n";
}

// One synchronised clip per camera clip: its picture and its own sound (muted by its
// role), and the main sound's clips connected below it, cut to the camera clip, each at
// its exact place on the camera's media time.
std::string sync_clips(const GroupLayout& layout, const std::vector<Lane>& lanes, ExactRate rate,
                       const Resources& r) {
  if (layout.main_sound < 0) return {};
  std::vector<const Placed*> sounds;
  for (const Lane& lane : lanes)
    if (lane.track->device == layout.main_sound)
      for (const Placed& p : lane.clips) sounds.push_back(&p);
  std::string text;
  for (const Lane& lane : lanes) {
    if (lane.lane < 0 || lane.track->device == layout.main_sound) continue;
    for (const Placed& camera : lane.clips) {
      const Asset& asset = r.of(*camera.clip);
      const Time camera_start = media_at(*camera.clip, camera.start);
      std::string connected, names;
      for (const Placed* sound : sounds) {
        const std::int64_t from = std::max(camera.frame, sound->frame);
        const std::int64_t to = std::min(camera.frame + camera.frames, sound->frame + sound->frames);
        if (to <= from) continue;
        names += (names.empty() ? "" : ", ") + sound->clip->name;
        connected += "          <asset-clip ref=\"" + r.of(*sound->clip).id + "\" lane=\"-1\" offset=\"" +
                     time_text(camera_start + frames_time(from - camera.frame, rate)) + "\" name=\"" +
                     xml_attribute(sound->clip->name) + "\" start=\"" +
                     time_text(media_at(*sound->clip, sound->start) + frames_time(from - sound->frame, rate)) +
                     "\" duration=\"" + seconds((to - from) * rate.den, rate.num) +
                     "\" srcEnable=\"audio\" audioRole=\"" + kMainSoundRole + "\"/>\n";
      }
      if (connected.empty()) continue;
      const std::string duration = seconds(camera.frames * rate.den, rate.num);
      text += "      <sync-clip name=\"" + xml_attribute(camera.clip->name + " (main sound)") +
              // The sequence's format: the durations are on its frame grid, as in the projects.
              "\" format=\"r1\" duration=\"" + duration + "\" tcFormat=\"NDF\">\n"
              "        <note>" + xml_escape("the picture of " + camera.clip->name + " with the main sound of " +
                                        names + "; its own sound muted (role " + kCameraRole + ")") +
              "</note>\n        <asset-clip ref=\"" + asset.id + "\" offset=\"0s\" name=\"" +
              xml_attribute(camera.clip->name) + "\" start=\"" + time_text(camera_start) +
              "\" duration=\"" + duration + "\" audioRole=\"" + kCameraRole + "\">\n" + connected +
              "        </asset-clip>\n        <sync-source sourceID=\"storyline\">\n"
              "          <audio-role-source role=\"" + kCameraRole + "\" active=\"0\"/>\n"
              "        </sync-source>\n      </sync-clip>\n";
    }
  }
  return text;
}

}  // namespace

std::string fcpxml_document(const std::vector<GroupLayout>& layouts, ExactRate rate, int width,
                            int height, const std::string& event_name, bool ready_to_cut) {
  if (rate.num <= 0 || rate.den <= 0) rate = ExactRate{};

  std::vector<std::vector<Placed>> projects;
  for (const GroupLayout& layout : layouts) projects.push_back(place_layout(layout, rate));

  // The sequence's format is r1; a file of another frame rate gets a format of its own
  // (its frame size is not known, so only the frame duration); then one asset per file.
  std::string formats = "    <format id=\"r1\" frameDuration=\"" + frame_duration(rate) +
                        "\" width=\"" + std::to_string(width) + "\" height=\"" +
                        std::to_string(height) + "\"";
  if (const std::string name = format_name(rate, width, height); !name.empty())
    formats += " name=\"" + name + "\"";
  formats += "/>\n";
  int next_id = 2;
  std::vector<std::pair<ExactRate, std::string>> other_formats;
  std::vector<Asset> assets;                   // in order of first use
  std::map<std::string, std::size_t> asset_of;  // absolute path -> position in assets
  for (const auto& placed : projects)
    for (const Placed& p : placed) {
      const LayoutClip& clip = *p.clip;
      if (asset_of.count(clip.absolute)) continue;
      Asset asset;
      asset.clip = &clip;
      asset.samples = media_samples(clip);
      if (!clip.member.audio_only()) {
        const ExactRate own = exact_rate(clip.member.frame_rate);
        // A rate that could not be read is taken to be the sequence's.
        if (!(clip.member.frame_rate > 0.0f) || same_rate(own, rate)) {
          asset.format = "r1";
        } else {
          const auto known =
              std::find_if(other_formats.begin(), other_formats.end(),
                           [&](const auto& f) { return same_rate(f.first, own); });
          if (known != other_formats.end()) {
            asset.format = known->second;
          } else {
            asset.format = "r" + std::to_string(next_id++);
            other_formats.emplace_back(own, asset.format);
            formats += "    <format id=\"" + asset.format + "\" frameDuration=\"" +
                       frame_duration(own) + "\"/>\n";
          }
        }
      }
      asset_of.emplace(clip.absolute, assets.size());
      assets.push_back(asset);
    }
  std::string resources = formats;
  for (Asset& asset : assets) {
    asset.id = "r" + std::to_string(next_id++);
    resources += "    <asset id=\"" + asset.id + "\" name=\"" + xml_attribute(asset.clip->name) +
                 "\" start=\"" + media_time(asset.clip->media_timecode(), 0) + "\" duration=\"" +
                 seconds(asset.samples, kSampleRate) + "\"";
    if (!asset.format.empty()) resources += " hasVideo=\"1\" format=\"" + asset.format + "\"";
    // The streams and channels the file has; a file that could not be read as stereo.
    const TimelineMember& m = asset.clip->member;
    resources += " hasAudio=\"1\" audioSources=\"" + std::to_string(std::max(1, m.sound_streams)) +
                 "\" audioChannels=\"" + std::to_string(m.channels > 0 ? m.channels : 2) +
                 "\" audioRate=\"48000\">\n"
        "      <media-rep kind=\"original-media\" src=\"" +
        xml_attribute(asset.clip->url) + "\"/>\n    </asset>\n";
  }

  std::string library;
  for (std::size_t l = 0; l < layouts.size(); ++l)
    library += project_xml(layouts[l].name, projects[l], rate, assets, asset_of);
  if (ready_to_cut) {
    const Resources r{assets, asset_of};
    for (std::size_t g = 0; g < layouts.size(); ++g) {
      const std::vector<Lane> lanes = place_lanes(layouts[g], rate);
      if (lanes.empty()) continue;
      const std::string id = "r" + std::to_string(next_id++);
      resources += multicam_media(layouts[g], g, id, lanes, rate, r);
      library += sync_clips(layouts[g], lanes, rate, r) + multicam_project(layouts[g], g, id, lanes, rate);
    }
  }

  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
         "<fcpxml version=\"1.9\">\n  <resources>\n" +
         resources + "  </resources>\n  <library>\n    <event name=\"" + xml_attribute(event_name) +
         "\">\n" + library + "    </event>\n  </library>\n</fcpxml>\n";
}
