#include "platform/uVolumeProbe.h"

#include "foundation/uDescriptor.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSVolume.h"
#include "platform/uContainerSource.h"

#include <blkid/blkid.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <functional>
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

// The E: lines of udev's database entry for the block device numbered
// ADeviceNumber; empty when udev has none.
std::map<std::string, std::string> UdevProperties(const std::string& AUdevData, const std::string& ADeviceNumber) {
  std::map<std::string, std::string> properties;
  if (ADeviceNumber.empty())
    return properties;
  std::ifstream in(AUdevData + "/b" + ADeviceNumber);
  for (std::string line; std::getline(in, line);)
    if (const std::size_t equals = line.find('='); line.starts_with("E:") && equals != std::string::npos)
      properties[line.substr(2, equals - 2)] = line.substr(equals + 1);
  return properties;
}

// A partition as the table gives it; extended partitions, which hold the
// logical ones, included.
struct TTableEntry {
  int Number = 0;
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
  bool Extended = false;
};

std::vector<TTableEntry> TableOn(int ADescriptor) {
  std::vector<TTableEntry> entries;
  const TProbeHandle table(blkid_new_probe());
  if (ADescriptor < 0 || !table || blkid_probe_set_device(table.get(), ADescriptor, 0, 0) != 0)
    return entries;
  blkid_probe_enable_superblocks(table.get(), 0);
  blkid_probe_enable_partitions(table.get(), 1);
  const blkid_partlist list = blkid_probe_get_partitions(table.get());
  const int count = list == nullptr ? 0 : blkid_partlist_numof_partitions(list);
  for (int i = 0; i < count; ++i)
    if (const blkid_partition entry = blkid_partlist_get_partition(list, i))
      entries.push_back({blkid_partition_get_partno(entry), blkid_partition_get_start(entry) * kBlkidSectorSize,
                         blkid_partition_get_size(entry) * kBlkidSectorSize,
                         blkid_partition_is_extended(entry) != 0});
  return entries;
}

// Each partition of ATable but the extended ones, probed for its file
// system after ABeforeProbe.
std::vector<TPartition> PartitionsOn(int ADescriptor, const std::vector<TTableEntry>& ATable,
                                     const std::function<void(const TPartition&)>& ABeforeProbe) {
  std::vector<TPartition> partitions;
  for (const TTableEntry& entry : ATable) {
    if (entry.Extended)
      continue;
    TPartition partition{entry.Number, entry.Offset, entry.Length, {}};
    ABeforeProbe(partition);
    const TProbeHandle content(blkid_new_probe());
    if (content && blkid_probe_set_device(content.get(), ADescriptor, partition.Offset, partition.Length) == 0)
      partition.Probe = ProbeSuperblocks(content.get()).value_or(TVolumeProbe{});
    partitions.push_back(std::move(partition));
  }
  return partitions;
}

// libblkid reads only through a descriptor, which a container's library
// does not give. The mirror is a sparse file in memory as long as the disk,
// holding only the areas the probes look at, copied from the container:
// the disk's first and last MiB (MBR, GPT and its backup), the start and
// end of every partition (boot sectors, the extended boot record chain)
// and the first records of an NTFS volume's MFT (its label).
class TProbeMirror {
public:
  static constexpr std::int64_t kArea = 1 << 20;
  // Logical partitions are found one EBR at a time; no real disk chains
  // this many.
  static constexpr int kMaxTableRounds = 128;
  static constexpr std::int64_t kMFTRecordsCopied = 16;

  // ADiskSize is the size of the disk the source holds, more than the
  // source's own when it was cut short.
  TProbeMirror(IVolumeSourcePtr ASource, std::int64_t ADiskSize)
      : FSource(std::move(ASource)), FSize(ADiskSize), FDescriptor(memfd_create("tarnwick-probe", MFD_CLOEXEC)) {
    FUsable = FDescriptor.Get() >= 0 && ftruncate(FDescriptor.Get(), FSize) == 0;
    Copy(0, kArea);
    Copy(FSize - kArea, kArea);
  }

  int Descriptor() const { return FUsable ? FDescriptor.Get() : -1; }
  std::int64_t Size() const { return FSize; }

