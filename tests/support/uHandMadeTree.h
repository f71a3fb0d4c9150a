#pragma once

// A folder tree of the recovery context's shape built by hand, for the views'
// models: folders and files with the sizes, overwrite estimates and ticks a
// test needs, without a volume to scan.

#include "engine/uAppContext.h"
#include "foundation/uLists.h"

#include <memory>
#include <string>
#include <vector>

namespace testfiles {

class THandMadeTree {
public:
  THandMadeTree() : FTreeItems(NewList()) {}

  // The top of the tree holds the nodes added with a nil parent.
  const IExListPtr& TreeItems() const { return FTreeItems; }

  PTreeItemInfo AddFolder(PTreeItemInfo AParent, const std::u16string& AName) {
    return Add(AParent, AName, true);
  }
  PTreeItemInfo AddFile(PTreeItemInfo AParent, const std::u16string& AName, std::int64_t ADataSize = 0,
                        double AOverwritePercent = 0) {
    const PTreeItemInfo Node = Add(AParent, AName, false);
    Node->Data->DataSize = ADataSize;
    Node->Data->OverwritePercent = AOverwritePercent;
    return Node;
  }

private:
  static IExListPtr NewList() { return ExListBuilder::CreateList(sizeof(PTreeItemInfo)); }

  PTreeItemInfo Add(PTreeItemInfo AParent, const std::u16string& AName, bool AIsDirectory) {
    FItems.push_back(std::make_unique<TItemInfo>());
    FItems.back()->Name = AName;
    FItems.back()->IsDirectory = AIsDirectory;
    FNodes.push_back(std::make_unique<TTreeItemInfo>());
    const PTreeItemInfo Node = FNodes.back().get();
    Node->Data = FItems.back().get();
    Node->Parent = AParent;
    if (AParent && !AParent->SubItems)
      AParent->SubItems = NewList();
    ListAdd(AParent ? *AParent->SubItems : *FTreeItems, Node);
    return Node;
  }

  IExListPtr FTreeItems;
  std::vector<std::unique_ptr<TItemInfo>> FItems;
  std::vector<std::unique_ptr<TTreeItemInfo>> FNodes;
};

} // namespace testfiles
