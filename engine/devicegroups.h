#pragma once
// Device groups: runs of entries bracketed by the two marker entries.

#include "engine/types.h"

#include <string>
#include <vector>

inline constexpr const char* kBeginMarker =
    "The following files are all recorded on one device - BEGIN of the List";
inline constexpr const char* kEndMarker =
    "The following files are all recorded on one device - END of the List";

// True for either marker text, exactly.
bool is_marker(const std::string& entry);

// Takes the analysis list (markers carry the analysis suffix there) and returns the
// positions strictly between each BEGIN and the END that closes it; groups of fewer
// than two entries are dropped. Logs its walk.
DeviceGroups devicegroopy(std::vector<std::string> analysis);
