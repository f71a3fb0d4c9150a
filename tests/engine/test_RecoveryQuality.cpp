// What the scan and the restore make of records that lost their name or
// their later extents, of damage (torn records, attributes that do not hold
// together, run lists that break off), and what they keep of a file: its
// times and its holes. Hand-made records, for the states a real volume
// cannot be forced into, and the fixture volume of a deleted file whose
// runs filled several extension records.

#include "EngineHarness.h"

#include "HandMadeRecords.h"
#include "tests/support/Content.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <regex>
#include <set>

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

// A deleted file whose $DATA went on in two extension records, freed with
// it and named by no attribute list: one cluster pair in its base record,
// the next in record 52, the last in record 51.
constexpr std::int64_t kSplit = 50;
constexpr std::int64_t kSplitSize = 6 * kClusterSize;

TBytes SplitBase() {
  TBytes base = Deleted({{kRoot, u"split.bin"}}).NonResident(0x80, handmade::EncodeRuns({{2, 140}}), 0, 1, kSplitSize, 2)
                    .Build();
  // Raised from 1 when the file was deleted.
  handmade::PutLE(base, 16, 2, 2);
  return base;
}

TRecordBuilder FreedExtension() {
  return std::move(TRecordBuilder().InUse(false).BaseRecord(kSplit | std::int64_t{1} << 48));
}

handmade::TVolumeImage SplitVolume(const TBytes& AFromVCN2) {
  handmade::TVolumeImage image = QualityVolume();
  image.Records[kSplit] = SplitBase();
  image.Records[51] = FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 150}}), 4, 5, 0, 0).Build();
  image.Records[52] = AFromVCN2;
  for (std::int64_t cluster = 140; cluster < 152; ++cluster)
    image.Clusters[cluster] = TBytes(kClusterSize, static_cast<std::uint8_t>('a' + (cluster - 140) / 2));
  return image;
}

std::vector<std::string> TakenExtentLines(const std::vector<std::string>& ADetails, std::int64_t ARecord) {
  const std::string start = "MFT record " + std::to_string(ARecord) + " takes the data runs";
  std::vector<std::string> lines;
  for (const std::string& line : ADetails)
    if (line.starts_with(start))
      lines.push_back(line);
  return lines;
}

TEST_F(RecoveryQualityTest, ADeletedFileTakesItsLaterExtentsFromItsFreedExtensionRecordsInVCNOrder) {
  SplitVolume(FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 3, 0, 0).Build())
      .WriteTo(FImage->Path());
  ScanQuality();
  EXPECT_THAT(TakenExtentLines(Progress->Details(), kSplit),
              ElementsAre("MFT record 50 takes the data runs from VCN 2 on from the freed extension record 52.",
                          "MFT record 50 takes the data runs from VCN 4 on from the freed extension record 51."));
  const PItemInfo split = ItemOfRecord(kSplit);
  ASSERT_NE(split, nullptr);
  EXPECT_EQ(split->DataSize, kSplitSize);
  EXPECT_EQ(split->StoredSize, kSplitSize);
  EXPECT_EQ(split->OverwritePercent, 0.0);

  Tick(NodeOfRecord(kSplit));
  const std::filesystem::path target = FTarget / "out";
  Context.SetTargetDir(FromNativePath(target.string()));
  Context.ProcessRecover();
  TBytes expected;
  for (const std::uint8_t fill : {'a', 'c', 'f'})
    expected.insert(expected.end(), 2 * kClusterSize, fill);
  EXPECT_EQ(testfiles::ReadWholeFile(target / "split.bin"), expected);
  EXPECT_THAT(Progress->Details(), Not(Contains(testing::HasSubstr("have no data runs"))));
}

