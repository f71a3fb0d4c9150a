// Named data streams of a deleted file, restored by tarnwick-cli onto
// targets that take extended attributes of every size, of small sizes only,
// or none at all. The Sleuth Kit tells what each stream holds on the volume.
#include "tests/cli/CliRun.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>
#include <vector>

using clirun::Cli;
using testsupport::CommandResult;
using testsupport::RunCommand;

namespace fs = std::filesystem;

namespace {

constexpr char kFile[] = "/Downloads/setup.exe";

enum class TKept { AsXattr, AsFile };

// Where each stream of the file must land on one kind of target, and the
// reason the log gives for a file.
struct TTargetCase {
  const char* Name;
  std::vector<std::string> MakeImage; // run first when not empty; "IMAGE" is replaced
  std::vector<std::string> Mount;     // "IMAGE" and "MOUNT" are replaced
  std::map<std::string, TKept> Streams;
  std::map<std::string, std::string> Reasons; // the end of the log line of each file
  char Separator = ':';                        // between the file's name and its stream's
};

const char kLarger[] = "it is larger than the 65536 bytes an extended attribute can hold";
const char kNoRoom[] = "it does not fit the room the target's file system keeps for extended attributes";
const char kNone[] = "the target's file system takes no extended attributes";
const char kNoColon[] = "; the target's file system takes no \":\" in file names";

const std::vector<TTargetCase>& TargetCases() {
  static const std::vector<TTargetCase> cases = {
      {"tmpfs", {}, {"mount", "-t", "tmpfs", "tarnwick-streams", "MOUNT"},
       {{"Zone.Identifier", TKept::AsXattr}, {"thumbnail", TKept::AsXattr}, {"resource", TKept::AsFile}},
       {{"resource", kLarger}}},
      // ext4 keeps a file's attributes in its inode and one block beside.
      {"ext4", {"mkfs.ext4", "-q", "-F", "IMAGE"}, {"mount", "-o", "loop", "IMAGE", "MOUNT"},
       {{"Zone.Identifier", TKept::AsXattr}, {"thumbnail", TKept::AsFile}, {"resource", TKept::AsFile}},
       {{"thumbnail", kNoRoom}, {"resource", kLarger}}},
      // ntfs-3g told to keep no streams takes no user attributes at all.
      {"ntfs3g", {"mkntfs", "-F", "-f", "-q", "IMAGE"},
       {"ntfs-3g", "-o", "streams_interface=none", "IMAGE", "MOUNT"},
       {{"Zone.Identifier", TKept::AsFile}, {"thumbnail", TKept::AsFile}, {"resource", TKept::AsFile}},
       {{"Zone.Identifier", kNone}, {"thumbnail", kNone}, {"resource", kLarger}}},
      // FAT takes neither user attributes nor ":" in a name. This kernel's
      // own FAT may be missing, so it is mounted through FUSE.
      {"vfat", {"mkfs.vfat", "IMAGE"}, {"fusefat", "-o", "rw+", "IMAGE", "MOUNT"},
       {{"Zone.Identifier", TKept::AsFile}, {"thumbnail", TKept::AsFile}, {"resource", TKept::AsFile}},
       {{"Zone.Identifier", std::string(kNone) + kNoColon},
        {"thumbnail", std::string(kNone) + kNoColon},
        {"resource", std::string(kLarger) + kNoColon}},
       '_'},
  };
  return cases;
}

std::vector<std::string> Replaced(std::vector<std::string> AArgs, const fs::path& AImage, const fs::path& AMount) {
  for (std::string& arg : AArgs)
    arg = arg == "IMAGE" ? AImage.string() : arg == "MOUNT" ? AMount.string() : arg;
  return AArgs;
}

std::uint64_t RecordOf(const std::string& APath) {
  for (const testsupport::ManifestEntry& entry : testsupport::FixtureManifest("streams").Entries)
    if (entry.Path == APath && entry.Deleted)
      return entry.Record;
  throw std::runtime_error("the streams fixture holds no deleted " + APath);
}

// The user attributes of APath, as getfattr names them.
std::string UserAttributeNames(const fs::path& APath) {
  return RunCommand({"getfattr", "--absolute-names", "-m", "^user\\.", APath.string()}).Out;
}

class MountedStreamsTarget : public ::testing::TestWithParam<TTargetCase> {
protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "mounting a file system for the target needs root";
    fs::create_directories(FMount);
    const TTargetCase& target = GetParam();
    if (!target.MakeImage.empty()) {
      std::ofstream(FImage).close();
      fs::resize_file(FImage, 16 << 20);
      if (RunCommand(Replaced(target.MakeImage, FImage, FMount)).ExitCode != 0)
        GTEST_SKIP() << "cannot make the " << target.Name << " image";
    }
    FMounted = RunCommand(Replaced(target.Mount, FImage, FMount)).ExitCode == 0;
    if (!FMounted)
      GTEST_SKIP() << target.Name << " cannot be mounted here";
  }
  void TearDown() override {
    if (FMounted)
      RunCommand({"umount", FMount.string()});
  }

  testfiles::TTempFolder FFolder;
  fs::path FImage = FFolder / "target.img";
  fs::path FMount = FFolder / "mnt";
  bool FMounted = false;
};

