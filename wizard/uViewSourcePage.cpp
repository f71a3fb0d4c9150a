#include "wizard/uViewSourcePage.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QDateTime>
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
#include <QSpinBox>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "engine/uTreeWalk.h"
#include "ntfs/uNTFSUtils.h"
#include "progress/uProgressEx.h"
#include "progress/uProgressProblems.h"
#include "progress/uWaitCursor.h"
#include "wizard/uFilePreview.h"
#include "wizard/uFileViewModels.h"
#include "wizard/uListViewHelper.h"
#include "wizard/uTreeNodeHelper.h"
#include "wizard/uWizardMain.h"

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

constexpr int ImageSize = 16;
constexpr int TreeWidth = 209;
constexpr int TreeIndent = 19;
constexpr int NavigationBarHeight = 33;
constexpr int BackButtonWidth = 44;
constexpr int ViewPathMargin = 15;
constexpr int ListRowHeight = 18;

struct TColumnWidth {
  int Width;
  int Minimum;  // equal to Width for a column the user cannot resize
};
constexpr TColumnWidth ColumnWidths[TFolderListModel::ColumnCount] = {
    {300, 100}, {120, 120}, {80, 80}, {80, 80}, {80, 80}, {150, 150}, {150, 150}, {70, 70}};

// At most this many of the records that took a file's clusters are named.
constexpr std::size_t ClaimantsNamed = 5;

QString CountText(std::int64_t ACount, const QString& AOne, const QString& AMany) {
  return QStringLiteral("%1 %2").arg(ACount).arg(ACount == 1 ? AOne : AMany);
}

// What holds an overwritten file's clusters now, in one sentence; empty
// when nothing does.
QString ClaimantsText(const std::vector<TClaimant>& AClaimants, const QString& ADrive) {
  QStringList Parts;
  for (const TClaimant& Claimant : AClaimants) {
    if (Parts.size() == static_cast<qsizetype>(ClaimantsNamed)) {
      Parts << CountText(static_cast<std::int64_t>(AClaimants.size() - ClaimantsNamed), QStringLiteral("other record"),
                         QStringLiteral("other records"));
      break;
    }
    const QString Clusters = CountText(Claimant.Clusters, QStringLiteral("cluster"), QStringLiteral("clusters"));
    if (Claimant.Record < 0) {
      Parts << QStringLiteral("no record read (%1 the volume counts as in use)").arg(Clusters);
      continue;
    }
    QStringList Names{ADrive};
    for (const std::u16string& Name : Claimant.Path)
      Names << QString::fromStdU16String(Name);
    Parts << QStringLiteral("%1 (record %2): %3").arg(Names.join(QLatin1Char('\\'))).arg(Claimant.Record).arg(Clusters);
  }
  return Parts.isEmpty() ? QString() : QStringLiteral("Its clusters are held now by %1.").arg(Parts.join(QStringLiteral("; ")));
}

const QString SelectGoodCaption = QStringLiteral("Select good files only");
const QString SelectAllCaption = QStringLiteral("Select All");
const QString DeselectAllCaption = QStringLiteral("Deselect All");

// Sizes in the filter are whole KiB; the spin boxes reach 2 TiB.
constexpr std::int64_t FilterSizeUnit = 1024;
constexpr int DefaultMaxSizeKiB = 1024 * 1024;
constexpr std::int64_t FileTimeTicksPerMillisecond = FileTimeTicksPerSecond / 1000;

// The file time of the start of ADate in the user's time zone, where the
// list's date column counts its days.
std::int64_t FileTimeOfLocalDay(const QDate& ADate) {
  return QDateTime(ADate, QTime(0, 0)).toMSecsSinceEpoch() * FileTimeTicksPerMillisecond + FileTimeOfUnixEpoch;
}

QString FilesText(std::int64_t ACount) {
  return ACount == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(ACount);
}

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

QPixmap BlankImage() {
  QPixmap Image(ImageSize, ImageSize);
  Image.fill(Qt::white);
  return Image;
}

