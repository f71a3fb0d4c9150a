#include "platform/uVolumeProbe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <memory>

namespace {

// libblkid counts partitions in 512-byte sectors whatever the disk's own
// sector size.
constexpr std::int64_t kBlkidSectorSize = 512;

struct TProbeRelease {
  void operator()(blkid_probe AProbe) const { blkid_free_probe(AProbe); }
};
using TProbeHandle = std::unique_ptr<std::remove_pointer_t<blkid_probe>, TProbeRelease>;

// A descriptor closed with the object.
class THandle {
public:
  explicit THandle(const std::string& APath) : FHandle(open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)) {}
  ~THandle() {
    if (FHandle >= 0)
      close(FHandle);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  int Get() const { return FHandle; }

private:
  int FHandle;
};

std::string ProbeValue(blkid_probe AProbe, const char* AName) {
  const char* data = nullptr;
  std::size_t length = 0;
  if (blkid_probe_lookup_value(AProbe, AName, &data, &length) != 0 || data == nullptr)
    return {};
  // libblkid counts the closing zero in the length.
  return std::string(data);
}

// The file system signatures of what AProbe was set to.
std::optional<TVolumeProbe> ProbeSuperblocks(blkid_probe AProbe) {
  blkid_probe_enable_superblocks(AProbe, 1);
  blkid_probe_set_superblocks_flags(AProbe, BLKID_SUBLKS_TYPE | BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID);
  blkid_probe_enable_partitions(AProbe, 0);
  // The safe probe refuses a device with two conflicting signatures instead
  // of guessing; such a device is shown without a file system.
  const int result = blkid_do_safeprobe(AProbe);
  if (result < 0 && result != -2)
    return std::nullopt;
  if (result != 0)
    return TVolumeProbe{};
  return TVolumeProbe{ProbeValue(AProbe, "TYPE"), ProbeValue(AProbe, "LABEL"), ProbeValue(AProbe, "UUID")};
}

} // namespace

std::optional<TVolumeProbe> ProbeVolume(const std::string& APath) {
  // libblkid opens the file read-only; it never writes while probing.
  const TProbeHandle probe(blkid_new_probe_from_filename(APath.c_str()));
  if (!probe)
    return std::nullopt;
  return ProbeSuperblocks(probe.get());
}

std::vector<TPartition> ProbePartitions(const std::string& APath) {
  std::vector<TPartition> partitions;
  const THandle disk(APath);
  const TProbeHandle table(blkid_new_probe());
  if (disk.Get() < 0 || !table || blkid_probe_set_device(table.get(), disk.Get(), 0, 0) != 0)
    return partitions;
  blkid_probe_enable_superblocks(table.get(), 0);
  blkid_probe_enable_partitions(table.get(), 1);
  const blkid_partlist list = blkid_probe_get_partitions(table.get());
  if (list == nullptr)
    return partitions;
  const int count = blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i) {
    const blkid_partition entry = blkid_partlist_get_partition(list, i);
    if (entry == nullptr || blkid_partition_is_extended(entry))
      continue;
    TPartition partition;
    partition.Number = blkid_partition_get_partno(entry);
    partition.Offset = blkid_partition_get_start(entry) * kBlkidSectorSize;
    partition.Length = blkid_partition_get_size(entry) * kBlkidSectorSize;
    const TProbeHandle content(blkid_new_probe());
    if (content && blkid_probe_set_device(content.get(), disk.Get(), partition.Offset, partition.Length) == 0)
      partition.Probe = ProbeSuperblocks(content.get()).value_or(TVolumeProbe{});
    partitions.push_back(std::move(partition));
  }
  return partitions;
}
