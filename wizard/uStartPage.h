#pragma once

#include "wizard/uWizardPage.h"

class QPlainTextEdit;

// The first page: greets the user and says in a few lines what the program
// does. It is the only page that shows the logo panel.
class TStartPage : public TWizardPage {
public:
  TStartPage();

  QString GetTitle() override;
  QString GetDescription() override;
  bool GetAllowNext() override;
  bool GetLogoVisible() override;

protected:
  QPlainTextEdit* Memo1 = nullptr;
};
