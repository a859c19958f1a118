#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <unistd.h>
#include <sys/wait.h>
#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/process.h"
#include "nlohmann/json.hpp"
#include "tests/support/test_support.h"

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr const char* kPathUrlPrefix = "file://localhost/";

// The first of them, or "" when there is none.
std::string first_between(const std::string& text, const std::string& open,
                          const std::string& close) {
  const std::vector<std::string> all = testing_support::between(text, open, close);
  return all.empty() ? std::string() : all[0];
}

std::vector<ClipItem> clip_items(const std::string& section) {
  std::vector<ClipItem> items;
  for (const std::string& item : testing_support::between(section, "<clipitem>", "</clipitem>")) {
    items.push_back({first_between(item, "<file id=\"", "\""),
                     std::stod(first_between(item, "<start>", "</start>"))});
  }
  return items;
}

std::string file_name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace

int make_event(const std::string& out_dir, const std::vector<std::string>& devices) {
  std::vector<std::string> argv = {BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", out_dir};
  for (const std::string& d : devices) argv.insert(argv.end(), {"--device", d});
  return run_program(argv, true);
}

std::map<std::string, TrueFile> read_manifest(const std::string& dir) {
  std::map<std::string, TrueFile> files;
  std::istringstream lines(testing_support::read_file(dir + "/manifest.tsv"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> c;
    std::istringstream cells(line);
    for (std::string cell; std::getline(cells, cell, '\t');) c.push_back(cell);
    if (c.size() < 9 || c[0] == "file") continue;  // "file" heads the header row
    // Silence, pictures and text have no place in the event ("-").
    const auto number = [](const std::string& v) { return v == "-" ? 0.0 : std::stod(v); };
    files[c[0]] = {c[0], c[1], c[2], number(c[3]), number(c[4]), number(c[6])};
  }
  return files;
}

double file_time(const TrueFile& f, double event_s) {
  return (event_s - f.start_s) * (1.0 + f.drift_ppm * 1e-6);
}

double overlap_s(const TrueFile& a, const TrueFile& b) {
  return std::min(a.start_s + a.duration_s, b.start_s + b.duration_s) -
         std::max(a.start_s, b.start_s);
}

double true_offset(const TrueFile& shorter, const TrueFile& longer) {
  const double middle =
      std::max(shorter.start_s, longer.start_s) + std::max(0.0, overlap_s(shorter, longer)) / 2;
  return file_time(shorter, middle) - file_time(longer, middle);
}

int run_capturing(const std::vector<std::string>& argv, const std::string& stdout_path,
                  int interrupt_after_ms, int signal) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {  // only async-signal-safe calls from here to exec
    const int out = open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int null = open("/dev/null", O_RDWR);
    if (out < 0 || null < 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) _exit(127);
    execv(args[0], args.data());
    _exit(127);
  }
  if (pid > 0 && interrupt_after_ms >= 0) {
    usleep(static_cast<useconds_t>(interrupt_after_ms) * 1000);
    kill(pid, signal);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) < 0) return 127;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<FoundPair> parse_pairs(const std::string& report) {
  // "<shorter>  <->  <longer>  offset +S.SSS s  drift ... ppm  refined|not refined"
  std::vector<FoundPair> pairs;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    // Progress on stderr may share the first line, ended by a carriage return.
    if (const size_t cr = line.rfind('\r'); cr != std::string::npos) line.erase(0, cr + 1);
    const size_t arrow = line.find("  <->  ");
    const size_t offset = line.find("  offset ");
    if (arrow == std::string::npos || offset == std::string::npos || offset < arrow) continue;
    pairs.push_back({line.substr(0, arrow), line.substr(arrow + 7, offset - arrow - 7),
                     std::stod(line.substr(offset + 9))});
  }
  return pairs;
}

std::string Timeline::path_of(const std::string& file_id) const {
  for (const MasterClip& c : clips)
    if (c.file_id == file_id) return c.path;
  return {};
}

bool Timeline::names_file(const std::string& name) const {
  return std::any_of(clips.begin(), clips.end(),
                     [&](const MasterClip& c) { return file_name(c.path) == name; });
}

Timeline parse_timeline(const std::string& xml) {
  Timeline t;
  // Master clips are <clip> elements; sequences hold <clipitem>s, which this skips.
  for (const std::string& clip : testing_support::between(xml, "<clip>", "</clip>")) {
    std::string url = first_between(clip, "<pathurl>", "</pathurl>");
    if (url.rfind(kPathUrlPrefix, 0) == 0) url.erase(0, std::string(kPathUrlPrefix).size());
    t.clips.push_back({first_between(clip, "<name>", "</name>"),
                       first_between(clip, "<file id=\"", "\""), url});
  }
  for (const std::string& seq : testing_support::between(xml, "<sequence", "</sequence>")) {
    t.sequences.push_back({clip_items(first_between(seq, "<video>", "</video>")),
                           clip_items(first_between(seq, "<audio>", "</audio>"))});
  }
  return t;
}

