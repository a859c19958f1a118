#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

TEST(OrderedParallelFor, DeliversInEntryOrderOnTheCallingThreadUntilAnEntryFails) {
  constexpr int n = 12;
  std::vector<int> worked(n, 0), delivered;
  const std::thread::id caller = std::this_thread::get_id();
  const auto work = [&](int i) {
    if (i == 9) throw std::runtime_error("entry 9");
    // Early entries take longest, so they end last.
    std::this_thread::sleep_for(milliseconds(2 * (n - i)));
    ++worked[i];
  };
  const auto deliver = [&](int i) {
    EXPECT_EQ(1, worked[i]) << "entry " << i << " delivered before its work ended";
    EXPECT_EQ(caller, std::this_thread::get_id()) << "entry " << i;
    delivered.push_back(i);
  };
  EXPECT_THROW(ordered_parallel_for(n, 4, work, deliver), std::runtime_error);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8}), delivered);
}

TEST(WorkAhead, WorksEachEntryOnceInWhateverOrderItBecomesReady) {
  constexpr int n = 16;
  std::vector<std::atomic<int>> runs(n);
  std::vector<int> results(n, -1);
  WorkAhead ahead(n, 3, [&](int i) {
    ++runs[i];
    results[i] = i * i;
  });
  // Entries become ready from another thread, last first and some twice, while the
  // owner already waits for the first.
  std::jthread producer([&] {
    for (int i = n - 1; i >= 1; --i) {
      ahead.ready(i);
      if (i % 3 == 0) ahead.ready(i);
    }
  });
  for (int i = 0; i < n; ++i) {
    ahead.wait(i);
    EXPECT_EQ(i * i, results[i]);
  }
  producer.join();
  for (int i = 0; i < n; ++i) EXPECT_EQ(1, runs[i].load()) << "entry " << i;
  // Out-of-range entries are ignored rather than touched.
  ahead.ready(n);
  ahead.wait(-1);
}

TEST(WorkAhead, StoppingSkipsWhatHasNotStartedAndWaitsForWhatHas) {
  std::atomic<int> started{0}, finished{0};
  {
    WorkAhead ahead(50, 1, [&](int) {
      ++started;
      std::this_thread::sleep_for(milliseconds(20));
      ++finished;
    });
    for (int i = 0; i < 50; ++i) ahead.ready(i);
    while (started.load() == 0) std::this_thread::yield();
  }
  // The destructor returned: whatever had started is finished, and far from all ran.
  EXPECT_EQ(started.load(), finished.load());
  EXPECT_LT(finished.load(), 50);
}

}  // namespace
