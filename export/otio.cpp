#include "export/otio.h"

#include "core/format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

constexpr double kAudioRate = static_cast<double>(kTimelineAudioRate);
constexpr char kHex[] = "0123456789abcdef";

// A JSON string: quotes, backslashes and controls escaped, valid UTF-8 passed through,
// every byte that is not (and U+FFFE, U+FFFF) as U+FFFD, as xml_text does. The controls
// are ASCII, never part of a longer character, so the runs between them are handed to
// xml_text whole.
std::string json_string(const std::string& text) {
  std::string out = "\"";
  std::size_t run = 0;
  const auto flush = [&](std::size_t end) {
    for (const char c : xml_text(text.substr(run, end - run))) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
  };
  for (std::size_t pos = 0; pos < text.size(); ++pos) {
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c >= 0x20 && c != 0x7F) continue;
    flush(pos);
    run = pos + 1;
    switch (c) {
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 0x0F];
    }
  }
  flush(text.size());
  out += '"';
  return out;
}

// The shortest text that reads back as the same double, always with a decimal point or
// an exponent so that every reader takes it for a floating-point number. JSON has no
// NaN or infinity: those are written as null.
std::string json_number(double value) {
  if (!std::isfinite(value)) return "null";
  if (value == 0.0) value = 0.0;  // no "-0"
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

std::string rational_time(double value, double rate) {
  return "{\"OTIO_SCHEMA\": \"RationalTime.1\", \"rate\": " + json_number(rate) +
         ", \"value\": " + json_number(value) + "}";
}

std::string time_range(double start, double duration, double rate) {
  return "{\"OTIO_SCHEMA\": \"TimeRange.1\", \"duration\": " + rational_time(duration, rate) +
         ", \"start_time\": " + rational_time(start, rate) + "}";
}

// The fields every Item (Gap, Clip, Track, Stack) carries besides its own.
std::string item_fields(const std::string& name, const std::string& source_range) {
  return "\"name\": " + json_string(name) + ", \"source_range\": " + source_range +
         ", \"effects\": [], \"markers\": [], \"enabled\": true";
}

std::string indent(int depth) { return std::string(static_cast<std::size_t>(depth) * 2, ' '); }

std::string gap(double duration, double rate, int depth) {
  return indent(depth) + "{\"OTIO_SCHEMA\": \"Gap.1\", \"metadata\": {}, " +
         item_fields("", time_range(0.0, duration, rate)) + "}";
}

std::string clip_metadata(const LayoutClip& clip) {
  const TimelineMember& m = clip.member;
  return "{\"brenvik\": {\"source\": " + json_string(clip.source) +
         ", \"corrected\": " + (clip.corrected ? "true" : "false") +
         ", \"offset_s\": " + json_number(m.exact_start) +
         ", \"rate_ppm\": " + json_number(m.rate_ppm) +
         ", \"drift_ppm\": " + json_number(m.drift_ppm) +
         ", \"refined\": " + (m.refined ? "true" : "false") +
         ", \"second_look\": " + (m.second_look ? "true" : "false") +
         ", \"placed_by\": " + (clip.placed_by.empty() ? "null" : json_string(clip.placed_by)) +
         (clip.media_timecode().present() ? ", \"timecode\": " + json_string(clip.media_timecode().text) : "") +
         (clip.member.sound_stream >= 0 && !clip.corrected
              ? ", \"sound_stream\": " + std::to_string(clip.member.sound_stream)
              : "") +
         (clip.member.sound_channel >= 0 && !clip.corrected
              ? ", \"sound_channel\": " + std::to_string(clip.member.sound_channel)
              : "") +
         "}}";
}

// `duration` may be less than the media's length when the device's next file starts
// before this one ends (by less than the layout's touching margin): the clip's tail is
// cut so that the next one sits exactly at its place.
std::string clip_item(const LayoutClip& clip, double duration, double rate, int depth) {
  const double length = clip.member.length * rate;
  // Media time counts from the file's timecode where it has one.
  const double media_start = clip.media_timecode().present() ? clip.media_timecode().seconds() * rate : 0.0;
  const std::string reference =
      "{\"OTIO_SCHEMA\": \"ExternalReference.1\", \"metadata\": {}, \"name\": " +
      json_string(clip.name) + ", \"available_range\": " + time_range(media_start, length, rate) +
      ", \"available_image_bounds\": null, \"target_url\": " + json_string(clip.url) + "}";
  return indent(depth) + "{\"OTIO_SCHEMA\": \"Clip.2\", \"metadata\": " + clip_metadata(clip) +
         ", " + item_fields(clip.name, time_range(media_start, duration, rate)) +
         ", \"media_references\": {\"DEFAULT_MEDIA\": " + reference +
         "}, \"active_media_reference_key\": \"DEFAULT_MEDIA\"}";
}

// Gaps and clips in the track's own units: every clip starts at exact_start·rate, the
// sum of all the items before it.
std::string track(const LayoutTrack& t, double rate, int depth) {
  struct Item {
    const LayoutClip* clip;  // nullptr for a gap
    double duration;
  };
  std::vector<Item> items;
  double end = 0.0;  // where the last clip ends, in track units
  for (const LayoutClip& clip : t.clips) {
    const double start = clip.member.exact_start * rate;
    if (start > end) {
      items.push_back({nullptr, start - end});
    } else if (start < end && !items.empty()) {
      // The previous item is the clip that overlaps this one.
      Item& previous = items.back();
      previous.duration = std::max(0.0, previous.duration - (end - start));
    }
    const double duration = std::max(0.0, clip.member.length * rate);
    items.push_back({&clip, duration});
    end = start + duration;
  }

  std::string children;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) children += ",\n";
    children += items[i].clip ? clip_item(*items[i].clip, items[i].duration, rate, depth + 1)
                              : gap(items[i].duration, rate, depth + 1);
  }
  return indent(depth) + "{\"OTIO_SCHEMA\": \"Track.1\", \"metadata\": {}, " +
         item_fields(t.name, "null") + ", \"kind\": " + (t.video ? "\"Video\"" : "\"Audio\"") +
         ", \"children\": [\n" + children + (children.empty() ? "" : "\n") + indent(depth) +
         "]}";
}

