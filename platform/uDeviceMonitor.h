#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct udev;
struct udev_monitor;

// Block devices coming and going, as udev announces them once its rules have
// run (so the device node exists when the arrival is reported). The caller
// watches FileDescriptor() and calls ReadPendingEvents when it is readable;
// nothing here blocks or starts a thread.
enum class TDeviceChange { dcArrival, dcRemoval };

// udev's action names: "add" is an arrival and "remove" a removal; "change",
// which is what a medium inserted into or taken out of a drive and a newly
// written file system announce, counts as an arrival, since either way the
// drives must be listed again. Other actions (bind, move, ...) are none.
std::optional<TDeviceChange> DeviceChangeOfAction(std::string_view AAction);

class TDeviceMonitor {
public:
  using TChangeHandler = std::function<void(TDeviceChange AChange, const std::string& ADeviceNode)>;

  // Raises std::runtime_error when the system offers no udev monitor.
  TDeviceMonitor();

  // Readable when events wait.
  int FileDescriptor() const;
  // Hands every waiting event of the block subsystem to AHandler and returns
  // when none is left; the device node is empty for a device without one.
  void ReadPendingEvents(const TChangeHandler& AHandler);

private:
  struct TUdevRelease {
    void operator()(udev* AUdev) const;
  };
  struct TMonitorRelease {
    void operator()(udev_monitor* AMonitor) const;
  };

  // The monitor goes first, as it holds a reference to the context.
  std::unique_ptr<udev, TUdevRelease> FUdev;
  std::unique_ptr<udev_monitor, TMonitorRelease> FMonitor;
};
