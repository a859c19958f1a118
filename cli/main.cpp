// brenvik-sync: the headless front end of the sync engine.

#include "cli/cli_options.h"
#include "cli/progress_display.h"
#include "core/format.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/process.h"
#include "core/stop.h"
#include "engine/media_copies.h"
#include "engine/synco.h"
#include "export/formats.h"

#include <csignal>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// How long the closing lines wait for the file manager to give up, as xdg-open does at
// once without a desktop: long enough to tell the user, too short to be a wait.
constexpr int kViewerVerdictMs = 500;

// Wide enough for the longest document name, so the applications line up.
constexpr int kDocumentNameWidth = 26;

enum ExitCode { kSynced = 0, kNothingInSync = 1, kUsage = 2, kCannotRun = 3 };

// A file's name as the terminal may show it.
std::string shown_name(const std::string& path) { return console_safe(file_name(path)); }

// Ctrl-C, a closed terminal, kill, or a reader of our output that went away: the run ends at
// its next step, removes its work folder and leaves the documents whole or untouched.
void stop_on_signal(int signal_number) { request_stop(signal_number); }

void install_stop_handlers() {
  struct sigaction action {};
  action.sa_handler = stop_on_signal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &action, nullptr);
}

// One line per pair found in sync: where the shorter recording's sound sits in the longer.
void print_pairs(const RunResult& result) {
  for (const PairResult& p : result.pairs) {
    const double drift = no_negative_zero(p.drift_ppm, 2);
    char figures[96];
    const char* measured = p.refined ? "refined" : p.implied ? "implied by refined pairs" : "not refined";
    std::snprintf(figures, sizeof figures, "offset %+.3f s  drift %+.2f ppm  %s", p.offset, drift, measured);
    // Last on the line, after the word scripts read the refinement from.
    const char* second = p.second_look ? "  (second look)" : "";
    std::cout << shown_name(result.entries[static_cast<std::size_t>(p.shorter)]) << "  <->  "
              << shown_name(result.entries[static_cast<std::size_t>(p.longer)]) << "  " << figures
              << second << "\n";
  }
}

// The devices found from the files (--devices auto), each with its files and why, and the
// files that looked like one device and were not taken for one.
void print_devices(const RunResult& result, bool asked) {
  if (!asked) return;
  std::cout << "Devices found from the files: " << result.devices.size() << "\n";
  for (const FoundDevice& d : result.devices) {
    std::cout << "  " << console_safe(d.name.empty() ? std::string("a device") : d.name) << ": " << d.reason << "\n";
    for (int e : d.entries) std::cout << "    " << shown_name(result.entries[static_cast<std::size_t>(e)]) << "\n";
  }
  for (const std::string& refused : result.devices_refused) std::cout << "  " << console_safe(refused) << "\n";
}

// Per sync group, every device's clock against the group's reference, and which sound
// was copied onto that clock for the newer timelines.
void print_clocks(const RunResult& result) {
  const Timeline& t = result.timeline;
  for (std::size_t g = 0; g < t.groups.size(); ++g) {
    const SyncGroup& group = t.groups[g];
    if (group.clocks.empty()) continue;
    const auto name = [&](int entry) { return shown_name(result.entries[static_cast<std::size_t>(entry)]); };
    std::cout << "Clocks of sync group " << g + 1 << ":\n";
    for (const DeviceClock& c : group.clocks) {
      std::vector<std::string> copies;
      for (const TimelineMember& m : group.members)
        if (m.device == c.device && !m.corrected.empty()) copies.push_back(shown_name(m.corrected));
      char figures[64];
      std::snprintf(figures, sizeof figures, "%+9.2f ppm", no_negative_zero(c.rate_ppm, 2));
      std::cout << "  " << std::left << std::setw(kDocumentNameWidth) << name(c.device) << "  "
                << std::right << std::setw(13) << (c.reference ? "reference" : figures) << std::left;
      if (!copies.empty()) {
        std::cout << "  corrected:";
        for (const std::string& copy : copies) std::cout << " corrected/" << copy;
      }
      std::cout << "\n";
    }
    for (const DroppedPair& d : group.dropped)
      std::cout << "  left out: " << name(d.shorter) << " <-> " << name(d.longer)
                << ", it disagrees with the other pairs by " << std::fixed << std::setprecision(1)
                << d.disagreement_ms << std::defaultfloat << " ms\n";
  }
}

// Every file that carries its own clock, with the media time its first picture (or
// sample) has; nothing for a run without one.
void print_timecodes(const RunResult& result) {
  std::vector<const TimelineMember*> timed;
  for (const SyncGroup& group : result.timeline.groups)
    for (const TimelineMember& m : group.members)
      if (m.timecode.present()) timed.push_back(&m);
  for (const TimelineMember& m : result.timeline.unsynced)
    if (m.timecode.present()) timed.push_back(&m);
  if (timed.empty()) return;
  std::cout << "Timecodes:\n";
  for (const TimelineMember* m : timed)
    std::cout << "  " << std::left << std::setw(kDocumentNameWidth) << shown_name(m->path) << "  "
              << console_safe(m->timecode.text) << "\n";
  const auto name = [&](int entry) { return shown_name(result.entries[static_cast<std::size_t>(entry)]); };
  for (const TimecodeCheck& c : result.timecode_checks) {
    char figures[64];
    std::snprintf(figures, sizeof figures, "%+.3f s", c.difference_s);
    std::cout << "  " << name(c.shorter) << " <-> " << name(c.longer)
              << (c.agrees() ? "  agree with the sound within a frame (" : "  disagree with the sound by ")
              << figures << (c.agrees() ? ")" : "") << "\n";
  }
}

