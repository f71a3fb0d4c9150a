#pragma once

#include <QModelIndex>
#include <QPoint>

class QTreeView;

// Where the mouse is over a tree view whose tick pictures a
// TCheckStateDelegate paints. Points are in the viewport's coordinates; the
// forms without a point read the mouse pointer's position, so that they
// answer also for events that did not come from the mouse.

// The node at APoint, or an invalid index.
QModelIndex GetNodeAt(const QTreeView& ATreeView, QPoint APoint);
QModelIndex GetNodeUnderMouse(const QTreeView& ATreeView);

bool IsOverNodeStateIcon(const QTreeView& ATreeView, QPoint APoint);
bool IsMouseOverNodeStateIcon(const QTreeView& ATreeView);
