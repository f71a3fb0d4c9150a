#include "wizard/uFileViewModels.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include <QCollator>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QLocale>

#include "ntfs/uNTFSUtils.h"
#include "progress/uProgressEx.h"
#include "wizard/uCheckStateDelegate.h"

namespace {

// The folder every Windows drive keeps its deleted files in, set apart in bold.
const QString RecycleBinName = QStringLiteral("$RECYCLE.BIN");
const QColor OverwrittenFileColor(128, 0, 0);
const QColor GoodFileColor(0, 0, 128);
const QColor FolderColor(0, 0, 0);
constexpr double MillisecondsPerDay = 24.0 * 60 * 60 * 1000;

QString NameOf(PTreeItemInfo ANode) {
  const PItemInfo Item = ANode ? TNTFSRecoveryContext::ItemInfo(ANode) : nullptr;
  return Item ? QString::fromStdU16String(Item->Name) : QString();
}

// Days since 30 December 1899; before that day the fraction still counts
// forward from midnight.
QDateTime DateTimeOf(TDateTime AValue) {
  const double Days = std::trunc(AValue);
  const double DayFraction = std::abs(AValue - Days);
  const QDate Date = QDate(1899, 12, 30).addDays(static_cast<qint64>(Days));
  const int Milliseconds = std::min(static_cast<int>(std::lround(DayFraction * MillisecondsPerDay)),
                                    static_cast<int>(MillisecondsPerDay) - 1);
  return QDateTime(Date, QTime::fromMSecsSinceStartOfDay(Milliseconds));
}

// The time is already local and the column narrow: the zone name some
// long formats end with would only push the seconds out of sight.
QString LongTimeWithoutZone(const QLocale& ALocale) {
  QString Format = ALocale.timeFormat(QLocale::LongFormat);
  Format.remove(QLatin1Char('t'));
  return Format.trimmed();
}

// What both views show of a node in their first column.
QVariant NodeData(ISelector& ASelector, const QList<QPixmap>& AFileTypeImages, PTreeItemInfo ANode, int ARole) {
  switch (ARole) {
    case Qt::DisplayRole:
      return NameOf(ANode);
    case Qt::DecorationRole:
      return AFileTypeImages.value(ItemImageIndex(ANode));
    case Qt::FontRole:
      if (NameOf(ANode) == RecycleBinName) {
        QFont Bold;
        Bold.setBold(true);
        return Bold;
      }
      return QVariant();
    case Qt::CheckStateRole:
      return QtCheckState(static_cast<std::uint8_t>(GetCheckState(ASelector, ANode)));
    case NodeRole:
      return QVariant::fromValue(static_cast<void*>(ANode));
    default:
      return QVariant();
  }
}

bool IsShown(const TShownItems* AShown, PTreeItemInfo ANode) { return !AShown || AShown->IsShown(ANode); }

// -1, 0 or 1 as A is below, equal to or above B.
template <class T>
int ThreeWay(const T& A, const T& B) {
  return (B < A) - (A < B);
}

}  // namespace

