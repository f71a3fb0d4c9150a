#pragma once

#include <cstdint>
#include <optional>
#include <unordered_set>

#include "engine/uAppContext.h"

// What the user narrows the file selection page's views to besides the mask:
// files that can still be restored, a size range, a range of creation times
// and a range of deletion times. The mask chooses what the scan's tree holds; the filter only hides
// part of that tree from view.
struct TFileFilter {
  // Only files estimated below the good-file limit.
  bool RestorableOnly = false;
  // Bytes, both ends included.
  std::optional<std::int64_t> MinSize;
  std::optional<std::int64_t> MaxSize;
  // File times: from this one on, and before that one.
  std::optional<std::int64_t> CreatedFrom;
  std::optional<std::int64_t> CreatedBefore;
  // Likewise for when a file went into the Recycle Bin: a file whose
  // deletion time is not known is left out once either is set.
  std::optional<std::int64_t> DeletedFrom;
  std::optional<std::int64_t> DeletedBefore;

  bool IsActive() const;
  bool Accepts(const TItemInfo& AFile) const;
};

// The nodes of the context's tree a filter lets the views show: the files it
// accepts, and the folders with such a file anywhere below them. Without an
// active filter everything is shown.
class TShownItems {
public:
  void Apply(const TFileFilter& AFilter, const IExListPtr& ATreeItems);
  bool IsActive() const { return FFilter.IsActive(); }
  bool IsShown(PTreeItemInfo ANode) const;

private:
  TFileFilter FFilter;
  std::unordered_set<PTreeItemInfo> FShownFolders;
};

// What the status line counts: the ticked files that are shown, their size,
// and those among them estimated overwritten; the ticked files a filter
// hides are only counted, since they are restored too.
struct TTickCounts {
  std::int64_t Files = 0;
  std::int64_t Bytes = 0;
  std::int64_t OverwrittenFiles = 0;
  std::int64_t OverwrittenBytes = 0;
  std::int64_t HiddenFiles = 0;
};
TTickCounts CountTicks(const IExListPtr& ATreeItems, const TShownItems& AShown);
