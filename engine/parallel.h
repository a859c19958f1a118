#pragma once
// Work on several entries at once while the console and the log keep the entries' order.

#include <functional>

// Runs work(i) for every i in [0, n) on up to `workers` threads (at least the calling
// thread), and calls deliver(i) on the calling thread in ascending i, each as soon as
// work(i) has finished. `work` must not throw; it may run on any thread.
void ordered_parallel_for(int n, int workers, const std::function<void(int)>& work,
                          const std::function<void(int)>& deliver);
