#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QSysInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "diagnostics/uTarnwickErrorMessage.h"

namespace {

struct TShownBox {
  TErrorDisplayStatus Status;
  QString Text;
};

QString LocalDateTimeText(const QDateTime& AWhen) {
  const QLocale Locale = QLocale::system();
  return Locale.toString(AWhen.date(), QLocale::ShortFormat) + " " +
         Locale.toString(AWhen.time(), QLocale::LongFormat);
}

QByteArray ReadAll(const QString& APath) {
  QFile File(APath);
  return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

QStringList LogLines(const QString& APath) {
  QStringDecoder Decode(QStringDecoder::Utf16LE);
  QStringList Lines = QString(Decode(ReadAll(APath))).split(QStringLiteral("\r\n"));
  EXPECT_EQ(Lines.takeLast(), QString()) << "every entry ends in CR LF";
  return Lines;
}

// The part of an entry after the date and time.
QString LogTextOf(const QString& ALine) {
  return ALine.mid(ALine.indexOf(QStringLiteral(" : ")) + 3);
}

class ErrorLog : public testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(FDir.isValid());
    FLogPath = FDir.filePath(QStringLiteral("Tarnwick/nested/Err.log"));
    SetErrorLogPath([this] { return FLogPath; });
    SetErrorMessageObject(std::make_unique<TTarnwickErrorMessage>());
    SetErrorMessageBox([this](TErrorDisplayStatus AStatus, const QString& AText) {
      FShown.push_back({AStatus, AText});
      return FAnswer;
    });
  }
  void TearDown() override {
    SetErrorLogPath(nullptr);
    SetErrorMessageObject(nullptr);
    SetErrorMessageBox(nullptr);
  }

  QString LastLogText() {
    const QStringList Lines = LogLines(FLogPath);
    return Lines.isEmpty() ? QString() : LogTextOf(Lines.last());
  }

  QTemporaryDir FDir;
  QString FLogPath;
  std::vector<TShownBox> FShown;
  std::int32_t FAnswer = mrOk;
};

TEST_F(ErrorLog, FirstEntryCreatesFolderAndFileWithExactBytes) {
  const QDateTime Before = QDateTime::currentDateTime();
  EXPECT_EQ(ShowErrorMessage(edsSilent, AID_Common_Forms, 1,
                             QStringLiteral("[TfAbout.btnSendErrLogClick]")),
            mrNone);
  const QDateTime After = QDateTime::currentDateTime();

  const QByteArray Bytes = ReadAll(FLogPath);
  QStringEncoder Encode(QStringEncoder::Utf16LE);
  const QString Text = QStringLiteral(" : Common_Forms:0001 [TfAbout.btnSendErrLogClick]\r\n");
  const QByteArray Early = Encode(LocalDateTimeText(Before) + Text);
  const QByteArray Late = Encode(LocalDateTimeText(After) + Text);
  EXPECT_TRUE(Bytes == Early || Bytes == Late) << Bytes.toHex().toStdString();
  EXPECT_FALSE(Bytes.startsWith("\xFF\xFE")) << "no byte-order mark";
  EXPECT_TRUE(FShown.empty());
}

TEST_F(ErrorLog, EntriesAreAppendedInTheOrderOfWriting) {
  WriteErrorLog(QStringLiteral("first"));
  WriteErrorLog(QStringLiteral("second"));
  ShowErrorMessage(edsSilent, AID_Tarnwick, 2, QStringLiteral("third"));

  const QStringList Lines = LogLines(FLogPath);
  ASSERT_EQ(Lines.size(), 3);
  EXPECT_EQ(LogTextOf(Lines[0]), QStringLiteral("first"));
  EXPECT_EQ(LogTextOf(Lines[1]), QStringLiteral("second"));
  EXPECT_EQ(LogTextOf(Lines[2]), QStringLiteral("Tarnwick:0002 third"));
}

struct TMessageCase {
  TAppId App;
  std::uint16_t Code;
  QString Msg;
  QString Display;
  QString Logged;
};

TEST_F(ErrorLog, DisplayAndLogTextsByIdAndCode) {
  const QString Os = QSysInfo::prettyProductName();
  const std::vector<TMessageCase> Cases = {
      {AID_Common_Forms, 1, "[GetSelfApplicationVersion] Can't get application version",
       "[GetSelfApplicationVersion] Can't get application version",
       "Common_Forms:0001 [GetSelfApplicationVersion] Can't get application version"},
      {AID_Common_Components, 5, "a.txt", "[Copy File]a.txt", "Common_Components:0005 [Copy File]a.txt"},
      {AID_Common_Forms, 6, "C:\\a.txt", "File \"C:\\a.txt\"does not exists!",
       "Common_Forms:0006 File \"C:\\a.txt\"does not exists!"},
      {AID_Common_Forms, 7, "b.dat", "Can't open file : b.dat" + Os,
       "Common_Forms:0007 Can't open file : b.dat" + Os},
      {AID_Common_Forms, 8, "ignored", "Unable to copy file. Source and destination folders do coincide!",
       "Common_Forms:0008 Unable to copy file. Source and destination folders do coincide!"},
      {AID_Common_Forms, 10, "no text for this code", "", "Common_Forms:000A "},
      {AID_Common_Components, 255, "x", "", "Common_Components:00FF "},
      {AID_Common_Components, 0xBEEF, "x", "", "Common_Components:BEEF "},
      {AID_Tarnwick, 1, "Out of memory", "[MainForm Error]: Out of memory",
       "Tarnwick:0001 [MainForm Error]: Out of memory"},
      {AID_Tarnwick, 10, "Disk gone", "Disk gone", "Tarnwick:000A Disk gone"},
  };
  for (const TMessageCase& Case : Cases) {
    SCOPED_TRACE(Case.Logged.toStdString());
    FShown.clear();
    EXPECT_EQ(ShowErrorMessage(edsInformation, Case.App, Case.Code, Case.Msg), mrOk);
    ASSERT_EQ(FShown.size(), 1u);
    EXPECT_EQ(FShown[0].Text, Case.Display);
    EXPECT_EQ(LastLogText(), Case.Logged);
  }
}

