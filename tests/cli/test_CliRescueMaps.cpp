// A ddrescue image with its mapfile: the areas ddrescue could not read are
// zeros in the image, and tarnwick-cli takes them for unread bytes, never
// for data.

#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace {

namespace fs = std::filesystem;
using clirun::Cli;
using clirun::LastErrorLine;
using testsupport::CommandResult;
using ::testing::HasSubstr;

const std::string kVictim = "/Documents/thesis.docx";

// A mapfile that marks the areas ABad (position and length, in order) of
// an image of ASize bytes bad and the rest finished.
std::string MapfileWithBadAreas(std::int64_t ASize, const std::vector<std::pair<std::int64_t, std::int64_t>>& ABad) {
  std::ostringstream map;
  map << std::hex << std::showbase << "# Mapfile. Created by GNU ddrescue version 1.27\n"
      << "# current_pos  current_status  current_pass\n"
      << ABad.front().first << "  +  1\n"
      << "#      pos        size  status\n";
  std::int64_t position = 0;
  for (const auto& [bad, length] : ABad) {
    if (bad > position)
      map << position << "  " << bad - position << "  +\n";
    map << bad << "  " << length << "  -\n";
    position = bad + length;
  }
  if (ASize > position)
    map << position << "  " << ASize - position << "  +\n";
  return map.str();
}

std::string MapfileWithBadArea(std::int64_t ASize, std::int64_t ABad, std::int64_t ALength) {
  return MapfileWithBadAreas(ASize, {{ABad, ALength}});
}

class CliRescueMaps : public ::testing::Test {
protected:
  void SetUp() override {
    fs::copy_file(testsupport::FixtureImage("demo"), Image);
    const testsupport::Manifest manifest = testsupport::FixtureManifest("demo");
    ClusterSize = manifest.Volume.ClusterSize;
    for (const testsupport::ManifestEntry& entry : manifest.Entries)
      if (entry.Path == kVictim)
        Victim = entry;
    ASSERT_FALSE(Victim.Runs.empty());
    ASSERT_TRUE(Victim.Runs.front().Lcn);
  }

  // The victim's second cluster, as bytes of the image.
  std::int64_t BadOffset() const { return (*Victim.Runs.front().Lcn + 1) * ClusterSize; }

  void WriteMapBeside() const {
    std::ofstream(Image + ".map") << MapfileWithBadArea(static_cast<std::int64_t>(fs::file_size(Image)), BadOffset(),
                                                         ClusterSize);
  }

  // The restore's warning about the victim's second cluster.
  std::string ExpectedWarning() const {
    return "Bytes " + std::to_string(ClusterSize) + " to " + std::to_string(2 * ClusterSize - 1) +
           " could not be read from the source drive and were written as zeros.";
  }

  testfiles::TTempFolder Folder;
  std::string Image = (Folder / "disk.img").string();
  testsupport::ManifestEntry Victim;
  std::int64_t ClusterSize = 0;
};

