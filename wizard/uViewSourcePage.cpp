#include "wizard/uViewSourcePage.h"

#include <QAction>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "progress/uProgressEx.h"
#include "progress/uProgressProblems.h"
#include "wizard/uFileViewModels.h"
#include "wizard/uListViewHelper.h"
#include "wizard/uTreeNodeHelper.h"
#include "wizard/uWizardMain.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int ImageSize = 16;
constexpr int TreeWidth = 209;
constexpr int TreeIndent = 19;
constexpr int NavigationBarHeight = 33;
constexpr int BackButtonWidth = 44;
constexpr int ViewPathMargin = 15;
constexpr int ButtonBarHeight = 77;
constexpr int ListRowHeight = 18;

struct TColumnWidth {
  int Width;
  int Minimum;  // equal to Width for a column the user cannot resize
};
constexpr TColumnWidth ColumnWidths[TFolderListModel::ColumnCount] = {
    {300, 100}, {120, 120}, {80, 80}, {80, 80}, {80, 80}, {150, 150}};

const QString SelectGoodCaption = QStringLiteral("Select good files only");
const QString SelectAllCaption = QStringLiteral("Select All");
const QString DeselectAllCaption = QStringLiteral("Deselect All");

// The hourglass for the lifetime of a scope.
class TWaitCursor {
public:
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

// Shows a text that does not fit shortened in its middle, so that both the
// drive and the folder of a long path stay readable.
class TMiddleElidedLabel : public QLabel {
public:
  using QLabel::QLabel;
  QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter Painter(this);
    const QRect Area = contentsRect();
    Painter.drawText(Area, static_cast<int>(alignment()),
                     fontMetrics().elidedText(text(), Qt::ElideMiddle, Area.width()));
  }
};

