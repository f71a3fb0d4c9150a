#include "engine/uAppContext.h"

#include "engine/uClusterBitmap.h"
#include "engine/uFileMask.h"
#include "engine/uTreeWalk.h"
#include "ntfs/uNTFSAttribute.h"
#include "progress/uProgressEx.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace {

constexpr std::int64_t kOrphansRecord = 1;

using TNodeDictionary = IExDictionary;

void AddToDictionary(TNodeDictionary& ANodes, PTreeItemInfo ANode) {
  DictWrite(ANodes, MFTRefKey(ANode->Data->MFTNumber), ANode);
}

std::optional<PTreeItemInfo> NodeOfRecord(TNodeDictionary& ANodes, MFT_REF ARef) {
  return DictRead<PTreeItemInfo>(ANodes, MFTRefKey(ARef));
}

void Attach(PTreeItemInfo ANode, PTreeItemInfo AParent, const IExListPtr& ATopLevel, TExListBookmark ABookmark) {
  if (!AParent->SubItems)
    AParent->SubItems = ExListBuilder::CreateList(ATopLevel->DataSize());
  ListAdd(*AParent->SubItems, ANode);
  ANode->Parent = AParent;
  ATopLevel->Delete(ABookmark);
}

// The record of a snapshot's branch folder: its volume's root folder.
std::int64_t RootRecordOf(const IExListPtr& ARootItems) {
  for (auto [bookmark, item] : ListItems<PItemInfo>(*ARootItems))
    return item->MFTNumber.Address();
  return 0;
}

void AppendNodes(IExList& AFrom, IExList& ATo) {
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(AFrom))
    ListAdd(ATo, node);
}

bool HasChildren(PTreeItemInfo ANode) { return ANode->SubItems && ANode->SubItems->Count() > 0; }

// Whether the folder AFolder is the one a name's parent reference AParent
// meant, and not a later folder that took its record: a live folder carries
// the sequence number of the references made to it, a deleted one the
// number its record got when it was freed. A reference without a sequence
// number (0) names the record alone.
bool IsFolderReferenced(const TItemInfo& AFolder, MFT_REF AParent) {
  if (!AFolder.IsDirectory)
    return false;
  const std::uint16_t referenced = AParent.Number();
  return referenced == 0 ||
         AFolder.SequenceNumber == (AFolder.IsDeleted ? SequenceAfterFreeing(referenced) : referenced);
}

} // namespace

bool TNTFSRecoveryContext::RunClusters(const RunListElement& ARun, std::int64_t& AFirst, std::int64_t& ALast) {
  // An LCN of 0 marks a sparse run without clusters.
  if (ARun.LCN == 0 || ARun.Length <= 0)
    return false;
  const std::optional<std::int64_t> last = CheckedAdd<std::int64_t>(ARun.LCN, ARun.Length - 1);
  if (!last)
    return false;
  AFirst = ARun.LCN;
  ALast = *last;
  return true;
}

void TNTFSRecoveryContext::NoteUnreadableClusters(PNTFSVolume AVolume, const IVolumeSource& ASource) {
  FUnreadableClusters.clear();
  const std::int64_t clusterSize = AVolume->ClusterSize;
  if (clusterSize <= 0 || !AVolume->Device)
    return;
  // A cluster with any byte missing counts whole.
  for (const TByteRange& range : ASource.KnownUnreadable())
    if (range.Length > 0)
      FUnreadableClusters.emplace_back(range.Offset / clusterSize, (range.Offset + range.Length - 1) / clusterSize);
  const std::int64_t readable = std::min(AVolume->NumberOfClusters, AVolume->Device->Size() / clusterSize);
  FUnreadableClusters.emplace_back(readable, std::numeric_limits<std::int64_t>::max());
  // In order and merged, so that a cluster counts once and a search can
  // stop at the first range past it.
  std::sort(FUnreadableClusters.begin(), FUnreadableClusters.end());
  std::size_t kept = 0;
  for (const auto& range : FUnreadableClusters) {
    if (kept > 0 && range.first <= FUnreadableClusters[kept - 1].second)
      FUnreadableClusters[kept - 1].second = std::max(FUnreadableClusters[kept - 1].second, range.second);
    else
      FUnreadableClusters[kept++] = range;
  }
  FUnreadableClusters.resize(kept);
}

