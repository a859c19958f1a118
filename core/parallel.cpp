#include "core/parallel.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

void ordered_parallel_for(int n, int workers, const std::function<void(int)>& work,
                          const std::function<void(int)>& deliver) {
  if (n <= 0) return;
  WorkAhead ahead(n, std::min(workers, n), work);
  for (int i = 0; i < n; ++i) ahead.ready(i);
  for (int i = 0; i < n; ++i) {
    ahead.wait(i);
    deliver(i);
  }
}

WorkAhead::WorkAhead(int n, int workers, std::function<void(int)> work)
    : work_(std::move(work)),
      workers_(std::max(workers, 1)),
      state_(static_cast<size_t>(std::max(n, 0)), State::waiting),
      failed_(state_.size()) {}

WorkAhead::~WorkAhead() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
}

void WorkAhead::start_threads() {
  if (!threads_.empty()) return;
  try {
    for (int t = 0; t < workers_; ++t) threads_.emplace_back([this] { take_entries(); });
  } catch (const std::system_error&) {
    // Fewer threads, or none: wait() then works on its entry itself.
  }
}

void WorkAhead::ready(int i) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (i < 0 || static_cast<size_t>(i) >= state_.size() || state_[i] != State::waiting) return;
    state_[i] = State::queued;
    queue_.push_back(i);
    start_threads();
  }
  changed_.notify_all();
}

// Runs the oldest queued entry with the lock released; false when there is none.
bool WorkAhead::run_next(std::unique_lock<std::mutex>& lock) {
  if (queue_.empty()) return false;
  const int i = queue_.front();
  queue_.pop_front();
  state_[i] = State::running;
  lock.unlock();
  std::exception_ptr failure;
  try {
    work_(i);
  } catch (...) {
    failure = std::current_exception();
  }
  lock.lock();
  failed_[i] = failure;
  state_[i] = State::done;
  changed_.notify_all();
  return true;
}

void WorkAhead::take_entries() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    run_next(lock);
  }
}

void WorkAhead::wait(int i) {
  ready(i);
  std::unique_lock<std::mutex> lock(mutex_);
  if (i < 0 || static_cast<size_t>(i) >= state_.size()) return;
  while (state_[i] != State::done) {
    // Without threads of its own the caller does the work, oldest entry first.
    if (threads_.empty() && run_next(lock)) continue;
    changed_.wait(lock, [&] { return state_[i] == State::done; });
  }
  if (failed_[i]) std::rethrow_exception(failed_[i]);
}
