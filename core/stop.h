#pragma once
// Stopping a run from outside it: a signal handler or the window asks, the run looks
// between its steps and ends there, cleaning up as on any other way out.

#include <stdexcept>

// Thrown by throw_if_stop_requested() inside a run.
class RunStopped : public std::runtime_error {
 public:
  RunStopped() : std::runtime_error("the run was stopped") {}
};

// Records the request (`reason`: a signal number, or any non-zero value) and asks the
// programs the run started to end. Safe in a signal handler; the first reason stays.
void request_stop(int reason) noexcept;

// The reason of the request, 0 while there is none.
int stop_requested() noexcept;

// Forgets a request, before the next run.
void clear_stop_request() noexcept;

void throw_if_stop_requested();
