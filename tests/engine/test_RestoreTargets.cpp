// Where a restore writes, on a real volume whose deleted names meet on the
// target, into targets full of links, and next to (or on top of) the source:
// every ticked file is written once, inside the target, and the source is
// never touched.

#include "EngineHarness.h"

#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

namespace {

namespace fs = std::filesystem;
using enginetest::EngineTest;
using ::testing::Contains;
using ::testing::HasSubstr;

std::string FileSha256(const fs::path& APath) {
  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(APath);
  return testsupport::Sha256Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

// What a source must still be after a restore: its bytes and its time.
struct TFileState {
  std::string Sha256;
  std::int64_t ModifiedNanoseconds = 0;
  bool operator==(const TFileState&) const = default;
};

TFileState StateOf(const fs::path& APath) {
  struct stat info {};
  EXPECT_EQ(::stat(APath.c_str(), &info), 0);
  return {FileSha256(APath), info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec};
}

// The regular files below AFolder, by path relative to it, and their
// hashes; links are listed, never followed.
std::map<std::string, std::string> FilesBelow(const fs::path& AFolder) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(AFolder))
    if (entry.is_regular_file() && !entry.is_symlink())
      files[fs::relative(entry.path(), AFolder).string()] = FileSha256(entry.path());
  return files;
}

std::multiset<std::string> DeletedFileHashes(const testsupport::Manifest& AManifest) {
  std::multiset<std::string> hashes;
  for (const testsupport::ManifestEntry& entry : AManifest.Entries)
    if (entry.Deleted && !entry.IsFolder && !entry.RecordReused)
      hashes.insert(entry.Sha256);
  return hashes;
}

std::multiset<std::string> Values(const std::map<std::string, std::string>& AFiles) {
  std::multiset<std::string> values;
  for (const auto& [path, hash] : AFiles)
    values.insert(hash);
  return values;
}

class RestoreTargetsTest : public EngineTest {
protected:
  void SetUp() override {
    fs::copy_file(testsupport::FixtureImage("collisions"), FImage);
    FImageBefore = StateOf(FImage);
  }
  void TearDown() override {
    EngineTest::TearDown();
    if (!FImageChangedByMount) {
      EXPECT_EQ(StateOf(FImage), FImageBefore);
    }
  }

  void RestoreAll(const fs::path& ATarget, TRestoreMode AMode, TResolveConflictMode AConflict) {
    Scan(FImage.string());
    Context.CheckAll(Context.TreeItems(), true);
    Context.SetTargetDir(FromNativePath(ATarget.string()));
    Context.SetRestoreMode(AMode);
    Context.SetResolveConflictMode(AConflict);
    Context.ProcessRecover();
  }

  std::vector<std::string> DetailsOf(TProgressDetailStatus AStatus) const {
    std::vector<std::string> lines;
    for (const enginetest::TProgressLine& line : Progress->Lines)
      if (line.Kind == enginetest::TProgressLine::plDetail && line.Status == AStatus)
        lines.push_back(line.Text);
    return lines;
  }

  testfiles::TTempFolder FFolder;
  fs::path FRoot = fs::canonical(FFolder.Path());
  fs::path FImage = FRoot / "collisions.img";
  TFileState FImageBefore;
  // ntfs-3g writes to a volume it mounts, whatever we do.
  bool FImageChangedByMount = false;
  testsupport::Manifest FManifest = testsupport::FixtureManifest("collisions");
};

