#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QMainWindow>

#include "progress/uWaitCursor.h"
#include "wizard/uWizardPage.h"

class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

// The sequencing of the wizard: which page is current, where Next and Back
// lead, and the hooks called around every move. It reaches the screen only
// through the view services below, so it runs the same without a display.
class TWizardSequence : public IWizardApplication {
public:
  TWizardSequence() = default;
  TWizardSequence(const TWizardSequence&) = delete;
  TWizardSequence& operator=(const TWizardSequence&) = delete;

  void Run() override;
  void AddPage(std::unique_ptr<IWizardPage> APage) override;
  void GoNextPage() override;
  void GoPreviousPage() override;
  void UpdateStatus() override;
  void Stop() override;

  // Unsuitable pages are skipped; null when there is no such page.
  IWizardPage* FindNextPage(IWizardPage* From) const;
  IWizardPage* FindPreviousPage(IWizardPage* From) const;
  virtual bool CanGoNext();
  virtual bool CanGoPrevious();

  IWizardPage* CurrentPage() const { return FCurPage; }
  bool IsRunning() const { return FRunning; }
  bool IsChangingPage() const { return FChangingPage; }

  // Hands a window event to the listening pages while the wizard runs.
  void OfferMessage(QEvent& Message);

protected:
  virtual void UpdateButtons();
  virtual void UpdateButtonHints();
  virtual void ShowPage(IWizardPage* APage);
  // The window's destruction: stops the wizard, hides the page control and
  // frees the pages while the view still exists. The page's header texts stay.
  void TearDown();

  // View services of the window.
  virtual void SetPageTexts(const QString& ATitle, const QString& ADescription) = 0;
  // Fills the client area with the control, visible and above its siblings.
  virtual void PlacePageControl(QWidget* AControl) = 0;
  // Hides the control and releases its alignment.
  virtual void RemovePageControl(QWidget* AControl) = 0;
  virtual void SetLogoVisible(bool AVisible) = 0;
  virtual void SetBottomPanelEnabled(bool AEnabled) = 0;
  virtual void SetNextEnabled(bool AEnabled) = 0;
  virtual void SetPrevEnabled(bool AEnabled) = 0;
  virtual void SetNextHint(const QString& AHint) = 0;
  virtual void SetPrevHint(const QString& AHint) = 0;
  virtual void SetBusyCursor(bool ABusy) = 0;
  // Lets the window repaint in the middle of a move.
  virtual void ProcessMessages() = 0;

private:
  void MovePage(bool AForward);
  void EnterPage(IWizardPage* APage, bool AForward);
  void HideShownControl();
  int IndexOf(IWizardPage* APage) const;

  bool FRunning = false;
  bool FChangingPage = false;
  IWizardPage* FCurPage = nullptr;
  QWidget* FShownControl = nullptr;
  std::vector<std::unique_ptr<IWizardPage>> FPages;
  std::vector<IWizardPage*> FListenPages;
};

// The wizard window: header with the page's title and description, logo
// panel, client area for the current page and the Back, Next, Exit row.
class TWizardMain : public QMainWindow, public TWizardSequence {
public:
  explicit TWizardMain(QWidget* AOwner = nullptr);
  ~TWizardMain() override;

protected:
  bool event(QEvent* AEvent) override;
  void closeEvent(QCloseEvent* AEvent) override;
  // Close handler of the window; the application window extends it.
  virtual void FormClose();

  void btnNextClick();
  void btnPrevClick();
  void btnExitClick();

  void SetPageTexts(const QString& ATitle, const QString& ADescription) override;
  void PlacePageControl(QWidget* AControl) override;
  void RemovePageControl(QWidget* AControl) override;
  void SetLogoVisible(bool AVisible) override;
  void SetBottomPanelEnabled(bool AEnabled) override;
  void SetNextEnabled(bool AEnabled) override;
  void SetPrevEnabled(bool AEnabled) override;
  void SetNextHint(const QString& AHint) override;
  void SetPrevHint(const QString& AHint) override;
  void SetBusyCursor(bool ABusy) override;
  void ProcessMessages() override;

  QFrame* pnlBottomMain = nullptr;
  QPushButton* btnExit = nullptr;
  QPushButton* btnNext = nullptr;
  QPushButton* btnPrev = nullptr;
  QFrame* pnlMiddleMain = nullptr;
  QFrame* pnlTopMain = nullptr;
  QFrame* pnlLogo = nullptr;
  QFrame* pnlRightMain = nullptr;
  QFrame* pnlClient = nullptr;
  QFrame* Panel7 = nullptr;
  QLabel* imgPageImage = nullptr;
  QFrame* Panel1 = nullptr;
  QLabel* lblPageTitle = nullptr;
  QLabel* lblPageDescription = nullptr;

private:
  QWidget* BuildHeader();
  QWidget* BuildMiddle();
  QWidget* BuildBottomRow();
  void RunMove(void (TWizardSequence::*AMove)());

  QVBoxLayout* FClientLayout = nullptr;
  // The hourglass of a move, from its start to its end.
  std::optional<TWaitCursor> FBusy;
};

// Exceptions raised while handling a user action must not unwind through the
// toolkit's own frames, which are not built to pass them: every handler the
// toolkit calls runs through RunUserAction, which hands an exception to the
// installed handler and lets the event loop go on. The application window
// installs the "Error" box; without a handler the text goes to the log output.
using TUserActionExceptionHandler = std::function<void(const std::exception& E)>;
void SetUserActionExceptionHandler(TUserActionExceptionHandler AHandler);
void HandleUserActionException(const std::exception& E);
void RunUserAction(const std::function<void()>& AAction);

// The program's logo as the logo panel and the window icon show it.
QPixmap DrawTarnwickLogo(int ASize);
