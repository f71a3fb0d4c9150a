#include "progress/uProgressExForm.h"

#include "foundation/uUnicode.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kClientWidth = 565;
constexpr int kClientHeight = 175;
constexpr int kFrameMargin = 10;
constexpr int kTopStripHeight = 43;
constexpr int kTopStripBottomMargin = 5;
constexpr int kDetailMessageWidth = 337;
constexpr int kBarHeight = 18;
constexpr int kBottomStripHeight = 35;
constexpr int kTitleColumnWidth = 410;
constexpr int kStatusColumnWidth = 100;
constexpr int kFontPixelHeight = 11;

constexpr int kTitleColumn = 0;
constexpr int kStatusColumn = 1;
// The level's Id while it is open, 0 once it closed.
constexpr int kLevelIdRole = Qt::UserRole;

const char* const kStatusInProgress = "in progress";
const char* const kStatusSuccess = "success";
const char* const kStatusCanceled = "canceled";

// Open levels are drawn bold; the Id doubles as that mark.
void SetRowLevelId(QTreeWidgetItem& ARow, std::int32_t AId) {
  ARow.setData(kTitleColumn, kLevelIdRole, AId);
  for (int column : {kTitleColumn, kStatusColumn}) {
    QFont font = ARow.treeWidget()->font();
    font.setBold(AId != 0);
    ARow.setFont(column, font);
  }
}

QLabel* NewRightAlignedTime(QWidget* AParent, const char* AObjectName) {
  auto* label = new QLabel(ProgressTimeText(0), AParent);
  label->setObjectName(QString::fromLatin1(AObjectName));
  label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  return label;
}

} // namespace

QString ProgressTimeText(std::int64_t ASeconds) {
  const long long hours = ASeconds / 3600;
  const long long minutes = (ASeconds % 3600) / 60;
  const long long seconds = ASeconds % 60;
  return QString::asprintf("%.2lld:%.2lld:%.2lld", hours, minutes, seconds);
}

QString ProgressLevelLine(const IProgressExInfo& AItem) {
  // One pass over the pattern, so that a "%1" inside a title (a file name)
  // is left alone.
  const QString index = QString::number(AItem.GetIndex());
  const QString title = QString::fromStdString(EscapeControls(AItem.GetTitle()));
  if (AItem.GetCount() <= 0)
    return QStringLiteral("%1. %2").arg(index, title);
  return QStringLiteral("%1. %2 ( %3 %4)")
      .arg(index, title, QString::number(AItem.GetCount()),
           QString::fromStdString(AItem.GetMeasure()));
}

TProgressExForm::TProgressExForm(QWidget* AAnchor)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) {
  setObjectName(QStringLiteral("ProgressExForm"));
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(kFontPixelHeight);
  setFont(font);
  setFixedSize(kClientWidth, kClientHeight);
  BuildLayout();
  PlaceOver(AAnchor);
}

