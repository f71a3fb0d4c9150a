#include "diagnostics/uAbout.h"

#include "diagnostics/uProductAddresses.h"

#include <QDate>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "diagnostics/uFunctions.h"
#include "diagnostics/uSendSource.h"
#include "progress/uWaitCursor.h"

const QString ProductSiteAddress = QString::fromLatin1(ProductAddresses::Site);
const QString SupportEmailAddress = QString::fromLatin1(ProductAddresses::SupportMail);

namespace {

const QString ProductName = QStringLiteral("Tarnwick");
const QString ErrLogReportName = QStringLiteral("err.log file of Tarnwick");
const QString ErrLogMask = QStringLiteral("err.log");

constexpr QSize AboutClientSize(603, 290);
constexpr int AboutFontPixels = 14;
constexpr int ProductTitlePixels = 15;
// Space between a link's caption and the link.
constexpr int LinkIndent = 10;

// The lines of a report's body, for the mail program and for the link.
QStringList ReportBodyLines() {
  return {QStringLiteral("Program: [") + ProductName + QLatin1Char(']'),
          QStringLiteral("Version: [") + GetSelfApplicationVersion() + QLatin1Char(']'),
          QStringLiteral("Problem description: <describe your problem detailed here, do not hesitate "
                         "to include screenshots>")};
}

// Shows the hourglass and keeps a button disabled while it works; both come
// back on every way out.
class TBusyButton {
public:
  explicit TBusyButton(QWidget* AButton) : FButton(AButton) { FButton->setEnabled(false); }
  ~TBusyButton() { FButton->setEnabled(true); }
  TBusyButton(const TBusyButton&) = delete;
  TBusyButton& operator=(const TBusyButton&) = delete;

private:
  TWaitCursor FBusy;
  QWidget* FButton;
};

QHBoxLayout* LinkRow(const QString& ACaption, TLinkLabel* ALink) {
  auto* Row = new QHBoxLayout;
  Row->setSpacing(LinkIndent);
  Row->addWidget(new QLabel(ACaption));
  Row->addWidget(ALink);
  Row->addStretch();
  return Row;
}

}  // namespace

TLinkLabel::TLinkLabel(const QString& AText, std::function<void()> AOnClick, QWidget* AParent)
    : QLabel(AText, AParent), FOnClick(std::move(AOnClick)) {
  setCursor(Qt::PointingHandCursor);
  QPalette Colours = palette();
  Colours.setColor(QPalette::WindowText, Qt::blue);
  setPalette(Colours);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* AEvent) {
  QLabel::mouseReleaseEvent(AEvent);
  if (AEvent->button() == Qt::LeftButton && rect().contains(AEvent->position().toPoint()))
    FOnClick();
}

TAboutDialog::TAboutDialog(QWidget* AOwner) : TMultiForm(AOwner) { FormCreate(); }

void TAboutDialog::FormCreate() {
  setWindowTitle(QStringLiteral("About") + QLatin1Char(' ') + ProductName);
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  QFont DialogFont(QStringLiteral("Arial"));
  DialogFont.setPixelSize(AboutFontPixels);
  // Stated, so that the lines inside the bold product box do not inherit it.
  DialogFont.setBold(false);
  setFont(DialogFont);

  gbProduct = new QGroupBox(QLatin1Char(' ') + ProductName + QLatin1Char(' '));
  QFont TitleFont = DialogFont;
  TitleFont.setPixelSize(ProductTitlePixels);
  TitleFont.setBold(true);
  gbProduct->setFont(TitleFont);
  lVersion = new QLabel(QStringLiteral("Version :") + QLatin1Char(' ') + GetSelfApplicationVersion());
  Label2 = new QLabel(QStringLiteral("Copyright © The Tarnwick developers, ") +
                      QString::number(QDate::currentDate().year()));
  auto* ProductLayout = new QVBoxLayout(gbProduct);
  for (QLabel* Line : {lVersion, Label2}) {
    Line->setFont(DialogFont);
    ProductLayout->addWidget(Line);
  }

  gbInformation = new QGroupBox(QStringLiteral("Product information "));
  lSite = new TLinkLabel(ProductSiteAddress, [this] { RxLabel1Click(); });
  lEMail = new TLinkLabel(SupportEmailAddress, [this] { RxLabel2Click(); });
  auto* InformationLayout = new QVBoxLayout(gbInformation);
  InformationLayout->addLayout(LinkRow(QStringLiteral("Site: "), lSite));
  InformationLayout->addLayout(LinkRow(QStringLiteral("Tech. support:"), lEMail));

  btnSendErrLog = new QPushButton(QStringLiteral("Send err.log file"));
  btnOk = new QPushButton(QStringLiteral("Ok"));
  btnOk->setDefault(true);
  connect(btnSendErrLog, &QPushButton::clicked, this, [this] { btnSendErrLogClick(); });
  connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
  auto* Buttons = new QHBoxLayout;
  Buttons->addWidget(btnSendErrLog);
  Buttons->addStretch();
  Buttons->addWidget(btnOk);

  auto* Layout = new QVBoxLayout(this);
  Layout->addWidget(gbProduct);
  Layout->addWidget(gbInformation);
  Layout->addStretch();
  Layout->addLayout(Buttons);
  setFixedSize(AboutClientSize);
}

void TAboutDialog::RxLabel1Click() { QDesktopServices::openUrl(QUrl(ProductSiteAddress)); }

void TAboutDialog::RxLabel2Click() {
  // Only the line breaks are encoded; the mail program decodes the rest.
  QDesktopServices::openUrl(QUrl(QStringLiteral("mailto:") + SupportEmailAddress + QStringLiteral("?body=") +
                                     ReportBodyLines().join(QStringLiteral("%0A")),
                                 QUrl::TolerantMode));
}

void TAboutDialog::btnSendErrLogClick() {
  try {
    // The log in the per-user data folder, where the error messages write it.
    const QString LogPath = ErrorLogFilePath();
    if (!QFileInfo::exists(LogPath)) {
      ShowMessageBox(edsError, QStringLiteral("The err.log file are absent."));
      return;
    }
    PackAndSendErrorLog(LogPath);
  } catch (const std::exception&) {
    ShowErrorMessage(edsSilent, AID_Common_Forms, 1, QStringLiteral("[TfAbout.btnSendErrLogClick]"));
  }
}

void TAboutDialog::PackAndSendErrorLog(const QString& ALogPath) {
  const TBusyButton Busy(btnSendErrLog);
  const std::unique_ptr<TSendSourcePacket> Packet = SourceSender::CreatePacket();
  Packet->AddItem(ErrLogReportName).AddFiles(QFileInfo(ALogPath).path(), ErrLogMask);
  SourceSender::SendPacket(*Packet, SupportEmailAddress, ErrLogReportName,
                           ReportBodyLines().join(QStringLiteral("\r\n")));
}
