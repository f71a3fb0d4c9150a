// What the scan and the restore make of records that lost their name, of
// damage (torn records, attributes that do not hold together, run lists
// that break off), and what they keep of a file: its times and its holes.
// Hand-made records, for the states a real volume cannot be forced into.

#include "EngineHarness.h"

#include "HandMadeRecords.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <filesystem>

namespace {

using enginetest::EngineTest;
using handmade::FileNameContent;
using handmade::StandardInformationContent;
using handmade::TBytes;
using handmade::TRecordBuilder;
using testing::Contains;
using testing::ElementsAre;
using testing::IsSupersetOf;
using testing::Not;

constexpr std::int64_t kRoot = 5;
constexpr std::uint8_t kWin32 = 1;
constexpr std::int64_t kClusterSize = 4096;
// 1 June 2021, 12:00:00 UTC, in 100-nanosecond steps from 1601. The
// builder's standard information holds it as the creation time and the
// three steps after it as the modification, change and access times.
constexpr std::int64_t kFileTime = 132670224000000000;
constexpr std::int64_t kUnixSeconds = 1622548800;
constexpr std::int64_t kFolderTime = kFileTime + 864000000000; // a day later

TBytes Text(const std::string& AText) { return TBytes(AText.begin(), AText.end()); }

TBytes Folder(std::int64_t AParent, const std::u16string& AName, std::int64_t ATime) {
  return TRecordBuilder()
      .Directory()
      .Resident(0x10, StandardInformationContent(ATime, 0x10), 0)
      .Resident(0x30, FileNameContent(AParent, AName, kWin32), 1)
      .Build();
}

// A deleted record with its standard information, optionally a name, and
// the attributes AMore adds.
TRecordBuilder Deleted(std::optional<std::pair<std::int64_t, std::u16string>> AName) {
  TRecordBuilder record;
  record.InUse(false).Resident(0x10, StandardInformationContent(kFileTime, 0x20), 0);
  if (AName)
    record.Resident(0x30, FileNameContent(AName->first, AName->second, kWin32), 1);
  return record;
}

const TBytes kJpegStart = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, 0x01, 0x01, 0x00};

handmade::TVolumeImage QualityVolume() {
  handmade::TVolumeImage image;
  auto& r = image.Records;
  r[kRoot] = Folder(kRoot, u".", kFolderTime);
  r[30] = Folder(kRoot, u"docs", kFolderTime);
  r[31] = Deleted({{30, u"a.txt"}}).NonResident(0x80, handmade::EncodeRuns({{2, 100}}), 0, 1, 5000, 2).Build();
  // Without a name: listed by record number, with the extension the first
  // bytes suggest, or none.
  r[32] = Deleted({}).Resident(0x80, kJpegStart, 2).Build();
  r[33] = Deleted({}).Resident(0x80, Text("just some words\n"), 2).Build();
  // No standard information: not a file's base record, not listed.
  r[34] = TRecordBuilder().InUse(false).Resident(0x80, Text("stray"), 2).Build();
  // Three clusters of data, runs for one.
  r[35] = Deleted({{30, u"cut.bin"}}).NonResident(0x80, handmade::EncodeRuns({{1, 110}}), 0, 0, 3 * kClusterSize, 2)
              .Build();
  // Torn in its second sector.
  r[36] = Deleted({{30, u"torn.txt"}}).Resident(0x80, Text("torn but read"), 2).Build();
  handmade::PutLE(r[36], 1022, 0xBEEF, 2);
  // A second data attribute whose run list starts inside its header.
  TBytes bad = TRecordBuilder().NonResident(0x80, handmade::EncodeRuns({{1, 111}}), 0, 0, 100, 3, u"bad")
                   .BuildUnprotected();
  bad = TBytes(bad.begin() + 56, bad.begin() + 56 + (bad[60] | bad[61] << 8));
  handmade::PutLE(bad, 32, 16, 2);
  r[37] = Deleted({{30, u"damaged.txt"}}).Resident(0x80, Text("fine"), 2).Raw(bad).Build();
  // Sparse: one cluster, a hole of six, one cluster.
  r[38] = Deleted({{30, u"holes.bin"}})
              .NonResident(0x80, handmade::EncodeRuns({{1, 120}, {6, std::nullopt}, {1, 121}}), 0, 7, 8 * kClusterSize,
                           2, u"", 0x8000)
              .Build();
  image.Clusters[100] = TBytes(kClusterSize, 'A');
  image.Clusters[101] = TBytes(kClusterSize, 'B');
  image.Clusters[110] = TBytes(kClusterSize, 'C');
  image.Clusters[120] = TBytes(kClusterSize, 'D');
  image.Clusters[121] = TBytes(kClusterSize, 'E');
  return image;
}

