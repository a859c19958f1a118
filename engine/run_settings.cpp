#include "engine/run_settings.h"

#include "core/format.h"

#include <filesystem>
#include <fstream>
#include <system_error>

std::string settings_problem(const RunSettings& settings) {
  if (!tolerance_allowed(settings.tolerance))
    return "Tolerance must be above " + float2string(kToleranceAbove) + " and at most " +
           float2string(kToleranceMax) + ".";
  if (!fps_allowed(settings.fps))
    return "The sequence frame rate must be a number of frames per second above " +
           float2string(kFpsAbove) + ".";
  if (!frame_side_allowed(settings.width) || !frame_side_allowed(settings.height))
    return "The frame size must be a positive number of pixels.";
  if (!premiere_allowed(settings.premiere))
    return "The Premiere Pro setting must be 0 or 1.";
  if (!sound_stream_allowed(settings.sound_stream))
    return "The sound stream must be 0 (the loudest) or a stream number up to " +
           std::to_string(kSoundStreamMax) + ".";
  return {};
}

MainSoundEntry main_sound_entry(const std::string& path, const std::vector<std::string>& files) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!fs::is_regular_file(path, error) || !std::ifstream(path, std::ios::binary))
    return {{}, "The main sound " + path + " cannot be read."};
  for (const std::string& file : files)
    if (fs::equivalent(path, file, error) && !error) return {file, {}};
  return {{}, "The main sound " + path + " is not one of the files to sync."};
}
