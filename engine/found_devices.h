#pragma once
// The devices a run finds from its files: each file's container read once, the devices
// proposed from what the files say, and the file list marked as the user would mark it.

#include "core/results.h"
#include "media/streams.h"

#include <string>
#include <vector>

struct DeviceFinding {
  std::vector<std::string> files;   // the list with each device found bracketed
  std::vector<MediaStart> starts;   // media_start of each entry of `files`; the run reads none again
  std::vector<FoundDevice> devices; // with their positions in `files`
  std::vector<std::string> refused; // files that looked like one device and are not, and why
};

// Reads every media entry's container (several at once), proposes the devices
// (propose_devices) and brackets them. Logs each device with its files and reason, and
// each refusal.
DeviceFinding find_devices(const std::vector<std::string>& files);

// "Sony ILCE-7M3 (same serial): C0001.MP4, C0002.MP4": a device as the log and the front
// ends name it; `entries` is the file list it belongs to.
std::string found_device_text(const FoundDevice& device, const std::vector<std::string>& entries);
