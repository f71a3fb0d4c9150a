#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"

#include "foundation/uMemoryEx.h"
#include "HandMadeVolumeTest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

using handmade::TBytes;
using handmade::TRecordBuilder;
using handmade::TVolumeImage;

TVolumeImage NamedFile(std::int64_t ANumber, const std::u16string& AName, std::uint32_t ARecordSize = 1024) {
  TVolumeImage image;
  image.Records[ANumber] = TRecordBuilder(ARecordSize)
                               .Resident(0x10, handmade::StandardInformationContent(1000, 0x21), 0)
                               .Resident(0x30, handmade::FileNameContent(5, AName, 1), 1)
                               .Build();
  return image;
}

std::u16string NameOf(PNTFSVolume AVolume, std::int64_t ANumber) {
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ANumber));
  const PMFTFilenameAttribute name = NTFSAttribute::GetFileNameAttribute(
      node->MFTRecord.Ptr, AVolume->MFTRecordSize, FILE_NAME_WIN32);
  return name ? NTFSUtils::GetFileName(name) : u"";
}

struct TGeometryCase {
  const char* Name;
  std::uint16_t SectorSize;
  std::uint8_t SectorsPerClusterByte;
  std::uint32_t ClustersPerRecordField;
  std::uint32_t ClusterSize;
  std::uint32_t RecordSize;
};

class GeometryTest : public HandMadeVolumeTest, public ::testing::WithParamInterface<TGeometryCase> {};

TEST_P(GeometryTest, DerivesClusterAndRecordSizes) {
  const TGeometryCase& c = GetParam();
  TVolumeImage image = NamedFile(9, u"geometry.txt", c.RecordSize);
  image.SectorSize = c.SectorSize;
  image.SectorsPerClusterByte = c.SectorsPerClusterByte;
  image.ClustersPerRecordField = c.ClustersPerRecordField;
  image.ClusterSize = c.ClusterSize;
  image.RecordSize = c.RecordSize;
  const bool hugeClusters = c.ClusterSize >= 1048576;
  image.TotalClusters = hugeClusters ? 3 : 512;
  image.MFTExtents = {{1, hugeClusters ? 1 : 65536 / c.ClusterSize}};
  Open(image);
  ASSERT_TRUE(FVolume->Initialized);
  EXPECT_EQ(FVolume->SectorSize, c.SectorSize);
  EXPECT_EQ(FVolume->ClusterSize, c.ClusterSize);
  EXPECT_EQ(FVolume->ClusterSizeBits, NTFSUtils::GetSizeBits(c.ClusterSize));
  EXPECT_EQ(FVolume->MFTRecordSize, c.RecordSize);
  EXPECT_EQ(FVolume->NumberOfClusters, image.TotalClusters - 1); // the boot sector's copy is not counted
  EXPECT_EQ(FVolume->MFTRecordCount, image.MFTExtents[0].second * c.ClusterSize / c.RecordSize);
  EXPECT_EQ(NameOf(FVolume, 9), u"geometry.txt");
}

INSTANTIATE_TEST_SUITE_P(
    BootSectors, GeometryTest,
    ::testing::Values(TGeometryCase{"Records1024Of4096Clusters", 512, 8, 0xF6, 4096, 1024},
                      TGeometryCase{"OneClusterRecords", 512, 8, 0x01, 4096, 4096},
                      TGeometryCase{"TwoClusterRecords", 512, 1, 0x02, 512, 1024},
                      TGeometryCase{"SignExtendedRecordSize", 512, 8, 0xFFFFFFF6, 4096, 1024},
                      // 4Kn: 4,096-byte records protected every 512 bytes.
                      TGeometryCase{"FourKnSectors", 4096, 1, 0x01, 4096, 4096},
                      // 2^(256 - 0xF4) sectors: 2 MiB clusters.
                      TGeometryCase{"NegativeSectorsPerCluster", 512, 0xF4, 0xF6, 2097152, 1024}),
    [](const ::testing::TestParamInfo<TGeometryCase>& AInfo) { return AInfo.param.Name; });

