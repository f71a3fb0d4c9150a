#include "wizard/uDeviceChangeEvent.h"

TDeviceChangeEvent::TDeviceChangeEvent(std::uint32_t ADeviceEvent, TDriveLetter AArrivedDrive)
    : QEvent(EventType()), FDeviceEvent(ADeviceEvent), FArrivedDrive(AArrivedDrive) {}

QEvent::Type TDeviceChangeEvent::EventType() {
  static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return Type;
}

TVolumeImageChosenEvent::TVolumeImageChosenEvent(std::string APath) : QEvent(EventType()), FPath(std::move(APath)) {}

QEvent::Type TVolumeImageChosenEvent::EventType() {
  static const auto Type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return Type;
}