void TNTFSRecoveryContext::AddUnreadableRanges(std::int64_t AFirst, std::int64_t ALast,
                                               std::vector<TClusterRange>& ARanges) const {
  // The first range that ends at or after AFirst; ranges come in order.
  auto range = std::lower_bound(FUnreadableClusters.begin(), FUnreadableClusters.end(), AFirst,
                                [](const auto& ARange, std::int64_t AValue) { return ARange.second < AValue; });
  for (; range != FUnreadableClusters.end() && range->first <= ALast; ++range)
    ARanges.emplace_back(std::max(range->first, AFirst), std::min(range->second, ALast));
}

double TNTFSRecoveryContext::OverwritePercentOf(std::size_t AKept, const TClusterBitmap& AInUse) const {
  return LostPercentOf(FDataRuns.Runs(AKept), FDataRuns.Item(AKept), FDataRuns.MissingClusters(AKept),
                       FDataRuns.VCNCount(AKept), AInUse);
}

double TNTFSRecoveryContext::LostPercentOf(std::span<const RunListElement> ARuns, PItemInfo AItem,
                                           std::int64_t AMissing, std::int64_t AVCNCount,
                                           const TClusterBitmap& AInUse) const {
  std::vector<TClusterRange> lost;
  for (const RunListElement& run : ARuns) {
    std::int64_t first = 0, last = 0;
    if (!RunClusters(run, first, last))
      continue;
    // Held by a record in use or taken by a deleted one written later; in
    // use by the volume's own count, whoever holds it; or, from a truncated
    // image, a damaged run list or a rescue that never read the area, not
    // to be had: those bytes are lost either way.
    FDriveMap->AddClaimedRanges(first, last, AItem, AItem->ChangeTime, lost);
    AInUse.AddInUseRanges(first, last, lost);
    AddUnreadableRanges(first, last, lost);
  }
  const std::int64_t clusters = AVCNCount + AMissing;
  if (clusters == 0)
    return 0;
  const std::int64_t used = CountClusters(lost) + AMissing;
  return std::min(100.0, static_cast<double>(used) / static_cast<double>(clusters) * 100.0);
}

void TNTFSRecoveryContext::AnalyzeItems(PNTFSVolume AVolume) {
  const auto count = static_cast<std::int64_t>(FDataRuns.Count());
  TProgressExLevel level("Analyzing deleted files...", count, "objects");
  const TClusterBitmap inUse(AVolume);
  for (std::int64_t done = 0; done < count; ++done) {
    const auto kept = static_cast<std::size_t>(done);
    FDataRuns.Item(kept)->OverwritePercent = OverwritePercentOf(kept, inUse);
    if (!ProgressEx::DoProgress(done))
      break;
  }
  FDataRuns.Clear();
}

PTreeItemInfo TNTFSRecoveryContext::NewTreeItem(const IExListPtr& AList, PItemInfo AItem) {
  auto node = std::make_unique<TTreeItemInfo>();
  node->Data = AItem;
  ListAdd(*AList, node.get());
  return node.release();
}

bool TNTFSRecoveryContext::IsAncestor(PTreeItemInfo A, PTreeItemInfo B) {
  for (PTreeItemInfo parent = A->Parent; parent != nullptr; parent = parent->Parent)
    if (parent == B)
      return true;
  return false;
}

void TNTFSRecoveryContext::PrepareView(const IExListPtr& ARootItems, const IExListPtr& AItems,
                                       const std::u16string& AMask, const IExListPtr& ATreeItems) {
  FreeTree(ATreeItems);
  PlaceItems(ARootItems, AItems, AMask, kOrphansRecord, ATreeItems);
  // A snapshot's records are numbered as the volume's own: each is placed
  // in a tree of its own, under its branch folder.
  for (const TSnapshotScan& snapshot : FSnapshots)
    PlaceItems(snapshot.RootItems, snapshot.Items, AMask, RootRecordOf(snapshot.RootItems), ATreeItems);
  RemoveEmptyFolders(ATreeItems);
}

