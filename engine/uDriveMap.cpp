#include "engine/uDriveMap.h"

#include <algorithm>
#include <stdexcept>

TDriveMap::TDriveMap(std::int64_t AClusterCount)
    : FChains(DriveMapChainCount) {
  LayOut(AClusterCount);
}

void TDriveMap::SetClusterCount(std::int64_t AClusterCount) {
  if (AClusterCount == FClusterCount)
    return;
  Clear();
  LayOut(AClusterCount);
}

void TDriveMap::LayOut(std::int64_t AClusterCount) {
  FClusterCount = AClusterCount;
  // A volume of fewer clusters than chains still needs a chain size of at
  // least one, and the clusters left over by the division (the volume's
  // tail) go to the last chain, so that every cluster of the volume belongs
  // to exactly one chain.
  FChainSize = std::max<std::int64_t>(1, AClusterCount / DriveMapChainCount);
  for (std::int32_t i = 0; i < DriveMapChainCount; ++i) {
    FChains[i].Start = i * FChainSize;
    FChains[i].End = FChains[i].Start + FChainSize - 1;
  }
  TDriveMapChain& last = FChains.back();
  last.End = std::max(last.End, AClusterCount - 1);
}

void TDriveMap::Clear() {
  for (TDriveMapChain& chain : FChains)
    std::vector<TDriveMapUsing>().swap(chain.Usings);
}

const TDriveMapChain& TDriveMap::Chain(std::int32_t AIndex) const {
  if (AIndex < 0 || AIndex >= DriveMapChainCount)
    throw std::out_of_range("TDriveMap.Chain: index out of range");
  return FChains[AIndex];
}

std::int32_t TDriveMap::ChainOf(std::int64_t ACluster) const {
  const std::int64_t chain = std::clamp<std::int64_t>(ACluster / FChainSize, 0, DriveMapChainCount - 1);
  return static_cast<std::int32_t>(chain);
}

bool TDriveMap::ClipToVolume(std::int64_t& AStart, std::int64_t& AEnd) const {
  // Run lists of damaged or crafted records can point before or past the
  // volume; such clusters hold nothing of this volume to claim or lose.
  AStart = std::max<std::int64_t>(AStart, 0);
  AEnd = std::min(AEnd, FClusterCount - 1);
  return AStart <= AEnd;
}

void TDriveMap::AddUsing(std::int64_t AStartCluster, std::int64_t AEndCluster,
                         const void* AOwner, std::int64_t AOwnerDate) {
  if (!ClipToVolume(AStartCluster, AEndCluster))
    return;
  const std::int32_t last = ChainOf(AEndCluster);
  for (std::int32_t i = ChainOf(AStartCluster); i <= last; ++i) {
    TDriveMapChain& chain = FChains[i];
    chain.Usings.push_back(TDriveMapUsing{
        AOwner, AOwnerDate,
        std::max(AStartCluster, chain.Start),
        std::min(AEndCluster, chain.End)});
  }
}

std::int64_t TDriveMap::IsUsed(std::int64_t AStartCluster, std::int64_t AEndCluster,
                               const void* AExcludeOwner, std::int64_t AOwnerDate) const {
  if (!ClipToVolume(AStartCluster, AEndCluster))
    return 0;
  std::int64_t result = 0;
  const std::int32_t last = ChainOf(AEndCluster);
  for (std::int32_t i = ChainOf(AStartCluster); i <= last; ++i) {
    for (const TDriveMapUsing& u : FChains[i].Usings) {
      if (u.Owner == AExcludeOwner || u.OwnerDate <= AOwnerDate)
        continue;
      if (u.End >= AStartCluster && u.Start <= AEndCluster)
        result += std::min(AEndCluster, u.End) - std::max(AStartCluster, u.Start) + 1;
    }
  }
  return result;
}