// Two deleted records of one path, names that meet once shortened or once
// "\" is replaced, and a file and a folder of one name: each is written,
// none over another, whatever the conflict rule says.
TEST_F(RestoreTargetsTest, NamesThatMeetWithinARunAreNumberedWhateverTheRule) {
  struct TCase {
    TRestoreMode Mode;
    TResolveConflictMode Conflict;
  };
  for (const TCase c : {TCase{rmTree, rcmOvewrite}, TCase{rmTree, rcmRename}, TCase{rmTree, rcmDontSave},
                        TCase{rmFlat, rcmOvewrite}, TCase{rmFlat, rcmDontSave}}) {
    SCOPED_TRACE(std::to_string(c.Mode) + "/" + std::to_string(c.Conflict));
    const fs::path target = FRoot / ("target-" + std::to_string(c.Mode) + std::to_string(c.Conflict));
    Progress->Lines.clear();
    RestoreAll(target, c.Mode, c.Conflict);

    const std::map<std::string, std::string> written = FilesBelow(target);
    EXPECT_EQ(Values(written), DeletedFileHashes(FManifest));
    EXPECT_THAT(DetailsOf(pdsError), ::testing::IsEmpty());
    const std::vector<std::string> warnings = DetailsOf(pdsWarning);
    EXPECT_THAT(warnings, Contains(HasSubstr("is taken by a file or folder restored earlier in this run")));
    EXPECT_THAT(warnings, Contains("The name \"back\\slash.txt\" cannot be written on the target as it is and is "
                                   "restored as \"back_slash.txt\"."));
    if (c.Mode == rmTree) {
      // The folder that met the file of its name keeps its numbered name for
      // what is below it.
      const auto inner = std::find_if(written.begin(), written.end(),
                                      [](const auto& AFile) { return AFile.first.ends_with("/inner.txt"); });
      ASSERT_NE(inner, written.end());
      EXPECT_THAT(inner->first, ::testing::MatchesRegex("Same/docs(\\[1\\])?/inner.txt"));
      EXPECT_TRUE(written.contains("Same/dup.txt") && written.contains("Same/dup[1].txt"));
    }
    Context.Clear();
  }
}

// A second run over the first: the rule decides about the earlier run's
// files, and still no file of this run replaces another of this run.
TEST_F(RestoreTargetsTest, TheRuleDecidesOnlyAboutFilesThatWereThereBefore) {
  const fs::path target = FRoot / "target";
  RestoreAll(target, rmFlat, rcmRename);
  const std::size_t first = FilesBelow(target).size();
  Context.Clear();
  RestoreAll(target, rmFlat, rcmDontSave);
  EXPECT_EQ(FilesBelow(target).size(), first);
  EXPECT_THAT(DetailsOf(pdsWarning), Contains(HasSubstr("Skip file " + (target / "self.img").string())));
  Context.Clear();
  RestoreAll(target, rmFlat, rcmRename);
  EXPECT_EQ(FilesBelow(target).size(), 2 * first);
}

// Links to outside the target, dangling ones and links where the volume's
// folders would go: nothing is written through any of them, and what they
// point at stays as it was.
TEST_F(RestoreTargetsTest, HostileLinksInTheTargetAreNeverFollowed) {
  const fs::path outside = FRoot / "outside";
  fs::create_directories(outside / "deep");
  std::ofstream(outside / "dup.txt") << "keep";
  std::ofstream(outside / "deep" / "self.img") << "keep too";
  const std::map<std::string, std::string> outsideBefore = FilesBelow(outside);
  for (const TResolveConflictMode conflict : {rcmOvewrite, rcmRename, rcmDontSave}) {
    SCOPED_TRACE(conflict);
    const fs::path target = FRoot / ("target" + std::to_string(conflict));
    fs::create_directories(target);
    fs::create_symlink(outside, target / "Same");                     // the volume's folder
    fs::create_symlink(outside / "deep" / "self.img", target / "self.img"); // a file the volume holds
    fs::create_symlink(FRoot / "nowhere", target / "docs");           // dangling
    fs::create_symlink(FImage, target / "image-link");
    Progress->Lines.clear();
    RestoreAll(target, rmTree, conflict);

    EXPECT_EQ(FilesBelow(outside), outsideBefore);
    EXPECT_FALSE(fs::exists(FRoot / "nowhere"));
    EXPECT_TRUE(fs::is_symlink(target / "Same") && fs::is_symlink(target / "self.img"));
    // Every file lies below the target through real folders only.
    for (const auto& [path, hash] : FilesBelow(target))
      EXPECT_EQ(fs::canonical(target / path), target / path);
    if (conflict != rcmDontSave) {
      EXPECT_EQ(Values(FilesBelow(target)), DeletedFileHashes(FManifest));
    }
    Context.Clear();
  }
}

