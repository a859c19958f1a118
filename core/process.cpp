#include "core/process.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr int kNotStarted = 127;

// Starts argv with standard input from /dev/null; standard output into `output_fd` when
// it is open, else both outputs to /dev/null when `quiet`. Returns -1 when it could not
// be started.
pid_t start_program(const std::vector<std::string>& argv, bool quiet, int output_fd) {
  if (argv.empty()) return -1;
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
  if (quiet) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const bool search_path = argv[0].find('/') == std::string::npos;
  const int rc = search_path ? posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ)
                             : posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return kNotStarted;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return kNotStarted;
}

}  // namespace

int run_program(const std::vector<std::string>& argv, bool quiet) {
  const pid_t pid = start_program(argv, quiet, -1);
  return pid < 0 ? kNotStarted : wait_for(pid);
}

int run_program_output(const std::vector<std::string>& argv, std::string& output) {
  output.clear();
  int pipe_fds[2];
  // Close-on-exec, so that programs other threads start meanwhile do not hold the pipe
  // open and keep the read below from ever seeing its end.
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return kNotStarted;
  const pid_t pid = start_program(argv, true, pipe_fds[1]);
  close(pipe_fds[1]);
  if (pid < 0) {
    close(pipe_fds[0]);
    return kNotStarted;
  }
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(pipe_fds[0], buffer, sizeof buffer);
    if (got > 0)
      output.append(buffer, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR)
      break;
  }
  close(pipe_fds[0]);
  return wait_for(pid);
}

int worker_count() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(n);
}
