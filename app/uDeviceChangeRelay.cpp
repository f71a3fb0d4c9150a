#include "app/uDeviceChangeRelay.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "diagnostics/uFunctions.h"
#include "wizard/uDeviceChangeEvent.h"

namespace {

constexpr std::uint16_t NoDeviceMonitorError = 1;

// A medium changed counts as an arrival: either way the drives are listed again.
std::uint32_t DeviceEventOf(TDeviceChange AChange) {
  return AChange == TDeviceChange::dcRemoval ? DBT_DEVICEREMOVECOMPLETE : DBT_DEVICEARRIVAL;
}

}  // namespace

TDeviceChangeRelay::TDeviceChangeRelay(QObject& AWizard) : FWizard(AWizard) {
  try {
    FMonitor = std::make_unique<TDeviceMonitor>();
  } catch (const std::exception& E) {
    ShowErrorMessage(edsSilent, AID_Tarnwick, NoDeviceMonitorError,
                     QStringLiteral("[TDeviceChangeRelay] ") + QString::fromUtf8(E.what()));
    return;
  }
  FNotifier = std::make_unique<QSocketNotifier>(FMonitor->FileDescriptor(), QSocketNotifier::Read);
  QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { ReadDeviceChanges(); });
}

TDeviceChangeRelay::~TDeviceChangeRelay() = default;

// udev announces a disk and then each of its partitions, one event each; one
// refresh of the drive list covers the whole burst.
void TDeviceChangeRelay::ReadDeviceChanges() {
  std::optional<TDeviceChange> Last;
  FMonitor->ReadPendingEvents([&Last](TDeviceChange AChange, const std::string&) { Last = AChange; });
  if (Last)
    QCoreApplication::postEvent(&FWizard, new TDeviceChangeEvent(DeviceEventOf(*Last)));
}