void TProgressExForm::BuildLayout() {
  auto* frame = new QFrame(this);
  frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(frame);

  auto* topStrip = new QWidget(frame);
  topStrip->setFixedHeight(kTopStripHeight);
  lblDetailMessage = new QLabel(QStringLiteral("Waiting..."), topStrip);
  lblDetailMessage->setObjectName(QStringLiteral("lblDetailMessage"));
  lblDetailMessage->setFixedWidth(kDetailMessageWidth);
  lblElapsed = NewRightAlignedTime(topStrip, "lblElapsed");
  lblRest = NewRightAlignedTime(topStrip, "lblRest");
  pbProgress = new QProgressBar(topStrip);
  pbProgress->setObjectName(QStringLiteral("pbProgress"));
  pbProgress->setRange(0, BarMaximum);
  pbProgress->setValue(0);
  pbProgress->setTextVisible(false);
  pbProgress->setFixedHeight(kBarHeight);
  auto* top = new QGridLayout(topStrip);
  top->setContentsMargins(0, 0, 0, kTopStripBottomMargin);
  top->addWidget(lblDetailMessage, 0, 0);
  top->setColumnStretch(1, 1);
  top->addWidget(new QLabel(QStringLiteral("Elapsed:"), topStrip), 0, 2);
  top->addWidget(lblElapsed, 0, 3);
  top->addWidget(new QLabel(QStringLiteral("Remain:"), topStrip), 0, 4);
  top->addWidget(lblRest, 0, 5);
  top->addWidget(pbProgress, 1, 0, 1, 6);

  lvItems = new QTreeWidget(frame);
  lvItems->setObjectName(QStringLiteral("lvItems"));
  lvItems->setColumnCount(2);
  lvItems->setHeaderLabels({QStringLiteral("Title"), QStringLiteral("Status")});
  lvItems->setHeaderHidden(true);
  lvItems->header()->setSectionResizeMode(QHeaderView::Fixed);
  lvItems->header()->setStretchLastSection(false);
  lvItems->setColumnWidth(kTitleColumn, kTitleColumnWidth);
  lvItems->setColumnWidth(kStatusColumn, kStatusColumnWidth);
  // Children hang under their parent's row, indented by one step; nothing
  // can be folded away.
  lvItems->setRootIsDecorated(false);
  lvItems->setItemsExpandable(false);
  lvItems->setEditTriggers(QAbstractItemView::NoEditTriggers);
  lvItems->setSelectionBehavior(QAbstractItemView::SelectRows);
  QPalette white = lvItems->palette();
  white.setColor(QPalette::Base, Qt::white);
  lvItems->setPalette(white);

  auto* bottomStrip = new QWidget(frame);
  bottomStrip->setFixedHeight(kBottomStripHeight);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), bottomStrip);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  connect(btnCancel, &QPushButton::clicked, this, &TProgressExForm::btnCancelClick);
  auto* bottom = new QHBoxLayout(bottomStrip);
  bottom->setContentsMargins(0, 0, 0, 0);
  bottom->addWidget(btnCancel, 0, Qt::AlignCenter);

  auto* inner = new QVBoxLayout(frame);
  inner->setContentsMargins(kFrameMargin, kFrameMargin, kFrameMargin, kFrameMargin);
  inner->setSpacing(0);
  inner->addWidget(topStrip);
  inner->addWidget(lvItems, 1);
  inner->addWidget(bottomStrip);
}

void TProgressExForm::PlaceOver(QWidget* AAnchor) {
  QWidget* anchorWindow = AAnchor ? AAnchor->window() : nullptr;
  QRect area;
  if (anchorWindow != nullptr)
    area = anchorWindow->frameGeometry();
  else if (QScreen* screen = QGuiApplication::primaryScreen())
    area = screen->availableGeometry();
  QRect placed(QPoint(0, 0), size());
  placed.moveCenter(area.center());
  move(placed.topLeft());

  // Stay above the main window without being owned by it: only the view
  // destroys this window.
  if (anchorWindow != nullptr && anchorWindow->windowHandle() != nullptr) {
    winId();
    windowHandle()->setTransientParent(anchorWindow->windowHandle());
  }
}

void TProgressExForm::AddItem(IProgressExInfo& AItem) {
  const QString line = ProgressLevelLine(AItem);
  const std::int32_t level = AItem.GetLevel();
  if ((level == 0 || level == 1) && FSubCount <= MaxListedSubCount) {
    QTreeWidgetItem* row = AddRow(AItem, line);
    RefreshFigures(AItem);
    lvItems->scrollToItem(row);
    PumpMessages();
  }
  FSubCount += AItem.GetCount();
  ShowDetailMessage(line);
}

QTreeWidgetItem* TProgressExForm::AddRow(const IProgressExInfo& AItem, const QString& ALine) {
  QTreeWidgetItem* parentRow = FindRow(AItem.GetParentId());
  auto* row = parentRow ? new QTreeWidgetItem(parentRow) : new QTreeWidgetItem(lvItems);
  row->setText(kTitleColumn, ALine);
  row->setText(kStatusColumn, QString::fromLatin1(kStatusInProgress));
  SetRowLevelId(*row, AItem.GetId());
  if (parentRow != nullptr)
    parentRow->setExpanded(true);
  return row;
}

void TProgressExForm::UpdateItem(IProgressExInfo& AItem) {
  if (FindRow(AItem.GetId()) != nullptr)
    RefreshFigures(AItem);
  PumpMessages();
  CancelIfRequested(AItem);
}

