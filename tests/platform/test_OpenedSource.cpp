// A source opened once: the never-write set comes from every file the
// opened source reads (an E01's segments, a VMDK's extent, a rescue's
// mapfile), whatever name or link leads to them; a differencing image is
// refused naming its parent; a source written over with another volume is
// told apart from the one that was opened.

#include "platform/uSourceResolver.h"

#include "ntfs/uFSError.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct stat StatOf(const fs::path& APath) {
  struct stat info {};
  EXPECT_EQ(stat(APath.c_str(), &info), 0) << APath;
  return info;
}

// A hard link and a symbolic link to each piece, beside it: both must still
// count as the source.
void ExpectEveryWayToThePiecesIsTheSource(const TOpenedSource& ASource, const std::vector<fs::path>& APieces) {
  std::vector<std::string> named;
  for (const TSourcePiece& piece : ASource.Source()->Pieces())
    named.push_back(fs::path(piece.Path).filename().string());
  for (const fs::path& piece : APieces) {
    EXPECT_THAT(named, ::testing::Contains(piece.filename().string()));
    const fs::path hard = piece.string() + ".hardlink";
    const fs::path soft = piece.string() + ".symlink";
    fs::create_hard_link(piece, hard);
    fs::create_symlink(piece, soft);
    EXPECT_TRUE(ASource.Identity().IsSource(StatOf(piece))) << piece;
    EXPECT_TRUE(ASource.Identity().IsSource(StatOf(hard))) << hard;
    EXPECT_TRUE(ASource.Identity().IsSource(StatOf(soft))) << soft;
  }
}

class OpenedSource : public ::testing::Test {
protected:
  std::string Volume() const { return testsupport::FixtureImage("deleted"); }
  testfiles::TTempFolder Folder;
};

TEST_F(OpenedSource, EverySegmentOfAnE01IsTheSource) {
  const fs::path target = Folder / "disk";
  // Segments of 1 MiB, the least ewfacquire writes, split the volume.
  const testsupport::CommandResult made = testsupport::RunCommand(
      {"ewfacquire", "-u", "-q", "-c", "none", "-S", "1048576", "-t", target.string(), Volume()});
  if (made.ExitCode != 0 || !fs::exists(Folder / "disk.E02"))
    GTEST_SKIP() << "ewfacquire could not write segment files: " << made.Err;
  const TOpenedSourcePtr source = TSourceResolver().Open({(Folder / "disk.E01").string()});
  ExpectEveryWayToThePiecesIsTheSource(*source, {Folder / "disk.E01", Folder / "disk.E02"});
}

TEST_F(OpenedSource, AVmdkAndItsFlatExtentAreTheSource) {
  const fs::path descriptor = Folder / "disk.vmdk";
  const testsupport::CommandResult made = testsupport::RunCommand(
      {"qemu-img", "convert", "-f", "raw", "-O", "vmdk", "-o", "subformat=monolithicFlat", Volume(), descriptor.string()});
  if (made.ExitCode != 0)
    GTEST_SKIP() << "qemu-img could not write a VMDK: " << made.Err;
  const TOpenedSourcePtr source = TSourceResolver().Open({descriptor.string()});
  ExpectEveryWayToThePiecesIsTheSource(*source, {descriptor, Folder / "disk-flat.vmdk"});
}

TEST_F(OpenedSource, AMapfileIsPartOfTheSource) {
  const fs::path image = Folder / "rescued.img";
  fs::copy_file(Volume(), image);
  const fs::path map = Folder / "rescued.img.map";
  const std::string text = "0x00000000 +\n0x00000000 0x" + [&image] {
    char size[32];
    std::snprintf(size, sizeof size, "%08llX", static_cast<unsigned long long>(fs::file_size(image)));
    return std::string(size);
  }() + " +\n";
  testfiles::WriteFile(map, std::vector<std::uint8_t>(text.begin(), text.end()));
  const TOpenedSourcePtr source = TSourceResolver().Open({image.string()});
  ExpectEveryWayToThePiecesIsTheSource(*source, {image, map});
  EXPECT_THAT(source->Warnings(), ::testing::IsEmpty());
}

