#include "wizard/uTreeNodeHelper.h"

#include <QCursor>
#include <QTreeView>

#include "wizard/uCheckStateDelegate.h"

QModelIndex GetNodeAt(const QTreeView& ATreeView, QPoint APoint) { return ATreeView.indexAt(APoint); }

QModelIndex GetNodeUnderMouse(const QTreeView& ATreeView) {
  return GetNodeAt(ATreeView, ATreeView.viewport()->mapFromGlobal(QCursor::pos()));
}

bool IsOverNodeStateIcon(const QTreeView& ATreeView, QPoint APoint) {
  return TCheckStateDelegate::IsOnStateImage(ATreeView, GetNodeAt(ATreeView, APoint), APoint);
}

bool IsMouseOverNodeStateIcon(const QTreeView& ATreeView) {
  return IsOverNodeStateIcon(ATreeView, ATreeView.viewport()->mapFromGlobal(QCursor::pos()));
}