class RecoveryQualityTest : public EngineTest {
protected:
  void SetUp() override {
    FImage = std::make_unique<handmade::TTempFile>("tarnwick-quality");
    QualityVolume().WriteTo(FImage->Path());
  }

  void ScanQuality() { Scan(FImage->Path()); }

  std::filesystem::path RecoverAll() {
    Context.CheckAll(Context.TreeItems(), true);
    const std::filesystem::path target = FTarget / "out";
    Context.SetTargetDir(FromNativePath(target.string()));
    Context.ProcessRecover();
    return target;
  }

  std::unique_ptr<handmade::TTempFile> FImage;
  testfiles::TTempFolder FTarget;
};

TEST_F(RecoveryQualityTest, NamelessDeletedRecordsAreListedUnderTheOrphansByNumberAndContent) {
  ScanQuality();
  EXPECT_THAT(TreeLines(), ElementsAre("K:/", "K:/docs/", "K:/docs/a.txt", "K:/docs/cut.bin", "K:/docs/torn.txt",
                                       "K:/docs/damaged.txt", "K:/docs/holes.bin", "?\?\?/", "?\?\?/record-32.jpeg",
                                       "?\?\?/record-33"));
  const PItemInfo jpeg = ItemOfRecord(32);
  ASSERT_NE(jpeg, nullptr);
  EXPECT_TRUE(jpeg->IsDeleted);
  EXPECT_EQ(jpeg->DataSize, static_cast<std::int64_t>(kJpegStart.size()));
  // Dated by its standard information: created then, last written three steps on.
  EXPECT_EQ(jpeg->CreationTime, kFileTime);
  EXPECT_EQ(jpeg->ChangeTime, kFileTime + 2);
  EXPECT_EQ(jpeg->Attributes, 0x20u);
  EXPECT_EQ(ItemOfRecord(34), nullptr);
}

TEST_F(RecoveryQualityTest, DamageIsNamedInTheLogAndTheRecordsAreStillRead) {
  ScanQuality();
  EXPECT_THAT(Progress->Details(),
              IsSupersetOf({"The data runs of MFT record 35 break off at VCN 1: bytes 4096 to 12287 have no clusters.",
                            "MFT record 36 was torn while being written: its sector 1 (bytes 512 to 1023) does not "
                            "carry the update sequence number.",
                            "MFT record 37: the attribute of type 0x80 at offset 296 is skipped: its run list lies "
                            "outside it."}));
  // Sized as far as the runs reach; the torn one read as it came.
  EXPECT_EQ(ItemOfRecord(35)->DataSize, kClusterSize);
  EXPECT_EQ(ItemOfRecord(36)->DataSize, 13);
  EXPECT_EQ(ItemOfRecord(37)->DataSize, 4);
}

TEST_F(RecoveryQualityTest, RestoreNamesTheBytesWithoutRunsAndWritesThemAsZeros) {
  ScanQuality();
  const std::filesystem::path target = RecoverAll();
  const std::vector<std::uint8_t> cut = testfiles::ReadWholeFile(target / "docs/cut.bin");
  ASSERT_EQ(cut.size(), static_cast<std::size_t>(3 * kClusterSize));
  EXPECT_EQ(cut[kClusterSize - 1], 'C');
  EXPECT_EQ(std::count(cut.begin() + kClusterSize, cut.end(), 0), 2 * kClusterSize);
  EXPECT_THAT(Progress->Details(), Contains("Bytes 4096 to 12287 have no data runs and were written as zeros."));
  EXPECT_EQ(testfiles::ReadWholeFile(target / "docs/torn.txt"), Text("torn but read"));
  EXPECT_EQ(testfiles::ReadWholeFile(target / "docs/damaged.txt"), Text("fine"));
  EXPECT_EQ(testfiles::ReadWholeFile(target / "record-32.jpeg"), kJpegStart);
}

