#include "platform/uDeviceMonitor.h"

#include <libudev.h>

#include <memory>
#include <stdexcept>

namespace {

struct TDeviceRelease {
  void operator()(udev_device* ADevice) const { udev_device_unref(ADevice); }
};
using TDeviceHandle = std::unique_ptr<udev_device, TDeviceRelease>;

std::string TextOrEmpty(const char* AText) {
  return AText != nullptr ? std::string(AText) : std::string();
}

} // namespace

std::optional<TDeviceChange> DeviceChangeOfAction(std::string_view AAction) {
  if (AAction == "add" || AAction == "change")
    return TDeviceChange::dcArrival;
  if (AAction == "remove")
    return TDeviceChange::dcRemoval;
  return std::nullopt;
}

void TDeviceMonitor::TUdevRelease::operator()(udev* AUdev) const {
  udev_unref(AUdev);
}

void TDeviceMonitor::TMonitorRelease::operator()(udev_monitor* AMonitor) const {
  udev_monitor_unref(AMonitor);
}

TDeviceMonitor::TDeviceMonitor() : FUdev(udev_new()) {
  if (FUdev)
    FMonitor.reset(udev_monitor_new_from_netlink(FUdev.get(), "udev"));
  const bool listening = FMonitor && udev_monitor_filter_add_match_subsystem_devtype(FMonitor.get(), "block", nullptr) >= 0 &&
                         udev_monitor_enable_receiving(FMonitor.get()) >= 0;
  if (!listening)
    throw std::runtime_error("Cannot listen for block devices being attached or removed: no udev monitor.");
}

int TDeviceMonitor::FileDescriptor() const {
  return udev_monitor_get_fd(FMonitor.get());
}

void TDeviceMonitor::ReadPendingEvents(const TChangeHandler& AHandler) {
  // libudev's monitor socket does not block: no device means no event left.
  while (const TDeviceHandle device{udev_monitor_receive_device(FMonitor.get())}) {
    const std::optional<TDeviceChange> change = DeviceChangeOfAction(TextOrEmpty(udev_device_get_action(device.get())));
    if (change)
      AHandler(*change, TextOrEmpty(udev_device_get_devnode(device.get())));
  }
}
