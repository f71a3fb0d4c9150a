#include "engine/uSelectorHelper.h"

#include <vector>

namespace {

// Sets one tick and moves the parent's counter when the tick changed.
void ApplyCheck(ISelector& ASelector, void* AData, bool AState) {
  if (AState == ASelector.GetChecked(AData))
    return;
  ASelector.SetChecked(AData, AState);
  void* parent = ASelector.GetParentData(AData);
  if (AState)
    ASelector.IncChildrenChecked(parent);
  else
    ASelector.DecChildrenChecked(parent);
}

// The folder chain comes from the parent references of a volume that anyone
// may have crafted, so it can be as deep as the MFT has records. The subtree
// is therefore walked with a list of folders still to visit instead of
// recursion, which would run out of stack on such a chain.
struct TSubtreeWalk : TCheckEnumContext {
  std::vector<void*> Pending;
};

void CheckChild(void* AData, void* AEnumContext) {
  if (AData == nullptr)
    return;
  auto& walk = *static_cast<TSubtreeWalk*>(AEnumContext);
  ApplyCheck(*walk.Selector, AData, walk.Checked);
  if (walk.Recursive)
    walk.Pending.push_back(AData);
}

void CheckSubtree(ISelector& ASelector, void* AData, bool AState) {
  TSubtreeWalk walk{{&ASelector, AState, true}, {AData}};
  while (!walk.Pending.empty()) {
    void* folder = walk.Pending.back();
    walk.Pending.pop_back();
    ASelector.EnumChildren(folder, CheckChild, &walk);
  }
}

} // namespace

void SetCheckState(ISelector& ASelector, void* AData, bool AState, bool ARecursive,
                   bool AUpdateParent) {
  if (AData == nullptr)
    return;
  ApplyCheck(ASelector, AData, AState);
  // Both steps below run even when the tick itself did not change: they
  // repair a subtree or ancestors that were set around these rules.
  if (ARecursive)
    CheckSubtree(ASelector, AData, AState);
  if (AUpdateParent)
    UpdateParentCheckState(ASelector, ASelector.GetParentData(AData));
}

// Climbs in a loop rather than by recursion, for the same deep chains as above.
void UpdateParentCheckState(ISelector& ASelector, void* AParentData) {
  for (void* parent = AParentData; parent != nullptr; parent = ASelector.GetParentData(parent))
    ApplyCheck(ASelector, parent, ASelector.GetChildrenChecked(parent) > 0);
}

bool ToggleCheckState(ISelector& ASelector, void* AData) {
  const bool newState = !ASelector.GetChecked(AData);
  SetCheckState(ASelector, AData, newState, true, true);
  return newState;
}

TCheckState GetCheckState(ISelector& ASelector, void* AData) {
  if (!ASelector.GetChecked(AData))
    return csUnchecked;
  return ASelector.GetChildrenChecked(AData) == ASelector.GetChildrenCount(AData)
             ? csChecked
             : csPartlyChecked;
}