  // The table, copying each partition's ends until no more partitions show.
  std::vector<TTableEntry> TablesOf() {
    std::vector<TTableEntry> table = TableOn(Descriptor());
    for (int round = 0; round < kMaxTableRounds; ++round) {
      for (const TTableEntry& entry : table) {
        Copy(entry.Offset, kArea);
        Copy(entry.Offset + entry.Length, kArea);
      }
      std::vector<TTableEntry> grown = TableOn(Descriptor());
      if (grown.size() == table.size())
        break;
      table = std::move(grown);
    }
    return table;
  }

  // The first MFT records of the NTFS volume at [AOffset, AOffset + ALength),
  // where its boot sector says they are; nothing for another file system.
  void CopyMFTStart(std::int64_t AOffset, std::int64_t ALength) {
    try {
      const TNTFSVolumeRef volume(
          NTFSVolumeInit(u"", std::make_shared<TSliceSource>(FSource, AOffset, ALength)));
      const std::int64_t mft = volume->MFTLcn * volume->ClusterSize;
      Copy(AOffset + mft, kMFTRecordsCopied * volume->MFTRecordSize);
    } catch (const std::exception&) {
      // Not NTFS, or too damaged to say where its MFT is: libblkid will not
      // call it NTFS either.
    }
  }

private:
  void Copy(std::int64_t AOffset, std::int64_t ALength) {
    const std::int64_t from = std::clamp<std::int64_t>(AOffset, 0, FSize);
    const std::int64_t to = std::clamp<std::int64_t>(AOffset + ALength, from, FSize);
    std::vector<char> buffer(static_cast<std::size_t>(to - from));
    std::int64_t done = 0;
    while (FUsable && done < to - from) {
      const std::int64_t got = FSource->ReadAt(from + done, buffer.data() + done, to - from - done);
      if (got <= 0)
        break;
      done += got;
    }
    if (done > 0 && pwrite(FDescriptor.Get(), buffer.data(), static_cast<std::size_t>(done), from) < 0)
      FUsable = false;
  }

  IVolumeSourcePtr FSource;
  std::int64_t FSize;
  TDescriptor FDescriptor;
  bool FUsable = false;
};

// Partition table fields, from the MBR and GPT layouts.
constexpr std::int64_t kMBRSignatureOffset = 510;
constexpr std::int64_t kMBREntries = 446;
constexpr std::int64_t kMBREntrySize = 16;
constexpr std::int64_t kMBRPrimaryCount = 4;
constexpr std::int64_t kMBRStartField = 8;
constexpr std::int64_t kMBRSizeField = 12;
constexpr std::int64_t kGPTBackupLBAField = 32;
// GPT puts its header in the disk's second sector, of 512 to 4,096 bytes.
constexpr std::int64_t kGPTSectorSizes[] = {512, 4096};

// How long the disk on ASource says it is: where the GPT puts its backup
// header, or where the last primary MBR partition ends. An image cut short
// is shorter than that; libblkid then refuses a GPT, and a partition past
// the end reads as no file system.
std::int64_t ClaimedDiskSize(IVolumeSource& ASource) {
  std::vector<std::uint8_t> start(static_cast<std::size_t>(2 * kGPTSectorSizes[1]), 0);
  if (ASource.ReadAt(0, start.data(), static_cast<std::int64_t>(start.size())) < 2 * kGPTSectorSizes[0])
    return 0;
  const TByteView bytes(start.data(), start.size());
  for (const std::int64_t sectorSize : kGPTSectorSizes)
    if (std::equal(start.begin() + sectorSize, start.begin() + sectorSize + 8, "EFI PART"))
      return static_cast<std::int64_t>(
          std::min<std::uint64_t>(bytes.Get<std::uint64_t>(sectorSize + kGPTBackupLBAField) + 1,
                                  INT64_MAX / sectorSize) * sectorSize);
  if (start[kMBRSignatureOffset] != 0x55 || start[kMBRSignatureOffset + 1] != 0xAA)
    return 0;
  std::int64_t end = 0;
  for (std::int64_t i = 0; i < kMBRPrimaryCount; ++i) {
    const std::int64_t entry = kMBREntries + i * kMBREntrySize;
    const std::int64_t first = bytes.Get<std::uint32_t>(entry + kMBRStartField);
    const std::int64_t sectors = bytes.Get<std::uint32_t>(entry + kMBRSizeField);
    end = std::max(end, (first + sectors) * kBlkidSectorSize);
  }
  return end;
}