// The sound each group's cameras go with in the ready-to-cut clips, named by its device's
// first file.
void print_main_sounds(const RunResult& result) {
  for (std::size_t g = 0; g < result.timeline.groups.size(); ++g)
    if (const int device = result.timeline.groups[g].main_sound; device >= 0)
      std::cout << "Main sound of sync group " << g + 1 << ": "
                << shown_name(result.entries[static_cast<std::size_t>(device)]) << "\n";
}

// The documents the user's editor opens, before the list of all of them.
void print_editor_documents(const RunResult& run, const std::string& key) {
  const Editor* editor = find_editor(key);
  if (!editor) return;
  for (const std::string& document : run.documents)
    if (opens_in(*editor, fs::path(document).filename().string()))
      std::cout << "Open in " << editor->name << ": " << console_safe(document) << "\n";
}

// The file manager runs on its own; only its giving up at once is worth a line.
void say_if_no_file_manager(RunResult& run) {
  if (!run.folder_viewer) return;
  std::cout << std::flush;
  if (const std::optional<int> status = run.folder_viewer->status(kViewerVerdictMs);
      status && viewer_failed(*status))
    std::cerr << "brenvik-sync: " << console_safe(no_file_manager_sentence(fs::path(run.shown_folder).lexically_normal().string())) << "\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const CliParse parse = parse_cli(args, gnu_getcwd());
  for (const std::string& file : parse.options.left_out)
    std::cerr << "brenvik-sync: left out: " << shown_name(file) << " (not a recording)\n";
  if (!parse.error.empty()) {
    std::cerr << "brenvik-sync: " << parse.error << "\n(see brenvik-sync --help)\n";
    return kUsage;
  }
  const CliOptions& o = parse.options;
  if (o.help) {
    std::cout << usage_text();
    return kSynced;
  }
  use_run_folder(locate_run_folder(program_folder()));
  if (const std::string problem = run_folder_problem(); !problem.empty()) {
    std::cerr << "brenvik-sync: " << problem << "\n";
    return kCannotRun;
  }

  if (!o.out.empty()) {
    std::error_code ec;
    fs::create_directories(o.out, ec);
    if (!fs::is_directory(o.out) || access(o.out.c_str(), W_OK) != 0) {
      std::cerr << "brenvik-sync: cannot write to " << console_safe(o.out) << "\n";
      return kCannotRun;
    }
  }

  install_stop_handlers();
  RunResult run;
  SyncOptions options;
  options.result = &run;
  options.open_output = !o.no_open;
  options.use_cache = !o.no_cache;
  options.cache_limit = o.cache_limit;
  // Installed, every run's documents get a folder of their own, named here so that the
  // closing lines can say where.
  const std::string out = o.out.empty() && run_folder().installed ? default_documents_folder() : o.out;
  options.output_folder = out;
  const std::string folder = out.empty() ? gnu_getcwd() + "/" + kOutputFolder : out;
  // The run folder's one output folder is every event's: an earlier event's projects
  // there are replaced, which the user must hear of.
  const std::string earlier = out.empty() ? earlier_run_time(folder) : std::string();
  ProgressDisplay progress(std::cerr, isatty(STDERR_FILENO) != 0, steady_seconds);
  if (o.quiet) {
    options.console = &null_stream();
    options.progress = [&progress](std::string_view stage, int i, int n) { progress.report(stage, i, n); };
  }
  const std::string result = synco(o.files, o.settings, options);
  progress.finish();
  if (const int signal_number = stop_requested(); signal_number > 0) {
    std::cerr << "brenvik-sync: stopped\n";
    return 128 + signal_number;
  }
  for (const std::string& notice : run.notices) std::cerr << "brenvik-sync: " << console_safe(notice) << "\n";
  for (const UnreadableFile& u : run.unreadable)
    std::cerr << "brenvik-sync: cannot read " << console_safe(run.entries[static_cast<std::size_t>(u.entry)])
              << ": " << console_safe(u.reason) << "\n";
  if (!run.error.empty()) {
    std::cerr << "brenvik-sync: " << console_safe(run.error) << "\n";
    return kCannotRun;
  }
  print_devices(run, o.settings.find_devices);
  print_pairs(run);
  print_clocks(run);
  print_timecodes(run);
  print_main_sounds(run);

  if (result == "mavo") {
    std::cout << "Synced: the timelines are in " << console_safe(folder) << "\n";
    print_editor_documents(run, o.editor);
    for (const std::string& document : run.documents) {
      const std::string name = fs::path(document).filename().string();
      std::cout << "  " << std::left << std::setw(kDocumentNameWidth) << console_safe(name) << "  "
                << applications_for(name) << "\n";
    }
    for (const std::string& media : run.media)
      std::cout << "  " << std::left << std::setw(kDocumentNameWidth)
                << console_safe(std::string(kSyncedMediaFolder) + "/" + file_name(media)) << "  "
                << kSyncedMediaApplications << "\n";
    if (!earlier.empty()) std::cerr << "brenvik-sync: replaced the projects of the run of " << earlier << "\n";
    say_if_no_file_manager(run);
    return kSynced;
  }
  if (run.unreadable.empty())
    std::cout << "No pair of recordings was found in sync.\n";
  else
    std::cout << run.unreadable.size() << (run.unreadable.size() == 1 ? " file" : " files")
              << " could not be read, and no pair of the other recordings was found in sync.\n";
  return kNothingInSync;
}
