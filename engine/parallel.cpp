#include "engine/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

void ordered_parallel_for(int n, int workers, const std::function<void(int)>& work,
                          const std::function<void(int)>& deliver) {
  if (n <= 0) return;
  std::vector<char> done(static_cast<size_t>(n), 0);
  std::mutex mutex;
  std::condition_variable changed;
  std::atomic<int> next{0};

  auto take_entries = [&] {
    for (int i = next++; i < n; i = next++) {
      work(i);
      {
        std::lock_guard<std::mutex> lock(mutex);
        done[static_cast<size_t>(i)] = 1;
      }
      changed.notify_all();
    }
  };

  // Declared after everything the threads touch, so they are joined first on every way out.
  std::vector<std::jthread> threads;
  const int wanted = std::clamp(workers, 1, n);
  try {
    for (int t = 0; t < wanted; ++t) threads.emplace_back(take_entries);
  } catch (const std::system_error&) {
    // Whatever threads did start take all the entries between them.
  }
  if (threads.empty()) take_entries();

  for (int i = 0; i < n; ++i) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return done[static_cast<size_t>(i)] != 0; });
    }
    deliver(i);
  }
}
