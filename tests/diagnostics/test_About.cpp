#include "diagnostics/uAbout.h"

#include "tests/support/uErrorLogCapture.h"
#include "tests/support/uFakeMailProgram.h"
#include "tests/support/uTestFiles.h"
#include "tests/support/uZipReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QDesktopServices>
#include <QGroupBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QUrlQuery>

namespace {

using testfiles::ReadZipEntries;
using testfiles::TErrorLogCapture;
using testfiles::TFakeMailProgram;
using testfiles::TShownBox;
using testfiles::TZipEntry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const std::string ReportBody =
    "Program: [Tarnwick]\r\nVersion: [2.5.17.0]\r\n"
    "Problem description: <describe your problem detailed here, do not hesitate to include screenshots>";

} // namespace

// Takes the addresses the dialog opens instead of the desktop.
class TUrlRecorder : public QObject {
  Q_OBJECT
public:
  std::vector<QUrl> Opened;
public slots:
  void Open(const QUrl& AUrl) { Opened.push_back(AUrl); }
};

namespace {

class AboutDialogTest : public ::testing::Test {
protected:
  void SetUp() override {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Native(FData / "config"));
  }

  static QString Native(const std::filesystem::path& APath) { return QString::fromStdString(APath.string()); }

  // An Err.log as the program writes it: UTF-16LE entries.
  std::string WriteLog(const QString& AText) {
    const QByteArray Bytes(reinterpret_cast<const char*>(AText.utf16()), AText.size() * 2);
    testfiles::WriteFile(LogPath(), std::vector<std::uint8_t>(Bytes.begin(), Bytes.end()));
    return Bytes.toStdString();
  }
  std::filesystem::path LogPath() const { return FData / "Err.log"; }

  int FArgc = 1;
  char FName[16] = "test";
  char* FArgv[1] = {FName};
  QApplication FApp{FArgc, FArgv};
  testfiles::TTempFolder FData;
  TErrorLogCapture FLog{Native(LogPath())};
};

