#pragma once

#include <QAbstractItemView>
#include <QStringList>
#include <QTest>
#include <QTreeView>

#include "wizard/uCheckStateDelegate.h"

// Drives the file selection page's views as a user's mouse does.
namespace fileviews {

// The model index of the tree node with this path of names from the top, or
// an invalid index.
inline QModelIndex TreeIndex(const QTreeView& ATree, const QStringList& APath) {
  QModelIndex Index;
  for (const QString& Name : APath) {
    const QModelIndexList Found =
        ATree.model()->match(ATree.model()->index(0, 0, Index), Qt::DisplayRole, Name, 1, Qt::MatchExactly);
    if (Found.isEmpty())
      return QModelIndex();
    Index = Found.first();
  }
  return Index;
}

// A press and release on the row's tick picture, with the pointer there first.
inline void ClickTickPicture(QAbstractItemView& AView, const QModelIndex& AIndex) {
  const QPoint Picture = TCheckStateDelegate::StateImageRectOf(AView, AIndex).center();
  QTest::mouseMove(AView.viewport(), Picture);
  QTest::mouseClick(AView.viewport(), Qt::LeftButton, {}, Picture);
}

} // namespace fileviews
