// The fixture volumes built with mkntfs and ntfs-3g, read by us and by The
// Sleuth Kit: every file the builder made must come back under its own name
// and, where nothing took its clusters, with exactly the bytes it wrote.

#include "VolumeReading.h"

#include "foundation/uMemoryEx.h"
#include "ntfs/uMFTReader.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

namespace {

using namespace testsupport;
using volumereading::TOpenedVolume;

constexpr std::int64_t kMFTRecord = 0;
constexpr std::uint32_t kAttrTypeFileName = 48;
constexpr std::uint32_t kAttrTypeData = 128;

// Each icat call is a process of its own; wide volumes ("scan", "mftsplit")
// are compared with it on an even sample, while the manifest's hashes still
// cover every file there.
constexpr std::size_t kMaxIcatPerVolume = 60;

// The MFT's own runs as we read them.
IMFTRunListPtr MFTRuns(PNTFSVolume AVolume) {
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(kMFTRecord));
  TAttributeSearch search(node.Get());
  const IMFTRunListPtr runs = MFTRunList::New();
  if (volumereading::FindUnnamedData(search))
    NTFSAttribute::RunListBuild(search.Rec(), runs);
  return runs;
}

// Runs that continue one another on disk count as one extent.
std::uint32_t CountExtents(const IMFTRunListPtr& ARuns) {
  std::uint32_t extents = 0;
  NTFS_LCN next = -1;
  for (std::int32_t i = 0; i < ARuns->ItemCount(); ++i) {
    const RunListElement run = ARuns->Item(i);
    if (run.LCN != next)
      ++extents;
    next = run.LCN + run.Length;
  }
  return extents;
}

// Every test opens its volume itself and must leave the tracked-memory
// counter where it found it once the volume is released.
class FixtureVolumeTest : public ::testing::TestWithParam<std::string> {
protected:
  void SetUp() override {
    FImage = FixtureImage(GetParam());
    FManifest = FixtureManifest(GetParam());
    FStartBytes = MemoryEx::AllocatedBytes();
  }
  void TearDown() override { EXPECT_EQ(MemoryEx::AllocatedBytes(), FStartBytes) << "after releasing the volume"; }

  std::string FImage;
  Manifest FManifest;
  std::int64_t FStartBytes = 0;
};

TEST_P(FixtureVolumeTest, GeometryMatchesFsstatAndManifest) {
  const FsGeometry fsstat = Fsstat(FImage);
  const ManifestVolume& built = FManifest.Volume;
  const TOpenedVolume volume(FImage);
  ASSERT_TRUE(volume->Initialized);

  EXPECT_EQ(volume->SectorSize, fsstat.SectorSize);
  EXPECT_EQ(volume->ClusterSize, fsstat.ClusterSize);
  EXPECT_EQ(volume->MFTRecordSize, fsstat.RecordSize);
  EXPECT_EQ(volume->NumberOfClusters, static_cast<std::int64_t>(fsstat.TotalClusters));
  EXPECT_EQ(volume->MFTLcn, static_cast<std::int64_t>(fsstat.MftStartCluster));
  // The Sleuth Kit numbers its virtual orphan folder right after the last
  // record of the MFT.
  EXPECT_EQ(volume->MFTRecordCount, static_cast<std::int64_t>(fsstat.LastRecord));
  EXPECT_EQ(volume->RootDirRef.Address(), 5);

  EXPECT_EQ(volume->SectorSize, built.SectorSize);
  EXPECT_EQ(volume->ClusterSize, built.ClusterSize);
  EXPECT_EQ(volume->MFTRecordSize, built.RecordSize);
  EXPECT_EQ(volume->NumberOfClusters, static_cast<std::int64_t>(built.TotalClusters));
  EXPECT_EQ(CountExtents(MFTRuns(volume.Get())), built.MftExtents);
}

