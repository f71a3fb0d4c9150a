#include "cli/uCliInterrupt.h"

#include "progress/uProgressEx.h"

#include <atomic>
#include <csignal>

namespace {

// The presses it takes to cancel even the file being written.
constexpr int kPressesToEndAtOnce = 2;

// A lock-free atomic is safe to change from a signal handler.
std::atomic<int> gInterrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void CountInterrupt(int) {
  gInterrupts.fetch_add(1, std::memory_order_relaxed);
  TProgressExService::RequestUpdate();
}

extern "C" void EndAtOnce(int) {
  gInterrupts.fetch_add(kPressesToEndAtOnce, std::memory_order_relaxed);
  TProgressExService::RequestUpdate();
}

void Install(int ASignal, void (*AHandler)(int)) {
  struct sigaction action {};
  action.sa_handler = AHandler;
  sigemptyset(&action.sa_mask);
  // Writes to standard output and error resume after the signal instead of
  // failing half-done; the answer prompt polls and sees the count itself.
  action.sa_flags = SA_RESTART;
  sigaction(ASignal, &action, nullptr);
}

} // namespace

void InstallInterruptHandler() {
  Install(SIGINT, CountInterrupt);
  Install(SIGTERM, EndAtOnce);
  Install(SIGHUP, EndAtOnce);
}

int InterruptCount() { return gInterrupts.load(std::memory_order_relaxed); }
