#include "wizard/uStartPage.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

const QStringList Greeting = {
    QStringLiteral("Software helps to recover deleted files from Hard Disk Drives formatted under NTFS."),
    QStringLiteral("Tool can recover deleted files if subsequent operations with the disk didn't rewrite last one."),
    QString(),
    QStringLiteral("For start recovery please press <Next> button."),
    QString()};

}  // namespace

TStartPage::TStartPage() {
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName(QStringLiteral("Memo1"));
  Memo1->setReadOnly(true);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setFocusPolicy(Qt::NoFocus);
  // The text lies on the page like printed words, not in an input field.
  QPalette Palette = Memo1->palette();
  Palette.setColor(QPalette::Base, Palette.color(QPalette::Button));
  Memo1->setPalette(Palette);
  Memo1->setPlainText(Greeting.join(QLatin1Char('\n')));

  auto* Layout = new QVBoxLayout(this);
  Layout->setContentsMargins(0, 0, 0, 0);
  Layout->addWidget(Memo1);
}

QString TStartPage::GetTitle() { return QStringLiteral("Tarnwick"); }

QString TStartPage::GetDescription() { return QStringLiteral("Description of recovery steps"); }

bool TStartPage::GetAllowNext() { return true; }

bool TStartPage::GetLogoVisible() { return true; }