TEST_F(AboutDialogTest, ShowsProductVersionNoticeAndLinks) {
  TAboutDialog Dialog(nullptr);
  Dialog.show();

  EXPECT_EQ(Dialog.windowTitle(), "About Tarnwick");
  EXPECT_EQ(Dialog.size(), QSize(603, 290));
  EXPECT_EQ(Dialog.gbProduct->title(), " Tarnwick ");
  EXPECT_TRUE(Dialog.gbProduct->font().bold());
  EXPECT_FALSE(Dialog.lVersion->font().bold());
  EXPECT_EQ(Dialog.lVersion->text(), "Version : 2.5.17.0");
  EXPECT_TRUE(Dialog.Label2->text().endsWith(QString::number(QDate::currentDate().year())));
  EXPECT_EQ(Dialog.gbInformation->title(), "Product information ");
  EXPECT_EQ(Dialog.lSite->text(), ProductSiteAddress);
  EXPECT_EQ(Dialog.lEMail->text(), SupportEmailAddress);
  for (QLabel* Link : {static_cast<QLabel*>(Dialog.lSite), static_cast<QLabel*>(Dialog.lEMail)}) {
    EXPECT_EQ(Link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(Link->palette().color(QPalette::WindowText), QColor(Qt::blue));
  }
  EXPECT_EQ(Dialog.btnSendErrLog->text(), "Send err.log file");
  EXPECT_EQ(Dialog.btnOk->text(), "Ok");
  EXPECT_LT(Dialog.btnSendErrLog->x(), Dialog.btnOk->x());
}

TEST_F(AboutDialogTest, EachLinkStandsTenPixelsRightOfItsCaption) {
  TAboutDialog Dialog(nullptr);
  Dialog.show();
  for (QLabel* Link : {static_cast<QLabel*>(Dialog.lSite), static_cast<QLabel*>(Dialog.lEMail)}) {
    QLabel* Caption = nullptr;
    for (QLabel* Candidate : Dialog.gbInformation->findChildren<QLabel*>())
      if (Candidate != Link && Candidate->y() == Link->y())
        Caption = Candidate;
    ASSERT_NE(Caption, nullptr);
    EXPECT_EQ(Link->x(), Caption->geometry().right() + 1 + 10) << Caption->text().toStdString();
  }
}

TEST_F(AboutDialogTest, LinksOpenTheSiteAndAMailWithTheThreeLineBody) {
  TUrlRecorder Recorder;
  QDesktopServices::setUrlHandler("https", &Recorder, "Open");
  QDesktopServices::setUrlHandler("mailto", &Recorder, "Open");
  TAboutDialog Dialog(nullptr);
  Dialog.show();
  QTest::mouseClick(Dialog.lSite, Qt::LeftButton);
  QTest::mouseClick(Dialog.lEMail, Qt::LeftButton);
  QDesktopServices::unsetUrlHandler("https");
  QDesktopServices::unsetUrlHandler("mailto");

  ASSERT_EQ(Recorder.Opened.size(), 2u);
  EXPECT_EQ(Recorder.Opened[0], QUrl(ProductSiteAddress));
  const QUrl Mail = Recorder.Opened[1];
  EXPECT_EQ(Mail.scheme(), "mailto");
  EXPECT_EQ(Mail.path(), SupportEmailAddress);
  QString Expected = QString::fromStdString(ReportBody);
  Expected.replace("\r\n", "\n");
  EXPECT_EQ(QUrlQuery(Mail).queryItemValue("body", QUrl::FullyDecoded), Expected);
}

TEST_F(AboutDialogTest, SendsTheZippedLogToSupportThroughTheMailProgram) {
  TFakeMailProgram Mail;
  const std::string FirstLog = WriteLog("12/1/26 10:00:00 : first\r\n");
  TAboutDialog Dialog(nullptr);
  QTest::mouseClick(Dialog.btnSendErrLog, Qt::LeftButton);

  EXPECT_THAT(Mail.Arguments(), ElementsAre("--subject", "err.log file of Tarnwick", "--body", ReportBody,
                                            "--attach", Mail.TempFolder() + "/err.log file of Tarnwick.zip",
                                            SupportEmailAddress.toStdString()));
  EXPECT_THAT(ReadZipEntries(Mail.TempFolder() + "/err.log file of Tarnwick.zip"),
              ElementsAre(TZipEntry{"Err.log", FirstLog}));
  EXPECT_TRUE(Dialog.btnSendErrLog->isEnabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_THAT(FLog.Shown, IsEmpty());

  // A second click replaces the archive with the log as it is now.
  const std::string SecondLog = WriteLog("12/1/26 10:00:00 : first\r\n12/1/26 10:05:00 : second\r\n");
  QTest::mouseClick(Dialog.btnSendErrLog, Qt::LeftButton);
  EXPECT_THAT(ReadZipEntries(Mail.TempFolder() + "/err.log file of Tarnwick.zip"),
              ElementsAre(TZipEntry{"Err.log", SecondLog}));
  EXPECT_THAT(FLog.LogTexts(), ElementsAre("first", "second"));
}

TEST_F(AboutDialogTest, WithoutALogTheUserIsToldAndNothingIsPacked) {
  TFakeMailProgram Mail;
  TAboutDialog Dialog(nullptr);
  QTest::mouseClick(Dialog.btnSendErrLog, Qt::LeftButton);

  EXPECT_THAT(FLog.Shown, ElementsAre(TShownBox{edsError, "The err.log file are absent."}));
  EXPECT_FALSE(Mail.WasCalled());
  EXPECT_TRUE(std::filesystem::is_empty(Mail.TempFolder()));
  EXPECT_THAT(FLog.LogTexts(), IsEmpty());
}

TEST_F(AboutDialogTest, AFailingMailProgramIsLoggedSilentlyAndTheButtonComesBack) {
  TFakeMailProgram Mail(4);
  WriteLog("12/1/26 10:00:00 : first\r\n");
  TAboutDialog Dialog(nullptr);
  QTest::mouseClick(Dialog.btnSendErrLog, Qt::LeftButton);

  EXPECT_TRUE(Mail.WasCalled());
  EXPECT_THAT(FLog.LogTexts(), ElementsAre("first", "Common_Forms:0001 [TfAbout.btnSendErrLogClick]"));
  EXPECT_THAT(FLog.Shown, IsEmpty());
  EXPECT_TRUE(Dialog.btnSendErrLog->isEnabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(AboutDialogTest, OkClosesTheDialog) {
  TAboutDialog Dialog(nullptr);
  Dialog.show();
  QTest::mouseClick(Dialog.btnOk, Qt::LeftButton);
  EXPECT_FALSE(Dialog.isVisible());
  EXPECT_EQ(Dialog.result(), QDialog::Accepted);
}

} // namespace

#include "test_About.moc"
