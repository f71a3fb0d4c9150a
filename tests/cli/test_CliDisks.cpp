// Disks and disk images as sources: every NTFS partition of an MBR (primary
// and logical) or GPT table reads exactly as the bare volume it was made
// from, and the choice among several partitions is the user's. Volumes no
// table lists any more, and volumes whose boot sector or first MFT record
// is damaged, read through what is left of them as their intact selves.

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
#include <sstream>

namespace {

namespace fs = std::filesystem;
using clirun::Cli;
using clirun::LastErrorLine;
using clirun::WithoutDriveLetters;
using testsupport::CommandResult;
using ::testing::HasSubstr;

// Every file below AFolder by its path from there, with its bytes.
std::map<std::string, std::string> FilesBelow(const fs::path& AFolder) {
  std::map<std::string, std::string> files;
  if (!fs::exists(AFolder))
    return files;
  for (const auto& entry : fs::recursive_directory_iterator(AFolder))
    if (entry.is_regular_file())
      files[fs::relative(entry.path(), AFolder).string()] = clirun::ReadFile(entry.path());
  return files;
}

// The scan's tsv rows; AErrors, when given, receives what it said on the way.
std::vector<std::string> ScanRows(std::vector<std::string> AArgs, std::string* AErrors = nullptr) {
  AArgs.insert(AArgs.begin(), "scan");
  AArgs.insert(AArgs.end(), {"--format", "tsv"});
  const CommandResult result = Cli(AArgs);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  if (AErrors != nullptr)
    *AErrors = result.Err;
  return WithoutDriveLetters(testsupport::SplitLines(result.Out));
}

std::map<std::string, std::string> Restored(std::vector<std::string> AArgs, const fs::path& ATarget) {
  AArgs.insert(AArgs.begin(), "restore");
  AArgs.insert(AArgs.end(), {"--target", ATarget.string(), "--select", "all"});
  const CommandResult result = Cli(AArgs);
  EXPECT_LE(result.ExitCode, 1) << result.Err;
  return FilesBelow(ATarget);
}

constexpr std::int64_t kSector = 512;
constexpr std::int64_t kMiB = 1 << 20;

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

// The disks are made once for the whole suite.
class CliDisks : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<testfiles::TTempFolder>();
    testsupport::MakeMbrDisk(MbrDisk(), {Volume("demo"), Volume("deleted"), Volume("sector4k")});
    GptMade = testsupport::MakeGptDisk(GptDisk(), GptVolumes());
    // The same disk after its table was overwritten.
    ZappedMade = GptMade && fs::copy_file(GptDisk(), ZappedDisk()) &&
                 testsupport::RunCommand({"sgdisk", "--zap-all", ZappedDisk()}).ExitCode == 0;
    // Named against their format: only the signature may tell it.
    const std::pair<std::string, std::string> conversions[] = {
        {"qcow2", "mbr-qcow2.img"}, {"vmdk", "mbr-vmdk.raw"}, {"vpc", "gpt-vhd.img"}, {"vhdx", "gpt-vhdx.bin"}};
    for (const auto& [format, name] : conversions)
      testsupport::RunCommand({"qemu-img", "convert", "-f", "raw", "-O", format,
                               name.starts_with("mbr") ? MbrDisk() : GptDisk(), (*Folder / name).string()});
    // E01 segment files are found by their numbered extensions.
    testsupport::RunCommand({"ewfacquire", "-u", "-q", "-c", "none", "-t", (*Folder / "mbr-ewf").string(), MbrDisk()});
  }
  static void TearDownTestSuite() { Folder.reset(); }

  static std::string Volume(const std::string& ARecipe) { return testsupport::FixtureImage(ARecipe); }
  static std::string MbrDisk() { return (*Folder / "mbr.img").string(); }
  static std::string GptDisk() { return (*Folder / "gpt.img").string(); }
  static std::vector<std::string> GptVolumes() { return {Volume("deleted"), Volume("demo")}; }
  static std::string ZappedDisk() { return (*Folder / "zapped.img").string(); }

  static std::unique_ptr<testfiles::TTempFolder> Folder;
  static bool GptMade;
  static bool ZappedMade;
};

