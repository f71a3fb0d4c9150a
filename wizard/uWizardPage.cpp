#include "wizard/uWizardPage.h"

namespace {
constexpr int PageMargin = 16;
}

TWizardPage::TWizardPage() : QWidget(nullptr) {
  setContentsMargins(PageMargin, PageMargin, PageMargin, PageMargin);
  setFont(QFont(QStringLiteral("Tahoma"), 8));
  hide();
}

void TWizardPage::WizardRun(IWizardApplication* AApp) { FApp = AApp; }

void TWizardPage::WizardStop(IWizardApplication*) { FApp = nullptr; }

bool TWizardPage::GetLogoVisible() { return false; }

bool TWizardPage::IsSuitable() { return true; }

void TWizardPage::PageBeforeEnter(bool, bool&) {}

void TWizardPage::PageAfterEnter(bool) {
  FIsActive = true;
  FocusFirstTabStop();
}

void TWizardPage::PageBeforeExit(bool, bool&) {}

void TWizardPage::PageAfterExit(bool) { FIsActive = false; }

bool TWizardPage::GetAllowNext() { return false; }

bool TWizardPage::GetAllowPrevious() { return true; }

bool TWizardPage::NeedToListenMessages() { return false; }

void TWizardPage::ListenWizardMessage(QEvent&) {}

// Only direct children count, so the focus lands on the page's own first
// field and never inside a nested group; without one it stays where it is.
void TWizardPage::FocusFirstTabStop() {
  for (QWidget* Candidate = nextInFocusChain(); Candidate != this;
       Candidate = Candidate->nextInFocusChain()) {
    const bool TakesFocus = (Candidate->focusPolicy() & Qt::TabFocus) &&
                            Candidate->isEnabled() && Candidate->isVisibleTo(this);
    if (Candidate->parentWidget() == this && TakesFocus) {
      Candidate->setFocus(Qt::TabFocusReason);
      return;
    }
  }
}
