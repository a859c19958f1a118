#include "media/device_proposal.h"

#include "core/entries.h"
#include "core/format.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace {

// Creation times count whole seconds, and some devices stamp a file when they start
// writing it rather than at its first sample.
constexpr double kCreationSlackS = 2.0;

// Entries between a BEGIN and the END that closes it (to the list's end without one): the
// user's word, which a proposal never touches.
std::vector<bool> marked_entries(const std::vector<std::string>& files) {
  std::vector<bool> marked(files.size(), false);
  bool inside = false;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (files[i] == kBeginMarker) inside = true;
    else if (files[i] == kEndMarker) inside = false;
    else marked[i] = inside;
  }
  return marked;
}

struct Candidate {
  std::string reason;
  std::vector<int> entries;
};

// The takes of a device in recording order: each the entries recorded at once.
struct Take {
  std::vector<int> entries;
  double start = kNoCreationTime;
  double end = kNoCreationTime;
};

std::vector<Take> takes_of(const std::vector<int>& entries, const std::vector<DeviceClues>& clues,
                           const std::vector<FileNumbering>& numbers) {
  std::map<std::tuple<std::string, long, int>, std::size_t> take_of;
  std::vector<Take> takes;
  for (int e : entries) {
    const auto k = static_cast<std::size_t>(e);
    const FileNumbering& n = numbers[k];
    // A file without a number is a take of its own.
    const auto key = n.numbered() ? std::make_tuple(n.scheme, n.number, n.chapter)
                                  : std::make_tuple(std::string("\x01") + std::to_string(e), -1L, 0);
    auto [at, added] = take_of.emplace(key, takes.size());
    if (added) takes.emplace_back();
    Take& t = takes[at->second];
    t.entries.push_back(e);
    if (!clues[k].created_known()) continue;
    const double end = clues[k].created + clues[k].duration_s;
    t.start = !std::isnan(t.start) ? std::min(t.start, clues[k].created) : clues[k].created;
    t.end = !std::isnan(t.end) ? std::max(t.end, end) : end;
  }
  return takes;
}

// By creation time when every take has one, else by number; a take's tracks by name.
void order(std::vector<Take>& takes, const std::vector<std::string>& files,
           const std::vector<FileNumbering>& numbers) {
  const bool timed = std::all_of(takes.begin(), takes.end(), [](const Take& t) { return !std::isnan(t.start); });
  const auto rank = [&](const Take& t) {
    const FileNumbering& n = numbers[static_cast<std::size_t>(t.entries.front())];
    return std::make_tuple(timed ? t.start : 0.0, n.number, n.chapter, file_name(files[static_cast<std::size_t>(t.entries.front())]));
  };
  for (Take& t : takes)
    std::sort(t.entries.begin(), t.entries.end(), [&](int a, int b) {
      return std::make_pair(numbers[static_cast<std::size_t>(a)].track, file_name(files[static_cast<std::size_t>(a)])) <
             std::make_pair(numbers[static_cast<std::size_t>(b)].track, file_name(files[static_cast<std::size_t>(b)]));
    });
  std::stable_sort(takes.begin(), takes.end(), [&](const Take& a, const Take& b) { return rank(a) < rank(b); });
}

// The first two takes that were recording at once, by their creation times; none: "".
std::string overlapping_takes(const std::vector<Take>& takes, const std::vector<std::string>& files) {
  for (std::size_t a = 0; a < takes.size(); ++a)
    for (std::size_t b = a + 1; b < takes.size(); ++b) {
      const Take& x = takes[a];
      const Take& y = takes[b];
      if (std::isnan(x.start) || std::isnan(y.start)) continue;
      if (std::min(x.end, y.end) - std::max(x.start, y.start) > kCreationSlackS)
        return file_name(files[static_cast<std::size_t>(x.entries.front())]) + " and " +
               file_name(files[static_cast<std::size_t>(y.entries.front())]);
    }
  return {};
}

}  // namespace

DeviceProposal propose_devices(const std::vector<std::string>& files,
                               const std::vector<DeviceClues>& clues) {
  const std::vector<bool> marked = marked_entries(files);
  std::vector<FileNumbering> numbers(files.size());
  std::vector<std::string> keys;
  std::map<std::string, Candidate> candidates;
  for (std::size_t i = 0; i < files.size() && i < clues.size(); ++i) {
    if (is_marker(files[i]) || marked[i]) continue;
    numbers[i] = file_numbering(files[i]);
    const DeviceClues& c = clues[i];
    const FileNumbering& n = numbers[i];
    std::string key, reason;
    if (!c.serial.empty()) {
      key = "serial\n" + lower_case(c.make) + "\n" + lower_case(c.model) + "\n" + c.serial;
      reason = kSameSerial;
    } else if (!c.name().empty() && n.numbered() && !n.phone) {
      key = "model\n" + lower_case(c.name()) + "\n" + c.format + "\n" + n.folder + "\n" + n.scheme;
      reason = kSameModelNumbered;
    } else {
      continue;
    }
    auto [at, added] = candidates.emplace(key, Candidate{reason, {}});
    if (added) keys.push_back(key);
    at->second.entries.push_back(static_cast<int>(i));
  }

  DeviceProposal out;
  for (const std::string& key : keys) {
    const Candidate& c = candidates[key];
    if (c.entries.size() < 2) continue;
    std::vector<Take> takes = takes_of(c.entries, clues, numbers);
    order(takes, files, numbers);
    if (const std::string both = overlapping_takes(takes, files); !both.empty()) {
      out.refused.push_back(both + " look like one device (" + c.reason +
                            "), but their creation times overlap: not one device");
      continue;
    }
    FoundDevice d;
    d.reason = c.reason;
    d.name = clues[static_cast<std::size_t>(c.entries.front())].name();
    for (const Take& t : takes)
      for (int e : t.entries) {
        d.entries.push_back(e);
        d.takes.push_back(t.entries.front());
      }
    out.devices.push_back(std::move(d));
  }
  return out;
}

std::vector<std::string> bracket_devices(const std::vector<std::string>& files,
                                         std::vector<FoundDevice>& devices, std::vector<int>& moved_to) {
  std::vector<int> device_of(files.size(), -1);
  for (std::size_t d = 0; d < devices.size(); ++d)
    for (int e : devices[d].entries) device_of[static_cast<std::size_t>(e)] = static_cast<int>(d);
  std::vector<bool> placed(devices.size(), false);
  moved_to.assign(files.size(), -1);
  std::vector<std::string> out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    const int d = device_of[i];
    if (d < 0) {
      moved_to[i] = static_cast<int>(out.size());
      out.push_back(files[i]);
      continue;
    }
    if (placed[static_cast<std::size_t>(d)]) continue;
    placed[static_cast<std::size_t>(d)] = true;
    out.push_back(kBeginMarker);
    for (int e : devices[static_cast<std::size_t>(d)].entries) {
      moved_to[static_cast<std::size_t>(e)] = static_cast<int>(out.size());
      out.push_back(files[static_cast<std::size_t>(e)]);
    }
    out.push_back(kEndMarker);
  }
  for (FoundDevice& device : devices) {
    for (int& e : device.entries) e = moved_to[static_cast<std::size_t>(e)];
    for (int& t : device.takes) t = moved_to[static_cast<std::size_t>(t)];
  }
  return out;
}
