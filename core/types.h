#pragma once
// Hand-over types shared by the stages of a sync run.

#include <Eigen/Dense>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Rows of (anchor frame, landmark hash); frames are 192 samples at 8000 Hz (24 ms).
using LandmarkTable = Eigen::Matrix<std::uint64_t, Eigen::Dynamic, 2>;

// Packed match words of one pair of files, sorted ascending once matching is done.
using MatchList = std::vector<std::uint64_t>;

// Match list of one compared pair, with the two entry positions it was made for.
struct PairSlot {
  MatchList list;
  int longer = -1;   // entry position of the file with the larger duration
  int shorter = -1;  // entry position of the other file
};

// Entry positions recorded on one device, never compared with each other.
using DeviceGroups = std::vector<std::vector<int>>;

// Progress of a run: stage name, item i (1-based) of n. Called on the worker thread.
using ProgressFn = std::function<void(std::string_view stage, int i, int n)>;

// The stage names a run reports, in the order it reaches them.
inline constexpr std::string_view kStageTranscode = "transcode";      // i of n files
inline constexpr std::string_view kStageFingerprint = "fingerprint";  // i of n files
inline constexpr std::string_view kStageMatch = "match";              // i of n pairs
inline constexpr std::string_view kStageDecide = "decide";            // i of n pairs checked
inline constexpr std::string_view kStageCorrect = "correct";          // i of n drift-corrected copies
inline constexpr std::string_view kStageMedia = "media";              // i of n synced media files
inline constexpr std::string_view kStageExport = "export";            // 1 of 1
