#pragma once

#include <memory>

#include <QString>
#include <QWidget>

class QEvent;
class IWizardApplication;

// The contract of a wizard page. The wizard knows pages only through it: it
// asks them where the user may go and tells them around every move.
class IWizardPage {
public:
  virtual ~IWizardPage() = default;

  virtual void WizardRun(IWizardApplication* AApp) = 0;
  virtual void WizardStop(IWizardApplication* AApp) = 0;
  virtual bool GetLogoVisible() = 0;
  // Unsuitable pages are skipped by moves in both directions.
  virtual bool IsSuitable() = 0;
  virtual bool GetAllowNext() = 0;
  virtual bool GetAllowPrevious() = 0;
  // Clearing AllowEnter or AllowExit refuses the move.
  virtual void PageBeforeEnter(bool AForward, bool& AllowEnter) = 0;
  virtual void PageAfterEnter(bool AForward) = 0;
  virtual void PageBeforeExit(bool AForward, bool& AllowExit) = 0;
  virtual void PageAfterExit(bool AForward) = 0;
  virtual QString GetTitle() = 0;
  // Also the hint of the button that leads to this page.
  virtual QString GetDescription() = 0;
  // Placed into the client area while the page is current; may be null.
  virtual QWidget* GetControl() = 0;
  // Asked once, when the page is added.
  virtual bool NeedToListenMessages() = 0;
  // Offered every event the wizard window receives while the wizard runs.
  virtual void ListenWizardMessage(QEvent& Message) = 0;
};

// What the wizard offers to its pages. Pages call only UpdateStatus, each
// time something their GetAllowNext depends on has changed.
class IWizardApplication {
public:
  virtual ~IWizardApplication() = default;

  virtual void Run() = 0;
  // The wizard owns the pages added to it.
  virtual void AddPage(std::unique_ptr<IWizardPage> APage) = 0;
  virtual void GoNextPage() = 0;
  virtual void GoPreviousPage() = 0;
  virtual void UpdateStatus() = 0;
  virtual void Stop() = 0;
};

// Base of all pages: a borderless child form with a 16-pixel inner margin
// that answers every page question with the usual default.
class TWizardPage : public QWidget, public IWizardPage {
public:
  TWizardPage();

  bool IsActive() const { return FIsActive; }
  IWizardApplication* App() const { return FApp; }

  void WizardRun(IWizardApplication* AApp) override;
  void WizardStop(IWizardApplication* AApp) override;
  bool GetLogoVisible() override;
  bool IsSuitable() override;
  void PageBeforeEnter(bool AForward, bool& AllowEnter) override;
  void PageAfterEnter(bool AForward) override;
  void PageBeforeExit(bool AForward, bool& AllowExit) override;
  void PageAfterExit(bool AForward) override;
  bool GetAllowNext() override;
  bool GetAllowPrevious() override;
  bool NeedToListenMessages() override;
  void ListenWizardMessage(QEvent& Message) override;
  QWidget* GetControl() final { return this; }

private:
  void FocusFirstTabStop();

  bool FIsActive = false;
  IWizardApplication* FApp = nullptr;
};
