#include "platform/uVolumeProbe.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <map>
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

// udev's encoding of a property: bytes outside plain ASCII as \xNN.
std::string UdevDecoded(const std::string& AText) {
  std::string decoded;
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (AText.compare(i, 2, "\\x") == 0 && i + 4 <= AText.size() &&
        std::isxdigit(static_cast<unsigned char>(AText[i + 2])) &&
        std::isxdigit(static_cast<unsigned char>(AText[i + 3]))) {
      decoded += static_cast<char>(std::stoi(AText.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      decoded += AText[i];
    }
  }
  return decoded;
}

} // namespace

std::optional<TVolumeProbe> ProbeVolume(const std::string& APath) {
  // libblkid opens the file read-only; it never writes while probing.
  const TProbeHandle probe(blkid_new_probe_from_filename(APath.c_str()));
  if (!probe)
    return std::nullopt;
  return ProbeSuperblocks(probe.get());
}

std::optional<TVolumeProbe> ProbeFromUdev(const std::string& AUdevData, const std::string& ADeviceNumber) {
  if (ADeviceNumber.empty())
    return std::nullopt;
  std::ifstream in(AUdevData + "/b" + ADeviceNumber);
  std::map<std::string, std::string> properties;
  for (std::string line; std::getline(in, line);)
    if (const std::size_t equals = line.find('='); line.starts_with("E:") && equals != std::string::npos)
      properties[line.substr(2, equals - 2)] = line.substr(equals + 1);
  if (properties["ID_FS_TYPE"].empty())
    return std::nullopt;
  // ID_FS_LABEL has its blanks and other characters replaced by "_";
  // ID_FS_LABEL_ENC keeps them, written as \xNN.
  const std::string label =
      properties.contains("ID_FS_LABEL_ENC") ? UdevDecoded(properties["ID_FS_LABEL_ENC"]) : properties["ID_FS_LABEL"];
  return TVolumeProbe{properties["ID_FS_TYPE"], label, properties["ID_FS_UUID"]};
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
