#include "platform/uDeviceMonitor.h"

#include <gtest/gtest.h>

#include <poll.h>

#include <memory>

namespace {

TEST(DeviceMonitor, ActionsMapToArrivalAndRemoval) {
  const struct {
    const char* Action;
    std::optional<TDeviceChange> Change;
  } cases[] = {
      {"add", TDeviceChange::dcArrival}, {"change", TDeviceChange::dcArrival}, {"remove", TDeviceChange::dcRemoval},
      {"bind", std::nullopt},            {"move", std::nullopt},               {"", std::nullopt},
  };
  for (const auto& c : cases)
    EXPECT_EQ(DeviceChangeOfAction(c.Action), c.Change) << c.Action;
}

// Without root no block device can be made to come or go, so this checks only
// that the monitor listens and that reading with nothing waiting returns at
// once without reporting anything.
TEST(DeviceMonitor, ListensWithoutBlockingWhenNothingHappens) {
  std::unique_ptr<TDeviceMonitor> monitor;
  try {
    monitor = std::make_unique<TDeviceMonitor>();
  } catch (const std::runtime_error& E) {
    GTEST_SKIP() << E.what();
  }
  const int fd = monitor->FileDescriptor();
  ASSERT_GE(fd, 0);
  pollfd watched{fd, POLLIN, 0};
  EXPECT_EQ(poll(&watched, 1, 0), 0);

  int reported = 0;
  monitor->ReadPendingEvents([&](TDeviceChange, const std::string&) { ++reported; });
  EXPECT_EQ(reported, 0);
}

} // namespace
