#pragma once

#include "ntfs/uVolumeSource.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The NTFS volume that starts at byte AOffset of ASource (a disk, image or
// container known to the user as AName), as long as its boot sector says
// and no longer than ASource; where that boot sector is damaged, as long as
// the backup boot sector a search finds for it says. Raises
// NoDriveException in one line when the offset is no sector's start, lies
// past the end, or holds no NTFS boot sector that either way.
IVolumeSourcePtr VolumeAtOffset(IVolumeSourcePtr ASource, std::int64_t AOffset, const std::string& AName);

// An NTFS volume found on a disk where no partition table lists it.
struct TLostVolume {
  std::int64_t Offset = 0;  // bytes from the start of the disk to its boot sector
  std::int64_t Length = 0;  // bytes, its backup boot sector included, bounded by the disk's end
  bool ByBackup = false;    // found by its backup boot sector: its own is damaged
  bool operator==(const TLostVolume&) const = default;
};

// How a search goes: AProgress hears the bytes searched so far and says
// whether to go on.
using TSearchProgress = std::function<bool(std::int64_t ADone)>;

// The NTFS volumes on ASource (a disk, disk image or container) that its
// partition table does not list, in order of offset: boot sectors, and
// backup boot sectors that name their volume's start, looked for where
// partitions usually start and end (every MiB, every 63 sectors, every
// cylinder of 255 heads), or with ADeep at every sector. A volume is
// offered only when its MFT's first record, or its copy in $MFTMirr, reads
// as $MFT. A search stopped by AProgress gives what it found until then.
std::vector<TLostVolume> SearchLostVolumes(const IVolumeSourcePtr& ASource, bool ADeep,
                                           const TSearchProgress& AProgress = nullptr);