QPixmap DrawCheckStateImage(TCheckState AState) {
  QPixmap Image = BlankImage();
  QPainter Painter(&Image);
  Painter.setRenderHint(QPainter::Antialiasing);
  const bool Partly = AState == csPartlyChecked;
  const QRectF Box(1.5, 1.5, 13, 13);
  Painter.setPen(QPen(QColor(28, 81, 128), 1));
  Painter.setBrush(Partly ? QColor(220, 220, 220) : QColor(Qt::white));
  Painter.drawRect(Box);
  if (AState == csUnchecked)
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

// In the order GetCheckStateImageIndex counts them: check state + 1.
QList<QPixmap> DrawCheckStateImages() {
  return {BlankImage(), DrawCheckStateImage(csUnchecked), DrawCheckStateImage(csChecked),
          DrawCheckStateImage(csPartlyChecked)};
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
  FTreeModel = new TFolderTreeModel(FContext, ilFileTypes, this, &FShown);
  FListModel = new TFolderListModel(FContext, ilFileTypes, this, &FShown);

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

  lblStatus = new QLabel(this);
  lblStatus->setObjectName(QStringLiteral("lblStatus"));
  // A long line is cut at the window's edge rather than widening the page.
  lblStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(lblDriveCaption);
  Layout->addWidget(Splitter1, 1);
  Layout->addWidget(lblStatus);
  UpdateStatusLine();
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
  // A click on a column's header sorts by it, a second click the other way;
  // the name order comes first.
  Header->setSortIndicator(TFolderListModel::colFileName, Qt::AscendingOrder);
  Header->setSortIndicatorShown(true);
  lvFiles->setSortingEnabled(true);
  connect(Header, &QHeaderView::sortIndicatorChanged, this, [this] { lvFiles->scrollTo(lvFiles->currentIndex()); });
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
  connect(lvFiles->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { btnPreview->setEnabled(CurrentFile() != nullptr); });
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
  btnPreview = MakeButton("btnPreview", QStringLiteral("Pre&view"), &TViewSourcePage::btnPreviewClick);
  btnPreview->setToolTip(QStringLiteral("Shows the first bytes of the file in the list (F3)"));
  btnPreview->setEnabled(false);
  actPreview = new QAction(QStringLiteral("Preview"), this);
  actPreview->setShortcut(QKeySequence(Qt::Key_F3));
  actPreview->setShortcutContext(Qt::WidgetWithChildrenShortcut);
  addAction(actPreview);
  connect(actPreview, &QAction::triggered, btnPreview, &QPushButton::click);

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
  Buttons->addWidget(btnPreview);
  auto* Search = new QHBoxLayout;
  Search->addWidget(Label1);
  Search->addWidget(edtSearchMask, 1);
  Search->addWidget(btnSearch);
  auto* Layout = new QVBoxLayout(Panel5);
  Layout->addLayout(Buttons);
  Layout->addLayout(Search);
  Layout->addLayout(BuildFilterBar());
  return Panel5;
}

// Every change of a filter shows its result at once; a range applies while
// its check box is ticked.
QLayout* TViewSourcePage::BuildFilterBar() {
  const auto Changed = [this] { RunUserAction([this] { FilterChanged(); }); };
  const auto MakeCheckBox = [&](const char* AName, const QString& ACaption) {
    auto* Box = new QCheckBox(ACaption, Panel5);
    Box->setObjectName(QLatin1String(AName));
    connect(Box, &QCheckBox::toggled, this, Changed);
    return Box;
  };
  const auto MakeToLabel = [this](const char* AName, const QString& ACaption, QWidget* ABuddy) {
    auto* Label = new QLabel(ACaption, Panel5);
    Label->setObjectName(QLatin1String(AName));
    Label->setBuddy(ABuddy);
    return Label;
  };
  chkRestorableOnly = MakeCheckBox("chkRestorableOnly", QStringLiteral("Only files that can be &restored"));
  chkRestorableOnly->setToolTip(QStringLiteral("Shows only the files estimated less than 5 % overwritten"));

  // A range's fields work while its check box is ticked.
  const auto InRange = [this, Changed](QCheckBox* ARange, QWidget* AField) {
    AField->setEnabled(false);
    connect(ARange, &QCheckBox::toggled, AField, &QWidget::setEnabled);
    return [ARange, Changed] {
      if (ARange->isChecked())
        Changed();
    };
  };

  chkSize = MakeCheckBox("chkSize", QStringLiteral("Si&ze from (KiB):"));
  const auto MakeSize = [&](const char* AName, int AValue) {
    auto* Box = new QSpinBox(Panel5);
    Box->setObjectName(QLatin1String(AName));
    Box->setRange(0, std::numeric_limits<int>::max());
    Box->setValue(AValue);
    Box->setGroupSeparatorShown(true);
    connect(Box, &QSpinBox::valueChanged, this, InRange(chkSize, Box));
    return Box;
  };
  spnSizeFrom = MakeSize("spnSizeFrom", 0);
  spnSizeTo = MakeSize("spnSizeTo", DefaultMaxSizeKiB);
  lblSizeTo = MakeToLabel("lblSizeTo", QStringLiteral("&up to"), spnSizeTo);

  const auto MakeDate = [&](QCheckBox* ARange, const char* AName, const QDate& AValue) {
    auto* Edit = new QDateEdit(AValue, Panel5);
    Edit->setObjectName(QLatin1String(AName));
    Edit->setCalendarPopup(true);
    connect(Edit, &QDateEdit::dateChanged, this, InRange(ARange, Edit));
    return Edit;
  };
  const QDate Today = QDate::currentDate();
  chkDate = MakeCheckBox("chkDate", QStringLiteral("Created &from:"));
  dteFrom = MakeDate(chkDate, "dteFrom", Today.addYears(-1));
  dteTo = MakeDate(chkDate, "dteTo", Today);
  lblDateTo = MakeToLabel("lblDateTo", QStringLiteral("t&o"), dteTo);
  chkDeleted = MakeCheckBox("chkDeleted", QStringLiteral("D&eleted from:"));
  chkDeleted->setToolTip(QStringLiteral("Shows only the files whose deletion time the Recycle Bin kept"));
  dteDeletedFrom = MakeDate(chkDeleted, "dteDeletedFrom", Today.addMonths(-1));
  dteDeletedTo = MakeDate(chkDeleted, "dteDeletedTo", Today);
  lblDeletedTo = MakeToLabel("lblDeletedTo", QStringLiteral("unt&il"), dteDeletedTo);

  lblFilterOn = new QLabel(QStringLiteral("Filter on"), Panel5);
  lblFilterOn->setObjectName(QStringLiteral("lblFilterOn"));
  lblFilterOn->setStyleSheet(QStringLiteral("QLabel { background: #fff3b0; font-weight: bold; padding: 0 4px; }"));
  lblFilterOn->setVisible(false);

  // One filter a line keeps the right side as narrow as the tree needs it.
  auto* Grid = new QGridLayout;
  Grid->addWidget(chkRestorableOnly, 0, 0, 1, 4);
  Grid->addWidget(lblFilterOn, 0, 4, Qt::AlignLeft);
  const auto AddRange = [Grid](int ARow, std::initializer_list<QWidget*> AControls) {
    int Column = 0;
    for (QWidget* Control : AControls)
      Grid->addWidget(Control, ARow, Column++);
  };
  AddRange(1, {chkSize, spnSizeFrom, lblSizeTo, spnSizeTo});
  AddRange(2, {chkDate, dteFrom, lblDateTo, dteTo});
  AddRange(3, {chkDeleted, dteDeletedFrom, lblDeletedTo, dteDeletedTo});
  Grid->setColumnStretch(4, 1);
  return Grid;
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

void TViewSourcePage::BuildTree(PTreeItemInfo ASelect) {
  {
    TWaitCursor Busy;
    FShown.Apply(FilterOfControls(), FContext.TreeItems());
    FTreeModel->Build(FContext.TreeItems());
  }
  lblFilterOn->setVisible(FShown.IsActive());
  QModelIndex Selected = FTreeModel->IndexOf(ASelect);
  if (Selected.isValid()) {
    for (QModelIndex Above = Selected.parent(); Above.isValid(); Above = Above.parent())
      tvFiles->expand(Above);
  } else {
    Selected = FTreeModel->index(0, 0);
    tvFiles->expand(Selected);
  }
  if (Selected.isValid())
    tvFiles->setCurrentIndex(Selected);
  else
    ShowFolder(nullptr);
  UpdateStatusLine();
}

TFileFilter TViewSourcePage::FilterOfControls() const {
  TFileFilter Filter;
  Filter.RestorableOnly = chkRestorableOnly->isChecked();
  if (chkSize->isChecked()) {
    Filter.MinSize = spnSizeFrom->value() * FilterSizeUnit;
    Filter.MaxSize = spnSizeTo->value() * FilterSizeUnit;
  }
  if (chkDate->isChecked()) {
    Filter.CreatedFrom = FileTimeOfLocalDay(dteFrom->date());
    Filter.CreatedBefore = FileTimeOfLocalDay(dteTo->date().addDays(1));
  }
  if (chkDeleted->isChecked()) {
    Filter.DeletedFrom = FileTimeOfLocalDay(dteDeletedFrom->date());
    Filter.DeletedBefore = FileTimeOfLocalDay(dteDeletedTo->date().addDays(1));
  }
  return Filter;
}

// The tree and the list keep showing the folders they showed, opened as
// they were, as far as the new filter lets them.
void TViewSourcePage::FilterChanged() {
  const PTreeItemInfo Selected = NodeOfIndex(tvFiles->currentIndex());
  const PTreeItemInfo Listed = FListViewParent;
  std::vector<PTreeItemInfo> Expanded;
  std::vector<QModelIndex> ToVisit{QModelIndex()};
  while (!ToVisit.empty()) {
    const QModelIndex Parent = ToVisit.back();
    ToVisit.pop_back();
    for (int Row = 0; Row < FTreeModel->rowCount(Parent); ++Row) {
      const QModelIndex Child = FTreeModel->index(Row, 0, Parent);
      if (tvFiles->isExpanded(Child)) {
        Expanded.push_back(NodeOfIndex(Child));
        ToVisit.push_back(Child);
      }
    }
  }
  BuildTree(Selected);
  for (const PTreeItemInfo Folder : Expanded)
    tvFiles->expand(FTreeModel->IndexOf(Folder));
  if (Listed && Listed != FListViewParent && FShown.IsShown(Listed))
    ShowFolder(Listed);
}

// The files the restore will write, as far as they are shown, and how many
// of them are likely lost already.
void TViewSourcePage::UpdateStatusLine() {
  const TTickCounts Counts = CountTicks(FContext.TreeItems(), FShown);
  const QLocale Locale = QLocale::system();
  QString Text = QStringLiteral("Ticked: %1, %2; estimated overwritten among them: %3, %4")
                     .arg(FilesText(Counts.Files), Locale.formattedDataSize(Counts.Bytes),
                          FilesText(Counts.OverwrittenFiles), Locale.formattedDataSize(Counts.OverwrittenBytes));
  if (Counts.HiddenFiles > 0)
    Text += QStringLiteral("; %1 ticked but hidden by the filter").arg(FilesText(Counts.HiddenFiles));
  lblStatus->setText(Text);
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
  UpdateStatusLine();
  if (App())
    App()->UpdateStatus();
}

void TViewSourcePage::SelectAll(const IExListPtr& AItems, bool AChecked) {
  if (!FShown.IsActive()) {
    FContext.CheckAll(AItems, AChecked);
    return;
  }
  ForEachTreeNode(AItems, [&](PTreeItemInfo ANode) {
    if (!ANode->Data->IsDirectory && FShown.IsShown(ANode))
      SetCheckState(FContext, ANode, AChecked, false, true);
  });
}

void TViewSourcePage::SelectGood(const IExListPtr& AItems) {
  if (!FShown.IsActive()) {
    FContext.SmartCheck(AItems);
    return;
  }
  ForEachTreeNode(AItems, [&](PTreeItemInfo ANode) {
    if (!ANode->Data->IsDirectory && FShown.IsShown(ANode))
      SetCheckState(FContext, ANode, ANode->Data->OverwritePercent < GoodFileThreshold, false, true);
  });
}

void TViewSourcePage::treeSelectGoodClick() {
  SelectGood(FContext.TreeItems());
  RefreshChecks();
}

void TViewSourcePage::treeSelectAllClick() {
  SelectAll(FContext.TreeItems(), true);
  RefreshChecks();
}

void TViewSourcePage::treeDeselectAllClick() {
  SelectAll(FContext.TreeItems(), false);
  RefreshChecks();
}

void TViewSourcePage::ForListedFolder(const std::function<void(const IExListPtr& AItems)>& ACommand) {
  if (!FListViewParent)
    return;
  ACommand(FListViewParent->SubItems);
  RefreshChecks();
}

void TViewSourcePage::listSelectGoodClick() {
  ForListedFolder([this](const IExListPtr& AItems) { SelectGood(AItems); });
}

void TViewSourcePage::listSelectAllClick() {
  ForListedFolder([this](const IExListPtr& AItems) { SelectAll(AItems, true); });
}

void TViewSourcePage::listDeselectAllClick() {
  ForListedFolder([this](const IExListPtr& AItems) { SelectAll(AItems, false); });
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

PTreeItemInfo TViewSourcePage::CurrentFile() const {
  const PTreeItemInfo Node = NodeOfIndex(lvFiles->currentIndex());
  return Node && Node->Data && !Node->Data->IsDirectory ? Node : nullptr;
}

// The bytes come through the engine from the source drive, under a
// progress level whose Cancel stops a slow drive.
void TViewSourcePage::btnPreviewClick() {
  const PTreeItemInfo File = CurrentFile();
  if (!File)
    return;
  std::string Bytes;
  std::vector<TClaimant> Claimants;
  {
    TWaitCursor Busy;
    Bytes = FContext.ReadFileStart(File, PreviewReadLimit);
    Claimants = FContext.ClaimantsOf({File}).front();
  }
  if (!FPreview)
    FPreview = new TPreviewDialog(this);
  // Only a file put back from the Recycle Bin knows when it was deleted.
  const QString FromRecycleBin =
      File->Data->DeletionTime == 0
          ? QString()
          : QStringLiteral("From the emptied Recycle Bin: it was %1 until %2.")
                .arg(QString::fromStdU16String(TNTFSRecoveryContext::GetFullName(File, true)),
                     DeletionTimeText(*File->Data));
  FPreview->ShowFile(QString::fromStdU16String(File->Data->Name), File->Data->DataSize, File->Data->OverwritePercent,
                     QByteArray::fromStdString(Bytes), FromRecycleBin,
                     ClaimantsText(Claimants, QString::fromStdU16String(FContext.SourceDriveName())));
}

void TViewSourcePage::ToggleCurrent(const QAbstractItemView& AView) {
  const QModelIndex Current = AView.currentIndex();
  if (!Current.isValid())
    return;
  ToggleCheckState(FContext, NodeOfIndex(Current));
  RefreshChecks();
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

// Space ticks the current node. Other keys would move the selection or
// expand a node, which is refused while the mouse pointer rests on a tick
// picture. Tab still leaves the tree and the menu key still opens the menu.
bool TViewSourcePage::TreeEvent(QEvent& AEvent) {
  if (AEvent.type() != QEvent::KeyPress)
    return false;
  const int Key = static_cast<const QKeyEvent&>(AEvent).key();
  if (Key == Qt::Key_Space) {
    ToggleCurrent(*tvFiles);
    return true;
  }
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

// Enter opens the folder as a double click does, Backspace goes up, Space
// ticks.
bool TViewSourcePage::ListEvent(QEvent& AEvent) {
  if (AEvent.type() != QEvent::KeyPress)
    return false;
  const int Key = static_cast<const QKeyEvent&>(AEvent).key();
  if (Key == Qt::Key_Space)
    ToggleCurrent(*lvFiles);
  else if (IsEnterKey(Key))
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
