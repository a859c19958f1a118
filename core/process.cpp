#include "core/process.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <fcntl.h>
#include <poll.h>
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

int decoded_status(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kProgramNotStarted;
}

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
  return decoded_status(status);
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

// The program `name` names: itself when it has a slash, else the first executable of that
// name on PATH; empty when there is none. Searched before any fork, since a child of a
// threaded process may only make async-signal-safe calls.
std::string program_path(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t from = 0;
  while (from <= dirs.size()) {
    std::size_t to = dirs.find(':', from);
    if (to == std::string::npos) to = dirs.size();
    const std::string dir = to > from ? dirs.substr(from, to - from) : ".";
    const std::string candidate = dir + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    from = to + 1;
  }
  return {};
}

// Keeps only the standard streams and `keep` open: a child that outlives its starter must
// not hold the pipes of programs other threads are running, or their readers would wait
// for its end.
void close_all_but(int keep) {
  if (keep > 3 && close_range(3, static_cast<unsigned>(keep - 1), 0) != 0)
    for (int fd = 3; fd < keep; ++fd) close(fd);
  if (close_range(static_cast<unsigned>(keep + 1), ~0U, 0) != 0)
    for (int fd = keep + 1; fd < 65536; ++fd) close(fd);
}

}  // namespace

DetachedProgram::~DetachedProgram() {
  if (fd_ >= 0) close(fd_);
}

DetachedProgram::DetachedProgram(DetachedProgram&& other) noexcept
    : fd_(other.fd_), status_(other.status_) {
  other.fd_ = -1;
}

DetachedProgram& DetachedProgram::operator=(DetachedProgram&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) close(fd_);
    fd_ = other.fd_;
    status_ = other.status_;
    other.fd_ = -1;
  }
  return *this;
}

std::optional<int> DetachedProgram::status(int wait_ms) {
  if (fd_ < 0) return status_;
  pollfd watched{fd_, POLLIN, 0};
  int ready = 0;
  while ((ready = poll(&watched, 1, wait_ms)) < 0 && errno == EINTR) {}
  if (ready <= 0) return std::nullopt;
  int raw = 0;
  ssize_t got = 0;
  while ((got = read(fd_, &raw, sizeof raw)) < 0 && errno == EINTR) {}
  // Nothing before the end: the watcher was killed, and nobody can tell any more.
  if (got == static_cast<ssize_t>(sizeof raw)) status_ = decoded_status(raw);
  close(fd_);
  fd_ = -1;
  return status_;
}

DetachedProgram start_detached(const std::vector<std::string>& argv) {
  DetachedProgram started;
  started.status_ = kProgramNotStarted;
  if (argv.empty()) return started;
  const std::string program = program_path(argv[0]);
  if (program.empty()) return started;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return started;

  // Three generations: the first only makes the second and ends at once, so that we reap
  // it now and the second, orphaned, is the system's to reap. The second waits for the
  // program and writes its status into the pipe. Only async-signal-safe calls below.
  const pid_t first = fork();
  if (first == 0) {
    setsid();
    if (fork() != 0) _exit(0);
    close(fds[0]);
    close_all_but(fds[1]);
    const int null = open("/dev/null", O_RDWR);
    for (int stream = 0; stream < 3; ++stream)
      if (null >= 0 && null != stream) dup2(null, stream);
    if (null > 2) close(null);
    int status = kProgramNotStarted << 8;  // as an exit status: not started
    const pid_t viewer = fork();
    if (viewer == 0) {
      execve(program.c_str(), args.data(), environ);
      _exit(kProgramNotStarted);
    }
    if (viewer > 0)
      while (waitpid(viewer, &status, 0) < 0 && errno == EINTR) {}
    ssize_t written = 0;
    while ((written = write(fds[1], &status, sizeof status)) < 0 && errno == EINTR) {}
    _exit(0);
  }
  close(fds[1]);
  if (first < 0) {
    close(fds[0]);
    return started;
  }
  int ignored = 0;
  while (waitpid(first, &ignored, 0) < 0 && errno == EINTR) {}
  started.status_.reset();
  started.fd_ = fds[0];
  return started;
}

DetachedProgram show_in_file_manager(const std::string& folder) {
  return start_detached({kFolderViewer, folder});
}

std::string no_file_manager_sentence(const std::string& folder) {
  return "No file manager to show the folder: the projects are in " + folder;
}

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