TEST(Geometry, TotalSectorsGiveTheClusterCount) {
  TVolumeImage image = NamedFile(9, u"x");
  handmade::TTempFile file("tarnwick-geometry");
  image.WriteTo(file.Path());
  {
    std::fstream patch(file.Path(), std::ios::in | std::ios::out | std::ios::binary);
    TBytes total(8, 0);
    handmade::PutLE(total, 0, 2097152, 8);
    patch.seekp(0x28);
    patch.write(reinterpret_cast<const char*>(total.data()), 8);
  }
  PNTFSVolume volume = NTFSVolumeInit(file.Name(), TFileSource::Open(file.Path()));
  const TNTFSVolumeRef hold(volume);
  EXPECT_EQ(volume->NumberOfClusters, 262144);
}

struct TBadBootCase {
  const char* Name;
  std::uint16_t SectorSize;
  std::uint8_t SectorsPerClusterByte;
  std::uint32_t ClustersPerRecordField;
  std::int64_t MFTLcn;
  const char* Message;
};

class BadBootSectorTest : public ::testing::TestWithParam<TBadBootCase> {};

TEST_P(BadBootSectorTest, RaisesFSErrorAndFreesEverything) {
  const TBadBootCase& c = GetParam();
  TVolumeImage image;
  image.SectorSize = c.SectorSize;
  image.SectorsPerClusterByte = c.SectorsPerClusterByte;
  image.ClustersPerRecordField = c.ClustersPerRecordField;
  image.MFTExtents = {{c.MFTLcn, 16}};
  if (c.MFTLcn >= image.TotalClusters) {
    image.MFTExtents = {{4, 16}};
  }
  handmade::TTempFile file("tarnwick-badboot");
  image.WriteTo(file.Path());
  if (c.MFTLcn >= image.TotalClusters) {
    std::fstream patch(file.Path(), std::ios::in | std::ios::out | std::ios::binary);
    TBytes lcn(8, 0);
    handmade::PutLE(lcn, 0, static_cast<std::uint64_t>(c.MFTLcn), 8);
    patch.seekp(0x30);
    patch.write(reinterpret_cast<const char*>(lcn.data()), 8);
  }
  const std::int64_t before = MemoryEx::AllocatedBytes();
  try {
    NTFSVolumeInit(file.Name(), TFileSource::Open(file.Path()));
    ADD_FAILURE() << "no error";
  } catch (const FSError& e) {
    EXPECT_EQ(std::string(e.what()), std::string("Error: It is not a valid NTFS partition! ") + c.Message);
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
}

INSTANTIATE_TEST_SUITE_P(
    BootSectors, BadBootSectorTest,
    ::testing::Values(
        TBadBootCase{"ThreeSectorsPerCluster", 512, 3, 0xF6, 4, "sectors_per_cluster is not a power of 2."},
        TBadBootCase{"NotANegativePower", 512, 0xF3, 0xF6, 4, "sectors_per_cluster is not a power of 2."},
        TBadBootCase{"NoSectorsPerCluster", 512, 0, 0xF6, 4, "sectors_per_cluster (boot sector offset 0x0D) is 0."},
        TBadBootCase{"NoBytesPerSector", 0, 8, 0xF6, 4,
                     "bytes_per_sector (boot sector offset 0x0B) is 0; expected a power of 2."},
        TBadBootCase{"OddBytesPerSector", 1536, 8, 0xF6, 4,
                     "bytes_per_sector (boot sector offset 0x0B) is 1536; expected a power of 2."},
        TBadBootCase{"ZeroRecordSize", 512, 8, 0x00, 4,
                     "clusters_per_mft_record (boot sector offset 0x40) gives 0-byte MFT records; expected a power "
                     "of 2 from 512 to 65536."},
        TBadBootCase{"HugeRecordSize", 512, 8, 0xE1, 4,
                     "clusters_per_mft_record (boot sector offset 0x40) gives 2147483648-byte MFT records; expected "
                     "a power of 2 from 512 to 65536."},
        TBadBootCase{"MFTPastTheVolume", 512, 8, 0xF6, 100000,
                     "The MFT's first cluster (boot sector offset 0x30) is 100000, outside the volume."}),
    [](const ::testing::TestParamInfo<TBadBootCase>& AInfo) { return AInfo.param.Name; });

TEST(Volume, RecordZeroWithoutDataIsNotAVolume) {
  TVolumeImage image;
  image.Records[0] = TRecordBuilder().Resident(0x30, handmade::FileNameContent(5, u"$MFT", 3), 1).Build();
  handmade::TTempFile file("tarnwick-nodata");
  image.WriteTo(file.Path());
  const std::int64_t before = MemoryEx::AllocatedBytes();
  try {
    NTFSVolumeInit(file.Name(), TFileSource::Open(file.Path()));
    ADD_FAILURE() << "no error";
  } catch (const FSError& e) {
    EXPECT_STREQ(e.what(), "Error: It is not a valid NTFS partition! MFT record 0 has no $DATA attribute.");
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
}

TEST(Volume, EmptyAndMissingDevices) {
  handmade::TTempFile file("tarnwick-empty");
  std::ofstream(file.Path()).close();
  const std::int64_t before = MemoryEx::AllocatedBytes();
  PNTFSVolume volume = NTFSVolumeInit(file.Name(), TFileSource::Open(file.Path()));
  EXPECT_FALSE(volume->Initialized);
  EXPECT_EQ(volume->MFTRecordCount, 0);
  NTFSVolumeAddRef(volume);
  NTFSVolumeRelease(volume); // the last release frees it
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);

  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
  for (auto call : {&NTFSVolumeAddRef, &NTFSVolumeRelease}) {
    try {
      call(nullptr);
      ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Volume is null. Call NTFSVolumeInit first!.");
    }
  }
}

class VolumeTest : public HandMadeVolumeTest {};

TEST_F(VolumeTest, RecordsInTheMFTsSecondExtentAreReadFromThere) {
  TVolumeImage image = NamedFile(10, u"second extent.txt");
  image.MFTExtents = {{4, 2}, {100, 14}};
  // Where record 10 would lie if the MFT were contiguous.
  image.Clusters[6] = TBytes(image.ClusterSize, 0);
  const TBytes decoy = TRecordBuilder().Resident(0x30, handmade::FileNameContent(5, u"decoy", 1), 1).Build();
  std::copy(decoy.begin(), decoy.end(), image.Clusters[6].begin() + 2 * 1024);
  Open(image);
  EXPECT_EQ(FVolume->MFTRecordCount, 64);
  EXPECT_EQ(NameOf(FVolume, 10), u"second extent.txt");
}

TEST_F(VolumeTest, RecordCountAndRecordPlaces) {
  TVolumeImage image = NamedFile(5, u".");
  image.MFTExtents = {{4, 64}}; // 262,144 bytes of 1,024-byte records
  image.TotalClusters = 128;
  TBytes unprotected = TRecordBuilder().Resident(0x30, handmade::FileNameContent(5, u"bad usa", 1), 1).Build();
  handmade::PutLE(unprotected, 4, 1020, 2); // the array would run past the record
  image.Records[12] = unprotected;
  Open(image);
  EXPECT_EQ(FVolume->MFTRecordCount, 256);
  EXPECT_EQ(FVolume->RootDirRef.Value, 5 | (std::int64_t{5} << 48));

  TBytes record(1024, 0xCC);
  EXPECT_EQ(NTFSUtils::GetMFTRecord(FVolume, MFT_REF::Build(5), record.data()), 1024u);
  EXPECT_EQ(record, TRecordBuilder().Resident(0x10, handmade::StandardInformationContent(1000, 0x21), 0)
                        .Resident(0x30, handmade::FileNameContent(5, u".", 1), 1)
                        .BuildUnprotected());
  // Past the MFT's end nothing is delivered: the buffer keeps nothing old.
  std::fill(record.begin(), record.end(), 0xCC);
  NTFSUtils::GetMFTRecord(FVolume, MFT_REF::Build(300), record.data());
  EXPECT_EQ(record, TBytes(1024, 0));
  // A record whose fix-up does not fit is no FILE record.
  NTFSUtils::GetMFTRecord(FVolume, MFT_REF::Build(12), record.data());
  EXPECT_FALSE(PMFTRecord(TByteView(record.data(), record.size())).IsFileRecord());
}

TEST_F(VolumeTest, NodesAreSharedCountedAndSummarised) {
  TVolumeImage image = NamedFile(30, u"thirty.txt");
  image.Records[31] = TRecordBuilder()
                          .InUse(false)
                          .Resident(0x10, handmade::StandardInformationContent(2000, 0x06), 0)
                          .Resident(0x80, TBytes(300, 1), 1)
                          .Build();
  image.Records[32] = TRecordBuilder().Resident(0x10, TBytes(30, 9), 0).Build(); // short standard information
  Open(image);
  const std::int64_t volumeRefs = FVolume->RefCount;
  PNTFSNode first = NTFSNodeGet(FVolume, MFT_REF::Build((std::int64_t{3} << 48) | 30));
  PNTFSNode second = NTFSNodeGet(FVolume, MFT_REF::Build((std::int64_t{4} << 48) | 30));
  EXPECT_EQ(first, second);
  EXPECT_EQ(first->RefCount, 2);
  EXPECT_EQ(first->MFTNumber.Number(), 3);
  EXPECT_EQ(FVolume->RefCount, volumeRefs + 2);
  EXPECT_FALSE(first->IsDeleted);
  EXPECT_EQ(first->CreationTime, 1000);
  EXPECT_EQ(first->LastAccessTime, 1003);
  EXPECT_EQ(first->FileAttributes, 0x21u);
  NTFSNodeRelease(first);
  NTFSNodeRelease(second);
  EXPECT_EQ(first->RefCount, 0);
  EXPECT_EQ(FVolume->RefCount, volumeRefs);

  const TNTFSNodeRef deleted(FVolume, MFT_REF::Build(31));
  EXPECT_TRUE(deleted->IsDeleted);
  EXPECT_EQ(deleted->ChangeTime, 2001);
  EXPECT_EQ(deleted->DataSize, 300);
  const TNTFSNodeRef shortInfo(FVolume, MFT_REF::Build(32));
  EXPECT_EQ(shortInfo->CreationTime, 0);
  EXPECT_EQ(shortInfo->FileAttributes, 0u);
  NTFSNodeAllocAttributeList(shortInfo.Get(), 8);
  try {
    NTFSNodeAllocAttributeList(shortInfo.Get(), 8);
    ADD_FAILURE() << "no error";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "AttributeList already allocated.");
  }
}