void TNTFSRecoveryContext::PlaceItems(const IExListPtr& ARootItems, const IExListPtr& AItems,
                                      const std::u16string& AMask, std::int64_t AFallback,
                                      const IExListPtr& ATreeItems) {
  // The nodes are linked among themselves first; the tree, which owns them,
  // takes the top ones also when a bad mask stops the placing.
  const IExListPtr placed = ExListBuilder::CreateList(ATreeItems->DataSize());
  try {
    LinkItems(ARootItems, AItems, AMask, AFallback, placed);
  } catch (...) {
    AppendNodes(*placed, *ATreeItems);
    throw;
  }
  AppendNodes(*placed, *ATreeItems);
}

void TNTFSRecoveryContext::LinkItems(const IExListPtr& ARootItems, const IExListPtr& AItems,
                                     const std::u16string& AMask, std::int64_t AFallback, const IExListPtr& APlaced) {
  const IExDictionaryPtr nodes = ExListBuilder::CreateDictionary(sizeof(TMFTRefKey), APlaced->DataSize());
  TProgressExLevel level("Prepare to view...", AItems->Count(), "objects");

  for (auto [bookmark, item] : ListItems<PItemInfo>(*ARootItems))
    AddToDictionary(*nodes, NewTreeItem(APlaced, item));
  const std::optional<PTreeItemInfo> orphans = NodeOfRecord(*nodes, MFT_REF::Build(AFallback));

  // Built at the first file tested, so that a bad mask fails there, after
  // the folders before it were added.
  std::optional<TFileMask> mask;
  for (auto [bookmark, item] : ListItems<PItemInfo>(*AItems)) {
    if (!item->IsDirectory) {
      if (!mask)
        mask.emplace(AMask);
      if (!mask->Matches(item->Name))
        continue;
    }
    AddToDictionary(*nodes, NewTreeItem(APlaced, item));
  }

  std::int64_t linked = 0;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*APlaced)) {
    const PItemInfo item = node->Data;
    item->Checked = false;
    if (item->DirREF.Address() != 0) {
      const std::optional<PTreeItemInfo> parent = item->DirREF.Address() != item->MFTNumber.Address()
                                                      ? NodeOfRecord(*nodes, item->DirREF)
                                                      : std::nullopt;
      if (parent && IsFolderReferenced(*(*parent)->Data, item->DirREF) && !IsAncestor(*parent, node)) {
        Attach(node, *parent, APlaced, bookmark);
      } else if (orphans && !IsAncestor(*orphans, node)) {
        Attach(node, *orphans, APlaced, bookmark);
        item->DirREF = (*orphans)->Data->MFTNumber;
      }
    }
    ++linked;
    if (!ProgressEx::DoProgress(linked))
      break;
  }
}

void TNTFSRecoveryContext::RemoveEmptyFolders(const IExListPtr& AList) {
  // One step down into a folder's SubItems; once they are walked, the folder
  // goes from its own list if nothing is left in them.
  struct TLevel {
    IExListPtr List;
    IExListEnumeratorPtr Walk;
    PTreeItemInfo Folder = nullptr;
    IExListPtr FolderList;
    TExListBookmark FolderBookmark = nullptr;
  };
  std::vector<TLevel> levels;
  levels.push_back({AList, AList->GetItems(), nullptr, nullptr, nullptr});
  while (!levels.empty()) {
    TLevel& current = levels.back();
    if (!current.Walk->MoveNext()) {
      const TLevel done = std::move(levels.back());
      levels.pop_back();
      if (done.Folder && done.List->Count() == 0) {
        done.FolderList->Delete(done.FolderBookmark);
        FreeTreeNode(done.Folder);
      }
      continue;
    }
    PTreeItemInfo node = nullptr;
    current.Walk->ReadData(&node);
    if (!node->Data->IsDirectory)
      continue;
    const TExListBookmark bookmark = current.Walk->GetBookmark();
    if (HasChildren(node)) {
      const IExListPtr list = current.List;
      levels.push_back({node->SubItems, node->SubItems->GetItems(), node, list, bookmark});
    } else {
      current.List->Delete(bookmark);
      FreeTreeNode(node);
    }
  }
}
