#include "core/paths.h"

#include "core/log.h"

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// From an installation's bin folder to its share/brenvik, as the build installs them.
#ifndef BRENVIK_SHARE_FROM_BIN
#define BRENVIK_SHARE_FROM_BIN "../share/brenvik"
#endif
constexpr const char* kShareFromBin = BRENVIK_SHARE_FROM_BIN;
constexpr const char* kStateName = "brenvik";
constexpr const char* kDefaultStateHome = ".local/state";
constexpr const char* kDefaultCacheHome = ".cache";
constexpr const char* kDocumentsBelowHome = "Videos/Brenvik";
// A run's own documents folder: "2026-12-07-223812". No colons, which some of the disks
// editors carry footage on cannot hold.
constexpr const char* kRunFolderStamp = "%Y-%m-%d-%H%M%S";
constexpr std::size_t kStampChars = 32;

RunFolder& current() {
  static RunFolder folder;
  return folder;
}

bool is_absolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string home_folder() {
  if (const char* home = std::getenv("HOME"); is_absolute(home)) return home;
  const passwd* user = getpwuid(getuid());
  return user != nullptr && is_absolute(user->pw_dir) ? user->pw_dir : "";
}

// The first executable `name` in the folders of PATH; "" when there is none.
std::string on_path(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (folder.empty()) continue;
    const std::string program = folder + "/" + name;
    std::error_code ec;
    if (fs::is_regular_file(program, ec) && access(program.c_str(), X_OK) == 0) return program;
  }
  return "";
}

}  // namespace

const RunFolder& run_folder() { return current(); }

void use_run_folder(RunFolder folder) {
  current() = std::move(folder);
  if (!current().installed) return;
  std::error_code ec;
  fs::create_directories(current().state, ec);
}

RunFolder locate_run_folder(const std::string& program_folder) {
  std::error_code ec;
  if (fs::is_directory(kAppFolder, ec) || program_folder.empty()) return {};
  const fs::path app = (fs::path(program_folder) / kShareFromBin / kAppFolder).lexically_normal();
  if (!fs::is_directory(app, ec)) return {};

  RunFolder f;
  f.installed = true;
  f.transcoder = (app / "ffmpeg").string();
  // A package installed without its recommended ffmpeg link, or one whose link outlived
  // the program it named, still finds the system's.
  if (access(f.transcoder.c_str(), X_OK) != 0)
    if (const std::string system = on_path("ffmpeg"); !system.empty()) f.transcoder = system;
  f.scene = (app.parent_path() / kScenePath).string();
  const std::string home = home_folder();
  const char* state_home = std::getenv("XDG_STATE_HOME");
  // The base directory rules say a relative value is to be ignored.
  f.state = (is_absolute(state_home) ? std::string(state_home) : home + "/" + kDefaultStateHome) +
            "/" + kStateName;
  f.log = f.state + "/log_file.txt";
  f.lock = f.state + "/run.lock";
  f.match_dump = f.state + "/" + kMatchDumpName;
  const char* cache_home = std::getenv("XDG_CACHE_HOME");
  f.cache = (is_absolute(cache_home) ? std::string(cache_home) : home + "/" + kDefaultCacheHome) +
            "/" + kStateName;
  f.documents = home + "/" + kDocumentsBelowHome;
  return f;
}

std::string program_folder() {
  std::error_code ec;
  const fs::path program = fs::read_symlink("/proc/self/exe", ec);
  return ec ? "" : program.parent_path().string();
}

std::string transcoder_path() {
  const std::string& transcoder = run_folder().transcoder;
  return is_absolute(transcoder.c_str()) ? transcoder : exelokacija() + transcoder;
}

std::string default_documents_folder() {
  const RunFolder& f = run_folder();
  if (!f.installed) return exelokacija() + f.documents;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[kStampChars];
  std::strftime(stamp, sizeof stamp, kRunFolderStamp, &local);
  const std::string first = f.documents + "/" + stamp;
  std::string folder = first;
  std::error_code ec;
  for (int n = 2; fs::exists(folder, ec); ++n) folder = first + "-" + std::to_string(n);
  return folder;
}

OutputPlan output_plan(const std::string& chosen) {
  const bool default_folder = chosen.empty();
  OutputPlan plan;
  plan.documents = default_folder ? default_documents_folder() : chosen;
  if (run_folder().installed) {
    std::error_code ec;
    fs::create_directories(plan.documents, ec);
    if (ec) throw std::runtime_error("cannot make " + plan.documents + ": " + ec.message());
    plan.tables = plan.documents;
  }
  plan.shown = default_folder && !run_folder().installed ? exelokacija() + "/" + kOutputFolder
                                                          : plan.documents;
  return plan;
}

std::string run_folder_busy() {
  return "another run is using this folder (" +
         (run_folder().installed ? run_folder().state : exelokacija() + kAppFolder) +
         "); try again when it has ended";
}

std::string run_folder_problem() {
  const RunFolder& f = run_folder();
  std::error_code ec;
  if (f.installed) {
    if (access(f.transcoder.c_str(), X_OK) != 0)
      return f.transcoder + " is missing or not executable, and no ffmpeg is on the PATH: install ffmpeg.";
    fs::create_directories(f.state, ec);
    if (access(f.state.c_str(), W_OK) != 0) return f.state + " (the log folder) cannot be written to.";
    return {};
  }
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
