#pragma once
// Command line of brenvik-sync.

#include <string>
#include <vector>

struct CliOptions {
  std::vector<std::string> files;  // absolute paths and device-group markers, in order
  double tolerance = 0.99;         // threshold decay per 24 ms frame of the fingerprints
  float fps = 25.0f;               // sequence frame rate
  int width = 1920;                // Premiere Pro frame width, pixels
  int height = 1080;               // Premiere Pro frame height, pixels
  int premiere = 0;                // 1: Premiere Pro sequence attributes
  bool refine = true;              // sub-frame offset refinement of synced pairs
  bool quiet = false;              // no console traces; one progress line on stderr
  bool no_open = false;            // do not show the output folder
  bool help = false;
};

struct CliParse {
  CliOptions options;
  std::string error;  // one sentence for stderr; empty when the line is good
};

// Parses the arguments after the program name. Relative paths are made absolute
// against `cwd`; every file must exist.
CliParse parse_cli(const std::vector<std::string>& args, const std::string& cwd);

std::string usage_text();
