#include "core/log.h"

#include "core/paths.h"

#include <atomic>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <memory>
#include <streambuf>
#include <unistd.h>

namespace {

constexpr size_t kInitialCwdBuffer = 100;

std::atomic<std::ostream*> g_console{nullptr};
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

void logthis(std::string msg) {
  std::ofstream out(run_folder().log, std::ios::out | std::ios::app);
  if (!out) return;
  out << msg << '\n';
  out.flush();
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