// A bad sector costs its own bytes, however the device fails around it.
TEST_F(CliRescueMaps, UnrescuedBytesAreRestoredAsZerosWithAWarning) {
  const struct {
    std::string Name;
    std::int64_t Offset; // into the victim's second cluster
    std::int64_t Length;
  } cases[] = {
      {"a whole cluster", 0, ClusterSize},
      {"one sector inside a cluster", 1024, 512},
      {"sectors across two clusters", ClusterSize - 512, 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    // Found beside the image, under the name ddrescue's guides use.
    std::ofstream(Image + ".map") << MapfileWithBadArea(static_cast<std::int64_t>(fs::file_size(Image)),
                                                         BadOffset() + c.Offset, c.Length);
    const fs::path target = Folder / ("restored " + c.Name);
    const CommandResult restore = Cli({"restore", Image, "--target", target.string(), "--path", kVictim});
    const std::int64_t first = ClusterSize + c.Offset;
    EXPECT_THAT(restore.Err, HasSubstr("Bytes " + std::to_string(first) + " to " +
                                       std::to_string(first + c.Length - 1) +
                                       " could not be read from the source drive and were written as zeros."));

    // The rest of the file is its own bytes; the unrescued bytes are
    // zeros, whatever the image holds there.
    std::string restored = clirun::ReadFile(target / kVictim.substr(1));
    ASSERT_EQ(restored.size(), Victim.Size);
    const auto unread = static_cast<std::size_t>(c.Length);
    EXPECT_EQ(restored.substr(static_cast<std::size_t>(first), unread), std::string(unread, '\0'));
    std::ifstream image(Image, std::ios::binary);
    image.seekg(BadOffset() + c.Offset);
    image.read(restored.data() + first, c.Length);
    EXPECT_EQ(testsupport::Sha256Hex(restored), Victim.Sha256);
  }
}

// Needs the estimate to count the bytes known unreadable before the restore
// as lost, and a restore that wrote zeros to end with exit code 1: enable
// it with that work.
TEST_F(CliRescueMaps, UnrescuedBytesCountAsLostAndFailTheRestore) {
  WriteMapBeside();
  const CommandResult scan = Cli({"scan", Image, "--format", "tsv"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  const std::vector<std::string> row = clirun::ScanRowOf(scan.Out, kVictim);
  ASSERT_EQ(row.size(), 10u) << scan.Out;
  EXPECT_GT(std::stod(row[4]), 0.0) << "estimate of " << kVictim;
  const CommandResult restore =
      Cli({"restore", Image, "--target", (Folder / "restored").string(), "--path", kVictim});
  EXPECT_THAT(restore.Err, HasSubstr(ExpectedWarning()));
  EXPECT_EQ(restore.ExitCode, 1) << restore.Err;
}

TEST_F(CliRescueMaps, TheScanNamesTheMFTRecordsARescueDidNotRead) {
  const testsupport::FsGeometry geometry = testsupport::Fsstat(Image);
  const auto records = [&geometry](std::int64_t ARecord) {
    return static_cast<std::int64_t>(geometry.MftStartCluster * geometry.ClusterSize + ARecord * geometry.RecordSize);
  };
  std::ofstream(Image + ".mapfile") << MapfileWithBadArea(static_cast<std::int64_t>(fs::file_size(Image)),
                                                           records(30), records(32) - records(30));
  const CommandResult scan = Cli({"scan", Image, "--format", "tsv"});
  EXPECT_THAT(scan.Err, HasSubstr("MFT records 30 to 31 could not be read from the source drive."));
  EXPECT_THAT(scan.Out, HasSubstr(kVictim));
}

// Without its boot sector a volume is read through the backup copy in its
// last sector; without both, or without the MFT's first record, the scan
// names what it could not read and fails.
TEST_F(CliRescueMaps, AnUnreadableBootSectorOrFirstMFTRecordIsNamed) {
  const testsupport::FsGeometry geometry = testsupport::Fsstat(Image);
  const auto size = static_cast<std::int64_t>(fs::file_size(Image));
  const auto mft = static_cast<std::int64_t>(geometry.MftStartCluster * geometry.ClusterSize);
  const struct {
    std::string Name;
    std::vector<std::pair<std::int64_t, std::int64_t>> Bad;
    int ExitCode;
    std::string Message;
  } cases[] = {
      {"boot sector", {{0, 512}}, 0, ""},
      {"boot sector and its backup",
       {{0, 512}, {size - 512, 512}},
       3,
       "tarnwick-cli: The boot sector (byte 0 of the volume) cannot be read from the source drive, nor its backup "
       "copy in the volume's last sector."},
      {"the MFT's first record",
       {{mft, static_cast<std::int64_t>(geometry.RecordSize)}},
       3,
       "tarnwick-cli: The MFT's first record (byte " + std::to_string(mft) +
           " of the volume) cannot be read from the source drive."},
  };
  const CommandResult whole = Cli({"scan", Image, "--format", "tsv"});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::ofstream(Image + ".map") << MapfileWithBadAreas(size, c.Bad);
    const CommandResult scan = Cli({"scan", Image, "--format", "tsv"});
    EXPECT_EQ(scan.ExitCode, c.ExitCode) << scan.Err;
    if (c.Message.empty())
      EXPECT_EQ(scan.Out, whole.Out);
    else
      EXPECT_EQ(LastErrorLine(scan), c.Message);
  }
}

TEST_F(CliRescueMaps, AChosenMapfileIsReadAndAMalformedOneNamesItsLine) {
  const std::string map = (Folder / "rescue.txt").string();
  std::ofstream(map) << MapfileWithBadArea(static_cast<std::int64_t>(fs::file_size(Image)), BadOffset(), ClusterSize);
  const fs::path target = Folder / "restored";
  const CommandResult restore =
      Cli({"restore", Image, "--map", map, "--target", target.string(), "--path", kVictim});
  EXPECT_THAT(restore.Err, HasSubstr(ExpectedWarning()));

  std::ofstream(map) << "# current_pos  current_status\n0x0 +\n0x0 0x1000 +\n0x800 0x1000 -\n";
  const CommandResult bad = Cli({"scan", Image, "--map", map});
  EXPECT_EQ(bad.ExitCode, 3) << bad.Err;
  EXPECT_EQ(LastErrorLine(bad), "tarnwick-cli: The mapfile \"" + map +
                                    "\" is malformed at line 4: the block starts before the end of the one above it.");
}

// Before version 1.20 ddrescue called its mapfile IMAGE.log, but a log of
// anything else may carry that name: the scan says it passed it over, and
// reads the whole image.
TEST_F(CliRescueMaps, ALogBesideTheImageThatIsNoMapfileIsNamedAndPassedOver) {
  const CommandResult alone = Cli({"scan", Image, "--format", "tsv"});
  std::ofstream(Image + ".log") << "dd: 16+0 records in\n16+0 records out\n";
  const CommandResult scan = Cli({"scan", Image, "--format", "tsv"});
  EXPECT_EQ(scan.ExitCode, 0) << scan.Err;
  EXPECT_THAT(scan.Err, HasSubstr("The file \"" + Image + ".log\" beside the image is not read as its mapfile."));
  EXPECT_EQ(scan.Out, alone.Out) << "no byte of the image counts as unread";
}

} // namespace