std::vector<std::map<std::string, double>> member_starts(const Timeline& t, double fps) {
  std::vector<std::map<std::string, double>> sequences;
  for (const Sequence& seq : t.sequences) {
    std::map<std::string, double> starts;
    for (const ClipItem& a : seq.audio) {
      const bool pictured = std::any_of(seq.video.begin(), seq.video.end(),
                                        [&](const ClipItem& v) { return v.file_id == a.file_id; });
      starts[file_name(t.path_of(a.file_id))] = a.start / (pictured ? fps : std::trunc(fps));
    }
    sequences.push_back(starts);
  }
  return sequences;
}

std::vector<std::vector<PlacedClip>> otio_placements(const std::string& json) {
  const nlohmann::json collection = nlohmann::json::parse(json);
  const auto seconds = [](const nlohmann::json& time) {
    return time.at("value").get<double>() / time.at("rate").get<double>();
  };
  std::vector<std::vector<PlacedClip>> out;
  for (const nlohmann::json& timeline : collection.at("children")) {
    out.emplace_back();
    for (const nlohmann::json& track : timeline.at("tracks").at("children")) {
      double at = 0;
      for (const nlohmann::json& item : track.at("children")) {
        const nlohmann::json& range = item.at("source_range");
        if (item.at("OTIO_SCHEMA") == "Clip.2") {
          const nlohmann::json& media = item.at("media_references").at("DEFAULT_MEDIA");
          const std::string url = media.at("target_url").get<std::string>();
          const nlohmann::json& ours = item.at("metadata").at("brenvik");
          // Media time counts from the media's own start (its timecode, where it has one).
          const double into_media = seconds(range.at("start_time")) -
                                    seconds(media.at("available_range").at("start_time"));
          out.back().push_back({file_name(ours.at("source").get<std::string>()),
                                track.at("kind") == "Video", at - into_media,
                                url.substr(std::string("file://").size()),
                                ours.at("corrected").get<bool>()});
        }
        at += seconds(range.at("duration"));
      }
    }
  }
  return out;
}

std::unique_ptr<SyncedEvent> sync_event(const std::vector<std::string>& devices,
                                        const std::vector<std::string>& picked) {
  auto run = std::make_unique<SyncedEvent>();
  const std::string event = run->dir.file("event");
  if (make_event(event, devices) != 0) {
    run->report = "brenvik-make-event failed";
    return run;
  }
  run->truth = read_manifest(event);
  run->out = run->dir.file("timelines");
  std::vector<std::string> argv = {BRENVIK_SYNC_EXE, "--quiet", "--no-open", "--out", run->out};
  for (const std::string& p : picked) argv.push_back(p.rfind("--", 0) == 0 ? p : event + "/" + p);
  if (picked.empty())
    for (const auto& [name, f] : run->truth) argv.push_back(event + "/" + name);
  run->status = run_capturing(argv, run->dir.file("report.txt"));
  run->report = testing_support::read_file(run->dir.file("report.txt"));
  return run;
}

bool long_version(const char* variable) {
  const char* value = std::getenv(variable);
  return value && std::string(value) == "1";
}

std::map<std::string, std::string> mlt_sound_tracks(const std::string& xml) {
  std::vector<std::string> ids;  // of the media playlists, in mlt_entries' order
  for (const std::string& id : testing_support::between(xml, "<playlist id=\"", "\""))
    if (id != "background") ids.push_back(id);
  const auto tracks = testing_support::mlt_entries(xml);
  std::map<std::string, std::string> sound;
  for (std::size_t t = 0; t < tracks.size() && t < ids.size(); ++t)
    for (const testing_support::MltEntry& e : tracks[t])
      if (!e.video) sound[e.file] = ids[t];
  return sound;
}

std::vector<PlacedClip> mlt_placements(const std::string& xml) {
  std::vector<PlacedClip> out;
  for (const auto& track : testing_support::mlt_entries(xml))
    for (const testing_support::MltEntry& e : track) out.push_back({e.file, e.video, e.start, {}, false});
  return out;
}

bool well_formed(const std::string& path) {
  if (path.size() > 5 && path.compare(path.size() - 5, 5, ".otio") == 0)
    return nlohmann::json::accept(testing_support::read_file(path));
  return run_program({"xmllint", "--noout", path}, true) == 0;
}

std::vector<std::string> folder_listing(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::map<std::string, Fingerprint> folder_snapshot(const std::string& dir) {
  std::map<std::string, Fingerprint> files;
  for (const std::string& name : folder_listing(dir)) {
    const std::string bytes = testing_support::read_file(dir + "/" + name);
    files[name] = {bytes.size(), std::hash<std::string>{}(bytes)};
  }
  return files;
}

}  // namespace e2e
