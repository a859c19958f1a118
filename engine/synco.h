#pragma once
// The sync run driver: one call, one run, from transcoding to the opened output folder.

#include "core/cache.h"
#include "core/results.h"
#include "core/types.h"
#include "engine/run_settings.h"

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// What a front end chooses about a run besides its settings.
struct SyncOptions {
  ProgressFn progress;             // stage and item i of n; empty: no reports
  std::ostream* console = nullptr; // console traces; nullptr: standard output
  bool open_output = true;         // show the output folder when the run is done
  std::string output_folder;       // where the documents go; empty: default_documents_folder()
  RunResult* result = nullptr;     // receives the pairs found in sync and the timeline
  // Take what earlier runs kept of the same files (engine/run_cache.h) and keep this
  // run's, in the run folder's cache; the documents are the same either way.
  bool use_cache = true;
  std::uint64_t cache_limit = kDefaultCacheLimit;  // bytes, the least recently used go first
  // Groups of the list that a front end found to be one device from what the files say
  // (media/device_proposal.h) and marked itself, by their positions in the list: checked
  // by the sound as the devices a run finds are. Used when the run finds none itself.
  std::vector<FoundDevice> found_devices;
};

// One run over `files` (paths and device-group markers, UTF-8). tolerance decays the
// fingerprints' masking threshold; x, y are the Premiere Pro frame size; fps the
// sequence frame rate; premiere non-zero adds Premiere's sequence attributes.
// Returns "mavo" after a complete run, "nema" when no pair was found in sync or the run
// could not be done (options.result->error says why). Analysis files live in a private
// work folder removed at the end of every run; sources are only read. One run at a time
// per run folder. A stop request (core/stop.h) ends the run at its next step.
std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere);
std::string synco(std::vector<std::string> files, double tolerance, int x, int y, float fps,
                  int premiere, const SyncOptions& options);

// The same run with the settings in one value; the overloads above run with the
// defaults of refine and drift_correct. The settings are not checked here: see
// settings_problem.
std::string synco(std::vector<std::string> files, const RunSettings& settings,
                  const SyncOptions& options);
