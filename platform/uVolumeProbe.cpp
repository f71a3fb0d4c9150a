#include "platform/uVolumeProbe.h"

#include <blkid/blkid.h>

#include <memory>

namespace {

struct TProbeRelease {
  void operator()(blkid_probe AProbe) const { blkid_free_probe(AProbe); }
};
using TProbeHandle = std::unique_ptr<std::remove_pointer_t<blkid_probe>, TProbeRelease>;

std::string ProbeValue(blkid_probe AProbe, const char* AName) {
  const char* data = nullptr;
  std::size_t length = 0;
  if (blkid_probe_lookup_value(AProbe, AName, &data, &length) != 0 || data == nullptr)
    return {};
  // libblkid counts the closing zero in the length.
  return std::string(data);
}

} // namespace

std::optional<TVolumeProbe> ProbeVolume(const std::string& APath) {
  // libblkid opens the file read-only; it never writes while probing.
  const TProbeHandle probe(blkid_new_probe_from_filename(APath.c_str()));
  if (!probe)
    return std::nullopt;
  blkid_probe_enable_superblocks(probe.get(), 1);
  blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
  blkid_probe_enable_partitions(probe.get(), 0);
  // The safe probe refuses a device with two conflicting signatures instead
  // of guessing; such a device is shown without a file system.
  const int result = blkid_do_safeprobe(probe.get());
  if (result < 0 && result != -2)
    return std::nullopt;
  if (result != 0)
    return TVolumeProbe{};
  return TVolumeProbe{ProbeValue(probe.get(), "TYPE"), ProbeValue(probe.get(), "LABEL"), ProbeValue(probe.get(), "UUID")};
}
