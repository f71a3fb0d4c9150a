// The target folder of a restore: nothing is written outside it or through
// a link, nothing onto the source drive, and every failure names the file.

#include "platform/uTargetFolder.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& APath) {
  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(APath);
  return std::string(bytes.begin(), bytes.end());
}

struct stat StatOf(const fs::path& APath) {
  struct stat info {};
  EXPECT_EQ(::stat(APath.c_str(), &info), 0) << APath;
  return info;
}

// The error message of AAction, or "" when it raised none.
template <class F>
std::string ErrorOf(F AAction) {
  try {
    AAction();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

class TargetFolderTest : public ::testing::Test {
protected:
  fs::path At(const std::string& ARelative) const { return FRoot / ARelative; }
  fs::path Outside(const std::string& ARelative) const { return FOutside / ARelative; }

  testfiles::TTempFolder FFolder;
  fs::path FRoot = fs::canonical(FFolder.Path()) / "target";
  fs::path FOutside = fs::canonical(FFolder.Path()) / "outside";
  ITargetFolderPtr FTarget = OpenLinuxTargetFolder(FRoot.string(), TSourceIdentity());

  void SetUp() override {
    fs::create_directories(FRoot);
    fs::create_directories(FOutside);
    std::ofstream(Outside("victim")) << "keep";
  }
};

TEST_F(TargetFolderTest, EntriesAreToldWithoutFollowingLinks) {
  fs::create_directories(At("dir"));
  std::ofstream(At("file")) << "x";
  fs::create_symlink(At("file"), At("link-to-file"));
  fs::create_symlink(FOutside, At("link-to-dir"));
  fs::create_symlink(At("nowhere"), At("dangling"));
  ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
  const std::map<std::string, TEntryKind> cases = {
      {"file", TEntryKind::ekFile},          {"dir", TEntryKind::ekFolder},      {"missing", TEntryKind::ekNone},
      {"link-to-file", TEntryKind::ekOther}, {"link-to-dir", TEntryKind::ekOther}, {"dangling", TEntryKind::ekOther},
      {"pipe", TEntryKind::ekOther},         {"missing/below", TEntryKind::ekNone},
  };
  for (const auto& [path, kind] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(FTarget->Entry(path).Kind, kind);
  }
  EXPECT_EQ(FTarget->Entry("file").Inode, StatOf(At("file")).st_ino);
  // A link where a folder should be is never looked through.
  EXPECT_NE(ErrorOf([&] { FTarget->Entry("link-to-dir/victim"); }), "");
}

TEST_F(TargetFolderTest, FoldersAreMadeOneLevelAtATimeAndNeverThroughALink) {
  FTarget->CreateFolder("a");
  FTarget->CreateFolder("a/b");
  EXPECT_EQ(FTarget->CreateFolder("a/b").Kind, TEntryKind::ekFolder); // one already there is fine
  EXPECT_TRUE(fs::is_directory(At("a/b")));

  std::ofstream(At("a/file")) << "x";
  fs::create_symlink(FOutside, At("a/link"));
  EXPECT_EQ(ErrorOf([&] { FTarget->CreateFolder("a/file"); }).find("Cannot create folder \"" + At("a/file").string() + "\""), 0u);
  EXPECT_NE(ErrorOf([&] { FTarget->CreateFolder("a/link"); }), "");
  EXPECT_NE(ErrorOf([&] { FTarget->CreateFolder("a/link/sub"); }), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(FOutside), fs::directory_iterator()), 1);
}

TEST_F(TargetFolderTest, FilesAreReplacedOnlyWhenAsked) {
  std::ofstream(At("out.bin")) << "old content that is longer";
  TTargetEntry created;
  EXPECT_EQ(ErrorOf([&] { FTarget->CreateFile("out.bin", false, created); }).find("Cannot create file \"" + At("out.bin").string() + "\""), 0u);
  IOutputFilePtr file = FTarget->CreateFile("out.bin", true, created);
  const std::string data(200000, 'z'); // more than one write call may take
  file->Write(data.data(), data.size());
  file->Close();
  EXPECT_EQ(ReadAll(At("out.bin")), data);
  EXPECT_EQ(created.Inode, StatOf(At("out.bin")).st_ino);

  FTarget->CreateFile("empty", false, created)->Close();
  EXPECT_EQ(fs::file_size(At("empty")), 0u);
}

// None of these may be written through: each fails at once with a message
// naming the file, and what it points at stays as it was.
TEST_F(TargetFolderTest, NothingIsWrittenThroughWhatIsNotAPlainFile) {
  fs::create_symlink(Outside("victim"), At("link"));
  fs::create_symlink(Outside("nowhere"), At("dangling"));
  fs::create_symlink(FOutside, At("linked-dir"));
  fs::create_directories(At("dir"));
  ASSERT_EQ(::mkfifo(At("pipe").c_str(), 0600), 0);
  for (const char* name : {"link", "dangling", "dir", "pipe", "missing-dir/file", "linked-dir/victim", "linked-dir/new"}) {
    SCOPED_TRACE(name);
    for (const bool replace : {false, true}) {
      TTargetEntry created;
      EXPECT_EQ(ErrorOf([&] { FTarget->CreateFile(name, replace, created); }).find("Cannot create file \"" + At(name).string() + "\""), 0u);
    }
  }
  EXPECT_EQ(ReadAll(Outside("victim")), "keep");
  EXPECT_FALSE(fs::exists(Outside("nowhere")));
  EXPECT_FALSE(fs::exists(Outside("new")));
}

TEST_F(TargetFolderTest, AWriteFailureNamesTheFile) {
  // A file size limit stands in for a full target: the short write must
  // reach the caller as an error naming the file, not pass as success.
  struct rlimit saved {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 1000;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  TTargetEntry created;
  IOutputFilePtr file = FTarget->CreateFile("big", false, created);
  const std::string data(4096, 'b');
  const std::string message = ErrorOf([&] { file->Write(data.data(), data.size()); });
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(message.find("Cannot write file \"" + At("big").string() + "\""), 0u) << message;
}

// A system in which the test's image file is a source with a loop device
// over it, the loop device has a partition, and two mounts come from them.
class TStagedSystem : public TSystemSourceView {
public:
  std::string MountInfo() const override { return Mounts; }
  std::vector<std::pair<dev_t, std::string>> LoopDevices() const override { return Loops; }
  std::vector<dev_t> PartitionsOf(dev_t ADisk) const override {
    return ADisk == kLoop ? std::vector<dev_t>{kLoopPartition} : std::vector<dev_t>{};
  }

  static inline const dev_t kLoop = makedev(7, 3);
  static inline const dev_t kLoopPartition = makedev(259, 9);
  std::string Mounts;
  std::vector<std::pair<dev_t, std::string>> Loops;
};

std::string MountLine(dev_t ADevice, const std::string& AMountPoint, const std::string& ASource) {
  return "40 28 " + std::to_string(major(ADevice)) + ":" + std::to_string(minor(ADevice)) + " / " + AMountPoint +
         " rw - fuseblk " + ASource + " rw\n";
}

TEST(SourceIdentity, FollowsTheImageThroughLoopDevicesPartitionsAndMounts) {
  const testfiles::TTempFolder folder;
  const fs::path image = folder.Path() / "source.img";
  const fs::path other = folder.Path() / "other.img";
  std::ofstream(image) << "ntfs";
  std::ofstream(other) << "ntfs";
  const struct stat imageInfo = StatOf(image);
  const struct stat otherInfo = StatOf(other);
  const dev_t fuseMount = makedev(0, 77);
  const dev_t elsewhere = makedev(8, 17);

  TStagedSystem system;
  system.Loops = {{TStagedSystem::kLoop, image.string()}, {makedev(7, 4), other.string()}};
  system.Mounts = MountLine(TStagedSystem::kLoop, "/mnt/loop", "/dev/loop3") + // a kernel driver's mount
                  MountLine(fuseMount, "/mnt/fuse", image.string()) +         // ntfs-3g on the image itself
                  MountLine(elsewhere, "/", "/dev/sdb1");

  for (const fs::path& source : {image, fs::path("/dev/loop3")}) {
    SCOPED_TRACE(source);
    // The loop device node does not exist here; the staged stat answers it.
    struct TLoopNode : TStagedSystem {
      std::optional<struct stat> Stat(const std::string& APath) const override {
        if (APath != "/dev/loop3")
          return TSystemSourceView::Stat(APath);
        struct stat info {};
        info.st_mode = S_IFBLK | 0660;
        info.st_rdev = kLoop;
        return info;
      }
    } view;
    view.Loops = system.Loops;
    view.Mounts = system.Mounts;
    const TSourceIdentity identity = TSourceIdentity::Of(source.string(), view);

    EXPECT_TRUE(identity.IsSource(imageInfo));
    EXPECT_FALSE(identity.IsSource(otherInfo));
    for (const dev_t device : {TStagedSystem::kLoop, TStagedSystem::kLoopPartition, fuseMount})
      EXPECT_TRUE(identity.HoldsFileSystem(device)) << major(device) << ":" << minor(device);
    EXPECT_FALSE(identity.HoldsFileSystem(elsewhere));
    EXPECT_FALSE(identity.HoldsFileSystem(imageInfo.st_dev)); // the folder that holds the image is fine
    struct stat loopNode {};
    loopNode.st_mode = S_IFBLK;
    loopNode.st_rdev = TStagedSystem::kLoopPartition;
    EXPECT_TRUE(identity.IsSource(loopNode));
  }
  EXPECT_FALSE(TSourceIdentity::Of((folder.Path() / "missing.img").string(), system).IsSource(imageInfo));
}

TEST(SourceIdentity, TheTargetRefusesTheSourceFileAndAFolderOnAMountOfIt) {
  const testfiles::TTempFolder folder;
  const fs::path root = fs::canonical(folder.Path());
  std::ofstream(root / "self.img") << "the source image";
  const struct stat rootInfo = StatOf(root);

  // The image beside the target's files: the folder is fine, the image is not.
  TStagedSystem plain;
  const TSourceIdentity identity = TSourceIdentity::Of((root / "self.img").string(), plain);
  const ITargetFolderPtr target = OpenLinuxTargetFolder(root.string(), identity);
  TTargetEntry created;
  EXPECT_EQ(ErrorOf([&] { target->CreateFile("self.img", true, created); }),
            "Cannot create file \"" + (root / "self.img").string() +
                "\". It is on the source drive, which is never written to.");
  EXPECT_NE(ErrorOf([&] { target->CreateFile("self.img", false, created); }), "");
  EXPECT_EQ(ReadAll(root / "self.img"), "the source image");
  target->CreateFile("other.txt", false, created)->Close();
  EXPECT_FALSE(LiesOnSource((root / "sub").string(), identity));

  // The same folder seen as a mount of the image: refused before anything is made.
  TStagedSystem mounted;
  mounted.Mounts = MountLine(rootInfo.st_dev, root.string(), (root / "self.img").string());
  const TSourceIdentity onMount = TSourceIdentity::Of((root / "self.img").string(), mounted);
  EXPECT_TRUE(LiesOnSource((root / "not/yet").string(), onMount));
  EXPECT_EQ(ErrorOf([&] { OpenLinuxTargetFolder((root / "restored").string(), onMount); }),
            TargetOnSourceMessage((root / "restored").string()));
  EXPECT_FALSE(fs::exists(root / "restored"));
}

// A folder on a file system that cannot take files is refused for what it
// is, not for its free space; a read-only mount needs root to be made.
TEST(UnwritableTarget, IsRefusedNamingItsFileSystem) {
  struct TCase {
    std::string Folder;
    std::string Why;
  };
  std::vector<TCase> cases{{"/proc/restored", "is on a file system that holds no files (such as /proc or /sys)."},
                           {"/sys/kernel/restored", "is on a file system that holds no files (such as /proc or /sys)."}};
  const testfiles::TTempFolder folder;
  const fs::path readOnly = fs::canonical(folder.Path()) / "ro";
  fs::create_directories(readOnly);
  const bool mounted = ::getuid() == 0 && std::system(("mount -t tmpfs -o ro,size=1m none " + readOnly.string()).c_str()) == 0;
  if (mounted)
    cases.push_back({(readOnly / "restored").string(), "is on a file system mounted read-only."});
  for (const TCase& test : cases)
    EXPECT_EQ(ErrorOf([&] { OpenLinuxTargetFolder(test.Folder, TSourceIdentity()); }),
              "The target folder \"" + test.Folder + "\" " + test.Why);
  if (mounted)
    std::system(("umount " + readOnly.string()).c_str());
  else
    std::cout << "The read-only mount is not tried: it needs root.\n";
}

} // namespace