QString DeletionTimeText(const TItemInfo& AItem) {
  if (AItem.DeletionTime == 0)
    return QString();
  const QLocale Locale = QLocale::system();
  const QDateTime Deleted = DateTimeOf(NTFSUtils::Int64TimeToDateTime(AItem.DeletionTime));
  return Locale.toString(Deleted.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
         Locale.toString(Deleted.time(), LongTimeWithoutZone(Locale));
}

PTreeItemInfo NodeOfIndex(const QModelIndex& AIndex) {
  return static_cast<PTreeItemInfo>(AIndex.data(NodeRole).value<void*>());
}

int ItemImageIndex(PTreeItemInfo ANode) {
  const PItemInfo Item = ANode ? TNTFSRecoveryContext::ItemInfo(ANode) : nullptr;
  if (!Item)
    return -1;
  return Item->IsDirectory ? 0 : 1;
}

// ---------------------------------------------------------------------------

struct TFolderTreeModel::TFolderNode {
  PTreeItemInfo Info = nullptr;
  TFolderNode* Parent = nullptr;
  int Row = 0;
  std::vector<TFolderNode*> Children;
};

TFolderTreeModel::TFolderTreeModel(ISelector& ASelector, const QList<QPixmap>& AFileTypeImages, QObject* AParent,
                                   const TShownItems* AShown)
    : QAbstractItemModel(AParent),
      FSelector(ASelector),
      FFileTypeImages(AFileTypeImages),
      FShown(AShown),
      FRoot(std::make_unique<TFolderNode>()) {}

TFolderTreeModel::~TFolderTreeModel() = default;

TFolderTreeModel::TFolderNode* TFolderTreeModel::AddFolder(TFolderNode* AParent, PTreeItemInfo AInfo) {
  FNodes.push_back(std::make_unique<TFolderNode>());
  TFolderNode* Node = FNodes.back().get();
  Node->Info = AInfo;
  Node->Parent = AParent;
  AParent->Children.push_back(Node);
  return Node;
}

// Walks the context's tree with a list of folders still to fill rather than
// by recursion: a crafted volume can chain folders as deep as its MFT.
void TFolderTreeModel::Build(const IExListPtr& ATreeItems) {
  beginResetModel();
  FRoot->Children.clear();
  FNodes.clear();
  QCollator Collator;
  std::vector<std::pair<TFolderNode*, IExListPtr>> ToFill;
  if (ATreeItems)
    ToFill.emplace_back(FRoot.get(), ATreeItems);
  while (!ToFill.empty()) {
    auto [Parent, Items] = std::move(ToFill.back());
    ToFill.pop_back();
    for (auto [Bookmark, Info] : ListItems<PTreeItemInfo>(*Items)) {
      const PItemInfo Item = TNTFSRecoveryContext::ItemInfo(Info);
      if (!Item || !Item->IsDirectory || !IsShown(FShown, Info))
        continue;
      TFolderNode* Node = AddFolder(Parent, Info);
      if (Info->SubItems)
        ToFill.emplace_back(Node, Info->SubItems);
    }
    // The top level keeps the context's order: the drive folder first.
    if (Parent != FRoot.get())
      std::stable_sort(Parent->Children.begin(), Parent->Children.end(),
                       [&Collator](const TFolderNode* A, const TFolderNode* B) {
                         return Collator.compare(NameOf(A->Info), NameOf(B->Info)) < 0;
                       });
    for (int Row = 0; Row < static_cast<int>(Parent->Children.size()); ++Row)
      Parent->Children[Row]->Row = Row;
  }
  endResetModel();
}

void TFolderTreeModel::Clear() { Build(nullptr); }

QModelIndex TFolderTreeModel::IndexOf(PTreeItemInfo ANode) const {
  const auto Found = std::find_if(FNodes.begin(), FNodes.end(), [ANode](const auto& AFolder) { return AFolder->Info == ANode; });
  return Found == FNodes.end() ? QModelIndex() : createIndex((*Found)->Row, 0, Found->get());
}

void TFolderTreeModel::ChecksChanged() {
  const auto Announce = [this](const TFolderNode* AParent, const QModelIndex& AParentIndex) {
    if (!AParent->Children.empty())
      emit dataChanged(index(0, 0, AParentIndex), index(static_cast<int>(AParent->Children.size()) - 1, 0, AParentIndex),
                       {Qt::CheckStateRole});
  };
  Announce(FRoot.get(), QModelIndex());
  for (const auto& Node : FNodes)
    Announce(Node.get(), createIndex(Node->Row, 0, Node.get()));
}

TFolderTreeModel::TFolderNode* TFolderTreeModel::NodeOf(const QModelIndex& AIndex) const {
  return AIndex.isValid() ? static_cast<TFolderNode*>(AIndex.internalPointer()) : FRoot.get();
}

QModelIndex TFolderTreeModel::index(int ARow, int AColumn, const QModelIndex& AParent) const {
  if (!hasIndex(ARow, AColumn, AParent))
    return QModelIndex();
  return createIndex(ARow, AColumn, NodeOf(AParent)->Children[ARow]);
}

QModelIndex TFolderTreeModel::parent(const QModelIndex& AChild) const {
  if (!AChild.isValid())
    return QModelIndex();
  TFolderNode* Parent = NodeOf(AChild)->Parent;
  return Parent == FRoot.get() ? QModelIndex() : createIndex(Parent->Row, 0, Parent);
}

int TFolderTreeModel::rowCount(const QModelIndex& AParent) const {
  if (AParent.column() > 0)
    return 0;
  return static_cast<int>(NodeOf(AParent)->Children.size());
}

int TFolderTreeModel::columnCount(const QModelIndex&) const { return 1; }

QVariant TFolderTreeModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!AIndex.isValid())
    return QVariant();
  return NodeData(FSelector, FFileTypeImages, NodeOf(AIndex)->Info, ARole);
}