// The record pass gets every record in order from the reader, exactly as a
// read of each record on its own gives it, whatever the block size; a
// reader let go while its thread waits for room stops at once.
TEST_P(FixtureVolumeTest, MFTReaderHandsOutEveryRecordAsReadAlone) {
  const TOpenedVolume volume(FImage);
  ASSERT_TRUE(volume->Initialized);
  std::vector<std::uint8_t> alone(volume->MFTRecordSize);
  for (const std::int64_t perBlock : {1, 7, 0}) {
    TMFTRecordReader reader(volume.Get(), volume->MFTRecordCount, perBlock);
    std::int64_t next = 0;
    while (const TMFTRecordBlock* block = reader.Next()) {
      ASSERT_EQ(block->FirstRecord(), next);
      for (std::int64_t i = 0; i < block->Count(); ++i) {
        NTFSUtils::GetMFTRecord(volume.Get(), MFT_REF::Build(next + i), alone.data());
        const TByteView record = block->Record(i);
        ASSERT_TRUE(std::equal(alone.begin(), alone.end(), record.Data(), record.Data() + record.Size()))
            << "record " << next + i << ", " << perBlock << " per block";
        EXPECT_FALSE(block->WasUnread(i));
        EXPECT_TRUE(block->TornSectors(i).empty());
      }
      next += block->Count();
    }
    EXPECT_EQ(next, volume->MFTRecordCount) << perBlock << " per block";
  }
  TMFTRecordReader stopped(volume.Get(), volume->MFTRecordCount, 1);
  ASSERT_NE(stopped.Next(), nullptr);
}

// Names, data as written (hash) and data as icat reads it, for every entry
// the builder made whose record still holds it.
TEST_P(FixtureVolumeTest, FilesReadAsWrittenAndAsIcatReadsThem) {
  const TOpenedVolume volume(FImage);
  ASSERT_TRUE(volume->Initialized);

  std::size_t files = 0;
  for (const ManifestEntry& entry : FManifest.Entries)
    files += entry.IsFolder || entry.RecordReused ? 0 : 1;
  const std::size_t icatStep = std::max<std::size_t>(1, files / kMaxIcatPerVolume);

  std::size_t fileIndex = 0, hashed = 0, icatCompared = 0;
  for (const ManifestEntry& entry : FManifest.Entries) {
    // A reused record now holds another file, which the manifest lists too.
    if (entry.RecordReused)
      continue;
    SCOPED_TRACE(entry.Path + " (record " + std::to_string(entry.Record) + ")");
    const TNTFSNodeRef node(volume.Get(), MFT_REF::Build(static_cast<std::int64_t>(entry.Record)));
    EXPECT_EQ(node->IsDeleted, entry.Deleted);
    // ntfs-3g frees a deleted file's extension records and cuts them from
    // its attribute list: only what the base record holds stays reachable,
    // for us as for The Sleuth Kit, which is the oracle for such a file.
    const bool extensionsDropped = entry.Deleted && entry.HasKind("attrlist");
    const bool nameReachable = !extensionsDropped || Istat(FImage, entry.Record).Find(kAttrTypeFileName);
    EXPECT_EQ(volumereading::FileNameOf(node.Get()), nameReachable ? entry.Name() : std::string());
    if (entry.IsFolder)
      continue;

    const bool sampled = fileIndex++ % icatStep == 0;
    const std::optional<std::string> data = volumereading::ReadUnnamedData(node.Get());
    ASSERT_TRUE(data) << "no unnamed $DATA";
    if (extensionsDropped) {
      // What the base record's runs reach, then zeros to the file's size.
      const std::string reachable = Icat(FImage, entry.Record);
      EXPECT_LT(reachable.size(), entry.Size) << "the runs in dropped extension records were found after all";
      EXPECT_EQ(data->size(), entry.Size);
      EXPECT_TRUE(data->compare(0, reachable.size(), reachable) == 0) << "reachable part differs from icat";
      EXPECT_EQ(data->find_first_not_of('\0', reachable.size()), std::string::npos);
      ++icatCompared;
      continue;
    }

    EXPECT_EQ(data->size(), entry.Size);
    const bool intact = !entry.Deleted || entry.Overwritten == Overwrite::None;
    if (intact) {
      EXPECT_EQ(Sha256Hex(*data), entry.Sha256) << "data differs from what the builder wrote";
      ++hashed;
    }
    // Overwritten files are compared as they lie now, whatever took them.
    if (sampled || !intact) {
      EXPECT_TRUE(*data == Icat(FImage, entry.Record)) << "data differs from icat";
      ++icatCompared;
    }
  }
  EXPECT_GT(hashed, 0u);
  EXPECT_GT(icatCompared, 0u);
}

