#include "core/process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <functional>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// What is kept of a program's standard error: enough for its last lines.
constexpr std::size_t kErrorTail = 4096;
// What is kept of a program's standard output: far more than a line of answer.
constexpr std::size_t kOutputKept = 1 << 20;

// The programs running now, for stop_programs. A fixed table of lock-free slots, so that
// a signal handler can walk it.
constexpr int kSlots = 256;
std::atomic<pid_t> g_running[kSlots];

class RunningSlot {
 public:
  explicit RunningSlot(pid_t pid) {
    for (int k = 0; k < kSlots; ++k) {
      pid_t empty = 0;
      if (g_running[k].compare_exchange_strong(empty, pid)) {
        slot_ = k;
        return;
      }
    }
  }
  ~RunningSlot() {
    if (slot_ >= 0) g_running[slot_].store(0);
  }
  RunningSlot(const RunningSlot&) = delete;
  RunningSlot& operator=(const RunningSlot&) = delete;

 private:
  int slot_ = -1;
};

// Starts argv with standard input from /dev/null, standard output into `output_fd` and
// standard error into `error_fd` when they are not -1 (else to /dev/null when `quiet`);
// waits for it while `drain` (when given) reads what it writes.
int spawn_and_wait(const std::vector<std::string>& argv, bool quiet, int output_fd, int error_fd,
                   const std::function<void()>& drain) {
  if (argv.empty()) return kProgramNotStarted;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (output_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
  else if (quiet)
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (error_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
  else if (quiet)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool search_path = argv[0].find('/') == std::string::npos;
  const int rc = search_path ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                             : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return kProgramNotStarted;

  const RunningSlot running(pid);
  if (drain) drain();
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kProgramNotStarted;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kProgramNotStarted;
}

std::string last_line(const std::string& text) {
  std::size_t end = text.size();
  while (end > 0) {
    const std::size_t start = text.rfind('\n', end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    std::string line = text.substr(from, end - from);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) return line;
    if (start == std::string::npos) break;
    end = start;
  }
  return {};
}

// Runs argv quietly but for one of its outputs (STDOUT_FILENO or STDERR_FILENO), read into
// `text`, of which at most the last `keep` bytes (and some) are kept.
int run_program_reading(const std::vector<std::string>& argv, int which, std::string& text,
                        std::size_t keep) {
  text.clear();
  // Close-on-exec, so that programs other threads start meanwhile do not hold the pipe
  // open and keep the read below from ever seeing its end.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return kProgramNotStarted;
  const int out = which == STDOUT_FILENO ? fds[1] : -1;
  const int err = which == STDERR_FILENO ? fds[1] : -1;
  const int status = spawn_and_wait(argv, true, out, err, [&] {
    close(fds[1]);
    fds[1] = -1;
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      text.append(buffer, static_cast<std::size_t>(got));
      if (text.size() > 2 * keep) text.erase(0, text.size() - keep);
    }
  });
  if (fds[1] >= 0) close(fds[1]);
  close(fds[0]);
  return status;
}

}  // namespace

int run_program(const std::vector<std::string>& argv, bool quiet) {
  return spawn_and_wait(argv, quiet, -1, -1, {});
}

int run_program(const std::vector<std::string>& argv, std::string& last_error_line) {
  std::string tail;
  const int status = run_program_reading(argv, STDERR_FILENO, tail, kErrorTail);
  last_error_line = last_line(tail);
  return status;
}

int run_program_output(const std::vector<std::string>& argv, std::string& output) {
  return run_program_reading(argv, STDOUT_FILENO, output, kOutputKept);
}

void stop_programs() noexcept {
  for (int k = 0; k < kSlots; ++k) {
    const pid_t pid = g_running[k].load();
    if (pid > 0) kill(pid, SIGTERM);
  }
}

int worker_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}
