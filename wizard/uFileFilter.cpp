#include "wizard/uFileFilter.h"

#include "engine/uTreeWalk.h"

bool TFileFilter::IsActive() const {
  return RestorableOnly || MinSize || MaxSize || CreatedFrom || CreatedBefore || DeletedFrom || DeletedBefore;
}

bool TFileFilter::Accepts(const TItemInfo& AFile) const {
  if (RestorableOnly && AFile.OverwritePercent >= GoodFileThreshold)
    return false;
  if ((MinSize && AFile.DataSize < *MinSize) || (MaxSize && AFile.DataSize > *MaxSize))
    return false;
  if ((DeletedFrom || DeletedBefore) && AFile.DeletionTime == 0)
    return false;
  return !(CreatedFrom && AFile.CreationTime < *CreatedFrom) &&
         !(CreatedBefore && AFile.CreationTime >= *CreatedBefore) &&
         !(DeletedFrom && AFile.DeletionTime < *DeletedFrom) &&
         !(DeletedBefore && AFile.DeletionTime >= *DeletedBefore);
}

// Each accepted file shows its folders up to the first one already shown,
// so the walk stays linear in the size of the tree.
void TShownItems::Apply(const TFileFilter& AFilter, const IExListPtr& ATreeItems) {
  FFilter = AFilter;
  FShownFolders.clear();
  if (!FFilter.IsActive())
    return;
  ForEachTreeNode(ATreeItems, [this](PTreeItemInfo ANode) {
    if (!ANode->Data || ANode->Data->IsDirectory || !FFilter.Accepts(*ANode->Data))
      return;
    PTreeItemInfo Folder = ANode->Parent;
    while (Folder && FShownFolders.insert(Folder).second)
      Folder = Folder->Parent;
  });
}

bool TShownItems::IsShown(PTreeItemInfo ANode) const {
  if (!FFilter.IsActive())
    return true;
  if (!ANode || !ANode->Data)
    return false;
  return ANode->Data->IsDirectory ? FShownFolders.contains(ANode) : FFilter.Accepts(*ANode->Data);
}

TTickCounts CountTicks(const IExListPtr& ATreeItems, const TShownItems& AShown) {
  TTickCounts Counts;
  ForEachTreeNode(ATreeItems, [&](PTreeItemInfo ANode) {
    const PItemInfo File = ANode->Data;
    if (!File || File->IsDirectory || !File->Checked)
      return;
    if (!AShown.IsShown(ANode)) {
      ++Counts.HiddenFiles;
      return;
    }
    ++Counts.Files;
    Counts.Bytes += File->DataSize;
    if (File->OverwritePercent >= GoodFileThreshold) {
      ++Counts.OverwrittenFiles;
      Counts.OverwrittenBytes += File->DataSize;
    }
  });
  return Counts;
}
