#include "engine/uTreeWalk.h"

#include <vector>

void ForEachTreeNode(const IExListPtr& AList, const std::function<void(PTreeItemInfo)>& AVisit) {
  std::vector<IExListEnumeratorPtr> pending;
  if (AList)
    pending.push_back(AList->GetItems());
  while (!pending.empty()) {
    const IExListEnumeratorPtr walk = pending.back();
    if (!walk->MoveNext()) {
      pending.pop_back();
      continue;
    }
    PTreeItemInfo node = nullptr;
    walk->ReadData(&node);
    AVisit(node);
    if (node->SubItems)
      pending.push_back(node->SubItems->GetItems());
  }
}

void FreeTreeNode(PTreeItemInfo ANode) {
  std::vector<PTreeItemInfo> pending{ANode};
  while (!pending.empty()) {
    const PTreeItemInfo node = pending.back();
    pending.pop_back();
    if (node->SubItems)
      for (auto [bookmark, child] : ListItems<PTreeItemInfo>(*node->SubItems))
        pending.push_back(child);
    delete node;
  }
}
