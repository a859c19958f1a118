#include "core/stop.h"

#include "core/process.h"

#include <atomic>

namespace {

std::atomic<int> g_reason{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and set from signal handlers");

}  // namespace

void request_stop(int reason) noexcept {
  int none = 0;
  g_reason.compare_exchange_strong(none, reason == 0 ? -1 : reason);
  stop_programs();
}

int stop_requested() noexcept { return g_reason.load(); }

void clear_stop_request() noexcept { g_reason.store(0); }

void throw_if_stop_requested() {
  if (stop_requested() != 0) throw RunStopped();
}
