#include "wizard/uUDisksSource.h"

#include "platform/uUDisksBus.h"

#include <QCoreApplication>

#include <chrono>
#include <future>

namespace {

// Short enough that the window answers at once, long enough not to spin.
constexpr std::chrono::milliseconds kEventsEvery{20};

} // namespace

IVolumeSourcePtr OpenThroughUDisks(const std::string& ADevice) {
  auto call = std::async(std::launch::async, [ADevice] { return OpenThroughUDisksBus(ADevice); });
  while (call.wait_for(kEventsEvery) != std::future_status::ready)
    QCoreApplication::processEvents(QEventLoop::AllEvents, static_cast<int>(kEventsEvery.count()));
  return call.get();
}
