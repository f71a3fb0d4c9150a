// Previous versions found in the shadow copies of a volume made by Windows
// (the shared test data's vsstest.qcow2; its README gives what each
// snapshot holds): listed where the volume no longer holds them as they
// were, restored from their snapshot byte for byte.

#include "EngineHarness.h"

#include "tests/support/Sha256.h"
#include "tests/support/uShadowCopyVolume.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace enginetest;
using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr char kFirstBranch[] = "Previous version of 2013-12-03 06:35:09";
// syslog, only in the first snapshot: on the volume now its record holds syslog.gz.
constexpr std::int64_t kSyslogRecord = 35;
constexpr char kSyslogSha256[] = "0420b023f8dc1b71ff25191ce4ce88d10028f99f99f7c21532611f4c273aeae9";
// 2013-12-03 06:35:09 UTC, to the second.
constexpr std::int64_t kFirstSnapshotSecond = 1386052509;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

std::string FileSha256(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return testsupport::Sha256Hex(bytes.str());
}

using ShadowCopyTest = testsupport::TShadowCopyVolumeTest<EngineTest>;

TEST_F(ShadowCopyTest, ListsOnlyTheFileTheVolumeNoLongerHoldsUnderItsSnapshotsBranch) {
  Scan(Volume);
  // syslog.gz and another_file are on the volume now as the second snapshot
  // has them: neither snapshot's branch lists them.
  EXPECT_THAT(TreeLines(), ElementsAre(std::string(kFirstBranch) + "/", std::string(kFirstBranch) + "/syslog"));
  const PTreeItemInfo syslog = NodeOfRecord(kSyslogRecord);
  ASSERT_NE(syslog, nullptr);
  const TItemInfo& item = *syslog->Data;
  EXPECT_EQ(item.Store, 1);
  EXPECT_TRUE(item.IsDeleted);
  EXPECT_EQ(item.DataSize, 1247);
  EXPECT_EQ(item.OverwritePercent, 0);
  EXPECT_EQ(Context.SnapshotTime(item) / kTicksPerSecond - kSecondsFrom1601To1970, kFirstSnapshotSecond);
  EXPECT_EQ(Context.SnapshotTime(*syslog->Parent->Data), Context.SnapshotTime(item));
  EXPECT_EQ(Progress->Details().back(), "Scanning completed.");
}

TEST_F(ShadowCopyTest, ASnapshotsFileIsRestoredAndPreviewedFromItsSnapshot) {
  const std::string imageHash = FileSha256(Volume);
  Scan(Volume);
  const PTreeItemInfo syslog = NodeOfRecord(kSyslogRecord);
  ASSERT_NE(syslog, nullptr);
  const std::string start = Context.ReadFileStart(syslog, 16);
  Tick(syslog);
  testfiles::TTempFolder target;
  Context.SetTargetDir(FromNativePath(target.Path().string()));
  Context.ProcessRecover();
  const std::filesystem::path restored = target.Path() / "syslog";
  ASSERT_TRUE(std::filesystem::is_regular_file(restored));
  EXPECT_EQ(FileSha256(restored), kSyslogSha256);
  std::ifstream in(restored, std::ios::binary);
  std::string head(16, '\0');
  in.read(head.data(), 16);
  EXPECT_EQ(start, head);
  EXPECT_EQ(Progress->Details().back(), "Recovering completed.");
  EXPECT_EQ(FileSha256(Volume), imageHash);
}

TEST_F(ShadowCopyTest, WithoutPreviousVersionsNothingOfTheSnapshotsIsReadOrListed) {
  Context.SetIncludeSnapshots(false);
  Scan(Volume);
  EXPECT_THAT(TreeLines(), IsEmpty());
  for (const TProgressLine& line : Progress->Lines)
    EXPECT_THAT(line.Text, testing::Not(HasSubstr("Previous version")));
}

class DamagedStoreScan : public ShadowCopyTest, public testing::WithParamInterface<testsupport::TShadowStoreDamage> {};

TEST_P(DamagedStoreScan, SkipsTheStoreWithAWarningAndScansTheRest) {
  UseSource(
      std::make_shared<testsupport::TDamagedShadowVolume>(TSourceResolver().Open({Volume})->Source(), GetParam()));
  Context.ProcessScan();
  // The first store held the only previous version; the second is still read.
  EXPECT_THAT(TreeLines(), IsEmpty());
  EXPECT_THAT(Progress->Details(), testing::Contains(HasSubstr("Shadow copy store 1 is damaged and is skipped: ")));
  EXPECT_THAT(Progress->Lines, testing::Contains(TProgressLine{TProgressLine::plStart,
                                                               "Scanning Previous version of 2013-12-03 06:37:48..."}));
  EXPECT_EQ(Progress->Details().back(), "Scanning completed.");
}

INSTANTIATE_TEST_SUITE_P(, DamagedStoreScan, testing::ValuesIn(testsupport::ShadowStoreDamages()),
                         [](const auto& AInfo) { return std::string(AInfo.param.Name); });

TEST(ShadowCopyState, IncludingPreviousVersionsIsKeptInTheHistory) {
  for (const bool include : {false, true}) {
    TNTFSRecoveryContext stored(std::make_shared<TScriptedPrompt>());
    stored.SetIncludeSnapshots(include);
    CSimpleIniA ini;
    stored.StoreState(ini);
    TNTFSRecoveryContext restored(std::make_shared<TScriptedPrompt>());
    restored.SetIncludeSnapshots(!include);
    restored.RestoreState(ini);
    EXPECT_EQ(restored.GetIncludeSnapshots(), include);
  }
  TNTFSRecoveryContext fresh(std::make_shared<TScriptedPrompt>());
  fresh.RestoreState(CSimpleIniA());
  EXPECT_TRUE(fresh.GetIncludeSnapshots());
}

} // namespace
