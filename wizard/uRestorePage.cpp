#include "wizard/uRestorePage.h"

#include <QLabel>
#include <QTextEdit>
#include <QVBoxLayout>

#include "engine/uAppContext.h"
#include "progress/uRichEditProgressEx.h"

namespace {
constexpr int CaptionHeight = 19;
}

TRestorePage::TRestorePage(ISupportRecover& AContext) : FContext(AContext) {
  Label1 = new QLabel(QStringLiteral("Log of restoring process:"), this);
  Label1->setObjectName(QStringLiteral("Label1"));
  Label1->setFixedHeight(CaptionHeight);

  reLog = new QTextEdit(this);
  reLog->setObjectName(QStringLiteral("reLog"));
  reLog->setReadOnly(true);
  reLog->setLineWrapMode(QTextEdit::NoWrap);
  reLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  reLog->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  reLog->setFont(QFont(QStringLiteral("Tahoma"), 8));
  reLog->setToolTip(QStringLiteral("The log of recovering process"));

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Label1);
  Layout->addWidget(reLog, 1);
}

TRestorePage::~TRestorePage() { UnregisterLogView(); }

QString TRestorePage::GetTitle() { return QStringLiteral("Restore data"); }

QString TRestorePage::GetDescription() { return QStringLiteral("Restore the all possible data"); }

bool TRestorePage::GetAllowNext() { return false; }

// Every visit writes through a view of its own; the log itself is never
// cleared, so it holds every run of this session in order.
void TRestorePage::PageBeforeEnter(bool AForward, bool& AllowEnter) {
  TWizardPage::PageBeforeEnter(AForward, AllowEnter);
  // A view left over from a visit that never exited would write each line twice.
  UnregisterLogView();
  Fp = std::make_shared<TRichEditProgressEx>(*reLog);
  ProgressEx::AddView(Fp);
}

// Runs inside the wizard's move, so its buttons stay disabled until the
// recovery returns; the progress window is the way to cancel.
void TRestorePage::PageAfterEnter(bool AForward) {
  TWizardPage::PageAfterEnter(AForward);
  FContext.ProcessRecover();
}

void TRestorePage::PageBeforeExit(bool AForward, bool& AllowExit) {
  UnregisterLogView();
  TWizardPage::PageBeforeExit(AForward, AllowExit);
}

void TRestorePage::UnregisterLogView() {
  if (Fp)
    ProgressEx::RemoveView(Fp);
}
