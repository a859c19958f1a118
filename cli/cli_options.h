#pragma once
// Command line of brenvik-sync.

#include "core/cache.h"
#include "engine/run_settings.h"

#include <cstdint>

#include <string>
#include <vector>

struct CliOptions {
  std::vector<std::string> files;  // absolute paths and device-group markers, in order
  std::vector<std::string> left_out;  // files given that are not recordings, as given
  RunSettings settings;            // the defaults unless the line sets them
  bool quiet = false;              // no console traces; one progress line on stderr
  bool no_open = false;            // do not show the output folder
  bool no_cache = false;           // run without the cache of earlier runs
  std::uint64_t cache_limit = kDefaultCacheLimit;  // bytes the cache may hold after a run
  std::string out;                 // absolute folder for the documents; empty: Brenvik.app/SYNCED
  std::string editor;              // the key of the editor the user edits in (editors()); empty: none
  bool help = false;
};

struct CliParse {
  CliOptions options;
  std::string error;  // one sentence for stderr; empty when the line is good
};

// Parses the arguments after the program name. Relative paths are made absolute
// against `cwd`; every file must exist, and no file may be named twice (through a link
// or another relative path either). Every argument after "--" is a file. A file that is
// not a recording (is_recording) is left out, into `left_out`, and so is a device group
// left without files.
CliParse parse_cli(const std::vector<std::string>& args, const std::string& cwd);

std::string usage_text();
