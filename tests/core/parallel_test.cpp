#include "core/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TEST(OrderedParallelFor, DeliversInEntryOrderWhateverOrderTheWorkEnds) {
  constexpr int n = 12;
  std::vector<int> worked(n, 0);
  std::vector<int> delivered;
  ordered_parallel_for(
      n, 4,
      [&](int i) {
        // Early entries take longest, so they end last.
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * (n - i)));
        ++worked[i];
      },
      [&](int i) {
        EXPECT_EQ(1, worked[i]) << "entry " << i << " delivered before its work ended";
        delivered.push_back(i);
      });
  std::vector<int> expected(n);
  for (int i = 0; i < n; ++i) expected[i] = i;
  EXPECT_EQ(expected, delivered);
}

TEST(OrderedParallelFor, AFailedEntryStopsTheLoopOnTheCallingThreadAtItsTurn) {
  std::vector<int> delivered;
  const std::thread::id caller = std::this_thread::get_id();
  std::thread::id thrown_on;
  try {
    ordered_parallel_for(
        40, 2,
        [](int i) {
          if (i == 3) throw std::runtime_error("entry 3");
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        },
        [&](int i) { delivered.push_back(i); });
    ADD_FAILURE() << "the failure of entry 3 was lost";
  } catch (const std::runtime_error& e) {
    thrown_on = std::this_thread::get_id();
    EXPECT_STREQ("entry 3", e.what());
  }
  EXPECT_EQ(caller, thrown_on);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), delivered);
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
  std::atomic<int> started{0};
  std::atomic<int> finished{0};
  {
    WorkAhead ahead(50, 1, [&](int) {
      ++started;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
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
