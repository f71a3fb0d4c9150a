// tarnwick-cli on a volume whose Recycle Bin was emptied: each file the bin
// held is listed and restored at the place its "$I" file names, under its
// own name, and every "$I" that cannot be trusted leaves its file in the bin.

#include "tests/cli/CliRun.h"
#include "tests/support/Content.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <sstream>

using clirun::Cli;
using clirun::ReadFile;
using testsupport::CommandResult;
using testing::HasSubstr;

namespace {

constexpr char kRecipe[] = "recyclebin";
constexpr char kBin[] = "/$RECYCLE.BIN/S-1-5-21-1004336348-1177238915-682003330-1001";

// The tsv columns a test looks at.
struct TListed {
  std::string Record;
  std::string Kind;
  std::string DeletedAt;
};

// Every row by its path below the drive folder; a path listed twice keeps
// each of its rows.
std::multimap<std::string, TListed> ListedRows(const std::string& AListing) {
  std::multimap<std::string, TListed> rows;
  for (const std::string& line : testsupport::SplitLines(AListing)) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, '\t');)
      fields.push_back(field);
    if (fields.size() < 10 || fields[0] == "record")
      continue;
    const std::size_t slash = fields[8].find('/');
    if (slash != std::string::npos)
      rows.emplace(fields[8].substr(slash), TListed{fields[0], fields[1], fields[6]});
  }
  return rows;
}

std::string ContentOf(const testsupport::ManifestEntry& AEntry) {
  return testsupport::GenerateContent(testsupport::ContentLayout::Parse(AEntry.Layout), AEntry.Seed);
}

std::string Bin(const std::string& AName) { return std::string(kBin) + "/" + AName; }

const std::string kLongName = std::string(247, 'l') + ".txt";
const std::string kDeepFolder =
    "/Deep/" + std::string(200, 'a') + "/" + std::string(200, 'b') + "/" + std::string(200, 'c') + "/" +
    std::string(200, 'd');

// A "$R" item of the recipe, where its "$I" puts it, and when it went.
struct TPlaced {
  std::string Recycled;
  std::string Original;
  std::string DeletedAt;
};

const std::vector<TPlaced> kPlaced = {
    {Bin("$RV2PAIR.jpg"), "/Users/ann/Pictures/beach.jpg", "2024-03-01T01:00:00Z"},
    {Bin("$RV1PAIR.txt"), "/Old Stuff/notes.txt", "2024-03-01T02:00:00Z"},
    {Bin("$RFOLDER"), "/Users/ann/Projects", "2024-03-01T03:00:00Z"},
    {Bin("$RLONG01.txt"), "/Long/" + kLongName, "2024-03-01T04:00:00Z"},
    {Bin("$RDEEP01.txt"), kDeepFolder + "/deep.txt", "2024-03-01T05:00:00Z"},
    {Bin("$RLIVEI1.png"), "/Users/ann/chart.png", "2024-03-01T07:00:00Z"},
    {Bin("$RSIZE01.bin"), "/Users/ann/sized.bin", "2024-03-01T10:00:00Z"},
    {Bin("$RINNER1.txt"), "/Users/ann/Projects/later.txt", "2024-03-01T11:00:00Z"},
};

class CliRecycleBin : public testing::Test {
protected:
  static void SetUpTestSuite() {
    Manifest = new testsupport::Manifest(testsupport::FixtureManifest(kRecipe));
    Scan = new CommandResult(Cli({"scan", testsupport::FixtureImage(kRecipe), "--format", "tsv"}));
  }
  static void TearDownTestSuite() {
    delete Manifest;
    delete Scan;
  }

  static const testsupport::ManifestEntry& Deleted(const std::string& APath) {
    for (const testsupport::ManifestEntry& entry : Manifest->Entries)
      if (entry.Deleted && entry.Path == APath)
        return entry;
    throw std::runtime_error("the recipe deleted no " + APath);
  }

  static testsupport::Manifest* Manifest;
  static CommandResult* Scan;
};

testsupport::Manifest* CliRecycleBin::Manifest = nullptr;
CommandResult* CliRecycleBin::Scan = nullptr;

