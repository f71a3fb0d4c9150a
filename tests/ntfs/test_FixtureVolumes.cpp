// The fixture volumes built with mkntfs and ntfs-3g, read by us and by The
// Sleuth Kit: every file the builder made must come back under its own name
// and, where nothing took its clusters, with exactly the bytes it wrote.

#include "VolumeReading.h"

#include "foundation/uMemoryEx.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSVolume.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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
      EXPECT_LT(data->size(), entry.Size) << "the runs in dropped extension records were found after all";
      EXPECT_TRUE(*data == Icat(FImage, entry.Record)) << "reachable part differs from icat";
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
