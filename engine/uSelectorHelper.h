#pragma once

#include <cstdint>

// The tick rules of the file selection: a tick applies to a whole subtree, and
// a folder counts as ticked while at least one of its direct children is.
// The rules see the tree only through ISelector and untyped handles, so they
// know nothing of how the nodes are stored.

// Called once per child of a node: the child's handle and the caller's context.
using TChildEnumProc = void (*)(void* AData, void* AEnumContext);

// The tree as the tick rules see it. Every operation accepts a nil handle and
// then does nothing or answers 0, false or nil. The recovery context
// implements it over its own lifetime, so nobody frees it through this class.
class ISelector {
public:
  virtual bool GetChecked(void* AData) = 0;
  virtual void SetChecked(void* AData, bool AChecked) = 0;
  virtual void EnumChildren(void* AParentData, TChildEnumProc AProc, void* AEnumContext) = 0;
  virtual std::int32_t GetChildrenChecked(void* AParentData) = 0;
  virtual std::int32_t GetChildrenCount(void* AParentData) = 0;
  virtual void* GetParentData(void* AData) = 0;
  virtual void IncChildrenChecked(void* AParentData) = 0;
  virtual void DecChildrenChecked(void* AParentData) = 0;

protected:
  ~ISelector() = default;
};

// What a tick-setting walk over a node's children carries along.
struct TCheckEnumContext {
  ISelector* Selector;
  bool Checked;
  bool Recursive;
};

// The tick picture a view shows for an item.
enum TCheckState : std::int32_t {
  csUnchecked = 0,
  // ticked, and so is every direct child (always so for a file or an empty folder)
  csChecked = 1,
  // ticked while some direct children are not
  csPartlyChecked = 2,
};

// A file whose OverwritePercent is below this counts as good.
constexpr double GoodFileThreshold = 5.0;

// Sets the tick of AData, keeping its parent's CheckedChildren in step; with
// ARecursive the whole subtree below gets the same tick, and with
// AUpdateParent every ancestor is then re-derived from its children.
void SetCheckState(ISelector& ASelector, void* AData, bool AState, bool ARecursive,
                   bool AUpdateParent);

// Ticks AParentData exactly when one of its children is ticked, then does the
// same for each ancestor up to the top of the tree.
void UpdateParentCheckState(ISelector& ASelector, void* AParentData);

// Flips the tick of AData with its subtree and ancestors; returns the new tick
// (true for a nil handle, which changes nothing).
bool ToggleCheckState(ISelector& ASelector, void* AData);

TCheckState GetCheckState(ISelector& ASelector, void* AData);