TEST_F(CliRecycleBin, ListsEachFileAtItsOriginalPathWithItsDeletionTime) {
  ASSERT_EQ(Scan->ExitCode, 0) << Scan->Err;
  const std::multimap<std::string, TListed> rows = ListedRows(Scan->Out);
  for (const TPlaced& placed : kPlaced) {
    SCOPED_TRACE(placed.Original);
    ASSERT_EQ(rows.count(placed.Original), 1u);
    const TListed& row = rows.find(placed.Original)->second;
    EXPECT_EQ(row.Record, std::to_string(Deleted(placed.Recycled).Record));
    EXPECT_EQ(row.DeletedAt, placed.DeletedAt);
    EXPECT_EQ(rows.count(placed.Recycled), 0u);
  }
  // A recycled folder's files follow it; they have no "$I" of their own.
  for (const char* inside : {"/Users/ann/Projects/plan.txt", "/Users/ann/Projects/Sub/model.bin"}) {
    ASSERT_EQ(rows.count(inside), 1u) << inside;
    EXPECT_EQ(rows.find(inside)->second.DeletedAt, "") << inside;
  }
  // The folders the volume still holds take them in, and so does a recycled
  // folder put back: one row each.
  EXPECT_EQ(rows.count("/Users/ann"), 1u);
  EXPECT_EQ(rows.count("/Users/ann/Projects"), 1u);
  EXPECT_EQ(rows.count("/Users/ann/Pictures"), 1u);
  EXPECT_EQ(rows.count("/Users/ann/Pictures/kept.jpg"), 0u); // live files are not listed
  EXPECT_EQ(rows.find("/Old Stuff")->second.Kind, "dir");
  // Two files of one original path are both there.
  EXPECT_EQ(rows.count("/Users/ann/report.txt"), 2u);
  // The "$I" files stay reachable under the bin.
  EXPECT_EQ(rows.count(Bin("$IV2PAIR.jpg")), 1u);
}

TEST_F(CliRecycleBin, AFileWhoseInfoIsGoneOrBrokenStaysInTheBin) {
  ASSERT_EQ(Scan->ExitCode, 0) << Scan->Err;
  const std::multimap<std::string, TListed> rows = ListedRows(Scan->Out);
  ASSERT_TRUE(Deleted(Bin("$IREUSE1.doc")).RecordReused);
  for (const char* name : {"$RREUSE1.doc", "$RBROKEN.txt"}) {
    ASSERT_EQ(rows.count(Bin(name)), 1u) << name;
    EXPECT_EQ(rows.find(Bin(name))->second.DeletedAt, "") << name;
  }
  EXPECT_THAT(Scan->Err, HasSubstr("\"$RBROKEN.txt\" (MFT record " +
                                   std::to_string(Deleted(Bin("$RBROKEN.txt")).Record) + ") stays in the bin"));
  EXPECT_THAT(Scan->Err, HasSubstr("its path is not valid UTF-16"));
  EXPECT_THAT(Scan->Err, HasSubstr("\"$RSIZE01.bin\" (MFT record " +
                                   std::to_string(Deleted(Bin("$RSIZE01.bin")).Record) +
                                   ") holds 5000 bytes, but its \"$I\" file says the original held 999."));
}

TEST_F(CliRecycleBin, RestoresEachFileUnderItsOriginalNameAndPath) {
  testfiles::TTempFolder target;
  const CommandResult result =
      Cli({"restore", testsupport::FixtureImage(kRecipe), "--target", target.Path().string(), "--select", "good"});
  ASSERT_EQ(result.ExitCode, 0) << result.Err;
  const std::map<std::string, std::string> expected = {
      {"/Users/ann/Pictures/beach.jpg", Bin("$RV2PAIR.jpg")},
      {"/Old Stuff/notes.txt", Bin("$RV1PAIR.txt")},
      {"/Users/ann/Projects/plan.txt", Bin("$RFOLDER/plan.txt")},
      {"/Users/ann/Projects/Sub/model.bin", Bin("$RFOLDER/Sub/model.bin")},
      {"/Long/" + kLongName, Bin("$RLONG01.txt")},
      {kDeepFolder + "/deep.txt", Bin("$RDEEP01.txt")},
      {"/Users/ann/chart.png", Bin("$RLIVEI1.png")},
      {"/Users/ann/Projects/later.txt", Bin("$RINNER1.txt")},
      {Bin("$RBROKEN.txt"), Bin("$RBROKEN.txt")},
  };
  for (const auto& [restored, recycled] : expected)
    EXPECT_EQ(ReadFile(target.Path().string() + restored), ContentOf(Deleted(recycled))) << restored;
  // The second file of one path gets the rename rule's numbered name.
  EXPECT_EQ(ReadFile(target.Path() / "Users/ann/report.txt"), ContentOf(Deleted(Bin("$RTWIN01.txt"))));
  EXPECT_EQ(ReadFile(target.Path() / "Users/ann/report[1].txt"), ContentOf(Deleted(Bin("$RTWIN02.txt"))));
  // What a "$I" told is shown where its file went; it is not restored.
  EXPECT_FALSE(std::filesystem::exists(target.Path().string() + Bin("$IV2PAIR.jpg")));
}

} // namespace
