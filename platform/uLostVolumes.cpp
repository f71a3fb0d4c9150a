#include "platform/uLostVolumes.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSVolume.h"
#include "platform/uVolumeProbe.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

namespace {

// Where partitioning tools put partitions, in sectors of 512 bytes: at MiB
// boundaries since Windows Vista, at track boundaries (63 sectors) before,
// ending at cylinder ends (255 heads of 63 sectors, so also on a track's
// last sector). A volume's backup boot sector is its partition's last
// sector, so the sector before each boundary is looked at too.
constexpr std::int64_t kQuickSteps[] = {2048, 63};
// A deep search reads this much at a time, and hears the progress between.
constexpr std::int64_t kDeepWindow = 1 << 20;
// A quick search hears the progress after this many sectors looked at.
constexpr std::int64_t kQuickProgressEvery = 4096;

using TSector = std::array<std::uint8_t, kSmallestSectorSize>;

// The bytes of the volume ABoot describes at AOffset of a disk of ADiskSize
// bytes: a volume cut short by the disk's end keeps what is there.
std::int64_t LengthOnDisk(const TNTFSBootSector& ABoot, std::int64_t AOffset, std::int64_t ADiskSize) {
  return std::min(ABoot.VolumeLength().value_or(ADiskSize), ADiskSize - AOffset);
}

// The NTFS boot sector at AOffset of ASource; none where it cannot be read
// or holds none.
std::optional<TNTFSBootSector> BootSectorAt(IVolumeSource& ASource, std::int64_t AOffset) {
  TSector sector{};
  if (ASource.ReadAt(AOffset, sector.data(), kSmallestSectorSize) != kSmallestSectorSize)
    return std::nullopt;
  return ReadNTFSBootSector(TByteView(sector.data(), sector.size()));
}

// The smallest sector after ASector that a quick search looks at.
std::int64_t NextQuickSector(std::int64_t ASector) {
  std::int64_t next = INT64_MAX;
  for (const std::int64_t step : kQuickSteps) {
    const std::int64_t start = (ASector / step + 1) * step;  // a partition's first sector
    const std::int64_t last = start - 1;                       // the last one of the partition before
    next = std::min(next, last > ASector ? last : start);
  }
  return next;
}

// Whether the MFT's first record of the volume at AOffset described by
// ABoot, or its copy in $MFTMirr, reads as $MFT.
bool HoldsMFT(IVolumeSource& ASource, std::int64_t AOffset, const TNTFSBootSector& ABoot) {
  std::vector<std::uint8_t> record(ABoot.MFTRecordSize);
  for (const NTFS_LCN lcn : {ABoot.MFTLcn, ABoot.MFTMirrLcn}) {
    const std::optional<std::int64_t> inVolume = CheckedMul<std::int64_t>(lcn, ABoot.ClusterSize());
    const std::optional<std::int64_t> at = inVolume ? CheckedAdd<std::int64_t>(AOffset, *inVolume) : std::nullopt;
    if (lcn > 0 && at && ASource.ReadAt(*at, record.data(), static_cast<std::int64_t>(record.size())) ==
                             static_cast<std::int64_t>(record.size()) &&
        IsMFTRecordZero(TByteView(record.data(), record.size())))
      return true;
  }
  return false;
}

// The volumes a search found, by offset: one found by its own boot sector
// is not also one found by its backup.
class TFoundVolumes {
public:
  TFoundVolumes(IVolumeSourcePtr ASource, std::set<std::int64_t> AListed)
      : FSource(std::move(ASource)), FSize(FSource->Size()), FListed(std::move(AListed)) {}

  // The boot sector ABytes found at AOffset, taken as its volume's own and
  // as its backup.
  void Look(TByteView ABytes, std::int64_t AOffset) {
    const std::optional<TNTFSBootSector> boot = ReadNTFSBootSector(ABytes);
    if (!boot)
      return;
    Add(*boot, AOffset, false);
    if (const std::optional<std::int64_t> before = CheckedMul<std::int64_t>(boot->TotalSectors, boot->SectorSize))
      Add(*boot, AOffset - *before, true);
  }

