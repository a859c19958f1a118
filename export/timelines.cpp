#include "export/timelines.h"

#include "export/fcpxml.h"
#include "export/mlt.h"
#include "export/otio.h"
#include "export/timeline_layout.h"

#include <cctype>

namespace {

constexpr const char* kSyncedName = "SYNCED";
constexpr const char* kUnsyncedName = "UNSYNCED";
constexpr const char* kEventName = "Brenvik";
const std::string kFurtherPrefix = "SYNCED-";
const std::string kMltSuffix = ".mlt";

}  // namespace

std::vector<std::pair<std::string, std::string>> timeline_documents(const Timeline& timeline,
                                                                    float fps, int width,
                                                                    int height) {
  const ExactRate rate = exact_rate(fps);
  const std::vector<GroupLayout> groups = layout_groups(timeline);
  const std::vector<GroupLayout> unsynced{layout_unsynced(timeline)};
  const std::string synced(kSyncedName);
  const std::string loose(kUnsyncedName);

  std::vector<std::pair<std::string, std::string>> docs;
  docs.emplace_back(synced + ".otio", otio_document(groups, rate, synced));
  docs.emplace_back(loose + ".otio", otio_document(unsynced, rate, loose));
  docs.emplace_back(synced + ".fcpxml", fcpxml_document(groups, rate, width, height, kEventName));
  docs.emplace_back(loose + ".fcpxml",
                    fcpxml_document(unsynced, rate, width, height, kEventName));
  for (std::size_t g = 0; g < groups.size(); ++g)
    docs.emplace_back(g == 0 ? synced + kMltSuffix
                             : kFurtherPrefix + std::to_string(g + 1) + kMltSuffix,
                      mlt_document(groups[g], rate, width, height));
  docs.emplace_back(loose + kMltSuffix, mlt_document(unsynced.front(), rate, width, height));
  return docs;
}

bool is_further_mlt_name(const std::string& name) {
  if (name.size() <= kFurtherPrefix.size() + kMltSuffix.size()) return false;
  if (name.compare(0, kFurtherPrefix.size(), kFurtherPrefix) != 0) return false;
  if (name.compare(name.size() - kMltSuffix.size(), kMltSuffix.size(), kMltSuffix) != 0)
    return false;
  const std::string number =
      name.substr(kFurtherPrefix.size(), name.size() - kFurtherPrefix.size() - kMltSuffix.size());
  for (const char c : number)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return number.front() != '0' && number != "1";
}

std::string applications_for(const std::string& document_name) {
  const auto ends_with = [&](const std::string& tail) {
    return document_name.size() >= tail.size() &&
           document_name.compare(document_name.size() - tail.size(), tail.size(), tail) == 0;
  };
  if (ends_with("_fcp.XML")) return "Final Cut Pro 7, DaVinci Resolve";
  if (ends_with("_premierePro.XML")) return "Premiere Pro";
  if (ends_with(".otio")) return "DaVinci Resolve, Kdenlive, OpenTimelineIO tools";
  if (ends_with(kMltSuffix)) return "Shotcut, Kdenlive, melt";
  if (ends_with(".fcpxml")) return "Final Cut Pro 10/11, DaVinci Resolve";
  return {};
}
