#pragma once
// Device groups: runs of entries bracketed by the two marker entries.

#include "core/entries.h"
#include "core/types.h"

#include <string>
#include <vector>

// Takes the analysis list (markers carry the analysis suffix there) and returns the
// positions strictly between each BEGIN and the END that closes it; groups of fewer
// than two entries are dropped. Logs its walk.
DeviceGroups devicegroopy(std::vector<std::string> analysis);
