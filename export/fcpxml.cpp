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

// Video tracks in lanes 1, 2, …: each of those clips carries its own sound. The audio
// tracks then only for their files without video, in lanes -1, -2, …
std::vector<Placed> place_layout(const GroupLayout& layout, ExactRate rate) {
  std::vector<Placed> placed;
  int video_lane = 0;
  int audio_lane = 0;
  for (const LayoutTrack& track : layout.tracks) {
    std::vector<const LayoutClip*> clips;
    for (const LayoutClip& clip : track.clips)
      if (track.video || clip.member.audio_only()) clips.push_back(&clip);
    if (clips.empty()) continue;
    const int lane = track.video ? ++video_lane : -++audio_lane;
    for (const Placed& p : place_lane(clips, lane, rate)) placed.push_back(p);
  }
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

std::string fcpxml_document(const std::vector<GroupLayout>& layouts, ExactRate rate, int width,
                            int height, const std::string& event_name) {
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

  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE fcpxml>\n"
         "<fcpxml version=\"1.9\">\n  <resources>\n" +
         resources + "  </resources>\n  <library>\n    <event name=\"" + xml_attribute(event_name) +
         "\">\n" + library + "    </event>\n  </library>\n</fcpxml>\n";
}
