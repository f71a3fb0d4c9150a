#pragma once

#include "engine/uAppContext.h"

#include <functional>

// Walks over the folder tree of the recovery context. Folder chains come from
// the parent references of a volume that anyone may have crafted and can be
// as deep as its MFT, so the walks keep their own stack instead of recursing.

// Visits every node of AList and below it in depth-first pre-order: a node
// before its children, all of them before its next sibling.
void ForEachTreeNode(const IExListPtr& AList, const std::function<void(PTreeItemInfo)>& AVisit);

// Frees ANode with every node below it.
void FreeTreeNode(PTreeItemInfo ANode);
