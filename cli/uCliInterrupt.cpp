#include "cli/uCliInterrupt.h"

#include <atomic>
#include <csignal>

namespace {

// A lock-free atomic is safe to change from a signal handler.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void CountInterrupt(int) { gInterrupts.fetch_add(1, std::memory_order_relaxed); }

} // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = CountInterrupt;
  sigemptyset(&action.sa_mask);
  // Writes to standard output and error resume after the signal instead of
  // failing half-done; the answer prompt polls and sees the count itself.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int InterruptCount() { return gInterrupts.load(std::memory_order_relaxed); }
