#include "wizard/uWizardMain.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>
#include <QSvgRenderer>
#include <QVBoxLayout>

// ---------------------------------------------------------------------------
// Sequencing

namespace {

// Runs its action when the scope ends, also when an exception passes.
template <typename TAction>
class TScopeExit {
public:
  explicit TScopeExit(TAction AAction) : FAction(std::move(AAction)) {}
  ~TScopeExit() { FAction(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

private:
  TAction FAction;
};

}  // namespace

void TWizardSequence::AddPage(std::unique_ptr<IWizardPage> APage) {
  if (APage->NeedToListenMessages())
    FListenPages.push_back(APage.get());
  FPages.push_back(std::move(APage));
}

int TWizardSequence::IndexOf(IWizardPage* APage) const {
  const auto Found = std::find_if(FPages.begin(), FPages.end(),
                                  [APage](const auto& Page) { return Page.get() == APage; });
  return Found == FPages.end() ? -1 : static_cast<int>(Found - FPages.begin());
}

IWizardPage* TWizardSequence::FindNextPage(IWizardPage* From) const {
  const int Start = From ? IndexOf(From) : -1;
  for (std::size_t I = static_cast<std::size_t>(Start + 1); I < FPages.size(); ++I)
    if (FPages[I]->IsSuitable())
      return FPages[I].get();
  return nullptr;
}

IWizardPage* TWizardSequence::FindPreviousPage(IWizardPage* From) const {
  const int Start = From ? IndexOf(From) : -1;
  for (int I = Start - 1; I >= 0; --I)
    if (FPages[static_cast<std::size_t>(I)]->IsSuitable())
      return FPages[static_cast<std::size_t>(I)].get();
  return nullptr;
}

bool TWizardSequence::CanGoNext() {
  if (FChangingPage || !FCurPage)
    return false;
  return FCurPage->GetAllowNext() && FindNextPage(FCurPage) != nullptr;
}

bool TWizardSequence::CanGoPrevious() {
  if (FChangingPage || !FCurPage)
    return false;
  return FCurPage->GetAllowPrevious() && FindPreviousPage(FCurPage) != nullptr;
}

void TWizardSequence::UpdateButtons() {
  SetBottomPanelEnabled(!FChangingPage);
  SetNextEnabled(CanGoNext());
  SetPrevEnabled(CanGoPrevious());
}

void TWizardSequence::UpdateButtonHints() {
  if (IWizardPage* Next = FindNextPage(FCurPage))
    SetNextHint(Next->GetDescription());
  if (IWizardPage* Previous = FindPreviousPage(FCurPage))
    SetPrevHint(Previous->GetDescription());
}

void TWizardSequence::UpdateStatus() { UpdateButtons(); }

void TWizardSequence::HideShownControl() {
  if (FShownControl) {
    RemovePageControl(FShownControl);
    FShownControl = nullptr;
  }
}

void TWizardSequence::ShowPage(IWizardPage* APage) {
  HideShownControl();
  if (APage) {
    SetPageTexts(APage->GetTitle(), APage->GetDescription());
    if (QWidget* Control = APage->GetControl()) {
      PlacePageControl(Control);
      FShownControl = Control;
    }
  }
  ProcessMessages();
}

void TWizardSequence::EnterPage(IWizardPage* APage, bool AForward) {
  FCurPage = APage;
  SetLogoVisible(FCurPage->GetLogoVisible());
  ShowPage(FCurPage);
  FCurPage->PageAfterEnter(AForward);
}

void TWizardSequence::GoNextPage() { MovePage(true); }

void TWizardSequence::GoPreviousPage() { MovePage(false); }

void TWizardSequence::MovePage(bool AForward) {
  if (!(AForward ? CanGoNext() : CanGoPrevious()))
    return;
  bool AllowExit = true;
  bool AllowEnter = true;
  FChangingPage = true;
  UpdateStatus();
  {
    SetBusyCursor(true);
    // A hook that raises leaves Next and Back disabled until the next
    // UpdateStatus, but the move itself must always end.
    const TScopeExit EndMove([this] {
      FChangingPage = false;
      SetBusyCursor(false);
    });
    ProcessMessages();
    // Messages processed above may have changed which pages are suitable.
    IWizardPage* Target = AForward ? FindNextPage(FCurPage) : FindPreviousPage(FCurPage);
    if (Target) {
      FCurPage->PageBeforeExit(AForward, AllowExit);
      if (AllowExit)
        Target->PageBeforeEnter(AForward, AllowEnter);
      if (AllowExit && AllowEnter) {
        FCurPage->PageAfterExit(AForward);
        EnterPage(Target, AForward);
      }
    }
  }
  UpdateStatus();
  UpdateButtonHints();
}

void TWizardSequence::Run() {
  for (const auto& Page : FPages)
    Page->WizardRun(this);
  if (IWizardPage* First = FindNextPage(nullptr)) {
    bool IgnoredAllowEnter = true;  // the first page cannot refuse
    SetLogoVisible(First->GetLogoVisible());
    FCurPage = First;
    ShowPage(FCurPage);
    FCurPage->PageBeforeEnter(true, IgnoredAllowEnter);
    FCurPage->PageAfterEnter(true);
  }
  UpdateButtonHints();
  UpdateStatus();
  FRunning = true;
}

void TWizardSequence::Stop() {
  for (auto Page = FPages.rbegin(); Page != FPages.rend(); ++Page)
    (*Page)->WizardStop(this);
  FRunning = false;
}

void TWizardSequence::OfferMessage(QEvent& Message) {
  if (!FRunning)
    return;
  for (IWizardPage* Page : FListenPages)
    Page->ListenWizardMessage(Message);
}

// Unlike ShowPage(nullptr) this processes no messages: nothing may reach a
// window that is being destroyed.
void TWizardSequence::TearDown() {
  Stop();
  HideShownControl();
  FListenPages.clear();
  FCurPage = nullptr;
  FPages.clear();
}

// ---------------------------------------------------------------------------
// Exceptions of user actions

namespace {
TUserActionExceptionHandler& UserActionExceptionHandler() {
  static TUserActionExceptionHandler Handler;
  return Handler;
}
}  // namespace

void SetUserActionExceptionHandler(TUserActionExceptionHandler AHandler) {
  UserActionExceptionHandler() = std::move(AHandler);
}

void HandleUserActionException(const std::exception& E) {
  if (UserActionExceptionHandler())
    UserActionExceptionHandler()(E);
  else
    qWarning("%s", E.what());
}

void RunUserAction(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const std::exception& E) {
    HandleUserActionException(E);
  }
}

// ---------------------------------------------------------------------------
// The window

namespace {

constexpr int HeaderHeight = 67;
constexpr int BottomRowHeight = 57;
constexpr int LogoPanelWidth = 152;
constexpr int LogoSize = 128;
constexpr QPoint LogoPosition(10, 95);
constexpr QPoint TitlePosition(24, 11);
constexpr QPoint DescriptionPosition(40, 38);
constexpr int TitlePixelHeight = 17;
constexpr QSize ButtonSize(100, 26);
constexpr QSize WizardMinimumSize(655, 555);

QFrame* MakePanel(const char* AName, QWidget* AParent) {
  auto* Panel = new QFrame(AParent);
  Panel->setObjectName(QLatin1String(AName));
  return Panel;
}

QFrame* MakeBevel(QFrame::Shape AShape, QWidget* AParent) {
  auto* Bevel = new QFrame(AParent);
  Bevel->setFrameShape(AShape);
  Bevel->setFrameShadow(QFrame::Sunken);
  return Bevel;
}

void FillBackground(QWidget* AWidget, const QColor& AColor) {
  QPalette Palette = AWidget->palette();
  Palette.setColor(QPalette::Window, AColor);
  AWidget->setPalette(Palette);
  AWidget->setAutoFillBackground(true);
}

QPushButton* MakeButton(const char* AName, const QString& ACaption, const QString& AHint,
                        QStyle::StandardPixmap AGlyph, QWidget* AParent) {
  auto* Button = new QPushButton(ACaption, AParent);
  Button->setObjectName(QLatin1String(AName));
  Button->setFixedSize(ButtonSize);
  Button->setIcon(AParent->style()->standardIcon(AGlyph));
  Button->setToolTip(AHint);
  Button->setStatusTip(AHint);
  return Button;
}

void SetHint(QPushButton* AButton, const QString& AHint) {
  AButton->setToolTip(AHint);
  AButton->setStatusTip(AHint);
}

}  // namespace

TWizardMain::TWizardMain(QWidget* AOwner) : QMainWindow(AOwner) {
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  setMinimumSize(WizardMinimumSize);

  auto* Central = new QWidget(this);
  auto* Layout = new QVBoxLayout(Central);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(BuildHeader());
  Layout->addWidget(BuildMiddle(), 1);
  Layout->addWidget(BuildBottomRow());
  setCentralWidget(Central);

  UpdateStatus();
}

TWizardMain::~TWizardMain() { TearDown(); }

QWidget* TWizardMain::BuildHeader() {
  pnlTopMain = MakePanel("pnlTopMain", this);
  pnlTopMain->setFixedHeight(HeaderHeight);
  auto* Layout = new QVBoxLayout(pnlTopMain);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);

