#include "engine/uClusterBitmap.h"

#include <algorithm>

TClusterBitmap::TClusterBitmap(PNTFSVolume AVolume) {
  if (!AVolume->BitmapDataStream || AVolume->NumberOfClusters <= 0)
    return;
  // The volume's clusters, not the stream's size, bound what is read: a
  // damaged $Bitmap may claim any size.
  const std::int64_t bytes = std::min(AVolume->BitmapDataStream->Size(), (AVolume->NumberOfClusters + 7) / 8);
  if (bytes <= 0)
    return;
  FBits.resize(static_cast<std::size_t>(bytes));
  const std::int64_t read = AVolume->BitmapDataStream->Read(0, bytes, FBits.data());
  FBits.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(read, 0, bytes)));
}

bool TClusterBitmap::InUse(std::int64_t ACluster) const {
  return (FBits[static_cast<std::size_t>(ACluster / 8)] >> (ACluster % 8) & 1) != 0;
}

void TClusterBitmap::AddInUseRanges(std::int64_t AFirst, std::int64_t ALast,
                                    std::vector<TClusterRange>& ARanges) const {
  const std::int64_t last = std::min(ALast, static_cast<std::int64_t>(FBits.size()) * 8 - 1);
  std::int64_t cluster = std::max<std::int64_t>(AFirst, 0);
  while (cluster <= last) {
    // Whole bytes of free clusters are passed over at once.
    if (cluster % 8 == 0 && cluster + 7 <= last && FBits[static_cast<std::size_t>(cluster / 8)] == 0) {
      cluster += 8;
      continue;
    }
    if (!InUse(cluster)) {
      ++cluster;
      continue;
    }
    const std::int64_t start = cluster;
    while (cluster + 1 <= last && InUse(cluster + 1))
      ++cluster;
    ARanges.emplace_back(start, cluster);
    ++cluster;
  }
}
