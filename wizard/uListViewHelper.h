#pragma once

#include <QModelIndex>
#include <QPoint>

class QTableView;

// Where the mouse is over a detailed list whose tick pictures a
// TCheckStateDelegate paints in the first column. Points are in the
// viewport's coordinates; the forms without a point read the mouse pointer's
// position, so that they answer also for events that did not come from the
// mouse.

// The first column of the row at APoint, or an invalid index.
QModelIndex GetItemAt(const QTableView& AListView, QPoint APoint);
QModelIndex GetItemUnderMouse(const QTableView& AListView);

bool IsOverItemStateIcon(const QTableView& AListView, QPoint APoint);
bool IsMouseOverItemStateIcon(const QTableView& AListView);
