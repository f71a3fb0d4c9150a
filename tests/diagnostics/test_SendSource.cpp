#include "diagnostics/uSendSource.h"

#include "tests/support/uFakeMailProgram.h"
#include "tests/support/uRecordingProgress.h"
#include "tests/support/uTestFiles.h"
#include "tests/support/uZipReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

using testfiles::ReadZipEntries;
using testfiles::TFakeMailProgram;
using testfiles::TFanOutMember;
using testfiles::TRecordingProgress;
using testfiles::TZipEntry;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

void WriteText(const std::filesystem::path& APath, const std::string& AText) {
  testfiles::WriteFile(APath, std::vector<std::uint8_t>(AText.begin(), AText.end()));
}

QString Q(const std::filesystem::path& APath) { return QString::fromStdString(APath.string()); }

class SendSourceTest : public ::testing::Test {
protected:
  void SetUp() override {
    WriteText(FSource / "Err.log", "first entry");
    WriteText(FSource / "notes.txt", "notes");
  }

  int FArgc = 1;
  char FName[16] = "test";
  char* FArgv[1] = {FName};
  QCoreApplication FApp{FArgc, FArgv};
  TFakeMailProgram FMail;
  testfiles::TTempFolder FSource;
  std::unique_ptr<TSendSourcePacket> FPacket = SourceSender::CreatePacket();

  std::string TempArchive(const std::string& AName) const { return FMail.TempFolder() + "/" + AName; }
};

TEST_F(SendSourceTest, HandsSubjectBodyAndOneAttachmentPerArchiveToTheMailProgram) {
  FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "ERR.LOG");
  FPacket->AddItem("notes").AddFile(Q(FSource / "notes.txt"));

  EXPECT_TRUE(SourceSender::SendPacket(*FPacket, "support@example.org", "Subject line", "one\r\ntwo"));

  EXPECT_THAT(FMail.Arguments(),
              ElementsAre("--subject", "Subject line", "--body", "one\r\ntwo", "--attach", TempArchive("logs.zip"),
                          "--attach", TempArchive("notes.zip"), "support@example.org"));
  EXPECT_THAT(ReadZipEntries(TempArchive("logs.zip")), ElementsAre(TZipEntry{"Err.log", "first entry"}));
  EXPECT_THAT(ReadZipEntries(TempArchive("notes.zip")), ElementsAre(TZipEntry{"notes.txt", "notes"}));
}

TEST_F(SendSourceTest, AnEmptyPacketIsNotSent) {
  EXPECT_FALSE(SourceSender::SendPacket(*FPacket, "support@example.org", "s", "b"));
  EXPECT_FALSE(FMail.WasCalled());
}

TEST_F(SendSourceTest, AnArchiveThatMatchedNoFileIsNotSent) {
  FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "missing.log");
  EXPECT_THROW(SourceSender::SendPacket(*FPacket, "support@example.org", "s", "b"), EMailError);
  EXPECT_FALSE(FMail.WasCalled());
}

TEST_F(SendSourceTest, AMailProgramThatCannotTakeTheMessageRaisesAndTellsTheFanOut) {
  struct TCase {
    int ExitCode;  // -1: no mail program on the PATH
    const char* Message;
  };
  const TCase Cases[] = {
      {-1, "xdg-email was not found"},
      {3, "no mail program is set up"},
      {4, "the mail program failed to open the message"},
      {77, "ended with code 77"},
  };
  FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "err.log");
  for (const TCase& Case : Cases) {
    std::optional<TFakeMailProgram> Refusing;
    std::optional<testfiles::TScopedEnvironment> NoPrograms;
    if (Case.ExitCode < 0)
      NoPrograms.emplace("PATH", FSource.Path().string());
    else
      Refusing.emplace(Case.ExitCode);
    std::vector<std::string> Log;
    TFanOutMember Member(std::make_shared<TRecordingProgress>("", Log));
    try {
      SourceSender::SendPacket(*FPacket, "support@example.org", "s", "b");
      ADD_FAILURE() << "no failure for " << Case.Message;
    } catch (const EMailError& E) {
      EXPECT_THAT(E.what(), HasSubstr(Case.Message));
      EXPECT_THAT(Log, Contains(std::string("error ") + E.what()));
    }
    ASSERT_FALSE(Log.empty());
    EXPECT_EQ(Log.front(), "start Preparing for sending source files... 0");
    EXPECT_EQ(Log.back(), "close");
  }
}

