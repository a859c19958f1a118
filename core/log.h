#pragma once
// Log file, the working directory and the console sink.

#include <iosfwd>
#include <string>

// Absolute working directory without a trailing slash; "X" when it cannot be read.
std::string gnu_getcwd();

// gnu_getcwd() followed by "/": the folder that holds Brenvik.app.
std::string exelokacija();

// A log that reaches this size moves to "log_file.txt.1" (the one there to ".2", and so
// on), and the oldest kept one goes: a run over hundreds of files logs some 20 MB, and the
// log is appended to by every run.
inline constexpr long kLogRotateBytes = 10L * 1024 * 1024;
inline constexpr int kLogKeptFiles = 3;

// Appends msg and a newline to the log: "Brenvik.app/LOG/log_file.txt" below the working
// directory, or the installation's (core/paths.h), and rotates it at kLogRotateBytes. A
// missing folder or unwritable file drops the line silently. Safe from any thread.
// tools/accuracy_score.awk reads two kinds of line of this log, so their text stays as
// it is: a pair found ("... NAJDEN SYNC MEGJU SHORTER  i LONGER  so ofset:...", both named
// by their analysis WAVs, "<work folder>/<entry>-<file name>.wav") and the
// refinement line after it ("refined offset -12345.678 ms, ...").
void logthis(std::string msg);

// Moves `log` to `log`.1, `log`.1 to `log`.2, …, keeping `keep` old logs and removing the
// oldest; a missing file is skipped.
void rotate_log(const std::string& log, int keep);

// The one stream for console traces. Standard output unless a front end points it
// elsewhere; a ConsoleCapture on the current thread takes precedence.
std::ostream& console();

// Points the console at `sink` (nullptr: standard output). Not for use during a run.
void set_console(std::ostream* sink);

// A stream that swallows everything, for front ends that silence the console.
std::ostream& null_stream();

// While alive, console() on this thread writes into `buffer` instead, so that work
// done on worker threads can be replayed to the console in the order of the entries.
class ConsoleCapture {
 public:
  explicit ConsoleCapture(std::ostream& buffer);
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;

 private:
  std::ostream* previous_;
};