// What a search finds, step by step: each attribute's type and id, and
// the runs built for it.
struct TSearchStep {
  ATTRIBUTE_TYPE_CODE TypeCode = 0;
  std::uint16_t AttributeId = 0;
  std::vector<RunListElement> Runs;

  bool operator==(const TSearchStep&) const = default;
};

std::vector<TSearchStep> SearchTrace(TAttributeSearch& ASearch) {
  std::vector<TSearchStep> trace;
  const IMFTRunListPtr runs = MFTRunList::New();
  for (bool found = ASearch.FindFirst(AttributeType::Any); found; found = ASearch.FindNext()) {
    const PMFTAttributeRecord& attribute = ASearch.Rec().AttributeRecord;
    TSearchStep step{attribute.TypeCode(), attribute.AttributeId(), {}};
    runs->Clear();
    NTFSAttribute::RunListBuild(ASearch.Rec(), runs);
    for (std::int32_t i = 0; i < runs->ItemCount(); ++i)
      step.Runs.push_back(runs->Item(i));
    trace.push_back(step);
  }
  return trace;
}

// The record pass searches the record block it has just read and takes a
// node only for records with an attribute list: for every record, that
// must find exactly what the node's own search finds.
TEST_P(FixtureVolumeTest, SearchOverTheReadRecordFindsWhatTheNodeFinds) {
  const TOpenedVolume volume(FImage);
  ASSERT_TRUE(volume->Initialized);
  TMemHolder record(static_cast<std::int32_t>(volume->MFTRecordSize));
  std::int64_t withList = 0;
  for (std::int64_t number = 0; number < volume->MFTRecordCount; ++number) {
    const MFT_REF ref = MFT_REF::Build(number);
    NTFSUtils::GetMFTRecord(volume.Get(), ref, record.Ptr());
    const TByteView block(record.Ptr(), volume->MFTRecordSize);
    withList += NTFSAttribute::HasAttributeList(block) ? 1 : 0;
    TAttributeSearch inPlace(volume.Get(), ref, block);
    const TNTFSNodeRef node(volume.Get(), ref);
    TAttributeSearch ofNode(node.Get());
    ASSERT_EQ(SearchTrace(inPlace), SearchTrace(ofNode)) << "record " << number;
  }
  if (GetParam() == "attrlist") {
    EXPECT_GT(withList, 0) << "the volume was built to hold attribute lists";
  }
}

INSTANTIATE_TEST_SUITE_P(Recipes, FixtureVolumeTest, ::testing::ValuesIn(FixtureRecipes()),
                         [](const ::testing::TestParamInfo<std::string>& AInfo) { return AInfo.param; });

// The MFT grew into a second extent far from its first: our runs of it are
// the clusters The Sleuth Kit lists, and enough files lie in records past
// the first extent for the reading test above to prove they are read from
// their real place.
TEST(MftSplitVolume, SecondExtentHoldsFilesAndMapsAsIstatMapsIt) {
  const std::string image = FixtureImage("mftsplit");
  const Manifest manifest = FixtureManifest("mftsplit");
  const TOpenedVolume volume(image);
  ASSERT_TRUE(volume->Initialized);

  const IMFTRunListPtr runs = MFTRuns(volume.Get());
  ASSERT_GE(CountExtents(runs), 2u);
  const std::optional<IstatAttribute> mft = Istat(image, kMFTRecord).Find(kAttrTypeData);
  ASSERT_TRUE(mft);
  ASSERT_EQ(runs->VCNCount(), static_cast<std::int64_t>(mft->Clusters.size()));
  for (std::int64_t vcn = 0; vcn < runs->VCNCount(); ++vcn)
    EXPECT_EQ(runs->VCN2LCN(vcn), mft->Clusters[static_cast<std::size_t>(vcn)]) << "VCN " << vcn;

  const std::int64_t firstExtentRecords = runs->Item(0).Length * volume->ClusterSize / volume->MFTRecordSize;
  const auto beyond = std::count_if(manifest.Entries.begin(), manifest.Entries.end(), [&](const ManifestEntry& e) {
    return !e.IsFolder && static_cast<std::int64_t>(e.Record) >= firstExtentRecords;
  });
  EXPECT_GT(beyond, 10) << "the fixture no longer puts files beyond the MFT's first extent";
}

} // namespace

