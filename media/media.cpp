#include "media/media.h"

#include "core/entries.h"
#include "core/log.h"
#include "core/parallel.h"
#include "core/paths.h"
#include "core/process.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <ostream>

namespace {

constexpr const char* kAnalysisRateHz = "8000";
constexpr const char* kAnalysisChannels = "1";
constexpr const char* kFramerateUnknown = "999";
constexpr const char* kFramerateMarker = "0";
// Answers this short carry no frame rate (the library answers "" for a file without video).
constexpr std::size_t kMinFramerateChars = 2;
// run_program's status for a program that could not be started.
constexpr int kNotStarted = 127;

std::string command_text(const std::string& location, const std::string& entry) {
  return "\"" + location + kTranscoderPath + "\"   -i \"" + entry +
         "\" -vn -acodec pcm_s16le -ar 8000 -ac 1 -f wav -y \"" + entry + kAnalysisSuffix + "\"";
}

// ffmpeg takes a name that starts with '-' for an option and "word:..." for a protocol
// (pipe:, http:, ...); behind "./" any relative name is a plain file.
std::string as_file_argument(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  return "./" + path;
}

// Returns the transcoder's exit status (0 on success).
int transcode(const std::string& program, const std::string& entry) {
  const std::string output = entry + kAnalysisSuffix;
  const std::vector<std::string> argv = {program, "-nostdin",
                                         "-i", as_file_argument(entry),
                                         "-vn",
                                         "-acodec", "pcm_s16le",
                                         "-ar", kAnalysisRateHz,
                                         "-ac", kAnalysisChannels,
                                         "-f", "wav",
                                         "-y", as_file_argument(output)};
  const int status = run_program(argv, /*quiet=*/true);
  // A failed transcoder may leave a truncated WAV, and a WAV left by an earlier run
  // under the same name would otherwise be fingerprinted as this file's sound.
  if (status != 0) std::remove(output.c_str());
  return status;
}

}  // namespace

std::vector<std::string> analysis_names(const std::vector<std::string>& files) {
  std::vector<std::string> out;
  out.reserve(files.size());
  for (const std::string& f : files) out.push_back(f + kAnalysisSuffix);
  return out;
}

std::string transcoder_command_text(const std::string& entry) {
  return command_text(exelokacija(), entry);
}

std::vector<std::string> resemplirajgi8000(std::vector<std::string> files,
                                           const ProgressFn& progress, int max_transcoders,
                                           const std::function<void(int)>& transcoded) {
  const int n = static_cast<int>(files.size());
  const std::string location = exelokacija();
  const std::string program = location + kTranscoderPath;

  const int media_entries =
      static_cast<int>(std::count_if(files.begin(), files.end(),
                                     [](const std::string& f) { return !is_marker(f); }));
  const int limit = max_transcoders > 0 ? max_transcoders : worker_count();

  std::vector<int> status(n, 0);
  // The transcoders finish in any order; the console, the log and the progress follow
  // the file list.
  ordered_parallel_for(
      n, std::min(limit, std::max(media_entries, 1)),
      [&](int i) {
        if (!is_marker(files[i])) {
          try {
            status[i] = transcode(program, files[i]);
          } catch (const std::exception&) {
            status[i] = kNotStarted;
          }
        }
        if (transcoded) transcoded(i);
      },
      [&](int i) {
        if (!is_marker(files[i])) {
          console() << command_text(location, files[i]) << '\n';
          if (status[i] != 0)
            logthis("ffmpeg failed (exit status " + std::to_string(status[i]) + "): " + files[i]);
        }
        if (progress) progress(kStageTranscode, i + 1, n);
      });
  console() << std::flush;
  return analysis_names(files);
}

std::vector<std::string> framerate_list(const std::vector<std::string>& files) {
  std::vector<std::string> rates(files.size(), kFramerateMarker);
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!is_marker(files[i])) rates[i] = getmediainfo(files[i]);
  }
  for (std::string& rate : rates) {
    if (rate.size() < kMinFramerateChars) rate = kFramerateUnknown;
  }
  return rates;
}

void remove_analysis_wavs(const std::vector<std::string>& analysis) {
  for (const std::string& a : analysis) std::remove(a.c_str());
}
