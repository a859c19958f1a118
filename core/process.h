#pragma once
// Running external programs without a shell.

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

// Number of programs or workers to run at once: the machine's cores, at least 1.
int worker_count();
