#include "engine/uDriveMap.h"

#include <algorithm>
#include <limits>
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
  FTailSlices.assign(static_cast<std::size_t>(TailSliceOf(last.End) + 1), {});
}

void TDriveMap::Clear() {
  for (TDriveMapChain& chain : FChains)
    std::vector<TDriveMapUsing>().swap(chain.Usings);
  for (std::vector<std::size_t>& slice : FTailSlices)
    std::vector<std::size_t>().swap(slice);
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

std::int64_t TDriveMap::TailSliceOf(std::int64_t ACluster) const {
  return (ACluster - FChains.back().Start) / FChainSize;
}

void TDriveMap::IndexTailUsing(std::size_t AIndex) {
  const TDriveMapUsing& u = FChains.back().Usings[AIndex];
  for (std::int64_t slice = TailSliceOf(u.Start); slice <= TailSliceOf(u.End); ++slice)
    FTailSlices[static_cast<std::size_t>(slice)].push_back(AIndex);
}

namespace {

// Appends the part of [AStart, AEnd] that one using claims for the lookup.
void AddClaim(const TDriveMapUsing& AUsing, std::int64_t AStart, std::int64_t AEnd, const void* AExcludeOwner,
              std::int64_t AOwnerDate, std::vector<TClusterRange>& ARanges) {
  if (AUsing.Owner == AExcludeOwner || AUsing.OwnerDate <= AOwnerDate)
    return;
  if (AUsing.End < AStart || AUsing.Start > AEnd)
    return;
  ARanges.emplace_back(std::max(AStart, AUsing.Start), std::min(AEnd, AUsing.End));
}

} // namespace

std::int64_t CountClusters(std::vector<TClusterRange>& ARanges) {
  std::sort(ARanges.begin(), ARanges.end());
  std::int64_t count = 0;
  std::int64_t next = std::numeric_limits<std::int64_t>::min(); // the first cluster not counted yet
  for (const auto& [first, last] : ARanges) {
    const std::int64_t from = std::max(first, next);
    if (from > last)
      continue;
    count += last - from + 1;
    if (last == std::numeric_limits<std::int64_t>::max())
      break;
    next = last + 1;
  }
  return count;
}

// Each slice looks only at the clusters inside it.
void TDriveMap::AddTailClaims(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                              std::int64_t AOwnerDate, std::vector<TClusterRange>& ARanges) const {
  const TDriveMapChain& tail = FChains.back();
  const std::int64_t from = std::max(AStartCluster, tail.Start);
  const std::int64_t to = std::min(AEndCluster, tail.End);
  for (std::int64_t slice = TailSliceOf(from); slice <= TailSliceOf(to); ++slice) {
    const std::int64_t sliceStart = tail.Start + slice * FChainSize;
    const std::int64_t start = std::max(from, sliceStart);
    const std::int64_t end = std::min(to, sliceStart + FChainSize - 1);
    for (std::size_t index : FTailSlices[static_cast<std::size_t>(slice)])
      AddClaim(tail.Usings[index], start, end, AExcludeOwner, AOwnerDate, ARanges);
  }
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
    if (i == DriveMapChainCount - 1)
      IndexTailUsing(chain.Usings.size() - 1);
  }
}

void TDriveMap::AddClaimedRanges(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                                 std::int64_t AOwnerDate, std::vector<TClusterRange>& ARanges) const {
  if (!ClipToVolume(AStartCluster, AEndCluster))
    return;
  const std::int32_t last = ChainOf(AEndCluster);
  for (std::int32_t i = ChainOf(AStartCluster); i <= last; ++i) {
    if (i == DriveMapChainCount - 1) {
      AddTailClaims(AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate, ARanges);
      continue;
    }
    for (const TDriveMapUsing& u : FChains[i].Usings)
      AddClaim(u, AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate, ARanges);
  }
}

std::int64_t TDriveMap::IsUsed(std::int64_t AStartCluster, std::int64_t AEndCluster,
                               const void* AExcludeOwner, std::int64_t AOwnerDate) const {
  std::vector<TClusterRange> claimed;
  AddClaimedRanges(AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate, claimed);
  return CountClusters(claimed);
}
