#include "wizard/uListViewHelper.h"

#include <QCursor>
#include <QTableView>

#include "wizard/uCheckStateDelegate.h"

QModelIndex GetItemAt(const QTableView& AListView, QPoint APoint) {
  const QModelIndex Cell = AListView.indexAt(APoint);
  return Cell.isValid() ? Cell.siblingAtColumn(0) : Cell;
}

QModelIndex GetItemUnderMouse(const QTableView& AListView) {
  return GetItemAt(AListView, AListView.viewport()->mapFromGlobal(QCursor::pos()));
}

// Only the first column carries a tick picture, so only a point in it can
// be on one.
bool IsOverItemStateIcon(const QTableView& AListView, QPoint APoint) {
  return TCheckStateDelegate::IsOnStateImage(AListView, AListView.indexAt(APoint), APoint);
}

bool IsMouseOverItemStateIcon(const QTableView& AListView) {
  return IsOverItemStateIcon(AListView, AListView.viewport()->mapFromGlobal(QCursor::pos()));
}
