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

void TDriveMap::AddUsing(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AOwner,
                         std::int64_t AOwnerDate, std::int64_t ARecord) {
  if (!ClipToVolume(AStartCluster, AEndCluster))
    return;
  const std::int32_t last = ChainOf(AEndCluster);
  for (std::int32_t i = ChainOf(AStartCluster); i <= last; ++i) {
    TDriveMapChain& chain = FChains[i];
    chain.Usings.push_back(TDriveMapUsing{AOwner, AOwnerDate, std::max(AStartCluster, chain.Start),
                                          std::min(AEndCluster, chain.End), ARecord});
    if (i == DriveMapChainCount - 1)
      IndexTailUsing(chain.Usings.size() - 1);
  }
}

template <class TVisit>
void TDriveMap::VisitClaims(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                            std::int64_t AOwnerDate, TVisit&& AVisit) const {
  if (!ClipToVolume(AStartCluster, AEndCluster))
    return;
  const auto visit = [&](const TDriveMapUsing& AUsing, std::int64_t AStart, std::int64_t AEnd) {
    if (AUsing.Owner == AExcludeOwner || AUsing.OwnerDate <= AOwnerDate)
      return;
    if (AUsing.End < AStart || AUsing.Start > AEnd)
      return;
    AVisit(AUsing, std::max(AStart, AUsing.Start), std::min(AEnd, AUsing.End));
  };
  const std::int32_t last = ChainOf(AEndCluster);
  for (std::int32_t i = ChainOf(AStartCluster); i < std::min(last + 1, DriveMapChainCount - 1); ++i)
    for (const TDriveMapUsing& u : FChains[i].Usings)
      visit(u, AStartCluster, AEndCluster);
  if (last < DriveMapChainCount - 1)
    return;
  // In the last chain each slice looks only at the clusters inside it.
  const TDriveMapChain& tail = FChains.back();
  const std::int64_t from = std::max(AStartCluster, tail.Start);
  const std::int64_t to = std::min(AEndCluster, tail.End);
  for (std::int64_t slice = TailSliceOf(from); slice <= TailSliceOf(to); ++slice) {
    const std::int64_t sliceStart = tail.Start + slice * FChainSize;
    const std::int64_t start = std::max(from, sliceStart);
    const std::int64_t end = std::min(to, sliceStart + FChainSize - 1);
    for (std::size_t index : FTailSlices[static_cast<std::size_t>(slice)])
      visit(tail.Usings[index], start, end);
  }
}

void TDriveMap::AddClaimedRanges(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                                 std::int64_t AOwnerDate, std::vector<TClusterRange>& ARanges) const {
  VisitClaims(AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate,
              [&ARanges](const TDriveMapUsing&, std::int64_t AStart, std::int64_t AEnd) {
                ARanges.emplace_back(AStart, AEnd);
              });
}

void TDriveMap::AddClaims(std::int64_t AStartCluster, std::int64_t AEndCluster, const void* AExcludeOwner,
                          std::int64_t AOwnerDate, std::vector<TDriveMapUsing>& AClaims) const {
  VisitClaims(AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate,
              [&AClaims](const TDriveMapUsing& AUsing, std::int64_t AStart, std::int64_t AEnd) {
                TDriveMapUsing& claim = AClaims.emplace_back(AUsing);
                claim.Start = AStart;
                claim.End = AEnd;
              });
}

std::int64_t TDriveMap::IsUsed(std::int64_t AStartCluster, std::int64_t AEndCluster,
                               const void* AExcludeOwner, std::int64_t AOwnerDate) const {
  std::vector<TClusterRange> claimed;
  AddClaimedRanges(AStartCluster, AEndCluster, AExcludeOwner, AOwnerDate, claimed);
  return CountClusters(claimed);
}
