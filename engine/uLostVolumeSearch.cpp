#include "engine/uLostVolumeSearch.h"

#include "progress/uProgressEx.h"

std::vector<TLostVolume> SearchLostVolumesWithProgress(const IVolumeSourcePtr& ASource, bool ADeep) {
  const TProgressExLevel level(
      ADeep ? "Searching every sector for lost volumes..." : "Searching for lost volumes...", ASource->Size(), "bytes");
  return SearchLostVolumes(ASource, ADeep, [](std::int64_t ADone) {
    ProgressEx::DoProgress(ADone);
    return !ProgressEx::IsCanceled();
  });
}
