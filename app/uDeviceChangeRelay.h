#pragma once

#include <memory>
#include <optional>

#include "platform/uDeviceMonitor.h"

class QObject;
class QSocketNotifier;

// Hands the block devices that udev announces to the wizard window as
// device-change events, so that the drive page follows drives as they come
// and go. Without a udev monitor (a container, a system without udev) the
// program runs on with the drives it found at start, and the log says why.
class TDeviceChangeRelay {
public:
  explicit TDeviceChangeRelay(QObject& AWizard);
  ~TDeviceChangeRelay();
  TDeviceChangeRelay(const TDeviceChangeRelay&) = delete;
  TDeviceChangeRelay& operator=(const TDeviceChangeRelay&) = delete;

private:
  void ReadDeviceChanges();

  QObject& FWizard;
  std::unique_ptr<TDeviceMonitor> FMonitor;
  std::unique_ptr<QSocketNotifier> FNotifier;
};
