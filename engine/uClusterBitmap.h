#pragma once

#include "engine/uDriveMap.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <vector>

// Which clusters the volume's $Bitmap marks in use. A cluster in use is
// held by something now, whether or not the record pass met its owner (a
// record it could not read, an extent it could not follow).
class TClusterBitmap {
public:
  // Reads the volume's whole $Bitmap; bits it cannot read, or a volume
  // without one, mark nothing in use.
  explicit TClusterBitmap(PNTFSVolume AVolume);

  // Appends the clusters of [AFirst, ALast] marked in use, one range per
  // stretch of them.
  void AddInUseRanges(std::int64_t AFirst, std::int64_t ALast, std::vector<TClusterRange>& ARanges) const;

private:
  bool InUse(std::int64_t ACluster) const;

  std::vector<std::uint8_t> FBits; // bit n of byte k: cluster 8k + n
};
