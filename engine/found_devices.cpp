#include "engine/found_devices.h"

#include "core/entries.h"
#include "core/format.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/process.h"
#include "media/device_proposal.h"

DeviceFinding find_devices(const std::vector<std::string>& files) {
  std::vector<MediaStart> starts(files.size());
  ordered_parallel_for(static_cast<int>(files.size()), worker_count(), [&](int i) {
    if (!is_marker(files[static_cast<std::size_t>(i)])) starts[static_cast<std::size_t>(i)] = media_start(files[static_cast<std::size_t>(i)]);
  }, [](int) {});
  std::vector<DeviceClues> clues;
  clues.reserve(starts.size());
  for (const MediaStart& s : starts) clues.push_back(s.clues);
  DeviceProposal proposal = propose_devices(files, clues);

  DeviceFinding out;
  std::vector<int> moved_to;
  out.files = bracket_devices(files, proposal.devices, moved_to);
  out.starts.resize(out.files.size());
  for (std::size_t i = 0; i < files.size(); ++i)
    out.starts[static_cast<std::size_t>(moved_to[i])] = std::move(starts[i]);
  out.devices = std::move(proposal.devices);
  out.refused = std::move(proposal.refused);
  logthis("devices found from the files: " + std::to_string(out.devices.size()));
  for (const FoundDevice& d : out.devices) logthis("device " + found_device_text(d, out.files));
  for (const std::string& r : out.refused) logthis(r);
  return out;
}

std::string found_device_text(const FoundDevice& device, const std::vector<std::string>& entries) {
  std::string text = (device.name.empty() ? std::string("a device") : device.name) + " (" + device.reason + "):";
  for (std::size_t k = 0; k < device.entries.size(); ++k) {
    const auto e = static_cast<std::size_t>(device.entries[k]);
    text += (k == 0 ? " " : ", ") + (e < entries.size() ? file_name(entries[e]) : std::to_string(e));
  }
  return text;
}
