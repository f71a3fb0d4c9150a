// Containers that cannot deliver all of their disk: a chunk whose checksum
// fails, segment files missing, a file cut short. Those bytes count as
// lost in the estimate and are restored as zeros with the warning and exit
// code 1, as a truncated raw image's are; the source's files stay as they
// were.

#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>

namespace {

namespace fs = std::filesystem;
using clirun::Cli;
using testsupport::CommandResult;
using ::testing::HasSubstr;

const std::string kUnreadWarning = "could not be read from the source drive and were written as zeros.";

// The overwrite estimate of APath in a tsv scan; -1 when it is not listed.
double EstimateOf(const std::string& AScan, const std::string& APath) {
  const std::vector<std::string> row = clirun::ScanRowOf(AScan, APath);
  return row.size() > 4 ? std::stod(row[4]) : -1;
}

// Makes the volume into a container of AFormat with qemu-img and cuts the
// file to two fifths of its size.
std::function<fs::path(const fs::path&)> ConvertedAndCutShort(const std::string& AFormat) {
  return [AFormat](const fs::path& AFolder) {
    const fs::path container = AFolder / ("disk." + AFormat);
    testsupport::RunCommandChecked(
        {"qemu-img", "convert", "-f", "raw", "-O", AFormat, testsupport::FixtureImage("demo"), container.string()});
    fs::resize_file(container, fs::file_size(container) * 2 / 5);
    return container;
  };
}

class CliDamagedContainers : public ::testing::Test {
protected:
  static std::string Volume() { return testsupport::FixtureImage("demo"); }
  static testsupport::ManifestEntry Entry(const std::string& APath) {
    return *testsupport::FixtureManifest("demo").Find(APath);
  }
  // The image's bytes of APath's first cluster.
  static std::int64_t FirstByteOf(const std::string& APath) {
    return *Entry(APath).Runs.front().Lcn * testsupport::FixtureManifest("demo").Volume.ClusterSize;
  }
};

// A whole volume in each container, damaged where one deleted file lies:
// its estimate rises to all lost where the damage is known before any read,
// and its restore writes zeros, warns and ends with exit code 1.
TEST_F(CliDamagedContainers, BytesAContainerCannotDeliverAreLostNeverData) {
  // Near the end of the volume: past what the cut files and the kept
  // segments hold.
  const std::string lateFile = "/Photos/Holiday 2023/sunset.jpg";
  const std::string earlyFile = "/Documents/thesis.docx";
  const struct {
    std::string Name;
    std::function<fs::path(const fs::path& AFolder)> Make;
    std::string Victim;
    bool KnownBeforeReading;
  } cases[] = {
      {"E01 chunk with a checksum error",
       [&](const fs::path& AFolder) {
         testsupport::RunCommandChecked(
             {"ewfacquire", "-u", "-q", "-c", "none", "-t", (AFolder / "disk").string(), Volume()});
         // Uncompressed chunks hold the volume's bytes as they are: the
         // victim's bytes are found in the segment and one is changed.
         const fs::path segment = AFolder / "disk.E01";
         std::string bytes = clirun::ReadFile(segment);
         const std::string volume = clirun::ReadFile(Volume());
         const std::size_t at = bytes.find(volume.substr(static_cast<std::size_t>(FirstByteOf(earlyFile)) + 1000, 64));
         if (at == std::string::npos)
           throw std::runtime_error("the victim's bytes are not in the E01 segment as they are");
         bytes[at + 5] = static_cast<char>(~bytes[at + 5]);
         std::ofstream(segment, std::ios::binary | std::ios::trunc) << bytes;
         return segment;
       },
       earlyFile, false},
      {"E01 whose last segments are missing",
       [&](const fs::path& AFolder) {
         // Segments of 1 MiB, the least ewfacquire writes: the volume
         // takes a dozen, and the last ones go.
         testsupport::RunCommandChecked({"ewfacquire", "-u", "-q", "-c", "none", "-S", "1048576", "-t",
                                         (AFolder / "disk").string(), Volume()});
         std::vector<fs::path> lateSegments;
         for (const auto& entry : fs::directory_iterator(AFolder))
           if (std::stoi(entry.path().extension().string().substr(2)) >= 8)
             lateSegments.push_back(entry.path());
         for (const fs::path& segment : lateSegments)
           fs::remove(segment);
         return AFolder / "disk.E01";
       },
       lateFile, true},
      {"QCOW2 cut short",
       ConvertedAndCutShort("qcow2"),
       lateFile, true},
      {"VMDK sparse extent cut short",
       ConvertedAndCutShort("vmdk"),
       lateFile, true},
      {"VHDX cut short",
       ConvertedAndCutShort("vhdx"),
       lateFile, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    testfiles::TTempFolder folder;
    fs::create_directory(folder / "source");
    const std::string container = c.Make(folder / "source").string();
    const auto before = clirun::FingerprintsIn(folder / "source");

    const CommandResult scan = Cli({"scan", container, "--format", "tsv"});
    EXPECT_EQ(scan.ExitCode, 0) << scan.Err;
    if (c.KnownBeforeReading) {
      EXPECT_EQ(EstimateOf(scan.Out, c.Victim), 100.0) << scan.Out;
    }
    const fs::path target = folder / "restored";
    const CommandResult restore =
        Cli({"restore", container, "--target", target.string(), "--path", c.Victim});
    EXPECT_EQ(restore.ExitCode, 1) << restore.Err;
    EXPECT_THAT(restore.Err, HasSubstr(kUnreadWarning));
    EXPECT_THAT(restore.Err, HasSubstr("Files restored with zeros"));
    // Whatever the library handed out for the lost bytes, the file holds
    // zeros there and not the damaged chunk.
    const std::string restored = clirun::ReadFile(target / c.Victim.substr(1));
    ASSERT_EQ(restored.size(), Entry(c.Victim).Size);
    EXPECT_NE(testsupport::Sha256Hex(restored), Entry(c.Victim).Sha256);
    EXPECT_EQ(restored.substr(1000, 64), std::string(64, '\0'));

    EXPECT_EQ(clirun::FingerprintsIn(folder / "source"), before) << "the source's files were changed";
  }
}

} // namespace