// The container at APath, or nullptr for a device, a plain image and a
// container that cannot be opened.
IVolumeSourcePtr ContainerAt(const std::string& APath) {
  try {
    return OpenContainer(APath);
  } catch (const NoDriveException&) {
    return nullptr;
  }
}

} // namespace

std::optional<TVolumeProbe> ProbeVolume(const IVolumeSourcePtr& ASource) {
  TProbeMirror mirror(ASource, ASource->Size());
  mirror.CopyMFTStart(0, mirror.Size());
  const TProbeHandle probe(blkid_new_probe());
  if (!probe || blkid_probe_set_device(probe.get(), mirror.Descriptor(), 0, 0) != 0)
    return std::nullopt;
  return ProbeSuperblocks(probe.get());
}

std::optional<TVolumeProbe> ProbeVolume(const std::string& APath) {
  if (IVolumeSourcePtr container = ContainerAt(APath))
    return ProbeVolume(container);
  // libblkid opens the file read-only; it never writes while probing.
  const TProbeHandle probe(blkid_new_probe_from_filename(APath.c_str()));
  if (!probe)
    return std::nullopt;
  return ProbeSuperblocks(probe.get());
}

std::optional<TVolumeProbe> ProbeDamagedNTFS(const IVolumeSourcePtr& ASource) {
  try {
    const TNTFSVolumeRef volume(NTFSVolumeInit(u"", ASource));
    if (volume->Initialized)
      return TVolumeProbe{"ntfs", {}, {}};
  } catch (const std::exception&) {
    // Not NTFS, or damaged past what the copies mend.
  }
  return std::nullopt;
}

std::optional<TVolumeProbe> ProbeFromUdev(const std::string& AUdevData, const std::string& ADeviceNumber) {
  std::map<std::string, std::string> properties = UdevProperties(AUdevData, ADeviceNumber);
  if (properties["ID_FS_TYPE"].empty())
    return std::nullopt;
  // ID_FS_LABEL has its blanks and other characters replaced by "_";
  // ID_FS_LABEL_ENC keeps them, written as \xNN.
  const std::string label =
      properties.contains("ID_FS_LABEL_ENC") ? UdevDecoded(properties["ID_FS_LABEL_ENC"]) : properties["ID_FS_LABEL"];
  return TVolumeProbe{properties["ID_FS_TYPE"], label, properties["ID_FS_UUID"]};
}

std::optional<TPartitionEntry> PartitionEntryFromUdev(const std::string& AUdevData, const std::string& ADeviceNumber) {
  std::map<std::string, std::string> properties = UdevProperties(AUdevData, ADeviceNumber);
  const std::string& number = properties["ID_PART_ENTRY_NUMBER"];
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 6)
    return std::nullopt;
  // udev writes the GPT name with the same \xNN encoding as labels.
  return TPartitionEntry{std::stoi(number), UdevDecoded(properties["ID_PART_ENTRY_NAME"])};
}

std::vector<TPartition> ProbePartitions(const IVolumeSourcePtr& ASource) {
  const std::int64_t size = ASource->Size();
  const std::int64_t claimed = ClaimedDiskSize(*ASource);
  // A device or plain image is probed through its own descriptor, unless
  // it was cut short: the mirror then has the length the table gives.
  if (const auto* file = dynamic_cast<const TFileSource*>(ASource.get()); file && claimed <= size)
    return PartitionsOn(file->Descriptor(), TableOn(file->Descriptor()), [](const TPartition&) {});
  TProbeMirror mirror(ASource, std::max(size, claimed));
  return PartitionsOn(mirror.Descriptor(), mirror.TablesOf(), [&mirror](const TPartition& APartition) {
    mirror.CopyMFTStart(APartition.Offset, APartition.Length);
  });
}

std::vector<TPartition> ProbePartitions(const std::string& APath) {
  try {
    IVolumeSourcePtr container = OpenContainer(APath);
    return ProbePartitions(container ? container : TFileSource::Open(APath));
  } catch (const NoDriveException&) {
    return {};
  }
}
