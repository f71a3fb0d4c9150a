// Volumes no partition table lists any more, and volumes whose boot sector
// or first MFT record is damaged: each is read through what is left of it,
// and gives the rows and bytes its intact self gave.

#include "tests/cli/CliRun.h"
#include "tests/support/FixtureDisks.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>

namespace {

namespace fs = std::filesystem;
using clirun::Cli;
using testsupport::CommandResult;
using ::testing::HasSubstr;

constexpr std::int64_t kSector = 512;
constexpr std::int64_t kMiB = 1 << 20;

std::vector<std::string> ScanRows(std::vector<std::string> AArgs, std::string* AErrors = nullptr) {
  AArgs.insert(AArgs.begin(), "scan");
  AArgs.insert(AArgs.end(), {"--format", "tsv"});
  const CommandResult result = Cli(AArgs);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  if (AErrors != nullptr)
    *AErrors = result.Err;
  return clirun::WithoutDriveLetters(testsupport::SplitLines(result.Out));
}

// Every restored file by its path below ATarget, with its bytes.
std::map<std::string, std::string> Restored(std::vector<std::string> AArgs, const fs::path& ATarget) {
  AArgs.insert(AArgs.begin(), "restore");
  AArgs.insert(AArgs.end(), {"--target", ATarget.string(), "--select", "all"});
  const CommandResult result = Cli(AArgs);
  EXPECT_LE(result.ExitCode, 1) << result.Err;
  std::map<std::string, std::string> files;
  if (fs::exists(ATarget))
    for (const auto& entry : fs::recursive_directory_iterator(ATarget))
      if (entry.is_regular_file())
        files[fs::relative(entry.path(), ATarget).string()] = clirun::ReadFile(entry.path());
  return files;
}

// Where the partitions of a disk made by MakeGptDisk start: one MiB in,
// each next one at the MiB after the end of the one before.
std::vector<std::int64_t> GptPartitionOffsets(const std::vector<std::string>& AVolumes) {
  std::vector<std::int64_t> offsets;
  std::int64_t next = kMiB;
  for (const std::string& volume : AVolumes) {
    offsets.push_back(next);
    next = (next + static_cast<std::int64_t>(fs::file_size(volume)) + kMiB - 1) / kMiB * kMiB;
  }
  return offsets;
}

void ZeroBytes(const fs::path& AImage, std::int64_t AOffset, std::int64_t ALength) {
  std::fstream image(AImage, std::ios::in | std::ios::out | std::ios::binary);
  image.seekp(AOffset);
  const std::string zeros(static_cast<std::size_t>(ALength), '\0');
  image.write(zeros.data(), ALength);
}

// A little-endian field of the boot sector of the volume image AImage.
std::int64_t BootField(const fs::path& AImage, std::int64_t AOffset, int ASize) {
  std::ifstream image(AImage, std::ios::binary);
  image.seekg(AOffset);
  std::int64_t value = 0;
  for (int i = 0; i < ASize; ++i)
    value |= static_cast<std::int64_t>(static_cast<std::uint8_t>(image.get())) << (8 * i);
  return value;
}

std::string Volume(const std::string& ARecipe) { return testsupport::FixtureImage(ARecipe); }

// A GPT disk of two volumes, and a copy whose table was zapped, made once
// for the suite.
class CliZappedDisk : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<testfiles::TTempFolder>();
    Made = testsupport::MakeGptDisk(Intact(), Volumes()) && fs::copy_file(Intact(), Zapped()) &&
           testsupport::RunCommand({"sgdisk", "--zap-all", Zapped()}).ExitCode == 0;
  }
  static void TearDownTestSuite() { Folder.reset(); }

  void SetUp() override { ASSERT_TRUE(Made) << "sgdisk failed"; }

  static std::vector<std::string> Volumes() { return {Volume("deleted"), Volume("demo")}; }
  static std::string Intact() { return (*Folder / "gpt.img").string(); }
  static std::string Zapped() { return (*Folder / "zapped.img").string(); }

  static std::unique_ptr<testfiles::TTempFolder> Folder;
  static bool Made;
};

std::unique_ptr<testfiles::TTempFolder> CliZappedDisk::Folder;
bool CliZappedDisk::Made = false;

// Each volume of the zapped disk is read at its offset as it was read as a
// partition before.
TEST_F(CliZappedDisk, AVolumeAtItsOffsetReadsAsItsPartitionDidBefore) {
  ASSERT_EQ(Cli({"scan", Zapped(), "--partition", "1"}).ExitCode, 3) << "the table is still there";
  testfiles::TTempFolder targets;
  const std::vector<std::int64_t> offsets = GptPartitionOffsets(Volumes());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::string partition = std::to_string(i + 1);
    const std::string offset = std::to_string(offsets[i]);
    SCOPED_TRACE("partition " + partition + " at " + offset);
    const std::vector<std::string> rows = ScanRows({Zapped(), "--offset", offset});
    EXPECT_GT(rows.size(), 3u);
    EXPECT_EQ(rows, ScanRows({Intact(), "--partition", partition}));
    const auto fromOffset = Restored({Zapped(), "--offset", offset}, targets / ("offset" + partition));
    EXPECT_FALSE(fromOffset.empty());
    EXPECT_EQ(fromOffset, Restored({Intact(), "--partition", partition}, targets / ("partition" + partition)));
  }
}