TEST_F(VolumeTest, TheLastNodeReleaseFreesAReleasedVolume) {
  Open(NamedFile(30, u"x"));
  const std::int64_t before = MemoryEx::AllocatedBytes();
  PNTFSNode node = NTFSNodeGet(FVolume, MFT_REF::Build(30));
  NTFSVolumeRelease(FVolume);
  FVolume = nullptr;
  EXPECT_EQ(node->MFTNumber.Address(), 30); // still alive
  NTFSNodeRelease(node);
  EXPECT_LT(MemoryEx::AllocatedBytes(), before);
}

TEST_F(VolumeTest, CacheTrimsOnEvery10001stCreation) {
  Open(NamedFile(30, u"x"));
  // Opening created the nodes of records 0 and 6.
  ASSERT_EQ(FVolume->NodeCache->Count(), 2);
  const PNTFSNode kept = NTFSNodeGet(FVolume, MFT_REF::Build(7)); // the oldest node a trim meets referenced
  auto create = [this](std::int64_t AFrom, std::int64_t ATo) {
    for (std::int64_t n = AFrom; n < ATo; ++n)
      NTFSNodeRelease(NTFSNodeGet(FVolume, MFT_REF::Build(1000 + n)));
  };
  create(3, 10001); // creations 4 to 10,001: the last one trims nothing
  EXPECT_EQ(FVolume->NodeCache->Count(), 10001);
  create(10001, 20002); // the 20,002nd frees the oldest unreferenced ones
  EXPECT_EQ(FVolume->NodeCache->Count(), 10001);
  const TMFTRefKey record0 = MFTRefKey(MFT_REF::Build(0));
  const TMFTRefKey record7 = MFTRefKey(MFT_REF::Build(7));
  const TMFTRefKey newest = MFTRefKey(MFT_REF::Build(1000 + 20001));
  EXPECT_FALSE(FVolume->NodeList->Exists(record0.data()));
  EXPECT_TRUE(FVolume->NodeList->Exists(record7.data()));
  EXPECT_TRUE(FVolume->NodeList->Exists(newest.data()));
  NTFSNodeRelease(kept);
}

} // namespace
