#include "export/mlt.h"

#include "core/format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <locale>
#include <map>
#include <numeric>
#include <sstream>
#include <vector>

namespace {

// melt and the editors mix at this rate; an audio clip's delay is counted in its samples.
constexpr std::int64_t kSampleRate = kTimelineAudioRate;

// avfilter.compensationdelay is the only delay melt applies to a clip to the sample:
// adelay on a clip moves it by whole frames. It takes a distance, and delays by
//   floor((m·100 + cm + mm·0.1) cm / c(temp) · sample rate) samples,
// c(temp) = 1.85325 · 643.95 · sqrt((temp + 273.15) / 273.15) km/h, in cm/s ×100000/3600.
// At 20 °C c ≈ 34342 cm/s: one millimetre is 0.14 samples at 48 kHz, so some whole
// number of millimetres truncates to every sample count, and the largest distance
// (100 m 100 cm 10 mm ≈ 0.294 s) holds more than a frame at any usual rate.
constexpr int kDelayTemperature = 20;  // °C; written out so that a changed default moves nothing
constexpr double kKelvinAtZero = 273.15;
constexpr double kSpeedFactor = 1.85325 * 643.95;  // km/h at 0 °C
constexpr double kKmhToCms = 100000.0 / 3600.0;
constexpr std::int64_t kMmPerMetre = 1000;
constexpr std::int64_t kMmPerCm = 10;
constexpr std::int64_t kLongestMetres = 100;
constexpr std::int64_t kLongestCentimetres = 100;
constexpr std::int64_t kLongestMillimetres = 10;
constexpr std::int64_t kLongestDelayMm =
    kLongestMetres * kMmPerMetre + kLongestCentimetres * kMmPerCm + kLongestMillimetres;
// A count that truncates exactly onto a whole sample could fall either way in the
// filter's arithmetic; ask for a hair above it.
constexpr double kTruncationMargin = 1e-6;  // samples

// Offsets are known to about a tenth of a millisecond; a microsecond keeps the text exact.
constexpr int kSecondsDecimals = 6;
constexpr int kPpmDecimals = 3;

// What a Kdenlive project adds to the document: bin clip ids by media path.
struct Kdenlive {
  bool on = false;
  std::map<std::string, int> bin_id;
};

struct Delay {
  std::int64_t samples = 0;  // at kSampleRate; 0 for none
  std::int64_t m = 0, cm = 0, mm = 0;
};

// One entry of a playlist, in frames of the profile.
struct Cut {
  const LayoutClip* clip = nullptr;
  std::int64_t start = 0;
  std::int64_t frames = 1;
  Delay delay;
};

// The filter's fields for a distance in millimetres, the longest it takes at most.
Delay split(std::int64_t millimetres) {
  Delay delay;
  delay.m = std::min(kLongestMetres, millimetres / kMmPerMetre);
  const std::int64_t rest = millimetres - delay.m * kMmPerMetre;
  delay.cm = std::min(kLongestCentimetres, rest / kMmPerCm);
  delay.mm = std::min(kLongestMillimetres, rest - delay.cm * kMmPerCm);
  return delay;
}

// The filter's own count, in its order of operations, before it truncates.
double delay_samples(const Delay& delay) {
  const double speed =
      kSpeedFactor * std::sqrt((kDelayTemperature + kKelvinAtZero) / kKelvinAtZero) * kKmhToCms;
  const double cm = static_cast<double>(delay.m) * 100.0 + static_cast<double>(delay.cm) +
                    static_cast<double>(delay.mm) * 0.1;
  return cm * (1.0 / speed) * static_cast<double>(kSampleRate);
}

// The shortest distance that the filter truncates to `samples`: each millimetre adds
// less than one sample, so the first distance reaching the count cannot pass it.
Delay delay_of(std::int64_t samples) {
  if (samples <= 0) return {};
  const double per_mm = delay_samples(split(1));
  auto mm = static_cast<std::int64_t>(std::floor(static_cast<double>(samples) / per_mm));
  while (mm > 0 && delay_samples(split(mm - 1)) >= samples + kTruncationMargin) --mm;
  while (mm < kLongestDelayMm && delay_samples(split(mm)) < samples + kTruncationMargin) ++mm;
  Delay delay = split(mm);
  delay.samples = samples;
  return delay;
}

// melt starts frame f at sample round(f · rate / fps) of the mix.
std::int64_t first_sample(std::int64_t frame, ExactRate rate) {
  const std::int64_t twice = 2 * frame * kSampleRate * rate.den;
  return (twice + rate.num) / (2 * rate.num);
}

// A sound goes in at the frame it starts in and is delayed by the rest, to the sample;
// its last frame may hold the delay's overhang, so it can be a frame longer than the file.
Cut audio_cut(const LayoutClip& clip, ExactRate rate) {
  const double start = std::max(0.0, clip.member.exact_start);
  const std::int64_t target = std::llround(start * static_cast<double>(kSampleRate));
  Cut cut;
  cut.clip = &clip;
  cut.start = static_cast<std::int64_t>(std::floor(start * rate.fps()));
  while (cut.start > 0 && first_sample(cut.start, rate) > target) --cut.start;
  cut.delay = delay_of(target - first_sample(cut.start, rate));
  const double end = start + std::max(0.0, clip.member.length);
  cut.frames =
      std::max<std::int64_t>(1, static_cast<std::int64_t>(std::ceil(end * rate.fps())) - cut.start);
  return cut;
}

// A picture is shown a frame at a time, so the nearest frame is as close as it can get;
// the avformat producer's video_delay rounds to whole frames too, and unsteadily at half.
Cut video_cut(const LayoutClip& clip, ExactRate rate) {
  Cut cut;
  cut.clip = &clip;
  cut.start = std::max<std::int64_t>(0, std::llround(clip.member.exact_start * rate.fps()));
  cut.frames = std::max<std::int64_t>(1, std::llround(clip.member.length * rate.fps()));
  return cut;
}

// Rounding can make two clips that touch share a frame; the earlier one gives it up,
// which costs only its overhang or a sliver of its end.
std::vector<Cut> track_cuts(const LayoutTrack& track, ExactRate rate) {
  std::vector<Cut> cuts;
  for (const LayoutClip& clip : track.clips) {
    Cut cut = track.video ? video_cut(clip, rate) : audio_cut(clip, rate);
    if (!cuts.empty()) {
      Cut& previous = cuts.back();
      if (cut.start < previous.start + previous.frames)
        previous.frames = std::max<std::int64_t>(1, cut.start - previous.start);
      cut.start = std::max(cut.start, previous.start + previous.frames);
    }
    cuts.push_back(cut);
  }
  return cuts;
}

// A property element nested `depth` levels deep, two spaces a level.
std::string property(int depth, const std::string& name, const std::string& value) {
  return std::string(2 * static_cast<size_t>(depth), ' ') + "<property name=\"" + name + "\">" +
         xml_escape(value) + "</property>\n";
}

std::string property(int depth, const std::string& name, std::int64_t value) {
  return property(depth, name, std::to_string(value));
}

std::string producer(const Cut& cut, const std::string& id, bool video, const Kdenlive& kdenlive) {
  const LayoutClip& clip = *cut.clip;
  const std::string out = std::to_string(cut.frames - 1);
  std::string text = "  <producer id=\"" + id + "\" in=\"0\" out=\"" + out + "\">\n";
  text += property(2, "length", cut.frames);
  text += property(2, "eof", "pause");
  text += property(2, "resource", clip.absolute);
  text += property(2, "mlt_service", "avformat");
  text += property(2, "seekable", 1);
  // Each use carries one kind of stream, as a clip whose sound an editor has detached.
  text += property(2, video ? "audio_index" : "video_index", -1);
  // Of several sound streams, the one the placement was measured on.
  if (!video && !clip.corrected && clip.member.sound_stream >= 0)
    text += property(2, "audio_index", clip.member.sound_stream);
  text += property(2, "shotcut:caption", clip.name);
  text += property(2, "brenvik:source", clip.source);
  text += property(2, "brenvik:corrected", clip.corrected ? 1 : 0);
  text += property(2, "brenvik:offset_s", fixed_text(clip.member.exact_start, kSecondsDecimals));
  text += property(2, "brenvik:rate_ppm", fixed_text(clip.member.rate_ppm, kPpmDecimals));
  text += property(2, "brenvik:drift_ppm", fixed_text(clip.member.drift_ppm, kPpmDecimals));
  text += property(2, "brenvik:refined", clip.member.refined ? 1 : 0);
  text += property(2, "brenvik:second_look", clip.member.second_look ? 1 : 0);
  text += property(2, "brenvik:placed_by", clip.placed_by);
  // MLT counts a file from its start; the timecode is for the editor to see.
  if (clip.media_timecode().present()) text += property(2, "brenvik:timecode", clip.media_timecode().text);
  if (kdenlive.on) text += property(2, "kdenlive:id", kdenlive.bin_id.at(clip.absolute));
  text += "  </producer>\n";
  return text;
}

std::string delay_filter(const Delay& delay, const Kdenlive& kdenlive) {
  std::string text = "      <filter mlt_service=\"avfilter.compensationdelay\">\n";
  if (kdenlive.on) text += property(4, "kdenlive_id", "avfilter.compensationdelay");
  text += property(4, "av.m", delay.m);
  text += property(4, "av.cm", delay.cm);
  text += property(4, "av.mm", delay.mm);
  text += property(4, "av.dry", 0);
  text += property(4, "av.wet", 1);
  text += property(4, "av.temp", kDelayTemperature);
  text += property(4, "brenvik:delay_samples", delay.samples);
  text += "      </filter>\n";
  return text;
}

std::string playlist(const LayoutTrack& track, const std::vector<Cut>& cuts,
                     const std::vector<std::string>& producers, const std::string& id,
                     const Kdenlive& kdenlive) {
  std::string text = "  <playlist id=\"" + id + "\">\n";
  text += property(2, "shotcut:name", track.name);
  text += property(2, track.video ? "shotcut:video" : "shotcut:audio", 1);
  if (kdenlive.on) {
    text += property(2, "kdenlive:track_name", track.name);
    if (!track.video) text += property(2, "kdenlive:audio_track", 1);
  }
  std::int64_t at = 0;
  for (size_t c = 0; c < cuts.size(); ++c) {
    const Cut& cut = cuts[c];
    if (cut.start > at) text += "    <blank length=\"" + std::to_string(cut.start - at) + "\"/>\n";
    text += "    <entry producer=\"" + producers[c] + "\" in=\"0\" out=\"" +
            std::to_string(cut.frames - 1) + "\"";
    text += cut.delay.samples > 0 ? ">\n" + delay_filter(cut.delay, kdenlive) + "    </entry>\n" : "/>\n";
    at = cut.start + cut.frames;
  }
  text += "  </playlist>\n";
  return text;
}

std::string transition(int id, int a_track, int b_track, const std::string& service,
                       const std::vector<std::pair<std::string, std::string>>& extra) {
  std::string text = "    <transition id=\"transition" + std::to_string(id) + "\">\n";
  text += property(3, "a_track", a_track);
  text += property(3, "b_track", b_track);
  text += property(3, "mlt_service", service);
  for (const auto& [name, value] : extra) text += property(3, name, value);
  text += "    </transition>\n";
  return text;
}

std::string profile(ExactRate rate, int width, int height) {
  const int common = std::gcd(width, height);
  const int aspect_num = common > 0 ? width / common : 1;
  const int aspect_den = common > 0 ? height / common : 1;
  std::ostringstream text;
  text.imbue(std::locale::classic());
  text << "  <profile description=\"" << width << "x" << height << " " << fixed_text(rate.fps(), 3)
       << " fps\" width=\"" << width << "\" height=\"" << height
       << "\" progressive=\"1\" sample_aspect_num=\"1\" sample_aspect_den=\"1\""
       << " display_aspect_num=\"" << aspect_num << "\" display_aspect_den=\"" << aspect_den
       << "\" frame_rate_num=\"" << rate.num << "\" frame_rate_den=\"" << rate.den
       << "\" colorspace=\"709\"/>\n";
  return text.str();
}

}  // namespace

