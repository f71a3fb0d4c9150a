// Every file a source reads (an image, a VMDK's extent, a mapfile) is
// read as what it is, whatever it is called, and is never written: not by
// a restore into its folder that overwrites files of its name, not by a
// source that cannot be opened. Each case compares every file of the
// source's folder, bytes and modification time, before and after.

#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using clirun::Cli;
using clirun::LastErrorLine;
using testsupport::CommandResult;
using ::testing::HasSubstr;

// A deleted, intact file of the demo volume, and its name alone. The path
// names no drive letter: a volume mounted by a test running beside this one
// takes a letter too.
constexpr char kVictimPath[] = "/Documents/thesis.docx";
constexpr char kVictimName[] = "thesis.docx";

// Each file of a folder (not below it) by name: its sha256 and when it was
// last modified, to the nanosecond.
using TFolderState = std::map<std::string, std::pair<std::string, std::pair<std::int64_t, std::int64_t>>>;

TFolderState StateOf(const fs::path& AFolder) {
  TFolderState state;
  for (const fs::directory_entry& entry : fs::directory_iterator(AFolder)) {
    struct stat info {};
    if (!entry.is_regular_file() || ::stat(entry.path().c_str(), &info) != 0)
      continue;
    state[entry.path().filename().string()] = {testsupport::Sha256Hex(clirun::ReadFile(entry.path())),
                                               {info.st_mtim.tv_sec, info.st_mtim.tv_nsec}};
  }
  return state;
}

std::vector<std::string> ScanRows(const std::vector<std::string>& ASource) {
  std::vector<std::string> args{"scan"};
  args.insert(args.end(), ASource.begin(), ASource.end());
  args.insert(args.end(), {"--format", "tsv"});
  const CommandResult result = Cli(args);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  return clirun::WithoutDriveLetters(testsupport::SplitLines(result.Out));
}

class CliSourcePieces : public ::testing::Test {
protected:
  static std::string Volume(const std::string& ARecipe) { return testsupport::FixtureImage(ARecipe); }

  // A monolithic flat VMDK of ARecipe's volume whose extent file is named
  // AExtent; returns the descriptor.
  std::string FlatVmdk(const std::string& ARecipe, const std::string& AExtent) {
    const fs::path descriptor = Folder / "disk.vmdk";
    const CommandResult made = testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", "vmdk", "-o",
                                                        "subformat=monolithicFlat", Volume(ARecipe),
                                                        descriptor.string()});
    EXPECT_EQ(made.ExitCode, 0) << made.Err;
    fs::rename(Folder / "disk-flat.vmdk", Folder / AExtent);
    const std::string text =
        std::regex_replace(clirun::ReadFile(descriptor), std::regex("\"disk-flat\\.vmdk\""), '"' + AExtent + '"');
    std::ofstream(descriptor, std::ios::trunc) << text;
    return descriptor.string();
  }

  testfiles::TTempFolder Folder;
};

// A restore into the folder that holds the source, told to overwrite, of a
// file named like one of the source's pieces: the piece is refused.
TEST_F(CliSourcePieces, ARestoreOverwritesNoPieceOfItsSource) {
  struct TCase {
    std::string What;
    std::vector<std::string> Source;
  };
  const std::vector<TCase> cases = {
      {"a VMDK's flat extent", {FlatVmdk("demo", kVictimName)}},
      {"a chosen mapfile", {}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.What);
    std::vector<std::string> source = test.Source;
    if (source.empty()) {
      for (const fs::directory_entry& entry : fs::directory_iterator(Folder.Path()))
        fs::remove(entry.path());
      fs::copy_file(Volume("demo"), Folder / "demo.img");
      std::ofstream(Folder / kVictimName) << "0x0 +\n0x0 0x" << std::hex << fs::file_size(Folder / "demo.img")
                                          << " +\n";
      source = {(Folder / "demo.img").string(), "--map", (Folder / kVictimName).string()};
    }
    const TFolderState before = StateOf(Folder.Path());
    std::vector<std::string> args{"restore"};
    args.insert(args.end(), source.begin(), source.end());
    args.insert(args.end(), {"--target", Folder.Path().string(), "--mode", "flat", "--conflict", "overwrite",
                             "--path", kVictimPath});
    const CommandResult restore = Cli(args);
    EXPECT_NE(restore.ExitCode, 0) << restore.Err;
    EXPECT_THAT(restore.Err, HasSubstr("It is on the source drive, which is never written to."));
    EXPECT_EQ(StateOf(Folder.Path()), before);
  }
}