QPixmap DrawCheckStateImage(int AImageIndex) {
  QPixmap Image(ImageSize, ImageSize);
  Image.fill(Qt::white);
  if (AImageIndex == 0)
    return Image;
  QPainter Painter(&Image);
  Painter.setRenderHint(QPainter::Antialiasing);
  const bool Partly = AImageIndex == 3;
  const QRectF Box(1.5, 1.5, 13, 13);
  Painter.setPen(QPen(QColor(28, 81, 128), 1));
  Painter.setBrush(Partly ? QColor(220, 220, 220) : QColor(Qt::white));
  Painter.drawRect(Box);
  if (AImageIndex == 1)
    return Image;
  QPainterPath Tick;
  Tick.moveTo(4.5, 8);
  Tick.lineTo(7, 10.5);
  Tick.lineTo(11.5, 5);
  Painter.setPen(QPen(Partly ? QColor(128, 128, 128) : QColor(Qt::black), 2, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawPath(Tick);
  return Image;
}

QList<QPixmap> DrawCheckStateImages() {
  return {DrawCheckStateImage(0), DrawCheckStateImage(1), DrawCheckStateImage(2), DrawCheckStateImage(3)};
}

QList<QPixmap> FileTypeImages(const QStyle& AStyle) {
  return {AStyle.standardIcon(QStyle::SP_DirIcon).pixmap(ImageSize, ImageSize),
          AStyle.standardIcon(QStyle::SP_FileIcon).pixmap(ImageSize, ImageSize)};
}

QIcon DrawSearchGlyph() {
  QPixmap Glyph(ImageSize, ImageSize);
  Glyph.fill(Qt::transparent);
  QPainter Painter(&Glyph);
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.setPen(QPen(QColor(40, 40, 40), 2));
  Painter.drawEllipse(QRectF(2, 2, 8, 8));
  Painter.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
  Painter.drawLine(QPointF(10, 10), QPointF(14, 14));
  return QIcon(Glyph);
}

// The chosen row stays plainly marked while the focus is elsewhere.
void KeepSelectionVisible(QAbstractItemView& AView) {
  QPalette Palette = AView.palette();
  for (const QPalette::ColorRole Role : {QPalette::Highlight, QPalette::HighlightedText})
    Palette.setColor(QPalette::Inactive, Role, Palette.color(QPalette::Active, Role));
  AView.setPalette(Palette);
}

bool IsLeftPress(const QEvent& AEvent) {
  const bool Press = AEvent.type() == QEvent::MouseButtonPress || AEvent.type() == QEvent::MouseButtonDblClick;
  return Press && static_cast<const QMouseEvent&>(AEvent).button() == Qt::LeftButton;
}

bool IsMouseButtonEvent(const QEvent& AEvent) {
  switch (AEvent.type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
      return true;
    default:
      return false;
  }
}

QPoint PositionOf(const QEvent& AEvent) { return static_cast<const QMouseEvent&>(AEvent).position().toPoint(); }

bool IsEnterKey(int AKey) { return AKey == Qt::Key_Return || AKey == Qt::Key_Enter; }

// Unreadable regions are told one line per run, but a failing disk may
// still have hundreds of them: the box names the first few.
constexpr std::size_t ShownProblems = 10;

std::string ScanProblemsText(const std::vector<std::string>& AProblems) {
  std::string Text = "The source drive could not be read everywhere; some deleted files and folders may be missing.";
  for (std::size_t I = 0; I < std::min(AProblems.size(), ShownProblems); ++I)
    Text += "\n" + AProblems[I];
  if (AProblems.size() > ShownProblems)
    Text += "\n(" + std::to_string(AProblems.size() - ShownProblems) + " more)";
  return Text;
}

}  // namespace

TViewSourcePage::TViewSourcePage(TNTFSRecoveryContext& AContext)
    : ilCheckedStates(DrawCheckStateImages()), ilFileTypes(FileTypeImages(*style())), FContext(AContext) {
  FTreeModel = new TFolderTreeModel(FContext, ilFileTypes, this);
  FListModel = new TFolderListModel(FContext, ilFileTypes, this);

  lblDriveCaption = new QLabel(QStringLiteral("Please select files and directories you want to restore"), this);
  lblDriveCaption->setObjectName(QStringLiteral("lblDriveCaption"));

  BuildTreeView();
  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  BuildListView();
  auto* RightSide = new QVBoxLayout(Panel1);
  RightSide->setContentsMargins(0, 0, 0, 0);
  RightSide->setSpacing(0);
  RightSide->addWidget(BuildNavigationBar());
  RightSide->addWidget(lvFiles, 1);
  RightSide->addWidget(BuildButtonBar());

  Splitter1 = new QSplitter(Qt::Horizontal, this);
  Splitter1->setObjectName(QStringLiteral("Splitter1"));
  Splitter1->setChildrenCollapsible(false);
  Splitter1->addWidget(tvFiles);
  Splitter1->addWidget(Panel1);
  Splitter1->setStretchFactor(0, 0);
  Splitter1->setStretchFactor(1, 1);
  Splitter1->setSizes({TreeWidth, width() - TreeWidth});

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(lblDriveCaption);
  Layout->addWidget(Splitter1, 1);
}

void TViewSourcePage::BuildTreeView() {
  tvFiles = new QTreeView(this);
  tvFiles->setObjectName(QStringLiteral("tvFiles"));
  tvFiles->setHeaderHidden(true);
  tvFiles->setIndentation(TreeIndent);
  tvFiles->setIconSize(QSize(ImageSize, ImageSize));
  tvFiles->setUniformRowHeights(true);
  tvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  tvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
  tvFiles->setModel(FTreeModel);
  tvFiles->setItemDelegate(new TCheckStateDelegate(*this, ilCheckedStates, tvFiles));
  KeepSelectionVisible(*tvFiles);
  tvFiles->installEventFilter(this);
  tvFiles->viewport()->installEventFilter(this);
  connect(tvFiles->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { RunUserAction([this] { tvFilesChange(); }); });
  ppmTree = BuildSelectMenu(tvFiles, treeSelectGood, treeSelectAll, treeDeselectAll);
  connect(treeSelectGood, &QAction::triggered, this, [this] { RunUserAction([this] { treeSelectGoodClick(); }); });
  connect(treeSelectAll, &QAction::triggered, this, [this] { RunUserAction([this] { treeSelectAllClick(); }); });
  connect(treeDeselectAll, &QAction::triggered, this, [this] { RunUserAction([this] { treeDeselectAllClick(); }); });
}

void TViewSourcePage::BuildListView() {
  lvFiles = new QTableView(Panel1);
  lvFiles->setObjectName(QStringLiteral("lvFiles"));
  lvFiles->setShowGrid(true);
  lvFiles->setWordWrap(false);
  lvFiles->setTabKeyNavigation(false);
  lvFiles->setIconSize(QSize(ImageSize, ImageSize));
  lvFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvFiles->setSelectionMode(QAbstractItemView::SingleSelection);
  lvFiles->setSelectionBehavior(QAbstractItemView::SelectRows);
  lvFiles->setModel(FListModel);
  lvFiles->setItemDelegate(new TCheckStateDelegate(*this, ilCheckedStates, lvFiles));
  KeepSelectionVisible(*lvFiles);
  // Rows of one height let a folder of a hundred thousand files open at once.
  lvFiles->verticalHeader()->hide();
  lvFiles->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  lvFiles->verticalHeader()->setDefaultSectionSize(ListRowHeight);
  QHeaderView* Header = lvFiles->horizontalHeader();
  Header->setStretchLastSection(false);
  Header->setSectionsClickable(false);
  Header->setMinimumSectionSize(0);
  for (int Column = 0; Column < TFolderListModel::ColumnCount; ++Column) {
    const TColumnWidth& Size = ColumnWidths[Column];
    Header->resizeSection(Column, Size.Width);
    Header->setSectionResizeMode(Column, Size.Minimum == Size.Width ? QHeaderView::Fixed : QHeaderView::Interactive);
  }
  connect(Header, &QHeaderView::sectionResized, this, [Header](int AColumn, int, int ANewSize) {
    if (ANewSize < ColumnWidths[AColumn].Minimum)
      Header->resizeSection(AColumn, ColumnWidths[AColumn].Minimum);
  });
  lvFiles->installEventFilter(this);
  lvFiles->viewport()->installEventFilter(this);
  connect(lvFiles, &QAbstractItemView::doubleClicked, this, [this] { RunUserAction([this] { lvFilesDblClick(); }); });
  ppmList = BuildSelectMenu(lvFiles, listSelectGood, listSelectAll, listDeselectAll);
  connect(listSelectGood, &QAction::triggered, this, [this] { RunUserAction([this] { listSelectGoodClick(); }); });
  connect(listSelectAll, &QAction::triggered, this, [this] { RunUserAction([this] { listSelectAllClick(); }); });
  connect(listDeselectAll, &QAction::triggered, this, [this] { RunUserAction([this] { listDeselectAllClick(); }); });
}

QMenu* TViewSourcePage::BuildSelectMenu(QWidget* AView, QAction*& ASelectGood, QAction*& ASelectAll,
                                        QAction*& ADeselectAll) {
  auto* Menu = new QMenu(AView);
  ASelectGood = Menu->addAction(SelectGoodCaption);
  ASelectAll = Menu->addAction(SelectAllCaption);
  ADeselectAll = Menu->addAction(DeselectAllCaption);
  AView->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(AView, &QWidget::customContextMenuRequested, Menu,
          [Menu, AView](const QPoint& APoint) { Menu->popup(AView->mapToGlobal(APoint)); });
  return Menu;
}

QWidget* TViewSourcePage::BuildNavigationBar() {
  pnlNavigateFiles = new QFrame(Panel1);
  pnlNavigateFiles->setObjectName(QStringLiteral("pnlNavigateFiles"));
  pnlNavigateFiles->setFixedHeight(NavigationBarHeight);

  btnBack = new QToolButton(pnlNavigateFiles);
  btnBack->setObjectName(QStringLiteral("btnBack"));
  btnBack->setText(QStringLiteral("Up"));
  btnBack->setAutoRaise(true);
  btnBack->setFixedWidth(BackButtonWidth);
  btnBack->setEnabled(false);
  connect(btnBack, &QToolButton::clicked, this, [this] { RunUserAction([this] { btnBackClick(); }); });

  lblViewPath = new TMiddleElidedLabel(pnlNavigateFiles);
  lblViewPath->setObjectName(QStringLiteral("lblViewPath"));
  lblViewPath->setFont(QFont(QStringLiteral("Tahoma"), 8, QFont::Bold));
  lblViewPath->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  lblViewPath->setContentsMargins(ViewPathMargin, 0, ViewPathMargin, 0);

  auto* Layout = new QHBoxLayout(pnlNavigateFiles);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(btnBack);
  Layout->addWidget(lblViewPath, 1);
  return pnlNavigateFiles;
}

QWidget* TViewSourcePage::BuildButtonBar() {
  Panel5 = new QFrame(Panel1);
  Panel5->setObjectName(QStringLiteral("Panel5"));
  Panel5->setFixedHeight(ButtonBarHeight);

  const auto MakeButton = [this](const char* AName, const QString& ACaption, void (TViewSourcePage::*AHandler)()) {
    auto* Button = new QPushButton(ACaption, Panel5);
    Button->setObjectName(QLatin1String(AName));
    connect(Button, &QPushButton::clicked, this, [this, AHandler] { RunUserAction([this, AHandler] { (this->*AHandler)(); }); });
    return Button;
  };
  btnSelectGood = MakeButton("btnSelectGood", QStringLiteral("Select &good files only"),
                             &TViewSourcePage::treeSelectGoodClick);
  btnSelectAll = MakeButton("btnSelectAll", QStringLiteral("Select &All"), &TViewSourcePage::treeSelectAllClick);
  btnDeselectAll = MakeButton("btnDeselectAll", QStringLiteral("&Deselect All"), &TViewSourcePage::treeDeselectAllClick);

  edtSearchMask = new QLineEdit(QStringLiteral("*.*"), Panel5);
  edtSearchMask->setObjectName(QStringLiteral("edtSearchMask"));
  edtSearchMask->installEventFilter(this);
  Label1 = new QLabel(QStringLiteral("&Search mask:"), Panel5);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setBuddy(edtSearchMask);
  btnSearch = new QToolButton(Panel5);
  btnSearch->setObjectName(QStringLiteral("btnSearch"));
  btnSearch->setIcon(DrawSearchGlyph());
  btnSearch->setToolTip(QStringLiteral("Search"));
  connect(btnSearch, &QToolButton::clicked, this, [this] { RunUserAction([this] { btnSearchClick(); }); });

  auto* Buttons = new QHBoxLayout;
  Buttons->addWidget(btnSelectGood);
  Buttons->addWidget(btnSelectAll);
  Buttons->addWidget(btnDeselectAll);
  Buttons->addStretch(1);
  auto* Search = new QHBoxLayout;
  Search->addWidget(Label1);
  Search->addWidget(edtSearchMask, 1);
  Search->addWidget(btnSearch);
  auto* Layout = new QVBoxLayout(Panel5);
  Layout->addLayout(Buttons);
  Layout->addLayout(Search);
  return Panel5;
}

QString TViewSourcePage::GetTitle() { return QStringLiteral("Explorer of deleted files"); }

QString TViewSourcePage::GetDescription() { return QStringLiteral("View and select deleted files for a recovering"); }

bool TViewSourcePage::GetAllowNext() { return FContext.HasChecked(); }

std::int32_t TViewSourcePage::GetCheckStateImageIndex(std::uint8_t ACheckState) { return ACheckState + 1; }

// A return by Back finds the tree, the list and the ticks as they were; only
// a move forward scans the drive again.
void TViewSourcePage::PageBeforeEnter(bool AForward, bool& AllowEnter) {
  TWizardPage::PageBeforeEnter(AForward, AllowEnter);
  if (!AForward)
    return;
  edtSearchMask->setText(QString::fromStdU16String(FContext.Mask()));
  ClearView();
  TProgressProblems Problems;
  try {
    FContext.ProcessScan();
  } catch (const std::exception& E) {
    AllowEnter = false;
    FContext.Prompt().ShowMessage(E.what());
    return;
  }
  // The progress window lets the scan's warnings pass; a damaged drive must
  // not look whole.
  if (!Problems.Messages().empty())
    FContext.Prompt().ShowMessage(ScanProblemsText(Problems.Messages()));
}

void TViewSourcePage::PageAfterEnter(bool AForward) {
  TWizardPage::PageAfterEnter(AForward);
  if (AForward)
    BuildTree();
}

// Runs before the context frees its tree: the views must let go of its nodes first.
void TViewSourcePage::ClearView() {
  TProgressExLevel Clearing("Clearing previous data...", 0, "");
  tvFiles->selectionModel()->clear();
  FTreeModel->Clear();
  ShowFolder(nullptr);
}

void TViewSourcePage::BuildTree() {
  {
    TWaitCursor Busy;
    FTreeModel->Build(FContext.TreeItems());
  }
  const QModelIndex First = FTreeModel->index(0, 0);
  if (First.isValid()) {
    tvFiles->expand(First);
    tvFiles->setCurrentIndex(First);
  }
}

void TViewSourcePage::ShowFolder(PTreeItemInfo ANode) {
  const PTreeItemInfo Previous = FListViewParent;
  FListViewParent = ANode;
  btnBack->setEnabled(ANode && ANode->Parent);
  lblViewPath->setText(ANode ? QString::fromStdU16String(TNTFSRecoveryContext::GetFullName(ANode, true)) : QString());
  {
    TWaitCursor Busy;
    FListModel->Fill(ANode);
  }
  int Row = Previous ? FListModel->RowOf(Previous) : -1;
  if (Row < 0 && FListModel->rowCount() > 0)
    Row = 0;
  if (Row >= 0) {
    const QModelIndex Current = FListModel->index(Row, 0);
    lvFiles->setCurrentIndex(Current);
    lvFiles->scrollTo(Current);
  }
}

void TViewSourcePage::RefreshChecks() {
  FTreeModel->ChecksChanged();
  FListModel->ChecksChanged();
  if (App())
    App()->UpdateStatus();
}

void TViewSourcePage::treeSelectGoodClick() {
  FContext.SmartCheck(FContext.TreeItems());
  RefreshChecks();
}

void TViewSourcePage::treeSelectAllClick() {
  FContext.CheckAll(FContext.TreeItems(), true);
  RefreshChecks();
}

void TViewSourcePage::treeDeselectAllClick() {
  FContext.CheckAll(FContext.TreeItems(), false);
  RefreshChecks();
}

void TViewSourcePage::ForListedFolder(const std::function<void(const IExListPtr& AItems)>& ACommand) {
  if (!FListViewParent)
    return;
  ACommand(FListViewParent->SubItems);
  RefreshChecks();
}

void TViewSourcePage::listSelectGoodClick() {
  ForListedFolder([this](const IExListPtr& AItems) { FContext.SmartCheck(AItems); });
}

void TViewSourcePage::listSelectAllClick() {
  ForListedFolder([this](const IExListPtr& AItems) { FContext.CheckAll(AItems, true); });
}

void TViewSourcePage::listDeselectAllClick() {
  ForListedFolder([this](const IExListPtr& AItems) { FContext.CheckAll(AItems, false); });
}

// The search rebuilds the tree with every tick in it cleared, so Next is
// asked again.
void TViewSourcePage::btnSearchClick() {
  ClearView();
  FContext.SetMask(edtSearchMask->text().toStdU16String());
  FContext.Search();
  BuildTree();
  if (App())
    App()->UpdateStatus();
}

void TViewSourcePage::btnBackClick() {
  if (FListViewParent && FListViewParent->Parent)
    ShowFolder(FListViewParent->Parent);
}

void TViewSourcePage::tvFilesChange() {
  const QModelIndexList Selected = tvFiles->selectionModel()->selectedIndexes();
  if (!Selected.isEmpty())
    ShowFolder(NodeOfIndex(Selected.first()));
}

void TViewSourcePage::lvFilesDblClick() {
  if (IsMouseOverItemStateIcon(*lvFiles))
    return;
  const QModelIndexList Selected = lvFiles->selectionModel()->selectedRows();
  const PTreeItemInfo Node = Selected.isEmpty() ? nullptr : FListModel->NodeAt(Selected.first().row());
  const PItemInfo Item = Node ? TNTFSRecoveryContext::ItemInfo(Node) : nullptr;
  if (Item && Item->IsDirectory)
    ShowFolder(Node);
}

// ---------------------------------------------------------------------------
// Events the views and the mask field would otherwise handle themselves

bool TViewSourcePage::eventFilter(QObject* AWatched, QEvent* AEvent) {
  bool Handled = false;
  RunUserAction([&] {
    if (AWatched == tvFiles->viewport())
      Handled = TreeViewportEvent(*AEvent);
    else if (AWatched == tvFiles)
      Handled = TreeEvent(*AEvent);
    else if (AWatched == lvFiles->viewport())
      Handled = ListViewportEvent(*AEvent);
    else if (AWatched == lvFiles)
      Handled = ListEvent(*AEvent);
    else if (AWatched == edtSearchMask)
      Handled = SearchMaskEvent(*AEvent);
  });
  return Handled || TWizardPage::eventFilter(AWatched, AEvent);
}

// A press on a tick picture ticks; no button there selects, expands or
// collapses a node.
bool TViewSourcePage::TreeViewportEvent(QEvent& AEvent) {
  if (!IsMouseButtonEvent(AEvent) || !IsOverNodeStateIcon(*tvFiles, PositionOf(AEvent)))
    return false;
  if (IsLeftPress(AEvent)) {
    ToggleCheckState(FContext, NodeOfIndex(GetNodeAt(*tvFiles, PositionOf(AEvent))));
    RefreshChecks();
  }
  return true;
}

// Keys would move the selection or expand a node, which is refused while the
// mouse pointer rests on a tick picture. Tab still leaves the tree and the
// menu key still opens the menu.
bool TViewSourcePage::TreeEvent(QEvent& AEvent) {
  if (AEvent.type() != QEvent::KeyPress)
    return false;
  const int Key = static_cast<const QKeyEvent&>(AEvent).key();
  const bool LeavesTree = Key == Qt::Key_Tab || Key == Qt::Key_Backtab || Key == Qt::Key_Menu;
  return !LeavesTree && IsMouseOverNodeStateIcon(*tvFiles);
}

bool TViewSourcePage::ListViewportEvent(QEvent& AEvent) {
  if (IsLeftPress(AEvent) && IsOverItemStateIcon(*lvFiles, PositionOf(AEvent))) {
    ToggleCheckState(FContext, NodeOfIndex(GetItemAt(*lvFiles, PositionOf(AEvent))));
    RefreshChecks();
  }
  return false;
}

// Enter opens the folder as a double click does, Backspace goes up.
bool TViewSourcePage::ListEvent(QEvent& AEvent) {
  if (AEvent.type() != QEvent::KeyPress)
    return false;
  const int Key = static_cast<const QKeyEvent&>(AEvent).key();
  if (IsEnterKey(Key))
    lvFilesDblClick();
  else if (Key == Qt::Key_Backspace)
    btnBackClick();
  else
    return false;
  return true;
}

bool TViewSourcePage::SearchMaskEvent(QEvent& AEvent) {
  if (AEvent.type() != QEvent::KeyPress || !IsEnterKey(static_cast<const QKeyEvent&>(AEvent).key()))
    return false;
  btnSearchClick();
  return true;
}