void TProgressExForm::CloseItem(IProgressExInfo& AItem) {
  FSubCount -= AItem.GetCount();
  QTreeWidgetItem* row = FindRow(AItem.GetId());
  if (row == nullptr)
    return;
  row->setText(kStatusColumn,
               QString::fromLatin1(AItem.IsCanceled() ? kStatusCanceled : kStatusSuccess));
  RefreshFigures(AItem);
  ShowDetailMessage(QString::fromStdString(EscapeControls(AItem.GetTitle())));
  SetRowLevelId(*row, 0);
  lvItems->viewport()->repaint();
}

void TProgressExForm::Detail(IProgressExInfo& AItem, const std::string& /*AMessage*/,
                             TProgressDetailStatus /*AStatus*/) {
  // The message itself belongs to the log pane; here a detail is only a
  // chance to stay responsive and to hear Cancel.
  PumpMessages();
  CancelIfRequested(AItem);
}

void TProgressExForm::btnCancelClick() {
  FCanceled = true;
}

// A press of Cancel stays in force for the rest of this window's life: every
// later report cancels whatever level is then innermost.
void TProgressExForm::CancelIfRequested(IProgressExInfo& AItem) {
  if (FCanceled)
    AItem.Cancel();
}

QTreeWidgetItem* TProgressExForm::FindRow(std::int32_t AId) const {
  if (AId == 0)
    return nullptr;
  for (QTreeWidgetItemIterator row(lvItems); *row != nullptr; ++row)
    if ((*row)->data(kTitleColumn, kLevelIdRole).toInt() == AId)
      return *row;
  return nullptr;
}

void TProgressExForm::RefreshFigures(const IProgressExInfo& AItem) {
  // The service does not clamp the percentage; the bar shows at most full.
  const double position = std::clamp(BarMaximum * AItem.GetProgress() / 100, 0.0,
                                     static_cast<double>(BarMaximum));
  pbProgress->setValue(static_cast<int>(std::nearbyint(position)));
  lblElapsed->setText(ProgressTimeText(AItem.GetElapsedSeconds()));
  lblRest->setText(ProgressTimeText(AItem.GetEstimatedSeconds() - AItem.GetElapsedSeconds()));
}

// Long paths are shortened in the middle; the whole text stays in the tooltip.
void TProgressExForm::ShowDetailMessage(const QString& AText) {
  lblDetailMessage->setToolTip(AText);
  lblDetailMessage->setText(
      lblDetailMessage->fontMetrics().elidedText(AText, Qt::ElideMiddle, lblDetailMessage->width()));
}

void TProgressExForm::PumpMessages() {
  QCoreApplication::processEvents();
}

TProgressExFormView::TProgressExFormView(QWidget* AAnchor) : FAnchor(AAnchor) {}

TProgressExFormView::~TProgressExFormView() {
  FreeForm();
}

void TProgressExFormView::SetAnchor(QWidget* AAnchor) {
  FAnchor = AAnchor;
}

TProgressExForm* TProgressExFormView::Form() const {
  return FForm.data();
}

TProgressExForm& TProgressExFormView::GetForm() {
  if (FForm.isNull())
    FForm = new TProgressExForm(FAnchor.data());
  // Shown again at every notification, in case something hid it; never
  // raised, so that a long scan does not pull the window over other programs.
  FForm->show();
  return *FForm;
}

void TProgressExFormView::FreeForm() {
  delete FForm.data();
}

void TProgressExFormView::AddItem(IProgressExInfo& AItem) {
  ++FItemCount;
  GetForm().AddItem(AItem);
}

void TProgressExFormView::UpdateItem(IProgressExInfo& AItem) {
  GetForm().UpdateItem(AItem);
}

void TProgressExFormView::CloseItem(IProgressExInfo& AItem) {
  if (FItemCount > 0)
    GetForm().CloseItem(AItem);
  --FItemCount;
  if (FItemCount < 1) {
    FreeForm();
    FItemCount = 0;
  }
}

void TProgressExFormView::Detail(IProgressExInfo& AItem, const std::string& AMessage,
                                 TProgressDetailStatus AStatus) {
  GetForm().Detail(AItem, AMessage, AStatus);
}

TProgressExFormRegistration::TProgressExFormRegistration(QWidget* AAnchor)
    : FView(std::make_shared<TProgressExFormView>(AAnchor)) {
  ProgressEx::AddView(FView);
}

TProgressExFormRegistration::~TProgressExFormRegistration() {
  ProgressEx::RemoveView(FView);
}
