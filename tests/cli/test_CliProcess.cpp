#include "engine/uAppContext.h"
#include "engine/uTreeWalk.h"
#include "foundation/uUnicode.h"
#include "ntfs/uNTFSUtils.h"
#include "tests/cli/CliRun.h"
#include "tests/support/Command.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/uOtherUser.h"
#include "tests/support/uTestFiles.h"
#include "platform/uDriveList.h"
#include "platform/uSourceResolver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iomanip>
#include <map>
#include <set>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using clirun::Cli;
using clirun::kCli;
using clirun::LastErrorLine;
using clirun::ReadFile;
using clirun::WithoutDriveLetters;
using testsupport::CommandResult;
using testsupport::RunCommand;
using testsupport::SplitLines;

namespace {

std::string Utc(std::int64_t AFileTime) {
  const std::time_t seconds = static_cast<std::time_t>(AFileTime / 10000000 - 11644473600LL);
  std::tm calendar{};
  gmtime_r(&seconds, &calendar);
  std::ostringstream out;
  out << std::put_time(&calendar, "%Y-%m-%dT%H:%M:%SZ");
  return out.str();
}

std::string Trim(std::string AText) {
  AText.erase(0, AText.find_first_not_of(' '));
  AText.erase(AText.find_last_not_of(' ') + 1);
  return AText;
}

// The tree of the engine scanning the image in this process, as tsv rows.
std::vector<std::string> EngineRows(const std::string& AImage) {
  TDriveList drives;
  drives.Refresh();
  const TVolumeInformationRecord& drive = drives.AddVolumeImage(AImage);
  TNTFSRecoveryContext context(std::make_shared<TScriptedPrompt>());
  context.SetSource(TSourceResolver().Open(drives.RequestOf(drive.Source)));
  context.SetSourceDrive(drive.RootPathName);
  context.SetMask(u"*");
  context.ProcessScan();
  std::vector<std::string> rows;
  ForEachTreeNode(context.TreeItems(), [&rows, &context](PTreeItemInfo ANode) {
    const PItemInfo item = ANode->Data;
    std::string path = ToNativePath(TNTFSRecoveryContext::GetFullName(ANode, true));
    std::replace(path.begin(), path.end(), '\\', '/');
    char overwrite[32];
    std::snprintf(overwrite, sizeof overwrite, "%.2f", item->OverwritePercent);
    rows.push_back(std::to_string(item->MFTNumber.Address()) + '\t' + (item->IsDirectory ? "dir" : "file") + '\t' +
                   (item->IsDeleted ? "1" : "0") + '\t' + std::to_string(item->DataSize) + '\t' + overwrite +
                   '\t' + Utc(item->CreationTime) + '\t' +
                   (item->DeletionTime != 0 ? Utc(item->DeletionTime) : std::string()) + '\t' + Trim(ToNativePath(NTFSUtils::FileAttributesToString(item->Attributes))) + '\t' + path + '\t' +
                   std::to_string(item->NamedStreams) + '\t' +
                   (context.SnapshotTime(*item) != 0 ? Utc(context.SnapshotTime(*item)) : std::string()));
  });
  return rows;
}

// Each process hands the image the next free letter, so only the part below
// the drive folder is compared.
std::string WithoutDriveFolder(const std::string& APath) {
  const std::size_t slash = APath.find('/');
  return slash == std::string::npos ? std::string() : APath.substr(slash);
}

class CliScan : public testing::TestWithParam<std::string> {};

TEST_P(CliScan, TsvRowsAreTheEnginesTreeInPreOrder) {
  const std::string image = testsupport::FixtureImage(GetParam());
  const CommandResult result = Cli({"scan", image, "--format", "tsv"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  std::vector<std::string> lines = SplitLines(result.Out);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(),
            "record\tkind\tdeleted\tsize\toverwrite\tcreated\tdeleted_at\tattributes\tpath\tstreams\tsnapshot");
  lines.erase(lines.begin());
  EXPECT_EQ(WithoutDriveLetters(lines), WithoutDriveLetters(EngineRows(image)));
}

TEST_P(CliScan, ListsEveryDeletedFileOfTheManifestUnderItsPath) {
  const CommandResult result = Cli({"scan", testsupport::FixtureImage(GetParam()), "--format", "tsv"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  std::map<std::string, std::string> recordOfPath; // path without the drive folder
  for (const std::string& line : SplitLines(result.Out)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
      fields.push_back(field);
    // The snapshot column, empty for the volume's own rows, ends them.
    ASSERT_GE(fields.size(), 10u) << line;
    if (fields[2] == "1")
      recordOfPath[WithoutDriveFolder(fields[8])] = fields[0];
  }
  for (const testsupport::ManifestEntry& entry : testsupport::FixtureManifest(GetParam()).Entries) {
    // ntfs-3g drops the extension records, and with them the name, of a
    // deleted file that had an attribute list. A file from the Recycle Bin
    // is listed where it came from (test_CliRecycleBin.cpp).
    if (entry.Deleted && !entry.IsFolder && !entry.RecordReused && !entry.HasKind("parent-reused") &&
        !entry.HasKind("attrlist") && !entry.Name().starts_with("$R")) {
      EXPECT_EQ(recordOfPath[entry.Path], std::to_string(entry.Record)) << entry.Path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CliScan, testing::Values("demo", "deleted", "attrlist"));

TEST(CliFormats, CsvAndJsonCarryTheTsvRows) {
  const std::string image = testsupport::FixtureImage("demo");
  const std::string tsv = Cli({"scan", image, "--format", "tsv"}).Out;
  const CommandResult csv = Cli({"scan", image, "--format", "csv"});
  ASSERT_EQ(csv.ExitCode, 0);
  // The demo volume's names hold no comma or quote, so nothing is quoted.
  // Another suite may attach a loop device between the two runs, which
  // moves the image to another letter.
  std::string csvAsTsv = csv.Out;
  std::replace(csvAsTsv.begin(), csvAsTsv.end(), ',', '\t');
  EXPECT_EQ(WithoutDriveLetters(SplitLines(csvAsTsv)), WithoutDriveLetters(SplitLines(tsv)));
  const CommandResult json = Cli({"scan", image, "--format", "json"});
  ASSERT_EQ(json.ExitCode, 0);
  const std::vector<std::string> jsonLines = SplitLines(json.Out);
  EXPECT_EQ(std::count_if(jsonLines.begin(), jsonLines.end(), [](const std::string& ALine) { return ALine.starts_with(" {"); }),
            static_cast<long>(SplitLines(tsv).size() - 1));
  EXPECT_EQ(json.Out.front(), '[');
  EXPECT_NE(json.Out.find("/Documents/thesis.docx\", \"streams\": 0, \"snapshot\": \"\", \"claimed_by\": []}"), std::string::npos)
      << json.Out;
}

// By default a restored file carries its record's modification time;
// --no-times leaves it the time of writing.
TEST(CliRestore, NoTimesLeavesTheRestoredFilesTheTimeOfWriting) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("deleted");
  const std::time_t started = std::time(nullptr);
  std::map<bool, std::time_t> modified;
  for (const bool keep : {true, false}) {
    const std::filesystem::path folder = target / (keep ? "kept" : "written");
    std::vector<std::string> args = {"restore", image, "--target", folder.string(), "--path", "/Work/intact.bin"};
    if (!keep)
      args.push_back("--no-times");
    const CommandResult result = Cli(args);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    struct stat info {};
    ASSERT_EQ(::stat((folder / "Work/intact.bin").c_str(), &info), 0);
    modified[keep] = info.st_mtim.tv_sec;
  }
  // The fixture was written before this test started.
  EXPECT_LE(modified[true], std::filesystem::file_time_type::clock::to_sys(
                                std::filesystem::last_write_time(image)).time_since_epoch() / std::chrono::seconds(1));
  EXPECT_GE(modified[false], started);
}

TEST(CliRestore, SelectAllWritesTheOriginalBytesOfEveryIntactFile) {
  // The demo's Recycle Bin file goes where its $I file says it came from.
  const std::map<std::string, std::string> fromTheBin = {
      {"/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001/$RABC123.jpg", "/Photos/Holiday 2023/pier.jpg"}};
  testfiles::TTempFolder target;
  for (const std::string recipe : {"demo", "deleted"}) {
    SCOPED_TRACE(recipe);
    const std::filesystem::path folder = target / recipe;
    const CommandResult result =
        Cli({"restore", testsupport::FixtureImage(recipe), "--target", folder.string(), "--select", "all"});
    EXPECT_LE(result.ExitCode, 1) << result.Err;
    int compared = 0;
    for (const testsupport::ManifestEntry& entry : testsupport::FixtureManifest(recipe).Entries) {
      if (!entry.Deleted || entry.IsFolder || entry.RecordReused || entry.Overwritten != testsupport::Overwrite::None ||
          entry.HasKind("parent-reused"))
        continue;
      const auto placed = fromTheBin.find(entry.Path);
      const std::string path = placed == fromTheBin.end() ? entry.Path : placed->second;
      EXPECT_EQ(testsupport::Sha256Hex(ReadFile(folder / path.substr(1))), entry.Sha256) << entry.Path;
      ++compared;
    }
    EXPECT_GT(compared, 0);
  }
}

TEST(CliRestore, SelectGoodLeavesTheOverwrittenFilesOut) {
  testfiles::TTempFolder target;
  const CommandResult result = Cli({"restore", testsupport::FixtureImage("demo"), "--target",
                                    target.Path().string(), "--select", "good", "--mode", "flat"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_TRUE(std::filesystem::exists(target / "thesis.docx"));
  EXPECT_TRUE(std::filesystem::exists(target / "shopping.txt"));
  // 100 % and 37 % of these were written over by later files.
  EXPECT_FALSE(std::filesystem::exists(target / "hotel.jpg"));
  EXPECT_FALSE(std::filesystem::exists(target / "sunset.jpg"));
}

TEST(CliRestore, PathsTickWholeFoldersAndConflictsFollowTheRule) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("demo");
  const std::vector<std::string> restoreNotes = {"restore", image, "--target", target.Path().string(), "--path",
                                                 "/Notes"};
  ASSERT_EQ(Cli(restoreNotes).ExitCode, 0);
  EXPECT_TRUE(std::filesystem::exists(target / "Notes/ideas.txt"));
  EXPECT_FALSE(std::filesystem::exists(target / "Documents"));

  const auto filesInNotes = [&] {
    return std::distance(std::filesystem::directory_iterator(target / "Notes"), {});
  };
  struct Case {
    std::string Conflict;
    long AddedFiles;
    std::string Message;
  };
  for (const Case& c : {Case{"skip", 0, "(Already exists)"}, Case{"rename", 2, "Create file"},
                        Case{"overwrite", 0, "Overwrite file"}}) {
    SCOPED_TRACE(c.Conflict);
    const long before = filesInNotes();
    std::vector<std::string> args = restoreNotes;
    args.insert(args.end(), {"--conflict", c.Conflict});
    const CommandResult result = Cli(args);
    EXPECT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_NE(result.Err.find(c.Message), std::string::npos) << result.Err;
    EXPECT_EQ(filesInNotes() - before, c.AddedFiles);
  }
  EXPECT_EQ(testsupport::Sha256Hex(ReadFile(target / "Notes/ideas.txt")),
            testsupport::FixtureManifest("demo").Find("/Notes/ideas.txt")->Sha256);
}

TEST(CliExitCodes, BadArgumentsAndUnreadableSourcesEndWithOneLine) {
  testfiles::TTempFolder folder;
  const std::string notNtfs = (folder / "random.img").string();
  std::ofstream(notNtfs) << std::string(1 << 20, 'x');
  const std::string demo = testsupport::FixtureImage("demo");
  struct Case {
    std::vector<std::string> Args;
    int ExitCode;
  };
  const Case cases[] = {
      {{}, 2},
      {{"undo"}, 2},
      {{"scan"}, 2},
      {{"scan", demo, "--format", "xml"}, 2},
      {{"restore", demo, "--select", "all"}, 2},
      {{"restore", demo, "--target", (folder / "out").string()}, 2},
      {{"restore", demo, "--target", (folder / "out").string(), "--select", "best"}, 2},
      {{"restore", demo, "--target", (folder / "out").string(), "--path", "/No/such.txt"}, 2},
      {{"restore", demo, "--target", (folder / "out").string(), "--path", "#12x"}, 2},
      {{"restore", demo, "--target", "", "--select", "all"}, 2},
      {{"restore", demo, "--target", (folder / "out").string(), "--select", "all", "--mask", "*.none"}, 2},
      {{"scan", demo, "--mask", "[a"}, 2},
      {{"restore", demo, "--target", (folder / "out").string(), "--select", "all", "--mask", "[a"}, 2},
      {{"scan", notNtfs}, 3},
      {{"scan", (folder / "missing.img").string()}, 3},
      {{"restore", notNtfs, "--target", (folder / "out").string(), "--select", "all"}, 3},
  };
  for (const Case& c : cases) {
    const CommandResult result = Cli(c.Args);
    std::string line;
    for (const std::string& arg : c.Args)
      line += arg + ' ';
    SCOPED_TRACE(line);
    EXPECT_EQ(result.ExitCode, c.ExitCode) << result.Err;
    EXPECT_EQ(result.Out, "");
    // Progress lines may come first; the message is the one last line.
    const std::vector<std::string> errors = SplitLines(result.Err);
    ASSERT_FALSE(errors.empty());
    EXPECT_EQ(errors.back().rfind("tarnwick-cli: ", 0), 0u) << result.Err;
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "out"));
}

TEST(CliExitCodes, AListingThatCannotBeWrittenIsAnError) {
  if (!std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full here";
  const CommandResult result = RunCommand(
      {"sh", "-c", "\"$0\" scan \"$1\" --format tsv > /dev/full", kCli, testsupport::FixtureImage("demo")});
  EXPECT_EQ(result.ExitCode, 1);
  EXPECT_NE(result.Err.find("tarnwick-cli: The listing could not be written"), std::string::npos) << result.Err;
}

// A path held by two deleted records restores both; a record number picks
// the folder that shares its path with a file.
TEST(CliRestore, APathTakesEveryRecordThatHoldsIt) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("collisions");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("collisions");
  CommandResult result = Cli({"restore", image, "--target", target.Path().string(), "--path", "/Same/dup.txt"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  std::multiset<std::string> written, expected;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(target.Path()))
    if (entry.is_regular_file())
      written.insert(testsupport::Sha256Hex(ReadFile(entry.path())));
  for (const testsupport::ManifestEntry& entry : manifest.Entries)
    if (entry.Path == "/Same/dup.txt")
      expected.insert(entry.Sha256);
  EXPECT_EQ(expected.size(), 2u);
  EXPECT_EQ(written, expected);

  const auto folder = std::find_if(manifest.Entries.begin(), manifest.Entries.end(), [](const auto& AEntry) {
    return AEntry.Path == "/Same/docs" && AEntry.IsFolder;
  });
  ASSERT_NE(folder, manifest.Entries.end());
  const std::filesystem::path byRecord = target / "by-record";
  std::string record = "#";
  record += std::to_string(folder->Record);
  result = Cli({"restore", image, "--target", byRecord.string(), "--path", record});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_EQ(testsupport::Sha256Hex(ReadFile(byRecord / "Same/docs/inner.txt")),
            manifest.Find("/Same/docs/inner.txt")->Sha256);
  EXPECT_FALSE(std::filesystem::is_regular_file(byRecord / "Same/docs"));
}

// A crafted name full of terminal control sequences reaches the terminal
// escaped, in the listing and in the restore's lines, and is restored as it is.
TEST(CliRestore, ControlCharactersInNamesNeverReachTheTerminal) {
  testfiles::TTempFolder target;
  const std::string image = testsupport::FixtureImage("collisions");
  const CommandResult tree = Cli({"scan", image});
  ASSERT_EQ(tree.ExitCode, 0) << tree.Err;
  EXPECT_NE(tree.Out.find("\\x1b[2J\\x1b[HALL FILES RESTORED OK.txt"), std::string::npos) << tree.Out;
  const CommandResult restore = Cli({"restore", image, "--target", target.Path().string(), "--select", "all"});
  EXPECT_EQ(restore.ExitCode, 0) << restore.Err;
  EXPECT_NE(restore.Err.find("\\x1b[2J"), std::string::npos) << restore.Err;
  for (const std::string& text : {tree.Out, tree.Err, restore.Out, restore.Err})
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(target / "Same/\x1b[2J\x1b[HALL FILES RESTORED OK.txt"));
}

// A volume image cut short: the files whose clusters lay past the cut count
// those bytes as lost, are not "good", and restore with zeros and exit 1.
TEST(CliRestore, BytesPastTheEndOfATruncatedImageAreLostAndSaidToBe) {
  testfiles::TTempFolder folder;
  const testsupport::Manifest manifest = testsupport::FixtureManifest("deleted");
  const testsupport::ManifestEntry* intact = manifest.Find("/Work/intact.bin");
  ASSERT_NE(intact, nullptr);
  ASSERT_FALSE(intact->Runs.empty());
  ASSERT_TRUE(intact->Runs.front().Lcn.has_value());
  const std::filesystem::path image = folder / "truncated.img";
  std::filesystem::copy_file(testsupport::FixtureImage("deleted"), image);
  // Two of its eight clusters stay.
  std::filesystem::resize_file(image, static_cast<std::uintmax_t>(*intact->Runs.front().Lcn + 2) * 4096);

  const CommandResult scan = Cli({"scan", image.string(), "--format", "tsv"});
  ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
  std::string row;
  for (const std::string& line : SplitLines(scan.Out))
    if (line.ends_with("/Work/intact.bin\t0\t"))
      row = line;
  EXPECT_NE(row.find("\t75.00\t"), std::string::npos) << row;

  const std::filesystem::path good = folder / "good";
  Cli({"restore", image.string(), "--target", good.string(), "--select", "good"});
  EXPECT_FALSE(std::filesystem::exists(good / "Work/intact.bin"));

  const std::filesystem::path chosen = folder / "chosen";
  const CommandResult restore =
      Cli({"restore", image.string(), "--target", chosen.string(), "--path", "/Work/intact.bin"});
  EXPECT_EQ(restore.ExitCode, 1) << restore.Err;
  EXPECT_NE(restore.Err.find("Bytes 8192 to 32767 could not be read from the source drive and were written as zeros."),
            std::string::npos) << restore.Err;
  EXPECT_NE(restore.Err.find("Files restored with zeros for bytes that could not be read or have no data runs: 1."),
            std::string::npos) << restore.Err;
  EXPECT_EQ(std::filesystem::file_size(chosen / "Work/intact.bin"), 32768u);
}

// A copy of the demo volume changed by AChange, which gets the byte offsets
// of the MFT's first record and of its copy in $MFTMirr.
std::string DamagedDemo(const testfiles::TTempFolder& AFolder, const std::string& AName,
                        const std::function<void(const std::string&, std::int64_t, std::int64_t)>& AChange) {
  const std::string image = (AFolder / AName).string();
  std::filesystem::copy_file(testsupport::FixtureImage("demo"), image);
  const std::string boot = ReadFile(image).substr(0, 512);
  const auto field = [&boot](std::size_t AOffset, std::size_t ASize) {
    std::uint64_t value = 0;
    for (std::size_t i = ASize; i-- > 0;)
      value = (value << 8) | static_cast<std::uint8_t>(boot[AOffset + i]);
    return value;
  };
  const auto clusterSize = static_cast<std::int64_t>(field(0x0B, 2) * field(0x0D, 1));
  AChange(image, static_cast<std::int64_t>(field(0x30, 8)) * clusterSize,
          static_cast<std::int64_t>(field(0x38, 8)) * clusterSize);
  return image;
}

TEST(CliSourceErrors, EachSaysWhyTheSourceCannotBeRead) {
  testfiles::TTempFolder folder;
  const std::string notNtfs = (folder / "random.img").string();
  std::ofstream(notNtfs) << std::string(1 << 20, 'x');
  // Record 0 and its copy both damaged: nothing leads to the MFT.
  const std::string damaged =
      DamagedDemo(folder, "damaged.img", [](const std::string& AImage, std::int64_t AMFT, std::int64_t AMirror) {
        std::fstream patch(AImage, std::ios::in | std::ios::out | std::ios::binary);
        for (const std::int64_t record : {AMFT, AMirror}) {
          patch.seekp(record);
          patch.write("BAAD", 4);
        }
      });
  // The mirror lies past the cut.
  const std::string cut = DamagedDemo(folder, "cut.img", [](const std::string& AImage, std::int64_t AMFT, std::int64_t) {
    std::filesystem::resize_file(AImage, static_cast<std::uintmax_t>(AMFT + 512));
  });
  const struct {
    std::string Source;
    std::string Message;
  } cases[] = {
      {(folder / "missing.img").string(), '"' + (folder / "missing.img").string() + "\" does not exist."},
      {folder.Path().string(), "is a folder, not a block device or a volume image file."},
      {"/dev/null", "\"/dev/null\" is not a block device or a volume image file."},
      {notNtfs, "holds no NTFS boot sector: it is not an NTFS volume image."},
      {damaged, "The MFT's first record (byte "},
      {damaged, "of the volume) is damaged: it does not start with \"FILE\"."},
      {cut, "of the volume) cannot be read from the source drive."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Source);
    const CommandResult result = Cli({"scan", c.Source});
    EXPECT_EQ(result.ExitCode, 3) << result.Err;
    EXPECT_THAT(LastErrorLine(result), ::testing::HasSubstr(c.Message));
    EXPECT_EQ(result.Out, "");
  }
}

// A normal user is told that permission is denied and what to do, not that
// the source holds no NTFS. Runs tarnwick-cli as nobody, so it needs root,
// outside a graphical session, where udisks2 is not asked.
TEST(CliSourceErrors, AUserWithoutAccessIsToldPermissionIsDenied) {
  if (geteuid() != 0)
    GTEST_SKIP() << "running a child as another user needs root";
  testfiles::TSharedTempFolder folder;
  if (const std::string why = folder.WhyProgramsCannotRun(); !why.empty())
    GTEST_SKIP() << why;
  const std::string cli = folder.AddProgram(kCli);
  const std::string image = folder.AddFile(testsupport::FixtureImage("demo"), std::filesystem::perms::owner_read |
                                                                                  std::filesystem::perms::owner_write);
  std::vector<std::pair<std::string, std::string>> cases = {
      {image, "Permission denied reading \"" + image + "\": run Tarnwick as root, or as a user who may read the file."}};
  std::istringstream attached(testfiles::CommandOutput("losetup -r -f --show '" + image + "' 2>/dev/null"));
  std::string device;
  std::getline(attached, device);
  if (!device.empty())
    cases.emplace_back(device, "Permission denied reading \"" + device +
                                   "\": run Tarnwick as root, or join the \"disk\" group and log in again.");
  for (const auto& [source, message] : cases) {
    SCOPED_TRACE(source);
    const CommandResult result = RunCommand(testfiles::AsNobody({"env", "-u", "XDG_SESSION_TYPE", cli, "scan", source}));
    EXPECT_EQ(result.ExitCode, 3) << result.Err;
    EXPECT_EQ(LastErrorLine(result), "tarnwick-cli: " + message);
  }
  if (!device.empty())
    testfiles::CommandOutput("losetup -d '" + device + "'");
  else
    std::cout << "no loop device could be attached: only the image file was tried\n";
}

// Runs the scan of a large fixture and sends SIGINT once the record pass
// has announced itself on standard error.
TEST(CliInterrupt, SigintDuringTheRecordPassPrintsThePartialTree) {
  const std::string image = testsupport::FixtureImage("scan");
  const std::size_t fullRows = SplitLines(Cli({"scan", image, "--format", "tsv"}).Out).size();

  int out[2], err[2];
  ASSERT_EQ(pipe(out), 0);
  ASSERT_EQ(pipe(err), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, err[0]);
  std::vector<std::string> args = {kCli, "scan", image, "--format", "tsv"};
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, kCli.c_str(), &actions, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  // The scan yields the processor to this test, so the signal lands while
  // the records are still being read even on a busy machine.
  setpriority(PRIO_PROCESS, static_cast<id_t>(pid), 19);

  std::string stdoutText, stderrText;
  bool sent = false;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&stdoutText, &stderrText};
  for (int open = 2; open > 0;) {
    if (poll(fds, 2, -1) < 0 && errno == EINTR)
      continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0)
        continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0)
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
    if (!sent && stderrText.find("Scanning drive...\n") != std::string::npos) {
      kill(pid, SIGINT);
      sent = true;
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(sent) << stderrText;
  ASSERT_TRUE(WIFEXITED(status)) << stderrText;
  EXPECT_EQ(WEXITSTATUS(status), 130) << stderrText;
  EXPECT_NE(stderrText.find("Scan canceled"), std::string::npos) << stderrText;
  const std::vector<std::string> rows = SplitLines(stdoutText);
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows.front().rfind("record\tkind", 0), 0u);
  EXPECT_LT(rows.size(), fullRows);
}

} // namespace
