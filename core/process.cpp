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

constexpr int kNotStarted = 127;
// What is kept of a program's standard error: enough for its last lines.
constexpr std::size_t kErrorTail = 4096;

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

// Starts argv with standard input from /dev/null, standard output to /dev/null when
// `quiet`, and standard error to `error_fd` when it is not -1 (else as output); waits for
// it while `drain` (when given) reads what it writes.
int spawn_and_wait(const std::vector<std::string>& argv, bool quiet, int error_fd,
                   const std::function<void()>& drain) {
  if (argv.empty()) return kNotStarted;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (error_fd >= 0)
    posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
  else if (quiet)
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool search_path = argv[0].find('/') == std::string::npos;
  const int rc = search_path ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                             : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return kNotStarted;

  const RunningSlot running(pid);
  if (drain) drain();
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kNotStarted;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kNotStarted;
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

}  // namespace

int run_program(const std::vector<std::string>& argv, bool quiet) {
  return spawn_and_wait(argv, quiet, -1, {});
}

int run_program(const std::vector<std::string>& argv, std::string& last_error_line) {
  last_error_line.clear();
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return run_program(argv, true);
  std::string tail;
  const int status = spawn_and_wait(argv, true, fds[1], [&] {
    close(fds[1]);
    fds[1] = -1;
    char buffer[1024];
    for (;;) {
      const ssize_t got = read(fds[0], buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      tail.append(buffer, static_cast<std::size_t>(got));
      if (tail.size() > 2 * kErrorTail) tail.erase(0, tail.size() - kErrorTail);
    }
  });
  if (fds[1] >= 0) close(fds[1]);
  close(fds[0]);
  last_error_line = last_line(tail);
  return status;
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
