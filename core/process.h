#pragma once
// Running external programs without a shell.

#include <optional>
#include <string>
#include <vector>

// A shell's status for a program it could not start.
constexpr int kProgramNotStarted = 127;

// Runs argv[0] with the arguments argv[1..] (no shell, no PATH search unless the name
// has no slash), standard input from /dev/null, and waits for it. Standard output and
// error go to /dev/null when `quiet`. Returns the exit status, 128 + signal number for
// a killed child, or kProgramNotStarted when the program could not be started.
int run_program(const std::vector<std::string>& argv, bool quiet = true);

// The same, quiet, with what the program wrote on standard error: its last line that is
// not blank goes to `last_error_line` (empty when it wrote nothing).
int run_program(const std::vector<std::string>& argv, std::string& last_error_line);

// run_program with standard output read into `output` and standard error to /dev/null;
// returns the same statuses.
int run_program_output(const std::vector<std::string>& argv, std::string& output);

// Asks every program started by run_program that is still running to end (SIGTERM).
// Safe in a signal handler.
void stop_programs() noexcept;

// A program started to run on its own, such as a file manager: in a session of its own
// (Ctrl-C and a closed terminal leave it alone), with /dev/null for its standard streams
// and none of ours, and never waited for by the one who started it, so that a file
// manager kept open holds up nothing. The system reaps it. What became of it can be
// asked without waiting; destroying the handle only stops listening.
class DetachedProgram {
 public:
  DetachedProgram() = default;
  ~DetachedProgram();
  DetachedProgram(DetachedProgram&& other) noexcept;
  DetachedProgram& operator=(DetachedProgram&& other) noexcept;
  DetachedProgram(const DetachedProgram&) = delete;
  DetachedProgram& operator=(const DetachedProgram&) = delete;

  // Its status as run_program gives it (kProgramNotStarted when it could not be started)
  // once it has ended, waiting at most `wait_ms` for that; nothing while it runs, or
  // when it can no longer be told.
  std::optional<int> status(int wait_ms = 0);
  // Readable once status() has an answer, for an event loop to watch; -1 when no answer
  // is coming any more.
  int status_fd() const { return fd_; }

 private:
  friend DetachedProgram start_detached(const std::vector<std::string>& argv);
  int fd_ = -1;
  std::optional<int> status_;
};

// Starts argv[0] (searched on PATH when the name has no slash) with the arguments
// argv[1..] as a DetachedProgram. Safe while other threads run programs: nothing of
// theirs is inherited.
DetachedProgram start_detached(const std::vector<std::string>& argv);

// The program that shows a folder in the desktop's file manager.
#ifdef __APPLE__
inline constexpr const char* kFolderViewer = "open";
#else
inline constexpr const char* kFolderViewer = "xdg-open";
#endif

// Shows `folder` in the file manager (kFolderViewer), detached.
DetachedProgram show_in_file_manager(const std::string& folder);

// Whether a folder viewer's status says that no file manager showed the folder: it could
// not be started or it gave up. An end by a signal is the user closing it.
constexpr bool viewer_failed(int status) { return status > 0 && status < 128; }

// What the user is told then, so that the folder can still be found: "No file manager to
// show the folder: the projects are in DIR".
std::string no_file_manager_sentence(const std::string& folder);

// Number of programs or workers to run at once: the machine's cores, at least 1.
int worker_count();
