#include "platform/uFileSystem.h"
#include "platform/uPrompt.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/statvfs.h>

namespace {

namespace fs = std::filesystem;

class FileSystemTest : public ::testing::Test {
protected:
  std::string At(const std::string& ARelative) const { return (FRoot / ARelative).string(); }

  testfiles::TTempFolder FFolder;
  fs::path FRoot = fs::canonical(FFolder.Path());
  TLinuxFileSystem FFiles;
};

TEST_F(FileSystemTest, FreeSpaceAndNameLimitComeFromTheNearestExistingFolder) {
  struct statvfs info {};
  ASSERT_EQ(::statvfs(FRoot.c_str(), &info), 0);
  const std::int64_t expected = static_cast<std::int64_t>(info.f_bavail * info.f_frsize);
  const std::optional<std::int64_t> deep = FFiles.FreeBytesForUser(At("not/yet/there"));
  ASSERT_TRUE(deep.has_value());
  // Other processes write meanwhile; the answer must be of the same file system.
  EXPECT_NEAR(static_cast<double>(*deep), static_cast<double>(expected), 64.0 * 1024 * 1024);
  EXPECT_EQ(FFiles.MaxNameBytes(At("not/yet/there")), info.f_namemax);

  EXPECT_EQ(NearestExistingAncestor(At("not/yet/there")), FRoot.string());
  EXPECT_EQ(NearestExistingAncestor(FRoot.string()), FRoot.string());
  EXPECT_EQ(NearestExistingAncestor("/"), "/");
}

TEST_F(FileSystemTest, RelativePathsStartInTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(FRoot);
  const std::string nearest = NearestExistingAncestor("not/there");
  fs::current_path(before);
  EXPECT_EQ(nearest, FRoot.string());
}

TEST(ScriptedPrompt, AnswersFromTheQueueThenNoAndKeepsWhatWasShown) {
  TScriptedPrompt prompt;
  prompt.QueueAnswer(true);
  EXPECT_TRUE(prompt.AskWarningYesNo("first?"));
  prompt.ShowMessage("notice");
  EXPECT_FALSE(prompt.AskWarningYesNo("second?"));
  const std::vector<TPromptRecord> expected = {
      {pkWarningYesNo, "first?"}, {pkMessage, "notice"}, {pkWarningYesNo, "second?"}};
  EXPECT_EQ(prompt.Shown(), expected);
}

}  // namespace
