#include "tests/e2e/e2e_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/process.h"
#include "tests/support/test_support.h"

extern char** environ;

namespace fs = std::filesystem;

namespace e2e {

namespace {

constexpr const char* kPathUrlPrefix = "file://localhost/";

// The text between `open` and the next `close` at or after `from`; `from` moves past
// `close`. Empty and `from` = npos when either is missing.
std::string take_between(const std::string& text, const std::string& open, const std::string& close,
                         size_t& from) {
  const size_t a = text.find(open, from);
  if (a == std::string::npos) {
    from = std::string::npos;
    return {};
  }
  const size_t b = text.find(close, a + open.size());
  if (b == std::string::npos) {
    from = std::string::npos;
    return {};
  }
  from = b + close.size();
  return text.substr(a + open.size(), b - a - open.size());
}

std::string first_between(const std::string& text, const std::string& open,
                          const std::string& close) {
  size_t from = 0;
  return take_between(text, open, close, from);
}

std::string xml_unescape(const std::string& text) {
  static const std::pair<const char*, char> kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    bool replaced = false;
    if (text[i] == '&') {
      for (const auto& [entity, c] : kEntities) {
        if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
          out += c;
          i += std::char_traits<char>::length(entity);
          replaced = true;
          break;
        }
      }
    }
    if (!replaced) out += text[i++];
  }
  return out;
}

std::string percent_decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<ClipItem> clip_items(const std::string& section) {
  std::vector<ClipItem> items;
  size_t from = 0;
  while (true) {
    const std::string item = take_between(section, "<clipitem>", "</clipitem>", from);
    if (from == std::string::npos) break;
    ClipItem c;
    c.start = std::stod(first_between(item, "<start>", "</start>"));
    c.end = std::stod(first_between(item, "<end>", "</end>"));
    c.file_id = first_between(item, "<file id=\"", "\"");
    items.push_back(c);
  }
  return items;
}

std::vector<std::string> split(const std::string& line, char sep) {
  std::vector<std::string> cells;
  std::istringstream in(line);
  for (std::string cell; std::getline(in, cell, sep);) cells.push_back(cell);
  return cells;
}

}  // namespace

int make_event(const std::string& out_dir, const std::vector<std::string>& devices) {
  std::vector<std::string> argv = {BRENVIK_MAKE_EVENT_EXE, "--quiet", "--out", out_dir};
  for (const std::string& d : devices) argv.insert(argv.end(), {"--device", d});
  return run_program(argv, true);
}

std::map<std::string, TrueFile> read_manifest(const std::string& dir) {
  std::map<std::string, TrueFile> files;
  std::istringstream lines(testing_support::read_file(dir + "/manifest.tsv"));
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    const std::vector<std::string> c = split(line, '\t');
    if (c.size() < 9) continue;
    TrueFile f;
    f.name = c[0];
    f.device = c[1];
    f.event = c[2];
    // Silence, pictures and text have no place in the event ("-").
    f.start_s = c[3] == "-" ? 0.0 : std::stod(c[3]);
    f.duration_s = c[4] == "-" ? 0.0 : std::stod(c[4]);
    f.drift_ppm = c[6] == "-" ? 0.0 : std::stod(c[6]);
    f.kind = c[8];
    files[f.name] = f;
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

int run_capturing(const std::vector<std::string>& argv, const std::string& stdout_path) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return 127;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return 127;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<FoundPair> parse_pairs(const std::string& report) {
  // "<shorter>  <->  <longer>  offset +S.SSS s  drift ... ppm  refined|not refined"
  std::vector<FoundPair> pairs;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    const size_t arrow = line.find("  <->  ");
    const size_t offset = line.find("  offset ");
    if (arrow == std::string::npos || offset == std::string::npos || offset < arrow) continue;
    FoundPair p;
    p.shorter = line.substr(0, arrow);
    p.longer = line.substr(arrow + 7, offset - arrow - 7);
    p.offset_s = std::stod(line.substr(offset + 9));
    p.refined = line.size() >= 9 && line.compare(line.size() - 9, 9, "  refined") == 0;
    pairs.push_back(p);
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
  size_t from = 0;
  while (true) {
    const std::string clip = take_between(xml, "<clip>", "</clip>", from);
    if (from == std::string::npos) break;
    MasterClip c;
    c.name = xml_unescape(first_between(clip, "<name>", "</name>"));
    c.file_id = first_between(clip, "<file id=\"", "\"");
    std::string url = xml_unescape(first_between(clip, "<pathurl>", "</pathurl>"));
    if (url.rfind(kPathUrlPrefix, 0) == 0)
      url.erase(0, std::char_traits<char>::length(kPathUrlPrefix));
    c.path = percent_decode(url);
    t.clips.push_back(c);
  }
  from = 0;
  while (true) {
    const std::string seq = take_between(xml, "<sequence", "</sequence>", from);
    if (from == std::string::npos) break;
    Sequence s;
    s.video = clip_items(first_between(seq, "<video>", "</video>"));
    s.audio = clip_items(first_between(seq, "<audio>", "</audio>"));
    t.sequences.push_back(s);
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
    double earliest = 0;
    if (!starts.empty()) {
      earliest = std::min_element(starts.begin(), starts.end(), [](const auto& x, const auto& y) {
                   return x.second < y.second;
                 })->second;
    }
    for (auto& [name, at] : starts) at -= earliest;
    sequences.push_back(starts);
  }
  return sequences;
}

bool well_formed(const std::string& path) {
  return run_program({"xmllint", "--noout", path}, true) == 0;
}

Fingerprint file_fingerprint(const std::string& path) {
  constexpr uint64_t kFnvOffset = 14695981039346656037ull;
  constexpr uint64_t kFnvPrime = 1099511628211ull;
  Fingerprint f;
  f.hash = kFnvOffset;
  std::ifstream in(path, std::ios::binary);
  std::vector<char> block(1 << 16);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    const auto got = static_cast<size_t>(in.gcount());
    for (size_t i = 0; i < got; ++i) {
      f.hash = (f.hash ^ static_cast<unsigned char>(block[i])) * kFnvPrime;
    }
    f.size += got;
  }
  return f;
}

std::vector<std::string> folder_listing(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::string file_name(const std::string& path) { return fs::path(path).filename().string(); }

}  // namespace e2e
