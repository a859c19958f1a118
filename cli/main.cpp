// brenvik-sync: the headless front end of the sync engine.

#include "cli/cli_options.h"
#include "core/format.h"
#include "core/log.h"
#include "core/paths.h"
#include "engine/synco.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

enum ExitCode { kSynced = 0, kNothingInSync = 1, kUsage = 2, kCannotRun = 3 };

// One progress line on stderr, rewritten in place.
void show_progress(std::string_view stage, int i, int n) {
  std::cerr << "\r" << stage << " " << i << "/" << n << "          " << std::flush;
}

std::string file_name(const std::string& path) {
  return console_safe(fs::path(path).filename().string());
}

// One line per pair found in sync: where the shorter recording's sound sits in the longer.
void print_pairs(const RunResult& result) {
  for (const PairResult& p : result.pairs) {
    // No "-0.00" for a drift that rounds to nothing.
    const double drift = std::abs(p.drift_ppm) < 0.005 ? 0.0 : p.drift_ppm;
    char figures[96];
    std::snprintf(figures, sizeof figures, "offset %+.3f s  drift %+.2f ppm  %s", p.offset, drift, p.refined ? "refined" : "not refined");
    std::cout << file_name(result.entries[static_cast<std::size_t>(p.shorter)]) << "  <->  "
              << file_name(result.entries[static_cast<std::size_t>(p.longer)]) << "  " << figures
              << "\n";
  }
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
  if (const std::string problem = run_folder_problem(); !problem.empty()) {
    std::cerr << "brenvik-sync: " << problem << "\n";
    return kCannotRun;
  }

  RunResult run;
  SyncOptions options;
  options.result = &run;
  options.open_output = !o.no_open;
  if (o.quiet) {
    options.console = &null_stream();
    options.progress = show_progress;
  }
  const std::string result = synco(o.files, o.settings, options);
  if (o.quiet) std::cerr << "\r" << std::string(40, ' ') << "\r" << std::flush;
  print_pairs(run);

  if (result == "mavo") {
    std::cout << "Synced: the timelines are in " << console_safe(gnu_getcwd())
              << "/Brenvik.app/SYNCED\n";
    return kSynced;
  }
  std::cout << "No pair of recordings was found in sync.\n";
  return kNothingInSync;
}