  Panel1 = MakePanel("Panel1", pnlTopMain);
  FillBackground(Panel1, Panel1->palette().color(QPalette::Base));
  lblPageTitle = new QLabel(Panel1);
  lblPageTitle->setObjectName(QStringLiteral("lblPageTitle"));
  QFont TitleFont(QStringLiteral("Tahoma"));
  TitleFont.setBold(true);
  TitleFont.setPixelSize(TitlePixelHeight);
  lblPageTitle->setFont(TitleFont);
  lblPageTitle->move(TitlePosition);
  lblPageDescription = new QLabel(Panel1);
  lblPageDescription->setObjectName(QStringLiteral("lblPageDescription"));
  lblPageDescription->move(DescriptionPosition);

  Layout->addWidget(Panel1, 1);
  Layout->addWidget(MakeBevel(QFrame::HLine, pnlTopMain));
  return pnlTopMain;
}

QWidget* TWizardMain::BuildMiddle() {
  pnlMiddleMain = MakePanel("pnlMiddleMain", this);
  auto* Layout = new QHBoxLayout(pnlMiddleMain);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);

  pnlLogo = MakePanel("pnlLogo", pnlMiddleMain);
  pnlLogo->setFixedWidth(LogoPanelWidth);
  auto* LogoLayout = new QHBoxLayout(pnlLogo);
  LogoLayout->setContentsMargins(0, 0, 0, 0);
  LogoLayout->setSpacing(0);
  Panel7 = MakePanel("Panel7", pnlLogo);
  FillBackground(Panel7, Qt::white);
  imgPageImage = new QLabel(Panel7);
  imgPageImage->setObjectName(QStringLiteral("imgPageImage"));
  imgPageImage->setGeometry(QRect(LogoPosition, QSize(LogoSize, LogoSize)));
  imgPageImage->setAlignment(Qt::AlignCenter);
  imgPageImage->setPixmap(DrawTarnwickLogo(LogoSize));
  LogoLayout->addWidget(Panel7, 1);
  LogoLayout->addWidget(MakeBevel(QFrame::VLine, pnlLogo));

  pnlClient = MakePanel("pnlClient", pnlMiddleMain);
  FClientLayout = new QVBoxLayout(pnlClient);
  FClientLayout->setContentsMargins(0, 0, 0, 0);

  // Kept for pages that may want a side panel; nothing shows it.
  pnlRightMain = MakePanel("pnlRightMain", pnlMiddleMain);
  pnlRightMain->hide();

  Layout->addWidget(pnlLogo);
  Layout->addWidget(pnlClient, 1);
  Layout->addWidget(pnlRightMain);
  return pnlMiddleMain;
}

