// Names that are gone: folders' index blocks still name deleted files whose
// records now hold other files. With --include-gone the listing shows them
// after the tree, kind "gone", and says what took each record. The fixture
// builder knows which records it gave to new files. The Sleuth Kit's fls
// shows none of these names: it does not read the blocks' unused tails.
#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using ::testing::HasSubstr;

TEST(CliGoneNames, NamesWhoseRecordsNowHoldNewFilesAreListedAsGoneWithWhatTookThem) {
  const std::string image = testsupport::FixtureImage("gonenames");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("gonenames");
  const testsupport::CommandResult plain = clirun::Cli({"scan", image, "--format", "tsv"});
  const testsupport::CommandResult withGone = clirun::Cli({"scan", image, "--format", "tsv", "--include-gone"});
  ASSERT_EQ(withGone.ExitCode, 0) << withGone.Err;

  std::vector<std::string> listed, gone;
  for (const std::string& row : clirun::WithoutDriveLetters(testsupport::SplitLines(withGone.Out)))
    (clirun::ScanRowOf(row, "").at(1) == "gone" ? gone : listed).push_back(row);
  // Without the option the listing is the tree alone, as before.
  EXPECT_EQ(clirun::WithoutDriveLetters(testsupport::SplitLines(plain.Out)), listed);
  ASSERT_GE(gone.size(), 2u) << withGone.Out;

  for (const std::string& row : gone) {
    SCOPED_TRACE(row);
    const std::vector<std::string> fields = clirun::ScanRowOf(row, "");
    const std::string path = fields.at(8).substr(2); // past "X:"
    const testsupport::ManifestEntry* entry = manifest.Find(path);
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->Deleted && entry->RecordReused);
    EXPECT_EQ(fields.at(0), std::to_string(entry->Record));
    EXPECT_EQ(fields.at(3), std::to_string(entry->Size));
    // What the record holds now: the live file the builder gave it to.
    const auto holder = std::find_if(manifest.Entries.begin(), manifest.Entries.end(), [&](const auto& AOther) {
      return AOther.Record == entry->Record && !AOther.Deleted;
    });
    ASSERT_NE(holder, manifest.Entries.end());
    EXPECT_THAT(withGone.Err, HasSubstr(path + ": record " + std::to_string(entry->Record) + " now holds \"" +
                                        holder->Name() + "\"."));
  }
  // A deleted file the scan lists, and a live file, are never gone.
  for (const testsupport::ManifestEntry& entry : manifest.Entries) {
    if (!entry.RecordReused) {
      EXPECT_THAT(withGone.Err, ::testing::Not(HasSubstr(entry.Path + ":")));
    }
  }
}

} // namespace
