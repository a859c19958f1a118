#pragma once
// Work on several entries at once while the console and the log keep the entries' order.

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Runs work(i) for every i in [0, n) on up to `workers` threads (at least the calling
// thread), and calls deliver(i) on the calling thread in ascending i, each as soon as
// work(i) has finished. `work` may run on any thread; an exception it throws comes out
// on the calling thread in place of deliver(i), and work not yet started is skipped.
void ordered_parallel_for(int n, int workers, const std::function<void(int)>& work,
                          const std::function<void(int)>& deliver);

// Work on entries that become ready one by one, in any order and from any thread, while
// the owner collects the results in its own order. Up to `workers` threads start with
// the first ready entry; an exception thrown by work(i) comes out of wait(i). The
// destructor lets running work finish, skips the rest and joins, so whatever the work
// reads must outlive the object.
class WorkAhead {
 public:
  WorkAhead(int n, int workers, std::function<void(int)> work);
  ~WorkAhead();
  WorkAhead(const WorkAhead&) = delete;
  WorkAhead& operator=(const WorkAhead&) = delete;

  // Entry i may be worked on now.
  void ready(int i);
  // Returns once work(i) has run, making i ready first if nobody had; rethrows what
  // work(i) threw.
  void wait(int i);

 private:
  enum class State : char { waiting, queued, running, done };
  void start_threads();
  void take_entries();
  bool run_next(std::unique_lock<std::mutex>& lock);

  std::function<void(int)> work_;
  int workers_;
  std::vector<State> state_;
  std::vector<std::exception_ptr> failed_;
  std::deque<int> queue_;
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Last, so the threads are joined before anything they touch goes away.
  std::vector<std::jthread> threads_;
};