TEST_F(OpenedSource, ADifferencingImageIsRefusedNamingItsParent) {
  const fs::path base = Folder / "base.qcow2";
  const fs::path overlay = Folder / "overlay.qcow2";
  testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", "qcow2", Volume(), base.string()});
  const testsupport::CommandResult made = testsupport::RunCommand(
      {"qemu-img", "create", "-f", "qcow2", "-b", base.string(), "-F", "qcow2", overlay.string()});
  if (made.ExitCode != 0)
    GTEST_SKIP() << "qemu-img could not write a differencing image: " << made.Err;
  try {
    TSourceResolver().Open({overlay.string()});
    ADD_FAILURE() << "the differencing image was opened without its parent";
  } catch (const NoDriveException& error) {
    EXPECT_THAT(error.what(), HasSubstr("holds only the changes to its parent image \"" + base.string() + "\""));
  }
}

// A log beside the image that is no mapfile is named, and the image opens
// without it; a mapfile named by the user must read as one.
TEST_F(OpenedSource, ALogBesideTheImageIsPassedOverButAChosenMapfileMustBeOne) {
  const fs::path image = Folder / "disk.img";
  fs::copy_file(Volume(), image);
  const std::string log = "copied with dd on Monday\n";
  testfiles::WriteFile(Folder / "disk.img.log", std::vector<std::uint8_t>(log.begin(), log.end()));
  const TOpenedSourcePtr source = TSourceResolver().Open({image.string()});
  ASSERT_EQ(source->Warnings().size(), 1u);
  EXPECT_THAT(source->Warnings().front(), HasSubstr("disk.img.log\" beside the image is not read as its mapfile"));
  EXPECT_THAT(source->Source()->KnownUnreadable(), ::testing::IsEmpty());
  EXPECT_THROW(TSourceResolver().Open({image.string(), 0, (Folder / "disk.img.log").string()}), NoDriveException);
}

TEST_F(OpenedSource, ASourceWrittenOverOrCutShortIsToldApart) {
  const fs::path image = Folder / "disk.img";
  fs::copy_file(Volume(), image);
  const TOpenedSourcePtr source = TSourceResolver().Open({image.string()});
  EXPECT_NO_THROW(source->CheckUnchanged());
  fs::copy_file(testsupport::FixtureImage("demo"), image, fs::copy_options::overwrite_existing);
  try {
    source->CheckUnchanged();
    ADD_FAILURE() << "another volume passed for the one opened";
  } catch (const NoDriveException& error) {
    EXPECT_THAT(error.what(), HasSubstr("no longer holds the volume that was scanned"));
  }
  fs::resize_file(image, 0);
  try {
    source->CheckUnchanged();
    ADD_FAILURE() << "an empty file passed for the volume opened";
  } catch (const NoDriveException& error) {
    EXPECT_THAT(error.what(), HasSubstr("cannot be read any more"));
  }
}

// The system as a test describes it: real files, a made-up mount table.
class TMountedView : public TSystemSourceView {
public:
  explicit TMountedView(std::string AMountInfo) : FMountInfo(std::move(AMountInfo)) {}
  std::string MountInfo() const override { return FMountInfo; }
  std::vector<std::pair<dev_t, std::string>> LoopDevices() const override { return {}; }

private:
  std::string FMountInfo;
};

// While a volume stays mounted read-write the system may write over its
// deleted files: the user hears where it is mounted and how to stop that;
// a read-only mount needs no warning.
TEST_F(OpenedSource, ASourceMountedReadWriteIsWarnedAboutWithTheWaysOut) {
  const fs::path image = Folder / "stick.img";
  fs::copy_file(Volume(), image);
  const struct {
    const char* Options;
    bool Warned;
  } cases[] = {{"rw,nosuid,nodev", true}, {"ro,nosuid,nodev", false}};
  for (const auto& c : cases) {
    const TMountedView view("40 22 0:55 / /media/u/STICK " + std::string(c.Options) + " shared:7 - fuseblk " +
                            image.string() + " rw\n");
    const TOpenedSource source({image.string()}, TFileSource::Open(image.string()), {}, view);
    ASSERT_EQ(source.Warnings().size(), c.Warned ? 1u : 0u) << c.Options;
    if (c.Warned) {
      EXPECT_THAT(source.Warnings().front(), HasSubstr("is mounted read-write at \"/media/u/STICK\""));
      EXPECT_THAT(source.Warnings().front(), HasSubstr("Unmount it first"));
      EXPECT_THAT(source.Warnings().front(), HasSubstr("mount -o remount,ro \"/media/u/STICK\""));
    }
  }
}

} // namespace
