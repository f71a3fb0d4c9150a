#include "engine/uAppContext.h"

#include "engine/uTreeWalk.h"

#include <limits>

namespace {

PTreeItemInfo NodeOf(void* AData) { return static_cast<PTreeItemInfo>(AData); }

// Sizes come from a volume that anyone may have crafted: a negative one adds
// nothing and the sum stops at the largest value instead of wrapping.
std::int64_t AddSize(std::int64_t ATotal, std::int64_t ASize) {
  if (ASize <= 0)
    return ATotal;
  return ASize > std::numeric_limits<std::int64_t>::max() - ATotal ? std::numeric_limits<std::int64_t>::max()
                                                                   : ATotal + ASize;
}

} // namespace

bool TNTFSRecoveryContext::GetChecked(void* AData) { return AData != nullptr && NodeOf(AData)->Data->Checked; }

void TNTFSRecoveryContext::SetChecked(void* AData, bool AChecked) {
  if (AData != nullptr)
    NodeOf(AData)->Data->Checked = AChecked;
}

void TNTFSRecoveryContext::EnumChildren(void* AParentData, TChildEnumProc AProc, void* AEnumContext) {
  if (AParentData == nullptr || !NodeOf(AParentData)->SubItems)
    return;
  for (auto [bookmark, child] : ListItems<PTreeItemInfo>(*NodeOf(AParentData)->SubItems))
    AProc(child, AEnumContext);
}

std::int32_t TNTFSRecoveryContext::GetChildrenChecked(void* AParentData) {
  return AParentData == nullptr ? 0 : NodeOf(AParentData)->CheckedChildren;
}

std::int32_t TNTFSRecoveryContext::GetChildrenCount(void* AParentData) {
  if (AParentData == nullptr || !NodeOf(AParentData)->SubItems)
    return 0;
  return static_cast<std::int32_t>(NodeOf(AParentData)->SubItems->Count());
}

void* TNTFSRecoveryContext::GetParentData(void* AData) {
  return AData == nullptr ? nullptr : NodeOf(AData)->Parent;
}

void TNTFSRecoveryContext::IncChildrenChecked(void* AParentData) {
  if (AParentData != nullptr)
    ++NodeOf(AParentData)->CheckedChildren;
}

void TNTFSRecoveryContext::DecChildrenChecked(void* AParentData) {
  if (AParentData != nullptr)
    --NodeOf(AParentData)->CheckedChildren;
}

void TNTFSRecoveryContext::CheckAll(const IExListPtr& ATreeItems, bool AChecked) {
  if (!ATreeItems)
    return;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*ATreeItems))
    if (node->Data->Checked != AChecked)
      ToggleCheckState(*this, node);
}

void TNTFSRecoveryContext::SmartCheck(const IExListPtr& ATreeItems) {
  // Folders are not toggled here: their ticks follow their children.
  ForEachTreeNode(ATreeItems, [this](PTreeItemInfo ANode) {
    const PItemInfo item = ANode->Data;
    if (item->IsDirectory)
      return;
    const bool good = item->OverwritePercent < GoodFileThreshold && !item->IsRecycleInfo;
    if (item->Checked != good)
      ToggleCheckState(*this, ANode);
  });
}

bool TNTFSRecoveryContext::HasChecked() const {
  for (auto [bookmark, item] : ListItems<PItemInfo>(*FItems))
    if (item->Checked)
      return true;
  return false;
}

IExListPtr TNTFSRecoveryContext::GetCheckedList(std::int64_t& ACheckedSize) const {
  IExListPtr result = ExListBuilder::CreateList(FTreeItems->DataSize());
  ACheckedSize = 0;
  ForEachTreeNode(FTreeItems, [&](PTreeItemInfo ANode) {
    if (!ANode->Data->Checked)
      return;
    ListAdd(*result, ANode);
    ACheckedSize = AddSize(ACheckedSize, ANode->Data->DataSize);
  });
  return result;
}

void TNTFSRecoveryContext::Search() { PrepareView(FRootItems, FItems, FMask, FTreeItems); }
