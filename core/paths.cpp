#include "core/paths.h"

#include "core/log.h"

#include <filesystem>
#include <system_error>
#include <unistd.h>

std::string run_folder_problem() {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(kAppFolder, ec))
    return std::string(kAppFolder) + " is not in " + gnu_getcwd() +
           ": start from the folder that holds " + kAppFolder + ".";
  if (access(kTranscoderPath, X_OK) != 0)
    return std::string(kTranscoderPath) + " is missing or not executable in " + gnu_getcwd() +
           ": link it to the system ffmpeg.";
  fs::create_directories(kLogFolder, ec);
  fs::create_directories(kOutputFolder, ec);
  if (access(kOutputFolder, W_OK) != 0) return std::string(kOutputFolder) + " cannot be written to.";
  return {};
}