  std::vector<TLostVolume> Volumes() const {
    std::vector<TLostVolume> volumes;
    for (const auto& [offset, volume] : FFound)
      volumes.push_back(volume);
    return volumes;
  }

private:
  void Add(const TNTFSBootSector& ABoot, std::int64_t AOffset, bool AByBackup) {
    // A volume at the start is the source itself, and the drive list shows
    // that already.
    if (AOffset <= 0 || AOffset >= FSize || FListed.contains(AOffset))
      return;
    if (const auto found = FFound.find(AOffset); found != FFound.end()) {
      found->second.ByBackup = found->second.ByBackup && AByBackup;
      return;
    }
    if (!HoldsMFT(*FSource, AOffset, ABoot))
      return;
    FFound[AOffset] = TLostVolume{AOffset, LengthOnDisk(ABoot, AOffset, FSize), AByBackup};
  }

  IVolumeSourcePtr FSource;
  std::int64_t FSize;
  std::set<std::int64_t> FListed;
  std::map<std::int64_t, TLostVolume> FFound;
};

} // namespace

IVolumeSourcePtr VolumeAtOffset(IVolumeSourcePtr ASource, std::int64_t AOffset, const std::string& AName) {
  const std::string where = "byte " + std::to_string(AOffset) + " of \"" + AName + "\"";
  if (AOffset < 0 || AOffset % kSmallestSectorSize != 0)
    throw NoDriveException("No volume starts at " + where + ": volumes start at a multiple of " +
                           std::to_string(kSmallestSectorSize) + " bytes.");
  const std::int64_t size = ASource->Size();
  if (AOffset >= size)
    throw NoDriveException("No volume starts at " + where + ": it lies past the end (" + std::to_string(size) +
                           " bytes).");
  if (const std::optional<TNTFSBootSector> boot = BootSectorAt(*ASource, AOffset)) {
    return std::make_shared<TSliceSource>(std::move(ASource), AOffset, LengthOnDisk(*boot, AOffset, size));
  }
  // A damaged boot sector: the search finds the backup that names this
  // start, and with it the volume's length; the volume then opens from it.
  for (const TLostVolume& volume : SearchLostVolumes(ASource, false))
    if (volume.Offset == AOffset)
      return std::make_shared<TSliceSource>(std::move(ASource), AOffset, volume.Length);
  throw NoDriveException("There is no NTFS boot sector at " + where + ".");
}

std::vector<TLostVolume> SearchLostVolumes(const IVolumeSourcePtr& ASource, bool ADeep,
                                           const TSearchProgress& AProgress) {
  std::set<std::int64_t> listed;
  for (const TPartition& partition : ProbePartitions(ASource))
    listed.insert(partition.Offset);
  TFoundVolumes found(ASource, std::move(listed));
  const std::int64_t size = ASource->Size();
  const auto goOn = [&AProgress](std::int64_t ADone) { return !AProgress || AProgress(ADone); };
  if (ADeep) {
    ASource->ExpectSequentialReads();
    std::vector<std::uint8_t> window(kDeepWindow);
    for (std::int64_t at = 0; at < size && goOn(at); at += kDeepWindow) {
      const std::int64_t got = ASource->ReadAt(at, window.data(), kDeepWindow);
      for (std::int64_t sector = 0; sector + kSmallestSectorSize <= got; sector += kSmallestSectorSize)
        found.Look(TByteView(window.data() + sector, kSmallestSectorSize), at + sector);
    }
  } else {
    TSector sector{};
    std::int64_t looked = 0;
    for (std::int64_t number = 0; number * kSmallestSectorSize < size; number = NextQuickSector(number)) {
      if (++looked % kQuickProgressEvery == 0 && !goOn(number * kSmallestSectorSize))
        break;
      if (ASource->ReadAt(number * kSmallestSectorSize, sector.data(), kSmallestSectorSize) == kSmallestSectorSize)
        found.Look(TByteView(sector.data(), sector.size()), number * kSmallestSectorSize);
    }
  }
  return found.Volumes();
}
