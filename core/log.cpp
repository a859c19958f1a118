#include "core/log.h"

#include "core/paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kInitialCwdBuffer = 100;

std::atomic<std::ostream*> g_console{nullptr};
// One line at a time, so that a rotation never splits one, nor two threads rotate at once.
std::mutex g_log_mutex;
thread_local std::ostream* t_capture = nullptr;

class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

std::string gnu_getcwd() {
  for (size_t size = kInitialCwdBuffer;; size *= 2) {
    std::unique_ptr<char[]> buffer(new char[size]);
    if (getcwd(buffer.get(), size) != nullptr) return std::string(buffer.get());
    if (errno != ERANGE) return "X";
  }
}

std::string exelokacija() { return gnu_getcwd() + "/"; }

void rotate_log(const std::string& log, int keep) {
  // Oldest first, so that no kept file is overwritten before it has moved on.
  std::remove((log + "." + std::to_string(keep)).c_str());
  for (int k = keep - 1; k >= 1; --k)
    std::rename((log + "." + std::to_string(k)).c_str(), (log + "." + std::to_string(k + 1)).c_str());
  if (keep >= 1) std::rename(log.c_str(), (log + ".1").c_str());
  else std::remove(log.c_str());
}

namespace {

// The log, open from one line to the next: a run over hundreds of files writes some
// seventy thousand lines, and each used to open and close the file.
// Whatever moves, removes or replaces the file between two lines is noticed by its
// identity, and the next line goes where the path now leads.
class OpenLog {
 public:
  void append(const std::string& path, const std::string& line) {
    struct stat named {};
    const bool exists = ::stat(path.c_str(), &named) == 0;
    if (fd_ >= 0 && (path != path_ || !exists || named.st_dev != device_ || named.st_ino != inode_))
      close();
    if (fd_ < 0 && !open(path)) return;
    for (std::size_t written = 0; written < line.size();) {
      const ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<std::size_t>(n);
    }
    struct stat opened {};
    if (::fstat(fd_, &opened) == 0 && opened.st_size >= static_cast<off_t>(kLogRotateBytes)) {
      close();
      rotate_log(path, kLogKeptFiles);
    }
  }

 private:
  bool open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    struct stat opened {};
    if (fd_ < 0 || ::fstat(fd_, &opened) != 0) {
      close();
      return false;
    }
    path_ = path;
    device_ = opened.st_dev;
    inode_ = opened.st_ino;
    return true;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::string path_;
  int fd_ = -1;
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace

void logthis(std::string msg) {
  const std::lock_guard<std::mutex> lock(g_log_mutex);
  // Never destroyed: a line may still come from a static object's destructor.
  static OpenLog& log = *new OpenLog;
  msg += '\n';
  log.append(run_folder().log, msg);
}

std::ostream& console() {
  if (t_capture) return *t_capture;
  std::ostream* sink = g_console.load();
  return sink ? *sink : std::cout;
}

void set_console(std::ostream* sink) { g_console.store(sink); }

std::ostream& null_stream() {
  static NullBuffer buffer;
  static std::ostream stream(&buffer);
  return stream;
}

ConsoleCapture::ConsoleCapture(std::ostream& buffer) : previous_(t_capture) { t_capture = &buffer; }

ConsoleCapture::~ConsoleCapture() { t_capture = previous_; }