Qt::ItemFlags TFolderTreeModel::flags(const QModelIndex& AIndex) const {
  return AIndex.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

// ---------------------------------------------------------------------------

TFolderListModel::TFolderListModel(ISelector& ASelector, const QList<QPixmap>& AFileTypeImages, QObject* AParent,
                                   const TShownItems* AShown)
    : QAbstractTableModel(AParent), FSelector(ASelector), FFileTypeImages(AFileTypeImages), FShown(AShown) {}

// Names are compared through sort keys made once per row: comparing the
// names themselves over and over takes seconds for a folder of a hundred
// thousand files. The names are case-folded first because the collator of
// the C locale makes its keys from the plain text, case and all.
void TFolderListModel::Fill(PTreeItemInfo AFolder) {
  beginResetModel();
  FRows.clear();
  if (AFolder && AFolder->SubItems) {
    const std::int64_t Count = AFolder->SubItems->Count();
    std::optional<TProgressExLevel> Loading;
    if (Count > LoadingProgressThreshold)
      Loading.emplace("Loading...", Count, "");
    QCollator Collator;
    Collator.setCaseSensitivity(Qt::CaseInsensitive);
    FRows.reserve(static_cast<std::size_t>(Count));
    std::int64_t Read = 0;
    for (auto [Bookmark, Node] : ListItems<PTreeItemInfo>(*AFolder->SubItems)) {
      const PItemInfo Item = TNTFSRecoveryContext::ItemInfo(Node);
      if (IsShown(FShown, Node))
        FRows.push_back({Node, Item && Item->IsDirectory, Collator.sortKey(NameOf(Node).toCaseFolded())});
      if (Loading && !ProgressEx::DoProgress(++Read))
        break;
    }
    ApplyOrder(SortedOrder());
  }
  endResetModel();
}

std::vector<std::size_t> TFolderListModel::SortedOrder() const {
  std::vector<std::size_t> Order(FRows.size());
  std::iota(Order.begin(), Order.end(), std::size_t{0});
  // The attributes sort as the column spells them; the texts are made once
  // per row, not once per comparison.
  std::vector<QString> AttributeTexts;
  if (FSortColumn == colAttributes)
    for (const TRow& Row : FRows)
      AttributeTexts.push_back(Row.Node->Data ? CellText(Row.Node->Data, colAttributes).toString() : QString());
  const auto CompareColumn = [&](std::size_t A, std::size_t B) {
    const PItemInfo ItemA = FRows[A].Node->Data;
    const PItemInfo ItemB = FRows[B].Node->Data;
    if (!ItemA || !ItemB || FSortColumn == colFileName)
      return 0;
    switch (FSortColumn) {
      case colDataSize:  // a folder's size shows as 0
        return ThreeWay(ItemA->IsDirectory ? 0 : ItemA->DataSize, ItemB->IsDirectory ? 0 : ItemB->DataSize);
      case colOverwrited:
        return ThreeWay(ItemA->OverwritePercent, ItemB->OverwritePercent);
      case colDate:
      case colTime:  // both show the one creation time
        return ThreeWay(ItemA->CreationTime, ItemB->CreationTime);
      case colDeleted:
        return ThreeWay(ItemA->DeletionTime, ItemB->DeletionTime);
      case colStreams:
        return ThreeWay(ItemA->NamedStreams, ItemB->NamedStreams);
      case colAttributes:
        return AttributeTexts[A].compare(AttributeTexts[B]);
      default:
        return 0;
    }
  };
  std::sort(Order.begin(), Order.end(), [&](std::size_t A, std::size_t B) {
    if (FRows[A].IsDirectory != FRows[B].IsDirectory)
      return FRows[A].IsDirectory;
    int Result = CompareColumn(A, B);
    if (Result == 0)
      Result = FRows[A].NameKey.compare(FRows[B].NameKey);
    if (Result == 0)
      return A < B;
    return FSortOrder == Qt::AscendingOrder ? Result < 0 : Result > 0;
  });
  return Order;
}

std::vector<int> TFolderListModel::ApplyOrder(const std::vector<std::size_t>& AOrder) {
  std::vector<int> NewRowOf(FRows.size());
  std::vector<TRow> Sorted;
  Sorted.reserve(FRows.size());
  for (std::size_t Row = 0; Row < AOrder.size(); ++Row) {
    NewRowOf[AOrder[Row]] = static_cast<int>(Row);
    Sorted.push_back(std::move(FRows[AOrder[Row]]));
  }
  FRows = std::move(Sorted);
  return NewRowOf;
}

// The views' current item and selection are persistent indexes: they move
// with their rows.
void TFolderListModel::sort(int AColumn, Qt::SortOrder AOrder) {
  if (AColumn < 0 || AColumn >= ColumnCount)
    return;
  FSortColumn = AColumn;
  FSortOrder = AOrder;
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  const std::vector<int> NewRowOf = ApplyOrder(SortedOrder());
  const QModelIndexList Before = persistentIndexList();
  QModelIndexList After;
  After.reserve(Before.size());
  for (const QModelIndex& Index : Before)
    After << index(NewRowOf[static_cast<std::size_t>(Index.row())], Index.column());
  changePersistentIndexList(Before, After);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void TFolderListModel::Clear() { Fill(nullptr); }

int TFolderListModel::RowOf(PTreeItemInfo ANode) const {
  const auto Found = std::find_if(FRows.begin(), FRows.end(), [ANode](const TRow& ARow) { return ARow.Node == ANode; });
  return Found == FRows.end() ? -1 : static_cast<int>(Found - FRows.begin());
}

PTreeItemInfo TFolderListModel::NodeAt(int ARow) const {
  return ARow >= 0 && ARow < rowCount() ? FRows[static_cast<std::size_t>(ARow)].Node : nullptr;
}

void TFolderListModel::ChecksChanged() {
  if (!FRows.empty())
    emit dataChanged(index(0, colFileName), index(rowCount() - 1, colFileName), {Qt::CheckStateRole});
}

int TFolderListModel::rowCount(const QModelIndex& AParent) const {
  return AParent.isValid() ? 0 : static_cast<int>(FRows.size());
}

int TFolderListModel::columnCount(const QModelIndex& AParent) const { return AParent.isValid() ? 0 : ColumnCount; }

QVariant TFolderListModel::CellText(PItemInfo AItem, int AColumn) const {
  const QLocale Locale = QLocale::system();
  switch (AColumn) {
    case colDataSize:
      return AItem->IsDirectory ? QStringLiteral("0") : QString::number(AItem->DataSize);
    case colOverwrited:
      return Locale.toString(AItem->OverwritePercent, 'f', 2) + QLatin1Char('%');
    case colDate:
      return Locale.toString(DateTimeOf(NTFSUtils::Int64TimeToDateTime(AItem->CreationTime)).date(),
                             QLocale::ShortFormat);
    case colTime:
      return Locale.toString(DateTimeOf(NTFSUtils::Int64TimeToDateTime(AItem->CreationTime)).time(),
                             LongTimeWithoutZone(Locale));
    case colAttributes:
      return QString::fromStdU16String(NTFSUtils::FileAttributesToString(AItem->Attributes));
    case colDeleted:
      return DeletionTimeText(*AItem);
    case colStreams:
      return AItem->IsDirectory ? QString() : QString::number(AItem->NamedStreams);
    default:
      return QVariant();
  }
}

QVariant TFolderListModel::data(const QModelIndex& AIndex, int ARole) const {
  if (!checkIndex(AIndex, CheckIndexOption::IndexIsValid))
    return QVariant();
  const PTreeItemInfo Node = FRows[static_cast<std::size_t>(AIndex.row())].Node;
  const PItemInfo Item = TNTFSRecoveryContext::ItemInfo(Node);
  switch (ARole) {
    case Qt::TextAlignmentRole:
      return headerData(AIndex.column(), Qt::Horizontal, ARole);
    case Qt::ForegroundRole:
      if (!Item || Item->IsDirectory)
        return FolderColor;
      return Item->OverwritePercent >= GoodFileThreshold ? OverwrittenFileColor : GoodFileColor;
    case Qt::FontRole:
    case NodeRole:
      return NodeData(FSelector, FFileTypeImages, Node, ARole);
    default:
      break;
  }
  if (AIndex.column() == colFileName)
    return NodeData(FSelector, FFileTypeImages, Node, ARole);
  if (ARole == Qt::DisplayRole && Item)
    return CellText(Item, AIndex.column());
  return QVariant();
}

QVariant TFolderListModel::headerData(int ASection, Qt::Orientation AOrientation, int ARole) const {
  static const char* const Captions[ColumnCount] = {"FileName",   "DataSize", "Overwrited", "Date",
                                                     "Time",       "Attributes", "Deleted", "Streams"};
  if (AOrientation != Qt::Horizontal || ASection < 0 || ASection >= ColumnCount)
    return QVariant();
  switch (ARole) {
    case Qt::DisplayRole:
      return QString::fromLatin1(Captions[ASection]);
    case Qt::TextAlignmentRole: {
      const bool Left = ASection == colFileName || ASection == colAttributes;
      return static_cast<int>(Qt::AlignVCenter | (Left ? Qt::AlignLeft : Qt::AlignRight));
    }
    default:
      return QVariant();
  }
}

Qt::ItemFlags TFolderListModel::flags(const QModelIndex& AIndex) const {
  return AIndex.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}