// The image's own folder as the target, and a deleted file named like the
// image: with overwrite it would replace the source.
TEST_F(RestoreTargetsTest, AFileThatWouldBeTheSourceImageIsRefused) {
  const fs::path image = FRoot / "self.img";
  fs::rename(FImage, image);
  FImage = image;
  RestoreAll(FRoot, rmTree, rcmOvewrite);
  EXPECT_THAT(DetailsOf(pdsError),
              ::testing::ElementsAre("Cannot create file \"" + image.string() +
                                     "\". It is on the source drive, which is never written to."));
  // Everything else was restored.
  EXPECT_EQ(FilesBelow(FRoot / "Same").size(), DeletedFileHashes(FManifest).size() - 1);
}

// A loop device over the image, mounted by ntfs-3g; or the image mounted by
// ntfs-3g while the loop device is the source. Needs root for both.
class MountedSourceTest : public RestoreTargetsTest {
protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "loop devices and mounts need root";
    RestoreTargetsTest::SetUp();
    fs::create_directories(FMount);
  }
  void TearDown() override {
    if (FMounted)
      testsupport::RunCommand({"umount", FMount.string()});
    if (!FLoop.empty())
      testsupport::RunCommand({"losetup", "-d", FLoop});
    if (!IsSkipped())
      RestoreTargetsTest::TearDown();
  }

  bool Mount(const std::string& ASource) {
    FMounted = testsupport::RunCommand({"ntfs-3g", ASource, FMount.string()}).ExitCode == 0;
    FImageChangedByMount = FMounted;
    return FMounted;
  }
  bool AttachLoop() {
    const testsupport::CommandResult loop = testsupport::RunCommand({"losetup", "-f", "--show", FImage.string()});
    if (loop.ExitCode == 0)
      FLoop = testsupport::SplitLines(loop.Out).front();
    return !FLoop.empty();
  }

  // Whatever the target, nothing reaches the mount, and with it the source.
  void ExpectRefused(const std::string& ASource) {
    const std::map<std::string, std::string> mountBefore = FilesBelow(FMount);
    UseVolume(ASource);
    for (const fs::path& target : {FMount / "restored", FMount / "Same"})
      EXPECT_FALSE(Context.TargetDirIsValid(FromNativePath(target.string()))) << target;
    // Even set past the check, the restore writes nothing there.
    Context.Clear();
    Context.SetMask(u"*");
    Context.ProcessScan();
    Context.CheckAll(Context.TreeItems(), true);
    Context.SetTargetDir(FromNativePath((FMount / "restored").string()));
    EXPECT_THAT([&] { Context.ProcessRecover(); },
                ::testing::ThrowsMessage<std::runtime_error>(HasSubstr("is on the source drive")));
    EXPECT_FALSE(fs::exists(FMount / "restored"));

    // A link in an ordinary target that leads into the mount.
    const fs::path target = FRoot / "target";
    fs::create_directories(target);
    fs::create_symlink(FMount / "Same", target / "Same");
    Context.SetTargetDir(FromNativePath(target.string()));
    Context.ProcessRecover();
    EXPECT_EQ(Values(FilesBelow(target)), DeletedFileHashes(FManifest));
    EXPECT_EQ(FilesBelow(FMount), mountBefore);
  }

  fs::path FMount = FRoot / "mnt";
  std::string FLoop;
  bool FMounted = false;
};

TEST_F(MountedSourceTest, AMountOfALoopDeviceOverTheImageIsTheSource) {
  if (!AttachLoop() || !Mount(FLoop))
    GTEST_SKIP() << "no loop device or ntfs-3g mount here";
  ExpectRefused(FImage.string());
}

TEST_F(MountedSourceTest, AMountOfTheImageIsTheSourceOfItsLoopDevice) {
  if (!AttachLoop() || !Mount(FImage.string()))
    GTEST_SKIP() << "no loop device or ntfs-3g mount here";
  ExpectRefused(FLoop);
}

} // namespace