TEST_F(RecoveryQualityTest, RestoredFilesAndFoldersKeepTheirRecordsTimes) {
  ScanQuality();
  const std::filesystem::path target = RecoverAll();
  struct stat info {};
  ASSERT_EQ(::stat((target / "docs/a.txt").c_str(), &info), 0);
  // Modification one step (100 ns) after the creation time, access three.
  EXPECT_EQ(info.st_mtim.tv_sec, kUnixSeconds);
  EXPECT_EQ(info.st_mtim.tv_nsec, 100);
  EXPECT_EQ(info.st_atim.tv_sec, kUnixSeconds);
  EXPECT_EQ(info.st_atim.tv_nsec, 300);
  // The folder after its files were written into it.
  ASSERT_EQ(::stat((target / "docs").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtim.tv_sec, kUnixSeconds + 86400);
}

TEST_F(RecoveryQualityTest, WithoutTimesRestoredFilesCarryTheTimeOfWriting) {
  ScanQuality();
  Context.SetRestoreTimes(false);
  const std::filesystem::path target = RecoverAll();
  struct stat info {};
  ASSERT_EQ(::stat((target / "docs/a.txt").c_str(), &info), 0);
  EXPECT_GT(info.st_mtim.tv_sec, kUnixSeconds + 86400);
  ASSERT_EQ(::stat((target / "docs").c_str(), &info), 0);
  EXPECT_GT(info.st_mtim.tv_sec, kUnixSeconds + 86400);
}

TEST_F(RecoveryQualityTest, ASparseFileIsRestoredWithItsHoleAndCountedByItsClusters) {
  ScanQuality();
  const PItemInfo holes = ItemOfRecord(38);
  EXPECT_EQ(holes->DataSize, 8 * kClusterSize);
  EXPECT_EQ(holes->StoredSize, 2 * kClusterSize);
  // Room for the clusters and the margin, not for the holes: no question.
  Tick(NodeOfRecord(38));
  FileSystem->FreeBytes = [](int) { return std::optional<std::int64_t>{2 * kClusterSize + 1000001}; };
  const std::filesystem::path target = FTarget / "out";
  Context.SetTargetDir(FromNativePath(target.string()));
  Context.ProcessRecover();
  EXPECT_TRUE(Prompt->Shown().empty());

  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(target / "docs/holes.bin");
  ASSERT_EQ(bytes.size(), static_cast<std::size_t>(8 * kClusterSize));
  EXPECT_EQ(bytes.front(), 'D');
  EXPECT_EQ(bytes.back(), 'E');
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), 6 * kClusterSize);
  struct stat info {};
  ASSERT_EQ(::stat((target / "docs/holes.bin").c_str(), &info), 0);
  // Where the target keeps holes (every Linux file system tests run on).
  EXPECT_LT(info.st_blocks * 512, 8 * kClusterSize);
}

// A record that lost its name (ntfs-3g drops the extension record that held
// it) still overwrote what was deleted before it: its claim is dated by its
// standard information.
TEST_F(RecoveryQualityTest, ANamelessRecordCountsAsALaterWriterByItsStandardInformation) {
  handmade::TVolumeImage image = QualityVolume();
  image.Records[40] = TRecordBuilder()
                          .InUse(false)
                          .Resident(0x30, FileNameContent(30, u"older.bin", kWin32), 1)
                          .NonResident(0x80, handmade::EncodeRuns({{2, 130}}), 0, 1, 2 * kClusterSize, 2)
                          .Build();
  image.Records[41] = Deleted({}).NonResident(0x80, handmade::EncodeRuns({{1, 131}}), 0, 0, kClusterSize, 2).Build();
  image.Clusters[131] = TBytes(kClusterSize, 'F');
  image.WriteTo(FImage->Path());
  ScanQuality();
  EXPECT_EQ(ItemOfRecord(40)->OverwritePercent, 50.0);
  EXPECT_EQ(ItemOfRecord(41)->OverwritePercent, 0.0);
  EXPECT_THAT(TreeLines(), Contains("?\?\?/record-41"));
  EXPECT_THAT(TreeLines(), Not(Contains("?\?\?/record-34")));
}

} // namespace
