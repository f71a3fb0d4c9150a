#pragma once

#include <cstdint>

#include <QEvent>

#include <string>

#include "platform/uDriveList.h"

// What the system says about a drive, with the codes of the device-change
// message the pages were written against: a drive has arrived, or has gone.
// Other codes may come along; pages ignore them.
inline constexpr std::uint32_t DBT_DEVICEARRIVAL = 0x8000;
inline constexpr std::uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// The device-change message as the wizard window receives it and offers it
// to its listening pages.
class TDeviceChangeEvent : public QEvent {
public:
  // AArrivedDrive names the drive that arrived when it is known (a volume
  // image the user has just added), else 0.
  explicit TDeviceChangeEvent(std::uint32_t ADeviceEvent, TDriveLetter AArrivedDrive = 0);

  // The event type, registered with the toolkit on first use.
  static QEvent::Type EventType();

  std::uint32_t DeviceEvent() const { return FDeviceEvent; }
  TDriveLetter ArrivedDrive() const { return FArrivedDrive; }

private:
  std::uint32_t FDeviceEvent;
  TDriveLetter FArrivedDrive;
};

// The volume image the user chose with "Add volume image...", offered to
// the pages like a device change: the drive page lists it in its drives.
class TVolumeImageChosenEvent : public QEvent {
public:
  explicit TVolumeImageChosenEvent(std::string APath);

  static QEvent::Type EventType();

  const std::string& Path() const { return FPath; }

private:
  std::string FPath;
};