namespace {

// The node cache over many records of a real volume: trims at the counts
// the cache promises, keeps referenced nodes, and a node made from one a
// trim let go carries nothing of the record it held before.
class NodeCacheTest : public ::testing::Test {
protected:
  NodeCacheTest() : FStartBytes(MemoryEx::AllocatedBytes()) {}
  ~NodeCacheTest() override { EXPECT_EQ(MemoryEx::AllocatedBytes(), FStartBytes) << "after releasing the volume"; }

  // Gets and releases the nodes of records AFirst to ALast - 1.
  static void Touch(PNTFSVolume AVolume, std::int64_t AFirst, std::int64_t ALast) {
    for (std::int64_t record = AFirst; record < ALast; ++record)
      NTFSNodeRelease(NTFSNodeGet(AVolume, MFT_REF::Build(record)));
  }

  std::int64_t FStartBytes;
};

TEST_F(NodeCacheTest, TrimsAtTheCountsItPromises) {
  struct TCase {
    std::int64_t Creations;
    std::int64_t CachedAfter;
  };
  const TCase cases[] = {{10'000, 10'000}, {10'001, 10'001}, {20'001, 20'001}, {20'002, 10'001}, {30'003, 10'001}};
  for (const TCase& c : cases) {
    const TOpenedVolume volume(FixtureImage("scan"));
    // Opening the volume loaded a few records already.
    const std::int64_t loaded = volume->NodeCache->Count();
    Touch(volume.Get(), 1'000'000, 1'000'000 + c.Creations - loaded);
    EXPECT_EQ(volume->NodeCache->Count(), c.CachedAfter) << c.Creations;
  }
}

TEST_F(NodeCacheTest, ReferencedNodeSurvivesTrimsAndForcedTrimFreesAll) {
  const TOpenedVolume volume(FixtureImage("scan"));
  const TNTFSNodeRef held(volume.Get(), MFT_REF::Build(kMFTRecord));
  Touch(volume.Get(), 1, 40'000);
  const TNTFSNodeRef again(volume.Get(), MFT_REF::Build(kMFTRecord));
  EXPECT_EQ(again.Get(), held.Get());
  EXPECT_EQ(held.Get()->RefCount, 2);
}

TEST_F(NodeCacheTest, NodeMadeFromATrimmedOneStartsClean) {
  const TOpenedVolume volume(FixtureImage("scan"));
  // The volume's first records carry times, attribute bits and sizes;
  // enough later creations trim them and reuse what they held for records
  // past the end of the MFT, which read as zeros.
  Touch(volume.Get(), 0, 3'000);
  Touch(volume.Get(), 1'000'000, 1'040'000);
  const TNTFSNodeRef node(volume.Get(), MFT_REF::Build(2'000'000));
  const TNTFSNodeRecord& n = *node.Get();
  EXPECT_EQ(n.MFTNumber.Address(), 2'000'000);
  EXPECT_EQ(n.CreationTime, 0);
  EXPECT_EQ(n.ChangeTime, 0);
  EXPECT_EQ(n.FileAttributes, 0u);
  EXPECT_EQ(n.DataSize, 0);
  EXPECT_EQ(n.AllocatedSize, 0);
  EXPECT_EQ(n.AttributeList.Ptr, nullptr);
  EXPECT_TRUE(n.IsDeleted);
  EXPECT_FALSE(n.MFTRecordHeader.IsFileRecord());
  ASSERT_EQ(n.MFTRecord.Size, static_cast<std::int32_t>(volume->MFTRecordSize));
  EXPECT_TRUE(std::all_of(n.MFTRecord.Ptr, n.MFTRecord.Ptr + n.MFTRecord.Size, [](std::uint8_t b) { return b == 0; }));
}

} // namespace