// The search finds the volumes of the zapped table at their offsets, the
// second also when its boot sector is gone, by the backup at its end; the
// volumes a table still lists are not lost.
TEST_F(CliZappedDisk, TheSearchFindsTheVolumesOfTheZappedTable) {
  testfiles::TTempFolder folder;
  const std::string zapped = Zapped();
  const std::string intact = Intact();
  const std::string noBoot = (folder / "no-boot.img").string();
  fs::copy_file(zapped, noBoot);
  const std::vector<std::int64_t> offsets = GptPartitionOffsets(Volumes());
  ZeroBytes(noBoot, offsets[1], kSector);

  const auto searched = [](const std::string& ADisk, std::vector<std::string> AOptions) {
    std::vector<std::string> args = {"drives", "--search", ADisk};
    args.insert(args.end(), AOptions.begin(), AOptions.end());
    const CommandResult result = Cli(args);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    std::vector<std::string> lines = testsupport::SplitLines(result.Out);
    if (!lines.empty())
      lines.erase(lines.begin());  // the heading
    return lines;
  };
  const auto row = [](std::int64_t AOffset, const std::string& AFoundBy, const std::string& ADisk) {
    return ::testing::AllOf(::testing::StartsWith(std::to_string(AOffset) + " "), HasSubstr(AFoundBy),
                            ::testing::EndsWith("lost volume at " + std::to_string(AOffset >> 20) + ".0 MiB of " +
                                                ADisk));
  };
  for (const std::vector<std::string>& options : {std::vector<std::string>{}, std::vector<std::string>{"--deep"}}) {
    SCOPED_TRACE(::testing::PrintToString(options));
    EXPECT_THAT(searched(zapped, options), ::testing::ElementsAre(row(offsets[0], "  boot sector  ", zapped),
                                                                  row(offsets[1], "  boot sector  ", zapped)));
    EXPECT_THAT(searched(noBoot, options), ::testing::ElementsAre(row(offsets[0], "  boot sector  ", noBoot),
                                                                  row(offsets[1], "backup boot sector", noBoot)));
    EXPECT_THAT(searched(intact, options), ::testing::IsEmpty());
  }
  // The volume found by its backup opens from it.
  std::string errors;
  EXPECT_EQ(ScanRows({noBoot, "--offset", std::to_string(offsets[1])}, &errors),
            ScanRows({intact, "--partition", "2"}));
  EXPECT_THAT(errors, HasSubstr("The boot sector is damaged: the volume was opened from its backup copy"));
}

TEST(CliLostVolumes, AnOffsetWithoutAVolumeIsOneLineOfError) {
  const std::string image = Volume("deleted");
  const std::string size = std::to_string(fs::file_size(image));
  const struct {
    std::vector<std::string> Args;
    int ExitCode;
    std::string Message;
  } cases[] = {
      {{image, "--offset", "1000"}, 3, "No volume starts at byte 1000 of \"" + image +
                                           "\": volumes start at a multiple of 512 bytes."},
      {{image, "--offset", size}, 3, "No volume starts at byte " + size + " of \"" + image + "\": it lies past the end (" +
                                         size + " bytes)."},
      {{image, "--offset", "4096"}, 3, "There is no NTFS boot sector at byte 4096 of \"" + image + "\"."},
      {{image, "--offset", "-512"}, 3, "volumes start at a multiple of 512 bytes"},
      {{"C:", "--offset", "512"}, 2, "--offset goes with a disk or a disk image, not with a drive letter."},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.Args;
    args.insert(args.begin(), "scan");
    SCOPED_TRACE(::testing::PrintToString(args));
    const CommandResult result = Cli(args);
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
    EXPECT_EQ(testsupport::SplitLines(result.Err).size(), 1u) << result.Err;
    EXPECT_THAT(clirun::LastErrorLine(result), HasSubstr(c.Message));
  }
}

// A volume whose boot sector or first MFT record was zeroed opens through
// their copies, says so, and restores what The Sleuth Kit reads from the
// volume before the damage.
TEST(CliLostVolumes, ADamagedBootSectorOrMFTStartOpensFromItsCopy) {
  const std::string intact = Volume("deleted");
  const std::int64_t clusterSize = BootField(intact, 0x0B, 2) * BootField(intact, 0x0D, 1);
  const std::int64_t mftOffset = BootField(intact, 0x30, 8) * clusterSize;
  const struct {
    const char* Name;
    std::int64_t Offset;
    std::int64_t Length;
    std::string Note;
  } cases[] = {
      {"boot-sector", 0, kSector, "The boot sector is damaged: the volume was opened from its backup copy"},
      {"mft-record-0", mftOffset, 1024, "the MFT was found through its copy in $MFTMirr"},
  };
  const std::vector<std::string> intactRows = ScanRows({intact});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testfiles::TTempFolder folder;
    const fs::path damaged = folder / (std::string(c.Name) + ".img");
    fs::copy_file(intact, damaged);
    ZeroBytes(damaged, c.Offset, c.Length);
    std::string errors;
    EXPECT_EQ(ScanRows({damaged.string()}, &errors), intactRows);
    EXPECT_THAT(errors, HasSubstr(c.Note));
    const auto restored = Restored({damaged.string()}, folder / "restored");
    EXPECT_FALSE(restored.empty());
    // Each restored file is the bytes icat reads from the intact volume.
    int compared = 0;
    for (const std::string& row : intactRows) {
      const std::vector<std::string> fields = clirun::ScanRowOf(row, "");
      if (fields.size() < 9 || fields[1] != "file")
        continue;
      const std::string path = fields[8].substr(fields[8].find('/') + 1);
      const auto file = restored.find(path);
      if (file == restored.end())
        continue;
      EXPECT_EQ(file->second, testsupport::Icat(intact, std::stoull(fields[0]))) << path;
      ++compared;
    }
    EXPECT_GE(compared, 6);
  }
}

} // namespace