QWidget* TWizardMain::BuildBottomRow() {
  pnlBottomMain = MakePanel("pnlBottomMain", this);
  pnlBottomMain->setFixedHeight(BottomRowHeight);
  auto* Layout = new QVBoxLayout(pnlBottomMain);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->setSpacing(0);
  Layout->addWidget(MakeBevel(QFrame::HLine, pnlBottomMain));

  btnPrev = MakeButton("btnPrev", QStringLiteral("  &Back"),
                       QStringLiteral("Click to return to the previous step."),
                       QStyle::SP_ArrowBack, pnlBottomMain);
  btnNext = MakeButton("btnNext", QStringLiteral("&Next  "), QStringLiteral("Click to go next"),
                       QStyle::SP_ArrowForward, pnlBottomMain);
  // Puts the glyph to the right of the caption.
  btnNext->setLayoutDirection(Qt::RightToLeft);
  btnExit = MakeButton("btnExit", QStringLiteral("  E&xit"),
                       QStringLiteral("Click to exit from application."),
                       QStyle::SP_DialogCloseButton, pnlBottomMain);

  auto* Row = new QHBoxLayout;
  Row->setContentsMargins(0, 14, 12, 0);
  Row->setSpacing(6);
  Row->addStretch(1);
  Row->addWidget(btnPrev);
  Row->addWidget(btnNext);
  Row->addSpacing(12);
  Row->addWidget(btnExit);
  Layout->addLayout(Row);
  Layout->addStretch(1);

  connect(btnPrev, &QPushButton::clicked, this, [this] { RunUserAction([this] { btnPrevClick(); }); });
  connect(btnNext, &QPushButton::clicked, this, [this] { RunUserAction([this] { btnNextClick(); }); });
  connect(btnExit, &QPushButton::clicked, this, [this] { RunUserAction([this] { btnExitClick(); }); });
  // Exit is the window's cancel button: Escape presses it wherever the focus is.
  auto* Escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(Escape, &QShortcut::activated, btnExit, &QPushButton::click);
  return pnlBottomMain;
}