// Only an extent that passes every check of a sound one is taken; the file
// then ends where its runs end, and says so.
TEST_F(RecoveryQualityTest, AFreedExtensionRecordWhoseExtentDoesNotFitIsNotTaken) {
  struct TCase {
    const char* What;
    std::function<TBytes()> FromVCN2;
  };
  const std::vector<TCase> cases = {
      {"its base reference carries another sequence number",
       [] {
         return TRecordBuilder()
             .InUse(false)
             .BaseRecord(kSplit | std::int64_t{2} << 48)
             .NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 3, 0, 0)
             .Build();
       }},
      {"it is in use again",
       [] {
         return TRecordBuilder()
             .BaseRecord(kSplit | std::int64_t{1} << 48)
             .NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 3, 0, 0)
             .Build();
       }},
      {"its extent starts at another VCN",
       [] { return FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 3, 4, 0, 0).Build(); }},
      {"its HighVCN lies below its LowVCN",
       [] { return FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 1, 0, 0).Build(); }},
      {"its run list decodes to another cluster count",
       [] { return FreedExtension().NonResident(0x80, handmade::EncodeRuns({{3, 144}}), 2, 3, 0, 0).Build(); }},
      {"its clusters lie past the end of the volume",
       [] { return FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 255}}), 2, 3, 0, 0).Build(); }},
      {"its extent belongs to a named stream",
       [] {
         return FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 3, 0, 0, u"alt").Build();
       }},
      {"its run list lies outside the attribute",
       [] {
         TBytes extent = FreedExtension().NonResident(0x80, handmade::EncodeRuns({{2, 144}}), 2, 3, 0, 0)
                             .BuildUnprotected();
         handmade::PutLE(extent, 56 + 32, 16, 2);
         return TRecordBuilder().InUse(false).BaseRecord(kSplit | std::int64_t{1} << 48)
             .Raw(TBytes(extent.begin() + 56, extent.begin() + 56 + (extent[60] | extent[61] << 8)))
             .Build();
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.What);
    SplitVolume(c.FromVCN2()).WriteTo(FImage->Path());
    ScanQuality();
    EXPECT_THAT(TakenExtentLines(Progress->Details(), kSplit), testing::IsEmpty());
    EXPECT_THAT(Progress->Details(),
                Contains("The data runs of MFT record 50 break off at VCN 2: bytes 8192 to 24575 have no clusters."));
    ASSERT_NE(ItemOfRecord(kSplit), nullptr);
    EXPECT_EQ(ItemOfRecord(kSplit)->DataSize, 2 * kClusterSize);
    Context.Clear();
    Progress->Lines.clear();
  }
}

// ntfs-3g frees a deleted file's extension records with the extents in
// them, but the file's attribute list no longer names the last of them. The
// file takes them back from there: it is sized, estimated and restored
// whole, and their clusters count against the file deleted before it.
TEST_F(RecoveryQualityTest, ADeletedFileOfARealVolumeTakesBackTheExtentsItsListNoLongerNames) {
  const std::string image = testsupport::FixtureImage("extents");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("extents");
  const testsupport::ManifestEntry* gone = manifest.Find("/Spread/gone.bin");
  const testsupport::ManifestEntry* old = manifest.Find("/Spread/old.bin");
  ASSERT_TRUE(gone && old && gone->Deleted && old->Deleted && !gone->RecordReused && !old->RecordReused);
  ASSERT_EQ(gone->Overwritten, testsupport::Overwrite::None);
  ASSERT_GT(old->TakenClusters, 0u);
  // The freed extension records holding gone.bin's data that its list no
  // longer names, as The Sleuth Kit reads them.
  const testsupport::IstatInfo base = testsupport::Istat(image, gone->Record);
  std::set<std::int64_t> unlisted;
  // The Sleuth Kit's last record is one past the last it reads.
  for (std::uint64_t record = 16; record < testsupport::Fsstat(image).LastRecord; ++record) {
    const testsupport::IstatInfo info = testsupport::Istat(image, record);
    if (info.BaseRecord == gone->Record && !info.Allocated && info.Find(0x80) &&
        std::find(base.ListedRecords.begin(), base.ListedRecords.end(), record) == base.ListedRecords.end())
      unlisted.insert(static_cast<std::int64_t>(record));
  }
  ASSERT_FALSE(unlisted.empty());

  Scan(image);
  const std::regex taken("MFT record " + std::to_string(gone->Record) +
                         R"( takes the data runs from VCN \d+ on from the freed extension record (\d+)\.)");
  std::set<std::int64_t> named;
  for (const std::string& line : TakenExtentLines(Progress->Details(), static_cast<std::int64_t>(gone->Record))) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, taken)) << line;
    named.insert(std::stoll(match[1]));
  }
  EXPECT_EQ(named, unlisted);
  const PItemInfo item = ItemOfRecord(static_cast<std::int64_t>(gone->Record));
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->DataSize, static_cast<std::int64_t>(gone->Size));
  EXPECT_EQ(item->OverwritePercent, 0.0);
  EXPECT_NEAR(ItemOfRecord(static_cast<std::int64_t>(old->Record))->OverwritePercent,
              100.0 * static_cast<double>(old->TakenClusters) / static_cast<double>(old->Clusters), 1e-9);
  EXPECT_THAT(Progress->Details(), Not(Contains(testing::HasSubstr("break off"))));

  const std::string content =
      testsupport::GenerateContent(testsupport::ContentLayout::Parse(gone->Layout), gone->Seed);
  const PTreeItemInfo node = NodeOfRecord(static_cast<std::int64_t>(gone->Record));
  EXPECT_EQ(Context.ReadFileStart(node, std::int64_t{1} << 30), content);
  Tick(node);
  const std::filesystem::path target = FTarget / "out";
  Context.SetTargetDir(FromNativePath(target.string()));
  Context.ProcessRecover();
  const std::vector<std::uint8_t> restored = testfiles::ReadWholeFile(target / "Spread/gone.bin");
  EXPECT_EQ(testsupport::Sha256Hex(std::string_view(reinterpret_cast<const char*>(restored.data()), restored.size())),
            gone->Sha256);
  EXPECT_THAT(Progress->Details(), Not(Contains(testing::HasSubstr("have no data runs"))));
}

} // namespace
