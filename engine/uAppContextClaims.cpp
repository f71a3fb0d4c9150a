// What took a deleted file's clusters: the records that claim them now, for
// the person who asks why a file counts as overwritten.

#include "engine/uAppContext.h"

#include "engine/uClusterBitmap.h"
#include "engine/uDriveMap.h"
#include "engine/uRecordNames.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <map>

std::vector<std::vector<TClaimant>> TNTFSRecoveryContext::ClaimantsOf(const std::vector<PTreeItemInfo>& ANodes) {
  std::vector<std::vector<TClaimant>> claimants(ANodes.size());
  if (std::none_of(ANodes.begin(), ANodes.end(), [](PTreeItemInfo ANode) { return HasLostClusters(ANode); }))
    return claimants;
  TNTFSVolumeRef volume(OpenSourceVolume());
  const TClusterBitmap inUse(volume.Get());
  TMemHolder buffer(static_cast<std::int32_t>(volume.Get()->MFTRecordSize));
  for (std::size_t i = 0; i < ANodes.size(); ++i)
    if (HasLostClusters(ANodes[i]))
      claimants[i] = ClaimantsOf(volume.Get(), ANodes[i]->Data, inUse, buffer);
  return claimants;
}

bool TNTFSRecoveryContext::HasLostClusters(PTreeItemInfo ANode) {
  const PItemInfo item = ItemInfo(ANode);
  return item && item->IsDeleted && !item->IsDirectory && item->OverwritePercent > 0;
}

std::vector<TClaimant> TNTFSRecoveryContext::ClaimantsOf(PNTFSVolume AVolume, PItemInfo AItem,
                                                         const TClusterBitmap& AInUse, TMemHolder& ABuffer) const {
  TNTFSNodeRef node(AVolume, AItem->MFTNumber);
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data, 0) || NTFSAttribute::IsResident(search.Rec().AttributeRecord))
    return {};
  IMFTRunListPtr runs = TakenRunsOf(AItem);
  if (!runs) {
    runs = MFTRunList::New();
    NTFSAttribute::RunListBuild(search.Rec(), runs);
  }
  std::vector<TDriveMapUsing> claims;
  std::vector<TClusterRange> inUse;
  for (std::int32_t i = 0; i < runs->ItemCount(); ++i) {
    std::int64_t first = 0, last = 0;
    if (!RunClusters(runs->Item(i), first, last))
      continue;
    FDriveMap->AddClaims(first, last, AItem, AItem->ChangeTime, claims);
    AInUse.AddInUseRanges(first, last, inUse);
  }
  std::map<std::int64_t, std::vector<TClusterRange>> byRecord;
  std::vector<TClusterRange> claimed;
  for (const TDriveMapUsing& claim : claims) {
    byRecord[claim.Record].emplace_back(claim.Start, claim.End);
    claimed.emplace_back(claim.Start, claim.End);
  }
  std::vector<TClaimant> result;
  for (auto& [record, ranges] : byRecord)
    result.push_back({record, record >= 0 ? RecordPathOf(AVolume, record, ABuffer) : std::vector<std::u16string>{},
                      CountClusters(ranges)});
  // Clusters the volume counts as in use that no record read claims: a
  // record the pass could not read, or the volume's own reserve.
  const std::int64_t claimedCount = CountClusters(claimed);
  inUse.insert(inUse.end(), claimed.begin(), claimed.end());
  if (const std::int64_t unclaimed = CountClusters(inUse) - claimedCount; unclaimed > 0) {
    if (result.empty() || result.front().Record >= 0)
      result.insert(result.begin(), TClaimant{-1, {}, 0});
    result.front().Clusters += unclaimed;
  }
  std::stable_sort(result.begin(), result.end(),
                   [](const TClaimant& A, const TClaimant& B) { return A.Clusters > B.Clusters; });
  return result;
}
