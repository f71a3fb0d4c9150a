#include "platform/uDrivePart.h"

#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

namespace fs = std::filesystem;

TEST(DrivePartWindows, LetterAndNetworkPathsAndNothingElse) {
  struct TCase {
    const char* Path;
    std::optional<std::string> Expected;
  };
  const TCase cases[] = {
      {"c:\\restore", "C:"},
      {"D:\\out\\", "D:"},
      {"d:", "D:"},
      {"e:relative", "E:"},
      {"\\\\server\\share\\dir\\file", "\\\\SERVER\\SHARE"},
      {"\\\\Server\\Share", "\\\\SERVER\\SHARE"},
      {"\\\\server", "\\\\SERVER"},
      {"/mnt/d", std::nullopt},
      {"relative\\dir", std::nullopt},
      {"1:\\x", std::nullopt},
      {"", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Path);
    EXPECT_EQ(WindowsDrivePart(c.Path), c.Expected);
  }
}

TEST(DrivePartMountInfo, ParsesLinesUndoingEscapes) {
  const std::string text =
      "22 1 8:2 / / rw,relatime shared:1 - ext4 /dev/sda2 rw\n"
      "36 22 0:55 / /media/u/My\\040Disk rw,nosuid shared:7 master:2 - fuseblk /dev/sdb1 rw\n"
      "37 22 259:3 / /mnt/no\\134optional ro,noatime - ntfs3 /dev/nvme0n1p3 rw\n"
      "garbage line\n"
      "38 22 x:y / /mnt/bad rw - ext4 /dev/sdc1 rw\n"
      "39 22 8:33 / /mnt/short rw - ext4\n";
  const std::vector<TMountEntry> entries = ParseMountInfo(text);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].MountPoint, "/");
  EXPECT_EQ(entries[0].Device, makedev(8, 2));
  EXPECT_EQ(entries[0].Source, "/dev/sda2");
  EXPECT_EQ(entries[1].MountPoint, "/media/u/My Disk");
  EXPECT_EQ(entries[1].Device, makedev(0, 55));
  EXPECT_EQ(entries[1].Source, "/dev/sdb1");
  EXPECT_EQ(entries[2].MountPoint, "/mnt/no\\optional");
  EXPECT_EQ(entries[2].Device, makedev(259, 3));
  // Whether the system may write there: the mount's own options decide.
  EXPECT_TRUE(entries[0].Writable);
  EXPECT_TRUE(entries[1].Writable);
  EXPECT_FALSE(entries[2].Writable);
}

// A mount table and device nodes made up over real temporary folders, so
// that symbolic links and "..", which only the real file system resolves,
// are part of the test.
class TScriptedResolver : public TDrivePartResolver {
public:
  using TDrivePartResolver::TDrivePartResolver;
  std::string MountInfo;
  std::map<std::string, dev_t> Devices;

protected:
  std::string ReadMountInfo() const override { return MountInfo; }
  std::optional<dev_t> BlockDeviceNumber(const std::string& APath) const override {
    const auto found = Devices.find(APath);
    return found == Devices.end() ? std::nullopt : std::optional<dev_t>(found->second);
  }
};

class DrivePartTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (const char* dir : {"src", "src/inner", "srcother", "plain", "stack"})
      fs::create_directories(FFolder / dir);
    fs::create_symlink(FRoot + "/src/inner", FRoot + "/plain/link-into-source");
    FTable.Assign(u'D', "/dev/sdb1");
    FTable.Assign(u'E', "/dev/sdc1");
    FTable.Assign(u'F', "/home/u/volume.img");
    FResolver.Devices = {{"/dev/sdb1", makedev(8, 17)}, {"/dev/sdc1", makedev(8, 33)}, {"/dev/sdd1", makedev(8, 49)}};
    FResolver.MountInfo =
        "22 1 8:2 / / rw - ext4 /dev/sda2 rw\n"
        "40 22 0:61 / " + FRoot + "/src rw - fuseblk /dev/sdb1 rw\n"
        "41 40 8:33 / " + FRoot + "/src/inner rw - ntfs3 /dev/disk/by-label/x rw\n"
        "42 22 8:49 / " + FRoot + "/stack rw - ext4 /dev/sdd1 rw\n"
        "43 42 0:61 / " + FRoot + "/stack rw - fuseblk /dev/sdb1 rw\n";
  }
  testfiles::TTempFolder FFolder;
  std::string FRoot = fs::canonical(FFolder.Path()).string();
  TDriveTable FTable;
  TDriveTableVolumes FVolumes{FTable};
  TScriptedResolver FResolver{FVolumes};
};

std::string IdentityOf(const std::string& APath) {
  struct stat info {};
  EXPECT_EQ(::stat(APath.c_str(), &info), 0) << APath;
  return "dev:" + std::to_string(major(info.st_dev)) + ":" + std::to_string(minor(info.st_dev));
}

TEST_F(DrivePartTest, PosixPathsTakeTheLetterOfTheVolumeMountedThere) {
  struct TCase {
    const char* Name;
    std::string Path;
    std::string Expected;
  };
  const TCase cases[] = {
      {"fuse mount, matched by its source", FRoot + "/src/out", "D:"},
      {"the mount point itself", FRoot + "/src", "D:"},
      {"longest mount point wins, matched by device", FRoot + "/src/inner/x/y", "E:"},
      {"mounted over: the last mount wins", FRoot + "/stack/out", "D:"},
      {"a link into the source is followed", FRoot + "/plain/link-into-source/out", "E:"},
      {"dot-dot leaves the mount", FRoot + "/src/inner/../../plain/out", IdentityOf(FRoot + "/plain")},
      {"a prefix of a name is no mount point", FRoot + "/srcother/out", IdentityOf(FRoot + "/srcother")},
      {"unlisted volume: its own identity", FRoot + "/plain/new/deeper", IdentityOf(FRoot + "/plain")},
      {"drive letter path", "d:\\out", "D:"},
      {"empty", "", ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(FResolver.DrivePart(c.Path), c.Expected);
  }
}

TEST_F(DrivePartTest, RelativePathsStartInTheCurrentFolder) {
  const fs::path before = fs::current_path();
  fs::current_path(FRoot + "/src");
  const std::string part = FResolver.DrivePart("out/below");
  fs::current_path(before);
  EXPECT_EQ(part, "D:");
}

// The process as it runs: the real mount table and an empty drive table.
TEST(DrivePartSystem, RealMountTableGivesTheFileSystemIdentity) {
  const TDriveTable noDrives;
  EXPECT_EQ(SystemDrivePart(noDrives, "/"), IdentityOf("/"));
  EXPECT_EQ(SystemDrivePart(noDrives, ::testing::TempDir()), IdentityOf(::testing::TempDir()));
  EXPECT_EQ(SystemDrivePart(noDrives, "c:\\restore"), "C:");
}

}  // namespace