std::unique_ptr<testfiles::TTempFolder> CliDisks::Folder;
bool CliDisks::GptMade = false;
bool CliDisks::ZappedMade = false;

TEST_F(CliDisks, EachPartitionGivesTheRowsAndBytesOfItsBareVolume) {
  const struct {
    std::string Disk;
    int Partition;
    std::string Recipe;
  } cases[] = {
      {"mbr.img", 1, "demo"},          {"mbr.img", 5, "deleted"},         {"mbr.img", 6, "sector4k"},
      {"gpt.img", 1, "deleted"},       {"gpt.img", 2, "demo"},            {"mbr-qcow2.img", 6, "sector4k"},
      {"mbr-vmdk.raw", 5, "deleted"},  {"gpt-vhd.img", 2, "demo"},        {"gpt-vhdx.bin", 1, "deleted"},
      {"mbr-ewf.E01", 1, "demo"},      {"mbr-ewf.E01", 6, "sector4k"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Disk + " partition " + std::to_string(c.Partition));
    const std::string disk = (*Folder / c.Disk).string();
    if (!fs::exists(disk) || (c.Disk.starts_with("gpt") && !GptMade)) {
      ADD_FAILURE() << c.Disk << " could not be made (sgdisk, qemu-img, ewfacquire)";
      continue;
    }
    const std::string partition = std::to_string(c.Partition);
    const std::vector<std::string> rows = ScanRows({disk, "--partition", partition});
    EXPECT_GT(rows.size(), 3u);
    EXPECT_EQ(rows, ScanRows({Volume(c.Recipe)}));
    testfiles::TTempFolder targets;
    const auto fromDisk = Restored({disk, "--partition", partition}, targets / "disk");
    EXPECT_FALSE(fromDisk.empty());
    EXPECT_EQ(fromDisk, Restored({Volume(c.Recipe)}, targets / "volume"));
  }
}

// A big-endian field of a QCOW2 file.
std::uint64_t BigEndianAt(std::fstream& AFile, std::int64_t AOffset, int ASize) {
  std::uint64_t value = 0;
  AFile.seekg(AOffset);
  for (int i = 0; i < ASize; ++i)
    value = (value << 8) | static_cast<std::uint8_t>(AFile.get());
  return value;
}

// A QCOW2 whose table sends one cluster of the disk past the end of the
// file: the library fails that read, and the restore writes zeros with the
// warning instead of whatever bytes lay about.
TEST_F(CliDisks, AContainerReadErrorGivesUnreadBytesNotData) {
  testfiles::TTempFolder folder;
  const std::string image = (folder / "broken.qcow2").string();
  fs::copy_file(*Folder / "mbr-qcow2.img", image);
  testsupport::ManifestEntry victim;
  for (const testsupport::ManifestEntry& entry : testsupport::FixtureManifest("demo").Entries)
    if (entry.Path == "/Documents/thesis.docx")
      victim = entry;
  ASSERT_FALSE(victim.Runs.empty());
  const auto clusterSize = static_cast<std::int64_t>(testsupport::FixtureManifest("demo").Volume.ClusterSize);
  // The demo volume is partition 1, one MiB into the disk.
  const std::int64_t diskOffset = (1 << 20) + *victim.Runs.front().Lcn * clusterSize;
  {
    std::fstream qcow(image, std::ios::in | std::ios::out | std::ios::binary);
    const auto clusterBits = static_cast<int>(BigEndianAt(qcow, 20, 4));
    const auto l1Table = static_cast<std::int64_t>(BigEndianAt(qcow, 40, 8));
    const int l2Bits = clusterBits - 3;
    const std::int64_t l1Index = diskOffset >> (clusterBits + l2Bits);
    const std::int64_t l2Index = (diskOffset >> clusterBits) & ((std::int64_t{1} << l2Bits) - 1);
    const auto l2Table = static_cast<std::int64_t>(BigEndianAt(qcow, l1Table + 8 * l1Index, 8) & 0x00FFFFFFFFFFFE00);
    const std::uint64_t pastTheEnd = (std::uint64_t{1} << 63) | 0x00007FFFFFFF0000;
    qcow.seekp(l2Table + 8 * l2Index);
    for (int shift = 56; shift >= 0; shift -= 8)
      qcow.put(static_cast<char>(pastTheEnd >> shift));
  }
  const CommandResult restore = Cli({"restore", image, "--partition", "1", "--target", (folder / "out").string(),
                                     "--path", victim.Path});
  EXPECT_THAT(restore.Err, HasSubstr("could not be read from the source drive and were written as zeros."));
  const std::string restored = clirun::ReadFile(folder / "out" / victim.Path.substr(1));
  ASSERT_EQ(restored.size(), victim.Size);
  EXPECT_EQ(restored.substr(0, static_cast<std::size_t>(clusterSize)),
            std::string(static_cast<std::size_t>(clusterSize), '\0'));
}

