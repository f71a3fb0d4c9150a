#pragma once

#include <memory>
#include <vector>

#include <QAbstractItemModel>
#include <QCollatorSortKey>
#include <QList>
#include <QPixmap>

#include "engine/uAppContext.h"
#include "wizard/uFileFilter.h"

// Item models over the recovery context's folder tree. They keep no item data
// of their own, only the context's nodes; the tick of every row is asked of
// the tick rules each time it is shown (Qt::CheckStateRole, first column).

// The PTreeItemInfo of a row, as a pointer in a QVariant.
constexpr int NodeRole = Qt::UserRole;
PTreeItemInfo NodeOfIndex(const QModelIndex& AIndex);

// The picture index in the file-type images: 0 for a folder, 1 for a file,
// -1 without a node or an item.
int ItemImageIndex(PTreeItemInfo ANode);

// The folders of the tree, built at once to every depth: top-level nodes in
// the order of the context's list, the children of every folder by name in
// the user's language. Both models show only what AShown lets through, when
// given; they read it at each Build or Fill.
// When the file went into the Recycle Bin, as the user writes dates and
// times; empty where nothing tells it.
QString DeletionTimeText(const TItemInfo& AItem);

class TFolderTreeModel : public QAbstractItemModel {
public:
  TFolderTreeModel(ISelector& ASelector, const QList<QPixmap>& AFileTypeImages, QObject* AParent = nullptr,
                   const TShownItems* AShown = nullptr);
  ~TFolderTreeModel() override;

  // Shows the folders of ATreeItems and below; nil shows nothing.
  void Build(const IExListPtr& ATreeItems);
  void Clear();
  // The index of the folder ANode, or an invalid index when it is not shown.
  QModelIndex IndexOf(PTreeItemInfo ANode) const;
  // Tells the views that any tick may have changed.
  void ChecksChanged();

  QModelIndex index(int ARow, int AColumn, const QModelIndex& AParent = QModelIndex()) const override;
  QModelIndex parent(const QModelIndex& AChild) const override;
  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;

private:
  struct TFolderNode;
  TFolderNode* NodeOf(const QModelIndex& AIndex) const;
  TFolderNode* AddFolder(TFolderNode* AParent, PTreeItemInfo AInfo);

  ISelector& FSelector;
  QList<QPixmap> FFileTypeImages;
  const TShownItems* FShown;
  std::unique_ptr<TFolderNode> FRoot;
  // Every node but the root, owned here so that a tree as deep as a crafted
  // volume can make it is freed without recursion.
  std::vector<std::unique_ptr<TFolderNode>> FNodes;
};

// The folders and files directly inside one folder, as a detailed list:
// folders first, then files, each group by name in the user's language
// ignoring case until a view sorts it by another column (sort). Folders stay
// before files in either direction; rows equal in the sorted column keep the
// order of their names.
class TFolderListModel : public QAbstractTableModel {
public:
  // colDeleted: when the file went into the Recycle Bin, empty where nothing tells it.
  // colStreams: how many named data streams a file holds besides its data.
  enum TColumn {
    colFileName,
    colDataSize,
    colOverwrited,
    colDate,
    colTime,
    colAttributes,
    colDeleted,
    colStreams,
    ColumnCount
  };

  // Folders of more entries than this are loaded under a cancellable progress level.
  static constexpr qsizetype LoadingProgressThreshold = 1000;

  TFolderListModel(ISelector& ASelector, const QList<QPixmap>& AFileTypeImages, QObject* AParent = nullptr,
                   const TShownItems* AShown = nullptr);

  // Shows the children of AFolder; nil or a folder without children shows
  // nothing. A cancelled "Loading..." keeps the children read until then.
  void Fill(PTreeItemInfo AFolder);
  void Clear();
  // The row of ANode, or -1.
  int RowOf(PTreeItemInfo ANode) const;
  PTreeItemInfo NodeAt(int ARow) const;
  void ChecksChanged();

  int rowCount(const QModelIndex& AParent = QModelIndex()) const override;
  int columnCount(const QModelIndex& AParent = QModelIndex()) const override;
  QVariant data(const QModelIndex& AIndex, int ARole = Qt::DisplayRole) const override;
  QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& AIndex) const override;
  // Reorders the rows in place; the views keep their current item and
  // selection, and every later Fill keeps this order.
  void sort(int AColumn, Qt::SortOrder AOrder = Qt::AscendingOrder) override;

private:
  struct TRow {
    PTreeItemInfo Node;
    bool IsDirectory;
    QCollatorSortKey NameKey;
  };
  QVariant CellText(PItemInfo AItem, int AColumn) const;
  // The rows' new order as positions in the old one.
  std::vector<std::size_t> SortedOrder() const;
  // Puts the rows in AOrder; answers the new row of every old one.
  std::vector<int> ApplyOrder(const std::vector<std::size_t>& AOrder);

  ISelector& FSelector;
  QList<QPixmap> FFileTypeImages;
  const TShownItems* FShown;
  std::vector<TRow> FRows;
  int FSortColumn = colFileName;
  Qt::SortOrder FSortOrder = Qt::AscendingOrder;
};
