#pragma once
// Devices proposed from what the files say of themselves, and the file list that marks
// them as the user would.

#include "core/results.h"
#include "media/device_clues.h"

#include <string>
#include <vector>

// The reasons a proposal gives, as the front ends show them.
inline constexpr const char* kSameSerial = "same serial";
inline constexpr const char* kSameModelNumbered = "same model, numbered, one folder";

struct DeviceProposal {
  std::vector<FoundDevice> devices;  // of two files or more, in the order of their first file
  std::vector<std::string> refused;  // one sentence per set of files that looked like one device and is not
};

// Files of `files` outside the marked groups (core/entries.h) with one device: those that
// share a serial number (and maker and model); those without one that share maker and
// model, recording format, folder and numbering scheme (a phone's numbering, which every
// phone shares, does not count). A set whose recording times overlap by their creation
// times is refused. Each device's files are in the order of their creation times when
// every file has one, else of their numbers. `clues` holds one element per entry.
DeviceProposal propose_devices(const std::vector<std::string>& files,
                               const std::vector<DeviceClues>& clues);

// `files` with each device's files bracketed by the markers where its first-listed file
// was, in the device's order; `devices` get their new positions, and moved_to[i] is where
// entry i went.
std::vector<std::string> bracket_devices(const std::vector<std::string>& files,
                                         std::vector<FoundDevice>& devices, std::vector<int>& moved_to);
