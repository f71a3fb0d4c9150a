// tarnwick-cli on a failing disk: the reads of a fixture's MFT from record
// 64 on fail after a delay (a preloaded library makes them fail, see
// FailingReads.cpp). The record pass asks once for the block and once more
// for each record it lacks, and a Ctrl-C among the failing reads ends the
// scan after at most one more of them.

#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/uTestFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

using clirun::kCli;
using testsupport::CommandResult;

constexpr char kRecipe[] = "demo";
constexpr std::int64_t kFirstBadRecord = 64;
constexpr int kDelayMs = 20;
// A deleted, intact file of the recipe, and how many of its first clusters
// fail while it is restored, each read of them after kFastDelayMs.
constexpr char kSlowFile[] = "/Documents/thesis.docx";
constexpr std::int64_t kClusterSize = 4096;
constexpr std::int64_t kFailingClusters = 16;
constexpr int kFastDelayMs = 5;

// What the preloaded library logged.
struct TFailedReads {
  int Total = 0;
  int AfterInterrupt = 0;
  bool Interrupted = false;
};

TFailedReads ReadLog(const std::string& APath) {
  TFailedReads reads;
  std::ifstream log(APath);
  for (std::string line; std::getline(log, line);) {
    if (line == "interrupt") {
      reads.Interrupted = true;
    } else if (line.rfind("failed ", 0) == 0) {
      ++reads.Total;
      reads.AfterInterrupt += reads.Interrupted;
    }
  }
  return reads;
}

class CliFailingDisk : public ::testing::Test {
protected:
  // Scans the fixture with its MFT failing from kFirstBadRecord on; SIGINT
  // comes during failed read AInterruptAt (none when 0).
  CommandResult Scan(int AInterruptAt) {
    const std::string image = testsupport::FixtureImage(kRecipe);
    const auto [from, length] = testsupport::FixtureMFTRecordBytes(kRecipe, kFirstBadRecord);
    TFailure failure{from, from + length, kDelayMs, AInterruptAt, SIGINT};
    return Run(failure, {"scan", image, "--format", "tsv"});
  }

  struct TFailure {
    std::int64_t From = 0;
    std::int64_t To = 0;
    int DelayMs = 0;
    int InterruptAt = 0;
    int Signal = SIGINT;
  };

  // Runs tarnwick-cli with AArgs while the fixture's bytes [From, To) fail.
  CommandResult Run(const TFailure& AFailure, const std::vector<std::string>& AArgs) {
    // An instrumented tarnwick-cli wants its sanitizer's library first;
    // the preloaded one only stands between the program and the C library.
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> command = {"env",
                                        "LD_PRELOAD=" TARNWICK_FAILING_READS,
                                        "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0",
                                        "TARNWICK_FAILING_FILE=" + testsupport::FixtureImage(kRecipe),
                                        "TARNWICK_FAILING_FROM=" + std::to_string(AFailure.From),
                                        "TARNWICK_FAILING_TO=" + std::to_string(AFailure.To),
                                        "TARNWICK_FAILING_DELAY_MS=" + std::to_string(AFailure.DelayMs),
                                        "TARNWICK_FAILING_INTERRUPT_AT=" + std::to_string(AFailure.InterruptAt),
                                        "TARNWICK_FAILING_SIGNAL=" + std::to_string(AFailure.Signal),
                                        "TARNWICK_FAILING_LOG=" + LogPath(),
                                        kCli};
    command.insert(command.end(), AArgs.begin(), AArgs.end());
    return testsupport::RunCommand(command);
  }

  std::string LogPath() const { return (FFolder / "failed-reads.log").string(); }

  testfiles::TTempFolder FFolder;
};

// The demo MFT's 85 records make one block: one request for it, then one
// for each of the 21 records it lacks.
TEST_F(CliFailingDisk, EachUnreadRecordIsAskedForOnceAndNamed) {
  const CommandResult result = Scan(0);
  EXPECT_EQ(result.ExitCode, 0) << result.Err;
  EXPECT_NE(result.Err.find("MFT records 64 to 84 could not be read from the source drive."), std::string::npos)
      << result.Err;
  EXPECT_EQ(ReadLog(LogPath()).Total, 1 + 21);
}

TEST_F(CliFailingDisk, CtrlCAmongTheFailingReadsEndsTheScanWithinOneMore) {
  const CommandResult result = Scan(3);
  const TFailedReads reads = ReadLog(LogPath());
  ASSERT_TRUE(reads.Interrupted) << result.Err;
  EXPECT_EQ(result.ExitCode, 130) << result.Err;
  EXPECT_NE(result.Err.find("Scan canceled"), std::string::npos) << result.Err;
  EXPECT_LE(reads.AfterInterrupt, 1);
  // What the pass found before the interrupt is still listed.
  EXPECT_EQ(result.Out.rfind("record\tkind", 0), 0u) << result.Out;
}

// A signal among the failing reads of a file being restored: one Ctrl-C
// lets the file be finished, SIGTERM and SIGHUP end the run at once and
// leave the file named as partial.
TEST_F(CliFailingDisk, SigtermAndSighupEndARestoreAtOnceCtrlCFinishesTheFile) {
  const testsupport::Manifest manifest = testsupport::FixtureManifest(kRecipe);
  const testsupport::ManifestEntry* file = manifest.Find(kSlowFile);
  ASSERT_NE(file, nullptr);
  ASSERT_FALSE(file->Runs.empty());
  const std::int64_t from = *file->Runs.front().Lcn * kClusterSize;
  struct TCase {
    int Signal;
    bool Partial;
  };
  for (const TCase& test : {TCase{SIGINT, false}, TCase{SIGTERM, true}, TCase{SIGHUP, true}}) {
    SCOPED_TRACE(strsignal(test.Signal));
    std::filesystem::remove(LogPath());
    const testfiles::TTempFolder target;
    const CommandResult result = Run({from, from + kFailingClusters * kClusterSize, kFastDelayMs, 3, test.Signal},
                                     {"restore", testsupport::FixtureImage(kRecipe), "--target",
                                      target.Path().string(), "--path", kSlowFile});
    const TFailedReads reads = ReadLog(LogPath());
    ASSERT_TRUE(reads.Interrupted) << result.Err;
    EXPECT_EQ(result.ExitCode, 130) << result.Err;
    EXPECT_EQ(result.Err.find(" is partial: ") != std::string::npos, test.Partial) << result.Err;
    if (test.Partial)
      EXPECT_LE(reads.AfterInterrupt, 1);
    else
      EXPECT_GT(reads.AfterInterrupt, 1);
  }
}

} // namespace