void TWizardMain::RunMove(void (TWizardSequence::*AMove)()) {
  pnlBottomMain->setEnabled(false);
  const TScopeExit Enable([this] { pnlBottomMain->setEnabled(true); });
  (this->*AMove)();
}

void TWizardMain::btnNextClick() { RunMove(&TWizardSequence::GoNextPage); }

void TWizardMain::btnPrevClick() { RunMove(&TWizardSequence::GoPreviousPage); }

// Closing hides the window itself. Hiding it first would make the toolkit
// no longer count it as the last visible window, and the program would
// keep running without a window.
void TWizardMain::btnExitClick() { close(); }

bool TWizardMain::event(QEvent* AEvent) {
  const bool Handled = QMainWindow::event(AEvent);
  RunUserAction([this, AEvent] { OfferMessage(*AEvent); });
  return Handled;
}

void TWizardMain::closeEvent(QCloseEvent* AEvent) {
  RunUserAction([this] { FormClose(); });
  AEvent->accept();
}

void TWizardMain::FormClose() {}

void TWizardMain::SetPageTexts(const QString& ATitle, const QString& ADescription) {
  lblPageTitle->setText(ATitle);
  lblPageTitle->adjustSize();
  lblPageDescription->setText(ADescription);
  lblPageDescription->adjustSize();
}

void TWizardMain::PlacePageControl(QWidget* AControl) {
  AControl->hide();
  AControl->setParent(pnlClient);
  FClientLayout->addWidget(AControl);
  AControl->show();
  AControl->raise();
}

void TWizardMain::RemovePageControl(QWidget* AControl) {
  AControl->hide();
  FClientLayout->removeWidget(AControl);
}

void TWizardMain::SetLogoVisible(bool AVisible) { pnlLogo->setVisible(AVisible); }

void TWizardMain::SetBottomPanelEnabled(bool AEnabled) { pnlBottomMain->setEnabled(AEnabled); }

void TWizardMain::SetNextEnabled(bool AEnabled) { btnNext->setEnabled(AEnabled); }

void TWizardMain::SetPrevEnabled(bool AEnabled) { btnPrev->setEnabled(AEnabled); }

void TWizardMain::SetNextHint(const QString& AHint) { SetHint(btnNext, AHint); }

void TWizardMain::SetPrevHint(const QString& AHint) { SetHint(btnPrev, AHint); }

void TWizardMain::SetBusyCursor(bool ABusy) {
  if (ABusy)
    FBusy.emplace();
  else
    FBusy.reset();
}

void TWizardMain::ProcessMessages() { QCoreApplication::processEvents(); }

// ---------------------------------------------------------------------------
// The logo is the program's desktop icon, app/tarnwick.svg, built in as a
// resource: one picture for the icon, the window and the logo panel.

QPixmap DrawTarnwickLogo(int ASize) {
  QPixmap Logo(ASize, ASize);
  Logo.fill(Qt::transparent);
  QSvgRenderer Renderer(QStringLiteral(":/tarnwick.svg"));
  QPainter Painter(&Logo);
  Renderer.render(&Painter);
  return Logo;
}
