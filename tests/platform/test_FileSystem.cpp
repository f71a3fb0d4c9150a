#include "platform/uFileSystem.h"
#include "platform/uPrompt.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <csignal>

#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& APath) {
  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(APath);
  return std::string(bytes.begin(), bytes.end());
}

class FileSystemTest : public ::testing::Test {
protected:
  std::string At(const std::string& ARelative) const { return (FRoot / ARelative).string(); }

  testfiles::TTempFolder FFolder;
  fs::path FRoot = fs::canonical(FFolder.Path());
  TLinuxFileSystem FFiles;
};

TEST_F(FileSystemTest, TellsFilesFromFolders) {
  fs::create_directories(At("dir"));
  std::ofstream(At("file")) << "x";
  fs::create_symlink(At("file"), At("link-to-file"));
  fs::create_symlink(At("dir"), At("link-to-dir"));
  ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
  struct TCase {
    const char* Path;
    bool File;
    bool Dir;
  };
  const TCase cases[] = {
      {"file", true, false},  {"dir", false, true},          {"missing", false, false},
      {"link-to-file", true, false}, {"link-to-dir", false, true}, {"pipe", true, false},
      {"file/below", false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(FFiles.FileExists(At(c.Path)), c.File);
    EXPECT_EQ(FFiles.DirectoryExists(At(c.Path)), c.Dir);
  }
}

TEST_F(FileSystemTest, ForceDirectoriesCreatesParentsAndReportsFailure) {
  FFiles.ForceDirectories(At("a/b/c"));
  EXPECT_TRUE(FFiles.DirectoryExists(At("a/b/c")));
  FFiles.ForceDirectories(At("a/b/c"));  // existing folders are fine

  std::ofstream(At("a/file")) << "x";
  try {
    FFiles.ForceDirectories(At("a/file/sub"));
    FAIL() << "a folder below a file was created";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create folder \"" + At("a/file/sub") + "\""), std::string::npos)
        << e.what();
  }
}

TEST_F(FileSystemTest, CreateOutputFileReplacesOldContent) {
  std::ofstream(At("out.bin")) << "old content that is longer";
  IOutputFilePtr file = FFiles.CreateOutputFile(At("out.bin"));
  const std::string data(200000, 'z');  // more than one write call may take
  file->Write(data.data(), data.size());
  file->Close();
  EXPECT_EQ(ReadAll(At("out.bin")), data);

  FFiles.CreateOutputFile(At("empty"))->Close();
  EXPECT_TRUE(FFiles.FileExists(At("empty")));
  EXPECT_EQ(fs::file_size(At("empty")), 0u);
}

// None of these may be written through; each must fail at once with a
// message naming the file, and leave what it points at untouched.
TEST_F(FileSystemTest, CreateOutputFileRefusesWhatIsNotAPlainFile) {
  std::ofstream(At("victim")) << "keep";
  fs::create_symlink(At("victim"), At("link"));
  fs::create_symlink(At("nowhere"), At("dangling"));
  fs::create_directories(At("dir"));
  ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
  for (const char* name : {"link", "dangling", "dir", "pipe", "missing-dir/file"}) {
    SCOPED_TRACE(name);
    try {
      FFiles.CreateOutputFile(At(name));
      FAIL() << "created";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("Cannot create file \"" + At(name) + "\""), std::string::npos)
          << e.what();
    }
  }
  EXPECT_EQ(ReadAll(At("victim")), "keep");
  EXPECT_FALSE(fs::exists(At("nowhere")));
}

TEST_F(FileSystemTest, WriteFailureIsReported) {
  // A file size limit stands in for a full target: the short write must
  // reach the caller as an error naming the file, not pass as success.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  IOutputFilePtr file = FFiles.CreateOutputFile(At("big"));
  const std::string data(4096, 'b');
  std::string message;
  try {
    file->Write(data.data(), data.size());
  } catch (const std::exception& e) {
    message = e.what();
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_NE(message.find("Cannot write file \"" + At("big") + "\""), std::string::npos) << message;
}

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
