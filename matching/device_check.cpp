#include "matching/device_check.h"

#include "core/format.h"

#include <algorithm>
#include <map>

namespace {

// Placements of one device's consecutive files meet within the pairs' measuring error; two
// devices recording at once overlap by far more.
constexpr double kOverlapSlackS = 0.5;

struct Placement {
  int group = -1;
  double start = 0.0;
  double end = 0.0;
  std::string name;
};

// Seconds two files record at once by their placements; 0 when the timeline cannot tell.
double overlap(const Placement* a, const Placement* b) {
  if (a == nullptr || b == nullptr || a->group != b->group) return 0.0;
  return std::max(0.0, std::min(a->end, b->end) - std::max(a->start, b->start));
}

}  // namespace

std::vector<std::string> split_disproved_devices(Timeline& timeline, std::vector<FoundDevice>& devices) {
  std::map<int, Placement> placed;
  for (std::size_t g = 0; g < timeline.groups.size(); ++g)
    for (const TimelineMember& m : timeline.groups[g].members)
      placed[m.entry] = {static_cast<int>(g), m.exact_start, m.exact_start + m.length, file_name(m.path)};
  const auto placement = [&](int entry) {
    const auto at = placed.find(entry);
    return at == placed.end() ? nullptr : &at->second;
  };

  std::vector<std::string> notes;
  std::vector<FoundDevice> kept;
  std::map<int, int> device_of;  // entry -> its device's first entry, for the split ones
  for (const FoundDevice& d : devices) {
    std::vector<std::vector<std::size_t>> parts;
    for (std::size_t k = 0; k < d.entries.size(); ++k) {
      bool fitted = false;
      for (std::vector<std::size_t>& part : parts) {
        const auto clash = std::find_if(part.begin(), part.end(), [&](std::size_t j) {
          return d.takes[j] != d.takes[k] &&
                 overlap(placement(d.entries[j]), placement(d.entries[k])) > kOverlapSlackS;
        });
        if (clash != part.end()) {
          if (&part == &parts.front())
            notes.push_back(placement(d.entries[*clash])->name + " and " + placement(d.entries[k])->name +
                            " were taken for one device (" + d.reason + "), but their sound overlaps by " +
                            fixed_text(overlap(placement(d.entries[*clash]), placement(d.entries[k])), 1) +
                            " s: not one device, split");
          continue;
        }
        part.push_back(k);
        fitted = true;
        break;
      }
      if (!fitted) parts.push_back({k});
    }
    for (const std::vector<std::size_t>& part : parts) {
      FoundDevice piece;
      piece.name = d.name;
      piece.reason = parts.size() == 1 ? d.reason : d.reason + "; split by the sound";
      for (std::size_t k : part) {
        piece.entries.push_back(d.entries[k]);
        piece.takes.push_back(d.takes[k]);
        device_of[d.entries[k]] = d.entries[part.front()];
      }
      kept.push_back(std::move(piece));
    }
  }
  if (notes.empty()) return notes;
  for (SyncGroup& g : timeline.groups)
    for (TimelineMember& m : g.members)
      if (const auto at = device_of.find(m.entry); at != device_of.end()) m.device = at->second;
  for (TimelineMember& m : timeline.unsynced)
    if (const auto at = device_of.find(m.entry); at != device_of.end()) m.device = at->second;
  devices = std::move(kept);
  return notes;
}
