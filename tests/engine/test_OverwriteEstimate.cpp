// The overwrite estimate on hand-made volumes, for the claims a real volume
// cannot be set up to show one at a time: what a record in use holds counts
// whatever its dates, deleted records are ordered by when they last wrote,
// a cluster counts once, and an attribute list is not followed into a
// stranger's record.

#include "EngineHarness.h"

#include "HandMadeRecords.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace {

using enginetest::EngineTest;
using handmade::FileNameContent;
using handmade::TBytes;
using handmade::TRecordBuilder;
using handmade::TRun;
using testing::Contains;

constexpr std::int64_t kRoot = 5;
constexpr std::uint8_t kWin32 = 1;
constexpr std::int64_t kClusterSize = 4096;
constexpr std::int64_t kVictim = 30;
constexpr std::int64_t kVictimWritten = 2000;

// Standard information whose data was last written at AModified and whose
// record last changed at AChanged.
TBytes Times(std::int64_t AModified, std::int64_t AChanged) {
  TBytes content = handmade::StandardInformationContent(1000, 0x20);
  handmade::PutLE(content, 8, static_cast<std::uint64_t>(AModified), 8);
  handmade::PutLE(content, 16, static_cast<std::uint64_t>(AChanged), 8);
  return content;
}

// A deleted file of four clusters from 100 on, written at kVictimWritten.
TBytes Victim() {
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x10, Times(kVictimWritten, kVictimWritten), 0)
      .Resident(0x30, FileNameContent(kRoot, u"victim.bin", kWin32), 1)
      .NonResident(0x80, handmade::EncodeRuns({{4, 100}}), 0, 3, 4 * kClusterSize, 2)
      .Build();
}

struct TClaimant {
  enum TKind { LiveFile, LiveFolder, DeletedFile } Kind;
  std::int64_t Modified;
  std::int64_t Changed;
  std::vector<TRun> Runs; // at VCN 0 on
};

TBytes ClaimantRecord(const TClaimant& AClaimant, int AIndex) {
  TRecordBuilder record;
  record.InUse(AClaimant.Kind != TClaimant::DeletedFile)
      .Resident(0x10, Times(AClaimant.Modified, AClaimant.Changed), 0)
      .Resident(0x30, FileNameContent(kRoot, u"claimant-" + std::u16string(1, u'a' + AIndex), kWin32), 1);
  std::int64_t clusters = 0;
  for (const TRun& run : AClaimant.Runs)
    clusters += run.Length;
  if (AClaimant.Kind == TClaimant::LiveFolder)
    record.Directory().NonResident(0xA0, handmade::EncodeRuns(AClaimant.Runs), 0, clusters - 1,
                                   clusters * kClusterSize, 2, u"$I30");
  else
    record.NonResident(0x80, handmade::EncodeRuns(AClaimant.Runs), 0, clusters - 1, clusters * kClusterSize, 2);
  return record.Build();
}

class OverwriteEstimateTest : public EngineTest {
protected:
  void ScanImage(const handmade::TVolumeImage& AImage) {
    AImage.WriteTo(FImage.Path());
    Scan(FImage.Path());
  }

  handmade::TTempFile FImage{"tarnwick-estimate"};
};

