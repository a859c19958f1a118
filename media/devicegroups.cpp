#include "media/devicegroups.h"

#include "core/log.h"
#include "media/media.h"

DeviceGroups devicegroopy(std::vector<std::string> analysis) {
  // The markers arrive in their analysis-list form, suffix and all.
  const std::string begin = std::string(kBeginMarker) + kAnalysisSuffix;
  const std::string end = std::string(kEndMarker) + kAnalysisSuffix;
  const int n = static_cast<int>(analysis.size());

  DeviceGroups groups;
  for (int i = 0; i < n; ++i) {
    logthis("i=" + std::to_string(i));
    if (analysis[i] != begin) continue;
    logthis(analysis[i] + " = begin");
    std::vector<int> members;
    // Without a closing END, i stays put and scanning resumes right after this BEGIN,
    // so a later BEGIN in the same unclosed run opens a further, overlapping group.
    for (int j = i + 1; j < n; ++j) {
      logthis(analysis[j] + " ---zemanje  duri ne e END");
      if (analysis[j] == end) {
        i = j;
        logthis(analysis[j] +
                " ---kraj na grupata go zgolemuvame i i praime brejk na ovoj loop   i=" +
                std::to_string(i));
        break;
      }
      members.push_back(j);
      logthis(analysis[j]);
    }
    // A cancelled device pick leaves BEGIN, END; a lone file has nothing to be kept apart from.
    if (members.size() >= 2) {
      logthis("zapisuvanje na temp vektorot vo rez...");
      groups.push_back(members);
    }
  }
  return groups;
}