namespace {

// Kdenlive's bin: one clip per media file, as long as its longest use, ids from 2 (Kdenlive
// keeps 1 for its own folder).
std::string bin(const std::vector<std::vector<Cut>>& tracks, Kdenlive& kdenlive) {
  std::map<std::string, std::pair<const LayoutClip*, std::int64_t>> files;
  std::vector<std::string> order;
  for (const auto& track : tracks)
    for (const Cut& cut : track) {
      auto [at, added] = files.try_emplace(cut.clip->absolute, cut.clip, cut.frames);
      if (added) order.push_back(cut.clip->absolute);
      at->second.second = std::max(at->second.second, cut.frames);
    }
  std::string producers, entries;
  int next = 2;
  for (const std::string& path : order) {
    const auto& [clip, frames] = files.at(path);
    const int id = kdenlive.bin_id[path] = next++;
    const std::string name = "bin" + std::to_string(id);
    const std::string out = std::to_string(frames - 1);
    producers += "  <producer id=\"" + name + "\" in=\"0\" out=\"" + out + "\">\n";
    producers += property(2, "length", frames);
    producers += property(2, "resource", path);
    producers += property(2, "mlt_service", "avformat");
    producers += property(2, "kdenlive:id", id);
    producers += property(2, "kdenlive:clipname", clip->name);
    producers += "  </producer>\n";
    entries += "    <entry producer=\"" + name + "\" in=\"0\" out=\"" + out + "\"/>\n";
  }
  return producers + "  <playlist id=\"main_bin\">\n" + property(2, "kdenlive:docproperties.version", "1.04") +
         property(2, "xml_retain", 1) + entries + "  </playlist>\n";
}

std::string document(const GroupLayout& layout, ExactRate rate, int width, int height, bool for_kdenlive) {
  if (rate.num <= 0 || rate.den <= 0) rate = ExactRate{};
  Kdenlive kdenlive;
  kdenlive.on = for_kdenlive;

  std::vector<std::vector<Cut>> tracks;
  std::int64_t total = 1;
  for (const LayoutTrack& track : layout.tracks) {
    tracks.push_back(track_cuts(track, rate));
    if (!tracks.back().empty())
      total = std::max(total, tracks.back().back().start + tracks.back().back().frames);
  }

  // Kdenlive reads its version from the document's first playlist, the bin.
  const std::string bin_text = for_kdenlive ? bin(tracks, kdenlive) : "";
  std::string producers;
  std::string playlists;
  int next_producer = 0;
  for (size_t t = 0; t < tracks.size(); ++t) {
    std::vector<std::string> ids;
    for (const Cut& cut : tracks[t]) {
      ids.push_back("producer" + std::to_string(next_producer++));
      producers += producer(cut, ids.back(), layout.tracks[t].video, kdenlive);
    }
    playlists += playlist(layout.tracks[t], tracks[t], ids, "playlist" + std::to_string(t), kdenlive);
  }

  // The editors' own layout: an opaque background as track 0, and every track's sound
  // summed onto it and its picture blended over the pictures below, higher tracks over
  // lower ones. qtblend is their blend; a melt without a display skips it and shows the
  // highest picture.
  const std::string last = std::to_string(total - 1);
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  text += "<mlt LC_NUMERIC=\"C\" version=\"7.12.0\" title=\"" + xml_attribute(layout.name) +
          "\" producer=\"main_tractor\">\n";
  text += profile(rate, width, height);
  text += bin_text;
  // Kdenlive takes its background as a track of its own, the colour producer itself.
  const std::string black = for_kdenlive ? "black_track" : "black";
  text += "  <producer id=\"" + black + "\" in=\"0\" out=\"" + last + "\">\n";
  text += property(2, "length", total);
  text += property(2, "eof", "pause");
  text += property(2, "resource", "0");
  text += property(2, "mlt_service", "color");
  text += property(2, "set.test_audio", 0);
  if (for_kdenlive) text += property(2, "kdenlive:playlistid", "black_track");
  text += "  </producer>\n";
  if (!for_kdenlive)
    text += "  <playlist id=\"background\">\n    <entry producer=\"black\" in=\"0\" out=\"" + last +
            "\"/>\n  </playlist>\n";
  text += producers + playlists;
  text += "  <tractor id=\"main_tractor\" title=\"" + xml_attribute(layout.name) +
          "\" in=\"0\" out=\"" + last + "\">\n";
  text += property(2, "shotcut", 1);
  // Kdenlive keeps its sound tracks below its video tracks, the first sound track
  // nearest the pictures; the others take the layout's order.
  std::vector<std::size_t> order;
  if (for_kdenlive) {
    for (std::size_t t = tracks.size(); t-- > 0;)
      if (!layout.tracks[t].video) order.push_back(t);
    for (std::size_t t = 0; t < tracks.size(); ++t)
      if (layout.tracks[t].video) order.push_back(t);
  } else {
    for (std::size_t t = 0; t < tracks.size(); ++t) order.push_back(t);
  }
  text += "    <multitrack>\n      <track producer=\"" + std::string(for_kdenlive ? black : "background") + "\"/>\n";
  for (const std::size_t t : order)
    text += "      <track producer=\"playlist" + std::to_string(t) + "\" hide=\"" +
            (layout.tracks[t].video ? "audio" : "video") + "\"/>\n";
  text += "    </multitrack>\n";
  // Each picture is blended onto the video track below it, the lowest onto the
  // background: Shotcut lays its own projects out so, and on loading switches the lowest
  // blend off, which would leave a picture blended onto the background alone unseen.
  // Kdenlive composes every track onto the background itself and keeps only the track
  // transitions it marks as its own (internal_added 237).
  std::vector<std::pair<std::string, std::string>> mix = {{"always_active", "1"}, {"sum", "1"}};
  std::vector<std::pair<std::string, std::string>> blend = {{"always_active", "1"}};
  if (for_kdenlive)
    for (auto* extra : {&mix, &blend}) extra->push_back({"internal_added", "237"});
  int transitions = 0;
  int below = 0;  // the video track under the next one
  for (std::size_t k = 0; k < order.size(); ++k) {
    const std::size_t t = order[k];
    const int b_track = static_cast<int>(k) + 1;
    text += transition(transitions++, 0, b_track, "mix", mix);
    if (layout.tracks[t].video) {
      text += transition(transitions++, for_kdenlive ? 0 : below, b_track, "qtblend", blend);
      below = b_track;
    }
  }
  text += "  </tractor>\n</mlt>\n";
  return text;
}

}  // namespace

std::string mlt_document(const GroupLayout& layout, ExactRate rate, int width, int height) {
  return document(layout, rate, width, height, false);
}

std::string kdenlive_document(const GroupLayout& layout, ExactRate rate, int width, int height) {
  return document(layout, rate, width, height, true);
}