TEST_P(MountedStreamsTarget, EachStreamBecomesAnAttributeOrAFileAndTheLogSaysWhich) {
  const TTargetCase& target = GetParam();
  const std::string image = testsupport::FixtureImage("streams");
  const std::uint64_t record = RecordOf(kFile);
  const fs::path restored = FMount / "Downloads/setup.exe";
  const CommandResult result = Cli({"restore", image, "--target", FMount.string(), "--path", kFile});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(clirun::ReadFile(restored), testsupport::Icat(image, record));

  for (const auto& [stream, kept] : target.Streams) {
    SCOPED_TRACE(stream);
    const std::string expected = testsupport::IcatStream(image, record, stream);
    ASSERT_FALSE(expected.empty());
    const std::string shown = "Stream \"" + stream + "\" of " + restored.string() + " (" +
                              std::to_string(expected.size()) + " bytes, estimated 0.00% overwritten) restored as ";
    const fs::path sidecar = restored.string() + target.Separator + stream;
    if (kept == TKept::AsXattr) {
      const CommandResult value = RunCommand(
          {"getfattr", "--only-values", "--absolute-names", "-n", "user." + stream, restored.string()});
      EXPECT_EQ(value.ExitCode, 0) << value.Err;
      EXPECT_EQ(value.Out, expected);
      EXPECT_FALSE(fs::exists(sidecar));
      EXPECT_THAT(result.Err, ::testing::HasSubstr(shown + "extended attribute \"user." + stream + "\"."));
    } else {
      const fs::path oracle = FFolder / ("icat-" + stream);
      std::ofstream(oracle, std::ios::binary) << expected;
      const CommandResult compared = RunCommand({"cmp", oracle.string(), sidecar.string()});
      EXPECT_EQ(compared.ExitCode, 0) << compared.Out << compared.Err;
      EXPECT_THAT(UserAttributeNames(restored), ::testing::Not(::testing::HasSubstr("user." + stream + "\n")));
      EXPECT_THAT(result.Err, ::testing::HasSubstr(shown + "file \"" + sidecar.string() +
                                                   "\": " + target.Reasons.at(stream) + "."));
    }
  }
  // Beside the file stand its streams that became files, and nothing else.
  std::vector<std::string> names, expected = {"setup.exe"};
  for (const fs::directory_entry& entry : fs::directory_iterator(FMount / "Downloads"))
    names.push_back(entry.path().filename().string());
  for (const auto& [stream, kept] : target.Streams)
    if (kept == TKept::AsFile)
      expected.push_back("setup.exe" + std::string(1, target.Separator) + stream);
  EXPECT_THAT(names, ::testing::UnorderedElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Targets, MountedStreamsTarget, ::testing::ValuesIn(TargetCases()),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

// A file renamed by the conflict rule takes its streams' files along: they
// are named after the name it was written under, never over the first run's.
TEST(CliRestoreStreams, StreamFilesFollowTheirFilesNumberedName) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("streams");
  for (int run = 0; run < 2; ++run) {
    const CommandResult result = Cli({"restore", image, "--target", target.Path().string(), "--path", kFile,
                                      "--conflict", "rename"});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
  }
  const std::string resource = testsupport::IcatStream(image, RecordOf(kFile), "resource");
  EXPECT_EQ(clirun::ReadFile(target / "Downloads/setup.exe:resource"), resource);
  EXPECT_EQ(clirun::ReadFile(target / "Downloads/setup[1].exe:resource"), resource);
}

// --no-streams restores the file alone: nothing beside it, no attribute.
TEST(CliRestoreStreams, NoStreamsLeavesThemOut) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("streams");
  const CommandResult result =
      Cli({"restore", image, "--target", target.Path().string(), "--select", "all", "--no-streams"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  std::vector<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(target / "Downloads"))
    names.push_back(entry.path().filename().string());
  EXPECT_THAT(names, ::testing::UnorderedElementsAre("setup.exe", "notes.txt"));
  EXPECT_EQ(UserAttributeNames(target / "Downloads/setup.exe"), "");
  EXPECT_THAT(result.Err, ::testing::Not(::testing::HasSubstr("Stream \"")));
}

} // namespace

namespace {

// The listing counts a file's named streams, each once, in the column after
// its path.
TEST(CliScanStreams, TheListingCountsEachFilesNamedStreams) {
  const CommandResult scan = Cli({"scan", testsupport::FixtureImage("streams"), "--format", "tsv"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  std::map<std::string, std::string> counts;
  for (const std::string& row : testsupport::SplitLines(scan.Out)) {
    const std::size_t path = clirun::PathColumnStart(row), streams = row.find('\t', path);
    const std::string shown = row.substr(path, streams - path);
    if (const std::size_t slash = shown.find('/'); slash != std::string::npos)
      counts[shown.substr(slash)] = row.substr(streams + 1, row.find('\t', streams + 1) - streams - 1);
  }
  EXPECT_EQ(counts["/Downloads/setup.exe"], "3");
  EXPECT_EQ(counts["/Downloads/notes.txt"], "0");
  EXPECT_EQ(counts["/Downloads"], "0");
}

} // namespace