std::string timeline(const GroupLayout& layout, double video_rate, int depth) {
  std::string tracks;
  for (const LayoutTrack& t : layout.tracks) {
    if (!tracks.empty()) tracks += ",\n";
    tracks += track(t, t.video ? video_rate : kAudioRate, depth + 2);
  }
  return indent(depth) + "{\"OTIO_SCHEMA\": \"Timeline.1\", \"metadata\": {}, \"name\": " +
         json_string(layout.name) +
         ", \"global_start_time\": " + rational_time(0.0, video_rate) + ",\n" + indent(depth + 1) +
         "\"tracks\": {\"OTIO_SCHEMA\": \"Stack.1\", \"metadata\": {}, " +
         item_fields("tracks", "null") + ", \"children\": [\n" + tracks +
         (tracks.empty() ? "" : "\n") + indent(depth + 1) + "]}}";
}

}  // namespace

std::string otio_document(const std::vector<GroupLayout>& layouts, ExactRate rate,
                          const std::string& name) {
  const double video_rate = rate.num > 0 && rate.den > 0 ? rate.fps() : ExactRate{}.fps();
  std::string children;
  for (const GroupLayout& layout : layouts) {
    if (!children.empty()) children += ",\n";
    children += timeline(layout, video_rate, 1);
  }
  return "{\"OTIO_SCHEMA\": \"SerializableCollection.1\", \"metadata\": {}, \"name\": " +
         json_string(name) + ", \"children\": [\n" + children + (children.empty() ? "" : "\n") +
         "]}\n";
}
