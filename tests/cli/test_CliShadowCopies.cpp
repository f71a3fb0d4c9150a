// tarnwick-cli on a volume with shadow copies: the previous version carries
// its snapshot's time in every format, --path restores it from its
// snapshot, and --no-snapshots leaves the snapshots alone.

#include "tests/cli/CliRun.h"
#include "tests/support/Sha256.h"
#include "tests/support/uShadowCopyVolume.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using clirun::Cli;
using clirun::ReadFile;
using testing::ElementsAre;
using testing::HasSubstr;
using testsupport::CommandResult;

namespace {

constexpr char kSyslogPath[] = "Previous version of 2013-12-03 06:35:09/syslog";
constexpr char kFirstSnapshot[] = "2013-12-03T06:35:09Z";

using CliShadowCopies = testsupport::TShadowCopyVolumeTest<>;

TEST_F(CliShadowCopies, EveryFormatEndsWithTheSnapshotsTime) {
  const CommandResult tsv = Cli({"scan", Volume, "--format", "tsv"});
  ASSERT_EQ(tsv.ExitCode, 0) << tsv.Err;
  EXPECT_THAT(testsupport::SplitLines(tsv.Out),
              ElementsAre(HasSubstr("\tpath\tstreams\tsnapshot"),
                          "5\tdir\t0\t0\t0.00\t1601-01-01T00:00:00Z\t\t\tPrevious version of 2013-12-03 06:35:09\t0\t" +
                              std::string(kFirstSnapshot),
                          "35\tfile\t1\t1247\t0.00\t2013-12-03T06:32:24Z\t\tARC\t" + std::string(kSyslogPath) +
                              "\t0\t" + kFirstSnapshot));
  const CommandResult csv = Cli({"scan", Volume, "--format", "csv"});
  EXPECT_THAT(csv.Out, HasSubstr(std::string(kSyslogPath) + ",0," + kFirstSnapshot + "\n"));
  const CommandResult json = Cli({"scan", Volume, "--format", "json"});
  EXPECT_THAT(json.Out, HasSubstr("\"path\": \"" + std::string(kSyslogPath) + "\", \"streams\": 0, \"snapshot\": \"" +
                                  kFirstSnapshot + "\", \"claimed_by\": []}"));
}

TEST_F(CliShadowCopies, WithoutSnapshotsNothingIsListed) {
  const CommandResult tsv = Cli({"scan", Volume, "--format", "tsv", "--no-snapshots"});
  ASSERT_EQ(tsv.ExitCode, 0) << tsv.Err;
  EXPECT_EQ(testsupport::SplitLines(tsv.Out).size(), 1u) << tsv.Out;
  EXPECT_THAT(tsv.Err, testing::Not(HasSubstr("Previous version")));
}

TEST_F(CliShadowCopies, PathRestoresAPreviousVersionFromItsSnapshot) {
  testfiles::TTempFolder target;
  const CommandResult restore = Cli({"restore", Volume, "--target", target.Path().string(), "--path", kSyslogPath});
  ASSERT_EQ(restore.ExitCode, 0) << restore.Err;
  EXPECT_EQ(testsupport::Sha256Hex(ReadFile(target.Path() / "syslog")),
            "0420b023f8dc1b71ff25191ce4ce88d10028f99f99f7c21532611f4c273aeae9");
  // A previous version is there only while snapshots are read.
  const CommandResult without =
      Cli({"restore", Volume, "--target", target.Path().string(), "--path", kSyslogPath, "--no-snapshots"});
  EXPECT_EQ(without.ExitCode, 2);
  EXPECT_THAT(without.Err, HasSubstr("No file or folder"));
}

} // namespace