TEST_F(SendSourceTest, PackingReportsEachFileToTheFanOut) {
  std::vector<std::string> Log;
  TFanOutMember Member(std::make_shared<TRecordingProgress>("", Log));
  FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "err.log");
  EXPECT_THAT(Log, ElementsAre("start Adding files... 100", "canceled?", "message Compressing file Err.log",
                               "do 0", "canceled?", "message Compressing file Err.log", "do 100", "canceled?",
                               "close"));
  Log.clear();
  FPacket->AddItem("notes").AddFile(Q(FSource / "notes.txt"));
  EXPECT_EQ(Log.front(), "start Add files... 100");
}

TEST_F(SendSourceTest, CancelFromTheFanOutLeavesNoArchive) {
  std::vector<std::string> Log;
  TFanOutMember Member(std::make_shared<TRecordingProgress>("", Log, true));
  EXPECT_THROW(FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "err.log"), EZipError);
  EXPECT_FALSE(std::filesystem::exists(TempArchive("logs.zip")));
  EXPECT_EQ(Log.back(), "close");
}

TEST_F(SendSourceTest, BatchesNestAndOnlyTheOutermostEndWritesTheArchive) {
  TSendSourceItem& Item = FPacket->AddItem("logs");
  Item.BeginUpdate();
  Item.BeginUpdate();
  Item.AddFiles(Q(FSource.Path()), "err.log");
  Item.EndUpdate();
  EXPECT_FALSE(std::filesystem::exists(TempArchive("logs.zip"))) << "written while a batch is open";
  Item.EndUpdate();
  EXPECT_THAT(ReadZipEntries(TempArchive("logs.zip")), ElementsAre(TZipEntry{"Err.log", "first entry"}));
  // An unmatched end leaves the counter at 0, so the next addition opens a new archive.
  Item.EndUpdate();
  Item.AddFiles(Q(FSource.Path()), "notes.txt");
  EXPECT_THAT(ReadZipEntries(TempArchive("logs.zip")), ElementsAre(TZipEntry{"notes.txt", "notes"}));
}

TEST_F(SendSourceTest, AnArchiveInterruptedMidBatchIsDeletedWithItsItem) {
  WriteText(TempArchive("logs.zip"), "an archive of an earlier report");
  TSendSourceItem& Item = FPacket->AddItem("logs");
  Item.BeginUpdate();
  Item.AddFiles(Q(FSource.Path()), "err.log");
  FPacket->Clear();
  EXPECT_FALSE(std::filesystem::exists(TempArchive("logs.zip")));
}

TEST_F(SendSourceTest, ACompletedArchiveOutlivesItsPacket) {
  FPacket->AddItem("logs").AddFiles(Q(FSource.Path()), "err.log");
  FPacket.reset();
  EXPECT_TRUE(std::filesystem::exists(TempArchive("logs.zip")));
}

TEST_F(SendSourceTest, AFailedAdditionEndsItsBatch) {
  TSendSourceItem& Item = FPacket->AddItem("logs");
  EXPECT_THROW(Item.AddFiles(Q(FSource / "missing"), "*"), EZipError);
  Item.AddFiles(Q(FSource.Path()), "err.log");
  EXPECT_THAT(ReadZipEntries(TempArchive("logs.zip")), ElementsAre(TZipEntry{"Err.log", "first entry"}));
}

TEST_F(SendSourceTest, ItemsAreNamedFilesInTheTemporaryFolder) {
  EXPECT_EQ(FPacket->AddItem("err.log file of Tarnwick").GetFileName(),
            Q(TempArchive("err.log file of Tarnwick.zip")));
  EXPECT_EQ(FPacket->GetItemCount(), 1);
  EXPECT_THROW(FPacket->GetItem(1), std::out_of_range);
  for (const char* Name : {"", ".", "..", "../x", "a/b"})
    EXPECT_THROW(FPacket->AddItem(Name), std::invalid_argument) << Name;
}

} // namespace
