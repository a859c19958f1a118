#pragma once
// The entries of a file list: media paths, and the two markers that bracket the files
// recorded one after another on one device.

#include <algorithm>
#include <string>
#include <vector>

inline constexpr const char* kBeginMarker =
    "The following files are all recorded on one device - BEGIN of the List";
inline constexpr const char* kEndMarker =
    "The following files are all recorded on one device - END of the List";

// True for either marker text, exactly.
inline bool is_marker(const std::string& entry) {
  return entry == kBeginMarker || entry == kEndMarker;
}

// The entries that are media files: what progress counts.
inline int media_entry_count(const std::vector<std::string>& entries) {
  return static_cast<int>(std::count_if(entries.begin(), entries.end(),
                                        [](const std::string& e) { return !is_marker(e); }));
}
