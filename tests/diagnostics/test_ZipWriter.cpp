#include "diagnostics/uZipWriter.h"

#include "tests/support/uTestFiles.h"
#include "tests/support/uZipReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

namespace {

using testfiles::ReadZipEntries;
using testfiles::TZipEntry;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class TRecordingProgress : public IZipWriterProgress {
public:
  std::vector<std::string> Reports;
  // Cancels once this many reports were heard; -1 never.
  int CancelAfter = -1;

  void FileProgress(const QString& AFileName, int APercent) override {
    Reports.push_back(AFileName.toStdString() + " " + std::to_string(APercent));
  }
  bool IsCanceled() override { return CancelAfter >= 0 && static_cast<int>(Reports.size()) >= CancelAfter; }
};

void WriteText(const std::filesystem::path& APath, const std::string& AText) {
  testfiles::WriteFile(APath, std::vector<std::uint8_t>(AText.begin(), AText.end()));
}

QString Q(const std::filesystem::path& APath) { return QString::fromStdString(APath.string()); }

TEST(FileMaskTest, MatchesCaseInsensitivelyWithStarAndQuestionMark) {
  struct TCase {
    const char* Name;
    const char* Mask;
    bool Expected;
  };
  const TCase Cases[] = {
      {"Err.log", "err.log", true},
      {"err.log", "ERR.LOG", true},
      {"Err.log.1", "err.log", false},
      {"a.txt", "*.txt", true},
      {"a.txt.bak", "*.txt", false},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"abcbd", "a*bd", true},
      {"a.b.c", "*.*", true},
      {"report[1].txt", "report[1].txt", true},
      {"report1.txt", "report[1].txt", false},
      {"ÄRGER.TXT", "ärger.txt", true},
      {"anything", "*", true},
      {"x", "", false},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(MatchesFileMask(QString::fromUtf8(Case.Name), QString::fromUtf8(Case.Mask)), Case.Expected)
        << Case.Name << " against " << Case.Mask;
}

class ZipWriterTest : public ::testing::Test {
protected:
  testfiles::TTempFolder FSource;
  testfiles::TTempFolder FTarget;
  TRecordingProgress FProgress;
  std::filesystem::path FArchive = FTarget / "packed.zip";
};

TEST_F(ZipWriterTest, PacksMatchingFilesOfTheFolderIncludingHiddenAndReadOnlyOnes) {
  WriteText(FSource / "Err.log", "log");
  WriteText(FSource / ".ERR.LOG", "hidden");
  WriteText(FSource / "other.txt", "not matched");
  std::filesystem::create_directory(FSource / "sub.log");
  WriteText(FSource / "sub.log" / "inner.log", "not in the folder itself");
  WriteText(FSource / "locked.log", "read-only");
  std::filesystem::permissions(FSource / "locked.log", std::filesystem::perms::owner_read);

  TZipWriter Writer(FProgress);
  Writer.Create(Q(FArchive));
  EXPECT_EQ(Writer.AddFiles(Q(FSource.Path()), "*.LOG"), 3);
  Writer.Close();

  EXPECT_FALSE(Writer.IsOpen());
  EXPECT_THAT(ReadZipEntries(FArchive),
              ElementsAre(TZipEntry{".ERR.LOG", "hidden"}, TZipEntry{"Err.log", "log"},
                          TZipEntry{"locked.log", "read-only"}));
}

TEST_F(ZipWriterTest, ReportsEachFileFromZeroToOneHundred) {
  WriteText(FSource / "a.bin", std::string(300000, 'a'));
  WriteText(FSource / "empty.bin", "");
  TZipWriter Writer(FProgress);
  Writer.Create(Q(FArchive));
  Writer.AddFiles(Q(FSource.Path()), "*.bin");
  Writer.Close();

  ASSERT_GE(FProgress.Reports.size(), 4u);
  EXPECT_EQ(FProgress.Reports.front(), "a.bin 0");
  EXPECT_THAT(std::vector(FProgress.Reports.end() - 3, FProgress.Reports.end()),
              ElementsAre("a.bin 100", "empty.bin 0", "empty.bin 100"));
  int Last = -1;
  for (std::size_t i = 0; i + 2 < FProgress.Reports.size(); ++i) {
    const int Percent = std::stoi(FProgress.Reports[i].substr(6));
    EXPECT_GT(Percent, Last) << FProgress.Reports[i];
    Last = Percent;
  }
}

TEST_F(ZipWriterTest, CreateReplacesAnEarlierArchiveOfTheSameName) {
  WriteText(FSource / "first.txt", "1");
  WriteText(FSource / "second.txt", "2");
  for (const char* Name : {"first.txt", "second.txt"}) {
    TZipWriter Writer(FProgress);
    Writer.Create(Q(FArchive));
    Writer.AddFiles(Q(FSource.Path()), Name);
    Writer.Close();
  }
  EXPECT_THAT(ReadZipEntries(FArchive), ElementsAre(TZipEntry{"second.txt", "2"}));
}

TEST_F(ZipWriterTest, CancelWritesNothingAndAnAbandonedArchiveIsDeleted) {
  WriteText(FArchive, "an earlier archive");
  WriteText(FSource / "a.txt", "a");
  WriteText(FSource / "b.txt", "b");
  FProgress.CancelAfter = 2;
  {
    TZipWriter Writer(FProgress);
    Writer.Create(Q(FArchive));
    Writer.AddFiles(Q(FSource.Path()), "*");
    EXPECT_THROW(
        try { Writer.Close(); } catch (const EZipError& E) {
          EXPECT_THAT(E.what(), ::testing::HasSubstr("canceled by the user"));
          throw;
        },
        EZipError);
    EXPECT_TRUE(Writer.IsOpen());
    EXPECT_TRUE(std::filesystem::exists(FArchive));
  }
  EXPECT_FALSE(std::filesystem::exists(FArchive));
  EXPECT_THAT(FProgress.Reports, ElementsAre("a.txt 0", "a.txt 100"));
}

TEST_F(ZipWriterTest, AFileThatVanishedBeforeWritingFailsTheArchiveByName) {
  WriteText(FSource / "gone.txt", "x");
  TZipWriter Writer(FProgress);
  Writer.Create(Q(FArchive));
  Writer.AddFiles(Q(FSource.Path()), "*");
  std::filesystem::remove(FSource / "gone.txt");
  try {
    Writer.Close();
    FAIL() << "Close succeeded";
  } catch (const EZipError& E) {
    EXPECT_THAT(E.what(), ::testing::HasSubstr("gone.txt"));
  }
  EXPECT_FALSE(std::filesystem::exists(FArchive));
}

TEST_F(ZipWriterTest, RefusesAMissingFolderAndAddingWithoutAnOpenArchive) {
  TZipWriter Writer(FProgress);
  EXPECT_THROW(Writer.AddFiles(Q(FSource.Path()), "*"), EZipError);
  Writer.Create(Q(FArchive));
  EXPECT_THROW(Writer.AddFiles(Q(FSource / "missing"), "*"), EZipError);
  EXPECT_THROW(Writer.Create(Q(FArchive)), EZipError);
}

TEST_F(ZipWriterTest, AnArchiveWithoutEntriesLeavesNoFile) {
  WriteText(FArchive, "an earlier archive");
  TZipWriter Writer(FProgress);
  Writer.Create(Q(FArchive));
  EXPECT_EQ(Writer.AddFiles(Q(FSource.Path()), "*"), 0);
  Writer.Close();
  EXPECT_FALSE(std::filesystem::exists(FArchive));
}

TEST_F(ZipWriterTest, WritingIntoAMissingFolderFailsWithTheArchiveName) {
  WriteText(FSource / "a.txt", "a");
  TZipWriter Writer(FProgress);
  try {
    Writer.Create(Q(FTarget / "no" / "such" / "x.zip"));
    Writer.AddFiles(Q(FSource.Path()), "*");
    Writer.Close();
    FAIL() << "no failure";
  } catch (const EZipError& E) {
    EXPECT_THAT(E.what(), ::testing::HasSubstr("x.zip"));
  }
}

} // namespace
