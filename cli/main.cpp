// brenvik-sync: the headless front end of the sync engine.

#include "cli/cli_options.h"
#include "engine/log.h"
#include "engine/synco.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum ExitCode { kSynced = 0, kNothingInSync = 1, kUsage = 2, kCannotRun = 3 };

// One progress line on stderr, rewritten in place.
void show_progress(std::string_view stage, int i, int n) {
  std::cerr << "\r" << stage << " " << i << "/" << n << "          " << std::flush;
}

std::string file_name(const std::string& path) { return fs::path(path).filename().string(); }

// One line per pair found in sync: where the shorter recording's sound sits in the longer.
void print_pairs(const std::vector<SyncedPair>& pairs) {
  for (const SyncedPair& p : pairs) {
    // No "-0.00" for a drift that rounds to nothing.
    const double drift = std::abs(p.drift_ppm) < 0.005 ? 0.0 : p.drift_ppm;
    char figures[96];
    std::snprintf(figures, sizeof figures, "offset %+.3f s  drift %+.2f ppm  %s", p.offset, drift, p.refined ? "refined" : "not refined");
    std::cout << file_name(p.shorter) << "  <->  " << file_name(p.longer) << "  " << figures << "\n";
  }
}

// Brenvik.app must be in the working directory with its transcoder and a writable
// output folder; otherwise no run can be done at all.
std::string check_run_folder() {
  std::error_code ec;
  if (!fs::is_directory("Brenvik.app", ec))
    return "no Brenvik.app folder in " + gnu_getcwd() +
           ": run brenvik-sync from the folder that holds Brenvik.app";
  if (access("Brenvik.app/ffmpeg", X_OK) != 0)
    return "Brenvik.app/ffmpeg is missing or not executable (link it to the system ffmpeg)";
  fs::create_directories("Brenvik.app/LOG", ec);
  fs::create_directories("Brenvik.app/SYNCED", ec);
  if (access("Brenvik.app/SYNCED", W_OK) != 0)
    return "cannot write to Brenvik.app/SYNCED";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const CliParse parse = parse_cli(args, gnu_getcwd());
  if (!parse.error.empty()) {
    std::cerr << "brenvik-sync: " << parse.error << "\n(see brenvik-sync --help)\n";
    return kUsage;
  }
  const CliOptions& o = parse.options;
  if (o.help) {
    std::cout << usage_text();
    return kSynced;
  }
  if (const std::string problem = check_run_folder(); !problem.empty()) {
    std::cerr << "brenvik-sync: " << problem << "\n";
    return kCannotRun;
  }

  std::vector<SyncedPair> pairs;
  SyncOptions options;
  options.pairs = &pairs;
  options.open_output = !o.no_open;
  options.refine = o.refine;
  if (o.quiet) {
    options.console = &null_stream();
    options.progress = show_progress;
  }
  const std::string result =
      synco(o.files, o.tolerance, o.width, o.height, o.fps, o.premiere, options);
  if (o.quiet) std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
  print_pairs(pairs);

  if (result == "mavo") {
    std::cout << "Synced: the timelines are in " << gnu_getcwd() << "/Brenvik.app/SYNCED\n";
    return kSynced;
  }
  std::cout << "No pair of recordings was found in sync.\n";
  return kNothingInSync;
}
