#include "engine/media.h"

#include "engine/devicegroups.h"
#include "engine/log.h"

#include <cstdio>

// Placeholder until media preparation lands: no transcoding, no frame rates.

std::vector<std::string> analysis_names(const std::vector<std::string>& files) {
  std::vector<std::string> out;
  out.reserve(files.size());
  for (const std::string& f : files) out.push_back(f + kAnalysisSuffix);
  return out;
}

std::string transcoder_command_text(const std::string& entry) {
  return "\"" + exelokacija() + "Brenvik.app/ffmpeg\"   -i \"" + entry +
         "\" -vn -acodec pcm_s16le -ar 8000 -ac 1 -f wav -y \"" + entry + kAnalysisSuffix + "\"";
}

std::vector<std::string> resemplirajgi8000(std::vector<std::string> files, const ProgressFn&) {
  return analysis_names(files);
}

std::string getmediainfo(std::string) { return ""; }

std::vector<std::string> framerate_list(const std::vector<std::string>& files) {
  return std::vector<std::string>(files.size(), "999");
}

void remove_analysis_wavs(const std::vector<std::string>& analysis) {
  for (const std::string& a : analysis) std::remove(a.c_str());
}
