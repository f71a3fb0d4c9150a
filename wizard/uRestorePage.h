#pragma once

#include "progress/uProgressEx.h"
#include "wizard/uWizardPage.h"

class QLabel;
class QPushButton;
class QTextEdit;
class ISupportRecover;

// The last page: runs the recovery as soon as it is entered and keeps the
// log of every run of this program session in its log pane.
class TRestorePage : public TWizardPage {
public:
  explicit TRestorePage(ISupportRecover& AContext);
  ~TRestorePage() override;

  QString GetTitle() override;
  QString GetDescription() override;
  // Nothing follows this page.
  bool GetAllowNext() override;
  void PageBeforeEnter(bool AForward, bool& AllowEnter) override;
  void PageAfterEnter(bool AForward) override;
  void PageBeforeExit(bool AForward, bool& AllowExit) override;

protected:
  QTextEdit* reLog = nullptr;
  QLabel* Label1 = nullptr;
  // Shown once a recovery has returned: opens the target folder in the
  // desktop's file manager.
  QPushButton* btnOpenTarget = nullptr;

private:
  void UnregisterLogView();
  void btnOpenTargetClick();

  ISupportRecover& FContext;
  // The log pane's view, registered from entry to exit.
  IProgressExViewPtr Fp;
};
