#include "cli/cli_options.h"
#include "core/entries.h"
#include "core/format.h"
#include "export/formats.h"
#include "media/streams.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <system_error>

namespace fs = std::filesystem;

namespace {

bool parse_double(const std::string& text, double& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end && std::isfinite(out);
}

bool parse_int(const std::string& text, int& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// "500M", "2G", "750000K" or bytes: the binary multiples, as disk tools give them.
bool parse_size(const std::string& text, std::uint64_t& out) {
  if (text.empty()) return false;
  std::uint64_t unit = 1;
  std::string digits = text;
  switch (text.back()) {
    case 'K': case 'k': unit = 1ull << 10; break;
    case 'M': case 'm': unit = 1ull << 20; break;
    case 'G': case 'g': unit = 1ull << 30; break;
    case 'T': case 't': unit = 1ull << 40; break;
    default: break;
  }
  if (unit != 1) digits.pop_back();
  std::uint64_t n = 0;
  const char* end = digits.data() + digits.size();
  auto [ptr, ec] = std::from_chars(digits.data(), end, n);
  if (ec != std::errc() || ptr != end || digits.empty() || n > UINT64_MAX / unit) return false;
  out = n * unit;
  return true;
}

std::string absolute_path(const std::string& path, const std::string& cwd) {
  if (!path.empty() && path.front() == '/') return path;
  return (fs::path(cwd) / path).lexically_normal().string();
}

// "finalcut, premiere, …": the keys --editor takes besides the full names.
std::string editor_names() {
  std::string names;
  for (const Editor& editor : editors()) names += (names.empty() ? "" : ", ") + std::string(editor.key);
  return names;
}

}  // namespace

std::string usage_text() {
  const RunSettings d;
  return "usage: brenvik-sync [--tolerance T] [--fps F] [--width X] [--height Y]\n"
         "                    [--premiere 0|1] [--refine 0|1] [--drift-correct 0|1]\n"
         "                    [--sound-stream N] [--quiet] [--no-open] [--no-cache] [--out DIR]\n"
         "                    [--editor NAME] [--cache-limit SIZE]\n"
         "                    [--main-sound FILE] [--devices marked|auto]\n"
         "                    [--write-media]\n"
         "                    FILE... [--device FILE... --end] ...\n"
         "\n"
         "Lines up recordings of one event by their sound and writes its timelines (Final\n"
         "Cut Pro 7 XML, OpenTimelineIO, MLT, FCPXML) to --out DIR, else to Brenvik.app/SYNCED\n"
         "when the working directory holds Brenvik.app, else to a new folder in ~/Videos/Brenvik.\n"
         "\n"
         "  --tolerance T   fingerprint threshold decay, " + float2string(kToleranceAbove) +
         " < T <= " + float2string(kToleranceMax) + " (default " + float2string(d.tolerance) + ")\n"
         "  --fps F         sequence frame rate (default " + float2string(d.fps) + ")\n"
         "  --width X       Premiere Pro frame width (default " + std::to_string(d.width) + ")\n"
         "  --height Y      Premiere Pro frame height (default " + std::to_string(d.height) + ")\n"
         "  --premiere 0|1  Premiere Pro sequence settings (default " + std::to_string(d.premiere) + ")\n"
         "  --refine 0|1    refine offsets below one frame (default " + (d.refine ? "1" : "0") + ")\n"
         "  --drift-correct 0|1  copy the sound of audio-only files whose clock drifts,\n"
         "                  resampled onto the reference clock, into DIR/corrected for the\n"
         "                  OpenTimelineIO, MLT and FCPXML timelines (default " +
         (d.drift_correct ? "1" : "0") + ")\n"
         "  --sound-stream N  of files with several sound streams, analyse the N-th where a\n"
         "                  file has it (default 0: the one with the most signal)\n"
         "  --quiet         no traces; progress and the time left on stderr (plain lines\n"
         "                  at most once a second when stderr is no terminal)\n"
         "  --no-open       do not show the output folder\n"
         "  --no-cache      neither take nor keep the fingerprints and measurements that\n"
         "                  spare a later run of the same files its work\n"
         "  --cache-limit SIZE  what the cache may hold, such as 500M or 4G; beyond it the\n"
         "                  least recently used go after the run (default " +
         std::to_string(kDefaultCacheLimit >> 30) + "G)\n"
         "  --out DIR       write the timelines to DIR (made when missing)\n"
         "  --editor NAME   the application you edit in, whose timeline is named first:\n"
         "                  " + editor_names() + "\n"
         "  --main-sound FILE  the sound that goes with the cameras' pictures in the ready-\n"
         "                  to-cut clips: any file of its device (default: the audio-only\n"
         "                  device that covers most of the cameras' time)\n"
         "  --write-media   per camera clip, a copy of its file with the main sound cut to\n"
         "                  it on the camera's clock, the camera's own sound second, in\n"
         "                  DIR/synced-media (the sources are only read)\n"
         "  --device ... --end   files recorded one after another on one device\n"
         "  --devices marked|auto  auto: also take files for one device by what they say of\n"
         "                  it (serial number; maker, model, format, folder and numbering);\n"
         "                  marked files stay as marked (default marked)\n"
         "  --              every argument after it is a file, even one that starts with -\n"
         "\n"
         "Exit status: 0 synced, 1 nothing in sync, 2 bad usage or input, 3 run impossible,\n"
         "128 + N stopped by signal N (130 for Ctrl-C).\n";
}

namespace {

bool takes_value(const std::string& option) {
  return option == "--tolerance" || option == "--fps" || option == "--width" ||
         option == "--height" || option == "--premiere" || option == "--refine" ||
         option == "--drift-correct" || option == "--sound-stream" || option == "--devices";
}

// Sets the run setting an option that takes a value names; returns why the value is
// refused, empty when it is taken.
std::string set_value(const std::string& a, const std::string& v, RunSettings& settings) {
  double d = 0;
  int n = 0;
  if (a == "--tolerance") {
    if (!parse_double(v, d) || !tolerance_allowed(d))
      return "--tolerance takes a number above " + float2string(kToleranceAbove) +
             " and at most " + float2string(kToleranceMax) + ", not '" + v + "'";
    settings.tolerance = d;
  } else if (a == "--fps") {
    if (!parse_double(v, d) || !fps_allowed(d))
      return "--fps takes a frame rate such as 25 or 29.97, not '" + v + "'";
    settings.fps = static_cast<float>(d);
  } else if (a == "--width" || a == "--height") {
    if (!parse_int(v, n) || !frame_side_allowed(n))
      return a + " takes a positive number of pixels, not '" + v + "'";
    (a == "--width" ? settings.width : settings.height) = n;
  } else if (a == "--sound-stream") {
    if (!parse_int(v, n) || !sound_stream_allowed(n))
      return "--sound-stream takes 0 (the loudest) or a stream number from 1 to " +
             std::to_string(kSoundStreamMax) + ", not '" + v + "'";
    settings.sound_stream = n;
  } else if (a == "--devices") {
    if (v != "marked" && v != "auto") return "--devices takes marked or auto, not '" + v + "'";
    settings.find_devices = v == "auto";
  } else {
    if (v != "0" && v != "1") return a + " takes 0 or 1, not '" + v + "'";
    if (a == "--premiere")
      settings.premiere = v == "1" ? 1 : 0;
    else if (a == "--refine")
      settings.refine = v == "1";
    else
      settings.drift_correct = v == "1";
  }
  return {};
}

}  // namespace

CliParse parse_cli(const std::vector<std::string>& args, const std::string& cwd) {
  CliParse result;
  CliOptions& o = result.options;
  bool in_device = false;
  bool left_out_of_group = false;  // a file of the open device group was left out
  bool only_files = false;
  // Each file by the path it resolves to (links and "..": one file under two names),
  // with the argument that first named it.
  std::map<fs::path, std::string> seen;
  std::string main_sound;
  auto fail = [&](std::string message) {
    result.error = console_safe(message);
    return result;
  };
  // Returns why the file cannot be taken; empty when it is taken.
  auto add_file = [&](const std::string& a) -> std::string {
    const std::string path = absolute_path(a, cwd);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return "no such file: " + a;
    if (!is_recording(path)) {
      o.left_out.push_back(a);
      left_out_of_group = in_device;
      return {};
    }
    const fs::path real = fs::weakly_canonical(path, ec);
    const auto [earlier, added] = seen.emplace(ec ? fs::path(path) : real, a);
    if (added) {
      o.files.push_back(path);
      return {};
    }
    if (earlier->second == a) return a + " is given twice";
    return a + " is given twice (first as " + earlier->second + ")";
  };

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--" && !only_files) {
      only_files = true;
      continue;
    }
    if (only_files || a.size() < 2 || a[0] != '-') {
      if (std::string problem = add_file(a); !problem.empty()) return fail(std::move(problem));
      continue;
    }
    if (a == "--out") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return fail("--out needs a folder");
      o.out = absolute_path(args[++i], cwd);
      continue;
    }
    if (a == "--cache-limit") {
      if (i + 1 >= args.size() || !parse_size(args[i + 1], o.cache_limit) || o.cache_limit == 0)
        return fail("--cache-limit takes a size such as 500M or 4G (--no-cache for none)" +
                    (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : std::string()));
      ++i;
      continue;
    }
    if (a == "--main-sound") {
      if (i + 1 >= args.size() || args[i + 1].empty()) return fail("--main-sound needs a file");
      main_sound = absolute_path(args[++i], cwd);
      continue;
    }
    if (a == "--editor") {
      const Editor* editor = i + 1 < args.size() ? find_editor(args[i + 1]) : nullptr;
      if (!editor) return fail("--editor takes one of " + editor_names() + (i + 1 < args.size() ? ", not '" + args[i + 1] + "'" : ""));
      o.editor = std::string(editor->key);
      ++i;
      continue;
    }
    if (takes_value(a)) {
      if (i + 1 >= args.size()) return fail(a + " needs a value");
      if (std::string problem = set_value(a, args[++i], o.settings); !problem.empty())
        return fail(std::move(problem));
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--no-open") {
      o.no_open = true;
    } else if (a == "--no-cache") {
      o.no_cache = true;
    } else if (a == "--write-media") {
      o.settings.write_media = true;
    } else if (a == "--help" || a == "-h") {
      o.help = true;
      return result;
    } else if (a == "--device") {
      if (in_device) return fail("--device inside --device: close the first group with --end");
      in_device = true;
      left_out_of_group = false;
      o.files.push_back(kBeginMarker);
    } else if (a == "--end") {
      if (!in_device) return fail("--end without --device");
      in_device = false;
      // A group emptied by what was left out goes too; one given empty stays, as given.
      if (o.files.back() == kBeginMarker && left_out_of_group)
        o.files.pop_back();
      else
        o.files.push_back(kEndMarker);
    } else {
      return fail("unknown option " + a);
    }
  }
  if (in_device) return fail("--device without its --end");
  if (media_entry_count(o.files) == 0) return fail("no media files given");
  if (!main_sound.empty()) {
    MainSoundEntry chosen = main_sound_entry(main_sound, o.files);
    if (!chosen.problem.empty()) return fail(std::move(chosen.problem));
    o.settings.main_sound = std::move(chosen.entry);
  }
  return result;
}
