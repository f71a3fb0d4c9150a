#include "wizard/uRestorePage.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextEdit>
#include <QUrl>
#include <QVBoxLayout>

#include "engine/uAppContext.h"
#include "foundation/uUnicode.h"
#include "progress/uRichEditProgressEx.h"
#include "wizard/uWizardMain.h"

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

  btnOpenTarget = new QPushButton(QStringLiteral("&Open target folder"), this);
  btnOpenTarget->setObjectName(QStringLiteral("btnOpenTarget"));
  btnOpenTarget->setToolTip(QStringLiteral("Opens the folder the files were restored into"));
  btnOpenTarget->setVisible(false);
  connect(btnOpenTarget, &QPushButton::clicked, this, [this] { RunUserAction([this] { btnOpenTargetClick(); }); });

  auto* Buttons = new QHBoxLayout;
  Buttons->addStretch(1);
  Buttons->addWidget(btnOpenTarget);
  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Label1);
  Layout->addWidget(reLog, 1);
  Layout->addLayout(Buttons);
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
  btnOpenTarget->setVisible(true);
}

void TRestorePage::PageBeforeExit(bool AForward, bool& AllowExit) {
  btnOpenTarget->setVisible(false);
  UnregisterLogView();
  TWizardPage::PageBeforeExit(AForward, AllowExit);
}

// The desktop's own handler for folders opens it, through xdg-open.
void TRestorePage::btnOpenTargetClick() {
  const QString Folder = QString::fromStdString(ToNativePath(FContext.GetTargetDir()));
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(Folder)))
    QMessageBox::warning(this, QStringLiteral("Error"), QStringLiteral("The folder %1 could not be opened.").arg(Folder));
}

void TRestorePage::UnregisterLogView() {
  if (Fp)
    ProgressEx::RemoveView(Fp);
}
