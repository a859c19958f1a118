#pragma once
// Every path of the run folder. The programs take the working directory to be the
// folder that holds Brenvik.app, and address everything below it by these relative names.

#include <string>

inline constexpr const char* kAppFolder = "Brenvik.app";
inline constexpr const char* kTranscoderPath = "Brenvik.app/ffmpeg";
inline constexpr const char* kLogFolder = "Brenvik.app/LOG";
inline constexpr const char* kLogPath = "Brenvik.app/LOG/log_file.txt";
inline constexpr const char* kOutputFolder = "Brenvik.app/SYNCED";
inline constexpr const char* kLockPath = "Brenvik.app/LOG/run.lock";  // one run at a time
inline constexpr const char* kScenePath = "Brenvik.app/qml/finaltk1/main.qml";

// Why no run can be done from the working directory (no Brenvik.app, no executable
// Brenvik.app/ffmpeg, an output folder that cannot be written), as one sentence; empty
// when a run can go ahead. Creates the LOG and SYNCED folders when they are missing.
std::string run_folder_problem();
