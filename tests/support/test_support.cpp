#include "tests/support/test_support.h"

#include "core/process.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace testing_support {

TempRunDir::TempRunDir() {
  previous_cwd_ = fs::current_path().string();
  std::string pattern = (fs::temp_directory_path() / "brenvik-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  fs::create_directories(path_ + "/Brenvik.app/LOG");
  fs::create_directories(path_ + "/Brenvik.app/SYNCED");
  fs::create_symlink(BRENVIK_FFMPEG, path_ + "/Brenvik.app/ffmpeg");
  fs::current_path(path_);
}

TempRunDir::~TempRunDir() {
  std::error_code ec;
  fs::current_path(previous_cwd_, ec);
  fs::remove_all(path_, ec);
}

std::string TempRunDir::log_text() const { return read_file(path_ + "/Brenvik.app/LOG/log_file.txt"); }

int ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {BRENVIK_FFMPEG, "-nostdin", "-y", "-loglevel", "error"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, true);
}

bool make_media(const std::string& path, const std::string& audio, double seconds, bool video) {
  const std::string d = std::to_string(seconds);
  std::vector<std::string> args = {"-f", "lavfi", "-i", audio};
  if (video) {
    args.insert(args.end(), {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25", "-c:v",
                             "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"});
  }
  args.insert(args.end(), {"-t", d, path});
  return ffmpeg(args) == 0;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

bool file_exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

std::vector<std::string> between(const std::string& text, const std::string& open,
                                 const std::string& close) {
  std::vector<std::string> found;
  for (size_t a = text.find(open); a != std::string::npos; a = text.find(open, a)) {
    const size_t b = text.find(close, a + open.size());
    if (b == std::string::npos) break;
    found.push_back(text.substr(a + open.size(), b - a - open.size()));
    a = b + close.size();
  }
  return found;
}

}  // namespace testing_support
