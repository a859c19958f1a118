#include "core/log.h"

#include "core/paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <streambuf>
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

void logthis(std::string msg) {
  const std::lock_guard<std::mutex> lock(g_log_mutex);
  const std::string& log = run_folder().log;
  std::ofstream out(log, std::ios::out | std::ios::app);
  if (!out) return;
  out << msg << '\n';
  out.flush();
  const std::streamoff size = out.tellp();
  out.close();
  if (size >= static_cast<std::streamoff>(kLogRotateBytes)) rotate_log(log, kLogKeptFiles);
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