TEST_F(OverwriteEstimateTest, ClaimsOfRecordsInUseCountWhateverTheirDatesAndDeletedOnesOnlyWhenWrittenLater) {
  const std::int64_t early = kVictimWritten - 500;
  const std::int64_t late = kVictimWritten + 500;
  struct TCase {
    const char* Name;
    std::vector<TClaimant> Claimants;
    double Expected;
  };
  const TCase cases[] = {
      {"a live folder's index grown into it, the folder made long before",
       {{TClaimant::LiveFolder, early, early, {{4, 100}}}},
       100},
      {"a live file written before it holds half", {{TClaimant::LiveFile, early, early, {{2, 100}}}}, 50},
      {"a deleted file written later", {{TClaimant::DeletedFile, late, late, {{4, 100}}}}, 100},
      {"a deleted file whose record changed later, its data not",
       {{TClaimant::DeletedFile, early, late, {{4, 100}}}},
       100},
      {"a deleted file written before", {{TClaimant::DeletedFile, early, early, {{4, 100}}}}, 0},
      {"a deleted file written at the same time", {{TClaimant::DeletedFile, kVictimWritten, kVictimWritten, {{4, 100}}}},
       0},
      {"a live file and a later deleted one on the same two clusters count them once",
       {{TClaimant::LiveFile, early, early, {{2, 100}}}, {TClaimant::DeletedFile, late, late, {{2, 100}}}},
       50},
      {"claims elsewhere take nothing", {{TClaimant::LiveFile, late, late, {{4, 200}}}}, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    handmade::TVolumeImage image;
    image.Records[kRoot] = TRecordBuilder().Directory().Resident(0x30, FileNameContent(kRoot, u".", kWin32), 1).Build();
    image.Records[kVictim] = Victim();
    for (std::size_t i = 0; i < c.Claimants.size(); ++i)
      image.Records[40 + static_cast<std::int64_t>(i)] = ClaimantRecord(c.Claimants[i], static_cast<int>(i));
    ScanImage(image);
    ASSERT_NE(ItemOfRecord(kVictim), nullptr);
    EXPECT_EQ(ItemOfRecord(kVictim)->OverwritePercent, c.Expected);
    Context.Clear();
  }
}

// Deleted file 50 (sequence number 2 since it was freed) keeps two clusters
// in its base record and names record 51 for the next two. Record 51 now
// names record 50 as its base with another sequence number: it belongs to
// a later file that had record 50, not to this one.
TEST_F(OverwriteEstimateTest, AnAttributeListIsNotFollowedIntoAStrangersRecordAndTheExtentCountsAsLost) {
  constexpr std::int64_t kBase = 50;
  constexpr std::int64_t kStranger = 51;
  handmade::TVolumeImage image;
  image.Records[kRoot] = TRecordBuilder().Directory().Resident(0x30, FileNameContent(kRoot, u".", kWin32), 1).Build();
  TBytes base = TRecordBuilder()
                    .InUse(false)
                    .Resident(0x10, Times(kVictimWritten, kVictimWritten), 0)
                    .Resident(0x30, FileNameContent(kRoot, u"listed.bin", kWin32), 1)
                    .NonResident(0x80, handmade::EncodeRuns({{2, 140}}), 0, 1, 4 * kClusterSize, 2)
                    .Resident(0x20, handmade::AttributeListContent({{0x10, 0, kBase, 0, u""},
                                                                    {0x30, 0, kBase, 1, u""},
                                                                    {0x80, 0, kBase, 2, u""},
                                                                    {0x80, 2, kStranger, 0, u""}}),
                              3)
                    .Build();
  handmade::PutLE(base, 16, 2, 2);
  image.Records[kBase] = base;
  image.Records[kStranger] = TRecordBuilder()
                                 .BaseRecord(kBase | std::int64_t{3} << 48)
                                 .NonResident(0x80, handmade::EncodeRuns({{2, 150}}), 2, 3, 0, 0)
                                 .Build();
  image.Clusters[140] = TBytes(kClusterSize, 'O');
  image.Clusters[141] = TBytes(kClusterSize, 'O');
  image.Clusters[150] = TBytes(kClusterSize, 'S');
  image.Clusters[151] = TBytes(kClusterSize, 'S');
  ScanImage(image);

  const PItemInfo item = ItemOfRecord(kBase);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->OverwritePercent, 50.0);

  testfiles::TTempFolder target;
  Tick(NodeOfRecord(kBase));
  Context.SetTargetDir(FromNativePath(target.Path().string()));
  Context.ProcessRecover();
  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(target.Path() / "listed.bin");
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(4 * kClusterSize));
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'O'), 2 * kClusterSize);
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 'S'), 0);
  EXPECT_THAT(Progress->Details(), Contains("Bytes 8192 to 16383 have no data runs and were written as zeros."));
  EXPECT_THAT(Progress->Details(),
              Contains("Files restored with zeros for bytes that could not be read or have no data runs: 1."));
}

} // namespace