// A GPT disk cut right after its first partition has lost its backup
// table, which libblkid then refuses: the table is read from what is there,
// and the whole partition reads as its bare volume.
TEST_F(CliDisks, AGPTDiskCutAfterItsFirstPartitionOffersIt) {
  ASSERT_TRUE(GptMade);
  testfiles::TTempFolder folder;
  fs::create_directory(folder / "source");
  const fs::path cut = folder / "source" / "gpt-cut.img";
  fs::copy_file(GptDisk(), cut);
  fs::resize_file(cut, (1 << 20) + fs::file_size(Volume("deleted")));
  const auto before = clirun::FingerprintsIn(folder / "source");

  const CommandResult drives = Cli({"drives", cut.string()});
  EXPECT_THAT(drives.Out, HasSubstr("partition 1 of " + cut.string())) << drives.Err;
  EXPECT_EQ(ScanRows({cut.string(), "--partition", "1"}), ScanRows({Volume("deleted")}));
  EXPECT_EQ(clirun::FingerprintsIn(folder / "source"), before);
}

// An MBR disk cut inside its first partition: the partition is offered,
// and the bytes past the cut count as lost in the estimate and the restore.
TEST_F(CliDisks, APartitionCutShortIsOfferedWithItsMissingBytesLost) {
  testfiles::TTempFolder folder;
  fs::create_directory(folder / "source");
  const fs::path cut = folder / "source" / "mbr-cut.img";
  fs::copy_file(MbrDisk(), cut);
  const std::string victim = "/Photos/Holiday 2023/sunset.jpg";
  const testsupport::Manifest manifest = testsupport::FixtureManifest("demo");
  const auto clusterSize = static_cast<std::int64_t>(manifest.Volume.ClusterSize);
  // A third of the victim's clusters stay in the image.
  const testsupport::ManifestEntry& entry = *manifest.Find(victim);
  const std::int64_t held = static_cast<std::int64_t>(entry.Clusters) / 3;
  fs::resize_file(cut, static_cast<std::uintmax_t>((1 << 20) + (*entry.Runs.front().Lcn + held) * clusterSize));
  const auto before = clirun::FingerprintsIn(folder / "source");

  const CommandResult scan = Cli({"scan", cut.string(), "--partition", "1", "--format", "tsv"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  const std::vector<std::string> row = clirun::ScanRowOf(scan.Out, victim);
  ASSERT_GT(row.size(), 4u) << scan.Out;
  EXPECT_EQ(std::stod(row[4]), 100.0);
  const CommandResult restore = Cli({"restore", cut.string(), "--partition", "1", "--target",
                                     (folder / "restored").string(), "--path", victim});
  EXPECT_EQ(restore.ExitCode, 1) << restore.Err;
  EXPECT_THAT(restore.Err, HasSubstr("Bytes " + std::to_string(held * clusterSize) + " to " +
                                     std::to_string(entry.Size - 1) +
                                     " could not be read from the source drive and were written as zeros."));
  EXPECT_EQ(clirun::FingerprintsIn(folder / "source"), before);
}

TEST_F(CliDisks, DrivesListsEveryNTFSPartitionOfTheImagesItIsGiven) {
  const CommandResult result = Cli({"drives", MbrDisk()});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  for (const int partition : {1, 5, 6})
    EXPECT_THAT(result.Out, HasSubstr("partition " + std::to_string(partition) + " of " + MbrDisk()));
  EXPECT_THAT(result.Out, ::testing::Not(HasSubstr("partition 2 of")));  // the extended partition
}

// A disk attached without its partitions split by the kernel (losetup
// without -P) is a block device whose partitions only the table names.
// Needs root and a free loop device; skipped otherwise.
TEST_F(CliDisks, ABlockDeviceHoldingATableGivesItsPartitions) {
  std::istringstream attached(testfiles::CommandOutput("losetup -r -f --show '" + MbrDisk() + "' 2>/dev/null"));
  std::string device;
  std::getline(attached, device);
  if (device.empty())
    GTEST_SKIP() << "no loop device can be attached here";
  const CommandResult drives = Cli({"drives"});
  EXPECT_EQ(drives.ExitCode, 0) << drives.Err;
  for (const int partition : {1, 5, 6})
    EXPECT_THAT(drives.Out, HasSubstr("partition " + std::to_string(partition) + " of " + device));
  EXPECT_EQ(ScanRows({device, "--partition", "5"}), ScanRows({Volume("deleted")}));
  testfiles::CommandOutput("losetup -d '" + device + "'");
}

// Letters run out after Z: every partition of a disk with thirty is still
// listed, those past Z without a letter, and each one is read by its number.
TEST_F(CliDisks, EveryOneOfThirtyPartitionsIsListedAndReachable) {
  testfiles::TTempFolder folder;
  const std::string disk = (folder / "thirty.img").string();
  ASSERT_TRUE(testsupport::MakeManyVolumesDisk(disk, 30, Volume("deleted"))) << "sgdisk or mkntfs failed";
  const CommandResult drives = Cli({"drives", disk});
  ASSERT_EQ(drives.ExitCode, 0) << drives.Err;
  std::vector<std::string> rows;  // this disk's, in listing order
  for (const std::string& line : testsupport::SplitLines(drives.Out))
    if (line.find(" of " + disk) != std::string::npos)
      rows.push_back(line);
  ASSERT_EQ(rows.size(), 30u);
  for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    EXPECT_THAT(rows[i], HasSubstr(" Part" + number + " "));
    EXPECT_THAT(rows[i], ::testing::EndsWith("partition " + number + " of " + disk));
  }
  // However many letters the machine's own drives take, 29 partitions
  // come before the last.
  EXPECT_THAT(rows.back(), ::testing::StartsWith("- "));

  std::vector<std::string> scanned = ScanRows({disk, "--partition", "30"});
  ASSERT_GT(scanned.size(), 3u);
  // Its drive folder is named by where it lies.
  const std::string driveFolder = "partition 30 of thirty.img";
  EXPECT_THAT(scanned[1], ::testing::EndsWith("\t" + driveFolder + "\t0\t"));
  for (std::string& row : scanned)
    if (const std::size_t path = clirun::PathColumnStart(row); row.compare(path, driveFolder.size(), driveFolder) == 0)
      row.replace(path, driveFolder.size(), "X:");
  EXPECT_EQ(scanned, ScanRows({Volume("deleted")}));
  // A drive without a letter has no drive part: a target beside the
  // working folder is another drive all the same.
  const auto restored = Restored({disk, "--partition", "30"}, folder / "restored");
  EXPECT_FALSE(restored.empty());
  EXPECT_EQ(restored, Restored({Volume("deleted")}, folder / "from-volume"));
}

// Which volume of a disk is read is the user's choice, made with
// --partition or --offset; a choice that names no volume is one line of
// error.
TEST_F(CliDisks, ThePartitionOrOffsetIsChosenOnlyWhenThereIsAChoice) {
  testfiles::TTempFolder folder;
  const std::string image = Volume("deleted");
  const std::string size = std::to_string(fs::file_size(image));
  const std::string single = (folder / "single.img").string();
  testsupport::MakeMbrDisk(single, {Volume("demo")});
  const std::string blank = (folder / "blank.img").string();
  testfiles::WriteFile(blank, std::vector<std::uint8_t>(1 << 20, 0));
  const std::string noNtfs = (folder / "no-ntfs.img").string();
  testsupport::MakeMbrDisk(noNtfs, {blank, blank});
  const struct {
    std::vector<std::string> Args;
    int ExitCode;
    std::string Message;
  } cases[] = {
      {{MbrDisk()}, 2, "holds several NTFS partitions; choose one with --partition: 1 (" },
      {{MbrDisk()}, 2, "), 5 ("},
      {{MbrDisk(), "--partition", "2"}, 2, "has no NTFS partition 2; its NTFS partitions: 1 ("},
      {{single}, 0, ""},
      {{single, "--partition", "1"}, 0, ""},
      {{Volume("demo"), "--partition", "1"}, 2, "holds no partition table: leave out --partition."},
      {{noNtfs}, 3, "The disk \"" + noNtfs + "\" holds no NTFS partition."},
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
    if (!c.Message.empty()) {
      EXPECT_EQ(testsupport::SplitLines(result.Err).size(), 1u) << result.Err;
      EXPECT_THAT(LastErrorLine(result), HasSubstr(c.Message));
    }
  }
}

// Each volume of the zapped disk is read at its offset as it was read as a
// partition before.
TEST_F(CliDisks, AVolumeAtItsOffsetReadsAsItsPartitionDidBefore) {
  ASSERT_TRUE(ZappedMade);
  ASSERT_EQ(Cli({"scan", ZappedDisk(), "--partition", "1"}).ExitCode, 3) << "the table is still there";
  testfiles::TTempFolder targets;
  const std::vector<std::int64_t> offsets = GptPartitionOffsets(GptVolumes());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::string partition = std::to_string(i + 1);
    const std::string offset = std::to_string(offsets[i]);
    SCOPED_TRACE("partition " + partition + " at " + offset);
    const std::vector<std::string> rows = ScanRows({ZappedDisk(), "--offset", offset});
    EXPECT_GT(rows.size(), 3u);
    EXPECT_EQ(rows, ScanRows({GptDisk(), "--partition", partition}));
    const auto fromOffset = Restored({ZappedDisk(), "--offset", offset}, targets / ("offset" + partition));
    EXPECT_FALSE(fromOffset.empty());
    EXPECT_EQ(fromOffset, Restored({GptDisk(), "--partition", partition}, targets / ("partition" + partition)));
  }
}

// The search finds the volumes of the zapped table at their offsets, the
// second also when its boot sector is gone, by the backup at its end; the
// volumes a table still lists are not lost.
TEST_F(CliDisks, TheSearchFindsTheVolumesOfTheZappedTable) {
  ASSERT_TRUE(ZappedMade);
  testfiles::TTempFolder folder;
  const std::string zapped = ZappedDisk();
  const std::string intact = GptDisk();
  const std::string noBoot = (folder / "no-boot.img").string();
  fs::copy_file(zapped, noBoot);
  const std::vector<std::int64_t> offsets = GptPartitionOffsets(GptVolumes());
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

// A volume whose boot sector or first MFT record was zeroed opens through
// their copies, says so, and restores what The Sleuth Kit reads from the
// volume before the damage.
TEST_F(CliDisks, ADamagedBootSectorOrMFTStartOpensFromItsCopy) {
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