// Renamed, a single-file VMDK still names its old file name inside; with
// another disk of that name beside it, it is still read as itself.
TEST_F(CliSourcePieces, ContainersAreReadAsThemselvesWhateverTheirNames) {
  const fs::path renamed = Folder / "renamed.vmdk";
  testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", "vmdk", Volume("deleted"),
                           (Folder / "original.vmdk").string()});
  fs::rename(Folder / "original.vmdk", renamed);
  testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", "vmdk", Volume("demo"),
                           (Folder / "original.vmdk").string()});
  // An E01 is known by its signature, so it opens under any extension.
  testsupport::RunCommand({"ewfacquire", "-u", "-q", "-c", "none", "-t", (Folder / "evidence").string(),
                           Volume("deleted")});
  fs::rename(Folder / "evidence.E01", Folder / "evidence.bin");
  const TFolderState before = StateOf(Folder.Path());
  const std::vector<std::string> bare = ScanRows({Volume("deleted")});
  ASSERT_GT(bare.size(), 2u);
  EXPECT_EQ(ScanRows({renamed.string()}), bare);
  EXPECT_EQ(ScanRows({(Folder / "evidence.bin").string()}), bare);
  EXPECT_EQ(StateOf(Folder.Path()), before);
}

// What cannot be a source or a mapfile is refused in one line naming it,
// before anything waits on it or reads it whole.
TEST_F(CliSourcePieces, WhatCannotBeReadIsRefusedNamingWhy) {
  const std::string image = (Folder / "demo.img").string();
  fs::copy_file(Volume("demo"), image);
  const std::string pipe = (Folder / "pipe").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string hugeMap = (Folder / "huge.map").string();
  std::ofstream(hugeMap) << "0x0 +\n";
  fs::resize_file(hugeMap, 65 << 20);
  testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", "vpc", Volume("demo"),
                           (Folder / "nofooter.vhd").string()});
  fs::resize_file(Folder / "nofooter.vhd", fs::file_size(Folder / "nofooter.vhd") - 512);
  fs::create_directory(Folder / "segments");
  testsupport::RunCommand({"ewfacquire", "-u", "-q", "-c", "none", "-S", "1048576", "-t",
                           (Folder / "segments" / "disk").string(), Volume("demo")});
  fs::remove(Folder / "segments" / "disk.E02");
  ASSERT_EQ(mkfifo((Folder / "segments" / "disk.E02").c_str(), 0600), 0);

  const struct {
    std::vector<std::string> Source;
    std::string Message;
  } cases[] = {
      {{image, "--map", "/dev/zero"}, "The mapfile \"/dev/zero\" is not a file: a mapfile is the text file ddrescue writes."},
      {{image, "--map", Folder.Path().string()}, "\" is not a file: a mapfile is the text file ddrescue writes."},
      {{image, "--map", pipe}, "The mapfile \"" + pipe + "\" is not a file"},
      {{image, "--map", hugeMap}, "The mapfile \"" + hugeMap + "\" holds 68157440 bytes, more than a mapfile of any disk does"},
      {{pipe}, "\"" + pipe + "\" is not a block device or a volume image file."},
      {{(Folder / "nofooter.vhd").string()}, "its footer, the last 512 bytes of the file, is missing or damaged."},
      {{(Folder / "segments" / "disk.E01").string()}, "disk.E02\", which is neither a file nor a disk."},
  };
  const TFolderState before = StateOf(Folder.Path());
  for (const auto& test : cases) {
    SCOPED_TRACE(test.Source.back());
    std::vector<std::string> args{"scan"};
    args.insert(args.end(), test.Source.begin(), test.Source.end());
    const CommandResult result = Cli(args);
    EXPECT_EQ(result.ExitCode, 3) << result.Err;
    EXPECT_THAT(LastErrorLine(result), HasSubstr(test.Message));
    EXPECT_EQ(result.Out, "");
  }
  EXPECT_EQ(StateOf(Folder.Path()), before);
}

// A VMDK's flat extent attached to a loop device and mounted read-write:
// a target folder on that mount is on the source. Needs root and a mount.
TEST_F(CliSourcePieces, ATargetOnAMountOfAnExtentIsRefused) {
  if (geteuid() != 0)
    GTEST_SKIP() << "attaching a loop device needs root";
  const std::string descriptor = FlatVmdk("demo", "disk-flat.vmdk");
  const std::vector<std::string> attached =
      testsupport::SplitLines(testsupport::RunCommand({"losetup", "-f", "--show", (Folder / "disk-flat.vmdk").string()}).Out);
  if (attached.empty())
    GTEST_SKIP() << "no loop device can be attached here";
  const std::string device = attached.front();
  const fs::path mountPoint = Folder / "mounted";
  fs::create_directory(mountPoint);
  if (testsupport::RunCommand({"ntfs-3g", device, mountPoint.string()}).ExitCode != 0) {
    testsupport::RunCommand({"losetup", "-d", device});
    GTEST_SKIP() << "the extent cannot be mounted here (no FUSE?)";
  }
  const CommandResult restore =
      Cli({"restore", descriptor, "--target", (mountPoint / "out").string(), "--path", kVictimPath});
  const bool written = fs::exists(mountPoint / "out");
  testsupport::RunCommand({"umount", mountPoint.string()});
  testsupport::RunCommand({"losetup", "-d", device});
  EXPECT_NE(restore.ExitCode, 0) << restore.Err;
  EXPECT_THAT(restore.Err, HasSubstr("is mounted read-write at \"" + mountPoint.string() + "\""));
  EXPECT_THAT(LastErrorLine(restore), HasSubstr("is on the source drive: files are never written onto the drive"));
  EXPECT_FALSE(written);
}

} // namespace