TEST_F(ErrorLog, StatusDecidesTheBoxAndTheAnswer) {
  const std::vector<TErrorDisplayStatus> Boxed = {edsInformation, edsWarning, edsError,
                                                  edsConfirmation};
  FAnswer = mrNo;
  for (const TErrorDisplayStatus Status : Boxed) {
    FShown.clear();
    EXPECT_EQ(ShowErrorMessage(Status, AID_Tarnwick, 3, QStringLiteral("question")), mrNo);
    ASSERT_EQ(FShown.size(), 1u);
    EXPECT_EQ(FShown[0].Status, Status);
  }
  FShown.clear();
  EXPECT_EQ(ShowErrorMessage(edsSilent, AID_Tarnwick, 3, QStringLiteral("quiet")), mrNone);
  EXPECT_TRUE(FShown.empty());
  EXPECT_EQ(LogLines(FLogPath).size(), 5);
}

TEST_F(ErrorLog, RejectedIdIsLoggedAndNeverShown) {
  const std::vector<std::pair<TAppId, QString>> Cases = {
      {AID_Tarnwick_Cli, "Tarnwick_Cli"},
      {static_cast<TAppId>(200), ""},  // an id without a name
  };
  for (const auto& [Id, Name] : Cases) {
    EXPECT_EQ(ShowErrorMessage(edsError, Id, 1, QStringLiteral("never seen")), mrNone);
    EXPECT_EQ(LastLogText(),
              "Error message system tries to write message with invalid application ID. AppName = " +
                  Name + ".");
  }
  EXPECT_TRUE(FShown.empty());
}

TEST(CommonErrorMessage, AcceptsOnlyTheCommonIdsButKeepsEveryValue) {
  TCommonErrorMessage Common;
  EXPECT_TRUE(Common.SetMessage(edsWarning, AID_Common_Components, 1, QStringLiteral("m")));
  EXPECT_TRUE(Common.SetMessage(edsWarning, AID_Common_Forms, 1, QStringLiteral("m")));
  EXPECT_FALSE(Common.SetMessage(edsError, AID_Tarnwick, 9, QStringLiteral("kept")));
  EXPECT_EQ(Common.Status(), edsError);
  EXPECT_EQ(Common.AppId(), AID_Tarnwick);
  EXPECT_EQ(Common.ErrorCode(), 9);
  EXPECT_EQ(Common.AppName(), QStringLiteral("Tarnwick"));
  EXPECT_EQ(Common.DisplayText(), QString()) << "the base class has no texts for other ids";
}

TEST(ErrorLogFailure, UnwritableLocationsAreSilent) {
  QTemporaryDir Dir;
  ASSERT_TRUE(Dir.isValid());
  QFile Blocker(Dir.filePath(QStringLiteral("plain-file")));
  ASSERT_TRUE(Blocker.open(QIODevice::WriteOnly));
  Blocker.close();
  ASSERT_TRUE(QDir(Dir.path()).mkpath(QStringLiteral("Err.log")));

  const std::vector<QString> Paths = {
      Dir.filePath(QStringLiteral("plain-file/Tarnwick/Err.log")),  // a file where a folder must be
      Dir.filePath(QStringLiteral("Err.log")),                      // a folder where the file must be
      QString(),                                                    // no data folder known yet
  };
  SetErrorMessageObject(std::make_unique<TTarnwickErrorMessage>());
  for (const QString& Path : Paths) {
    SetErrorLogPath([Path] { return Path; });
    EXPECT_NO_THROW(WriteErrorLog(QStringLiteral("lost")));
    EXPECT_EQ(ShowErrorMessage(edsSilent, AID_Tarnwick, 1, QStringLiteral("lost")), mrNone);
  }
  EXPECT_FALSE(QFileInfo::exists(Dir.filePath(QStringLiteral("plain-file/Tarnwick"))));
  EXPECT_TRUE(QFileInfo(Dir.filePath(QStringLiteral("Err.log"))).isDir());
  SetErrorLogPath(nullptr);
  SetErrorMessageObject(nullptr);
}

TEST(ApplicationVersion, IsTheBuiltVersion) {
  EXPECT_EQ(GetSelfApplicationVersion(), QStringLiteral("2.5.17.0"));
}

}  // namespace
