// NTFS-compressed files read through GetDataStream: live and deleted files
// that the ntfs-3g library compressed, the compressed files Windows wrote on
// velo-test-ntfs (one with an attribute list), each against what was
// written and what The Sleuth Kit's icat extracts; and, on hand-made
// records, which stream the attribute flags choose.

#include "HandMadeVolumeTest.h"
#include "LZNT1Chunks.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSVolume.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace {

using namespace testsupport;

constexpr std::uint32_t DataType = 0x80;
// ntfs-3g and Windows both compress in units of 16 clusters.
constexpr std::uint64_t UnitClusters = 16;

std::string ReadAll(IStreamEx& AStream) {
  std::string data;
  std::string buffer(65536, '\0');
  for (std::int64_t pos = 0;;) {
    const std::int64_t n = AStream.Read(pos, static_cast<std::int64_t>(buffer.size()), buffer.data());
    if (n <= 0)
      return data;
    data.append(buffer.data(), static_cast<std::size_t>(n));
    pos += n;
  }
}

// The unnamed $DATA of one record as GetDataStream reads it.
struct TReadData {
  bool Compressed = false;
  TAttributeSearchMode SearchMode = asmInternal;
  std::int64_t Size = 0;
  std::string Bytes;
};

TReadData ReadRecordData(PNTFSVolume AVolume, std::int64_t ARecord) {
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ARecord));
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data))
    throw std::runtime_error("record " + std::to_string(ARecord) + " has no $DATA");
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  return {NTFSAttribute::IsCompressed(search.Rec().AttributeRecord), search.Rec().SearchMode, stream->Size(),
          ReadAll(*stream)};
}

class TOpenVolume {
public:
  explicit TOpenVolume(const std::string& AImage)
      : FVolume(NTFSVolumeInit(std::u16string(AImage.begin(), AImage.end()), TFileSource::Open(AImage))), FHold(FVolume) {}
  PNTFSVolume Get() const { return FVolume; }

private:
  PNTFSVolume FVolume;
  TNTFSVolumeRef FHold;
};

// How the units the data fills whole are stored, by istat's cluster list
// (0 for a cluster without one on disk): 'R' every cluster on disk, 'C' on
// disk then sparse, 'S' wholly sparse.
std::string UnitKinds(const IstatAttribute& AData, std::uint32_t AClusterSize) {
  std::string kinds;
  const std::uint64_t units = AData.Size / (UnitClusters * AClusterSize);
  for (std::uint64_t u = 0; u < units; ++u) {
    const auto first = AData.Clusters.begin() + static_cast<std::ptrdiff_t>(u * UnitClusters);
    const auto onDisk = std::count_if(first, first + UnitClusters, [](std::int64_t c) { return c != 0; });
    kinds += onDisk == 0 ? 'S' : onDisk == static_cast<std::ptrdiff_t>(UnitClusters) ? 'R' : 'C';
  }
  return kinds;
}

struct TFixtureFile {
  const char* Path;
  const char* UnitKinds;
};

class CompressedFixtureTest : public ::testing::TestWithParam<TFixtureFile> {
protected:
  static inline const std::string Image = FixtureImage("compressed");
  static inline const Manifest Written = FixtureManifest("compressed");
};

// Guards the fixture itself: without units of every kind on the volume the
// test below would prove little.
TEST_P(CompressedFixtureTest, VolumeHoldsUnitsOfEveryKind) {
  const ManifestEntry* entry = Written.Find(GetParam().Path);
  ASSERT_NE(entry, nullptr);
  const std::optional<IstatAttribute> data = Istat(Image, entry->Record).Find(DataType);
  ASSERT_TRUE(data);
  EXPECT_TRUE(data->Compressed);
  EXPECT_EQ(UnitKinds(*data, Written.Volume.ClusterSize), GetParam().UnitKinds);
}

TEST_P(CompressedFixtureTest, ReadsWhatWasWrittenAndWhatIcatExtracts) {
  const ManifestEntry* entry = Written.Find(GetParam().Path);
  ASSERT_NE(entry, nullptr);
  if (entry->Deleted) {
    ASSERT_EQ(entry->Overwritten, Overwrite::None) << "the deleted file's clusters must still hold it";
  }
  const TOpenVolume volume(Image);
  const TReadData read = ReadRecordData(volume.Get(), static_cast<std::int64_t>(entry->Record));
  EXPECT_TRUE(read.Compressed);
  EXPECT_EQ(read.Size, static_cast<std::int64_t>(entry->Size));
  EXPECT_EQ(Sha256Hex(read.Bytes), entry->Sha256);
  EXPECT_TRUE(read.Bytes == Icat(Image, entry->Record));
}

INSTANTIATE_TEST_SUITE_P(Files, CompressedFixtureTest,
                         ::testing::Values(TFixtureFile{"/Packed/small.txt", ""},
                                           TFixtureFile{"/Packed/units.txt", "CCC"},
                                           TFixtureFile{"/Packed/zeros.bin", "CCS"},
                                           TFixtureFile{"/Packed/random.bin", "R"},
                                           TFixtureFile{"/Packed/mixed.bin", "RC"},
                                           TFixtureFile{"/Packed/gone.txt", "CC"}),
                         [](const ::testing::TestParamInfo<TFixtureFile>& AInfo) {
                           std::string name = AInfo.param.Path;
                           name = name.substr(name.rfind('/') + 1);
                           return name.substr(0, name.find('.'));
                         });

TEST(CompressedWindowsVolume, EveryCompressedFileReadsAsIcatExtractsIt) {
  const std::string image = ForeignVolume("velo-test-ntfs");
  if (image.empty())
    GTEST_SKIP() << "the shared Windows volumes are not available";
  constexpr std::int64_t OnesBin = 38;
  const TOpenVolume volume(image);
  int compressed = 0;
  for (const FlsEntry& file : Fls(image)) {
    if (file.IsFolder() || file.AttrType != DataType || file.Path.find(':') != std::string::npos)
      continue;
    const TReadData read = ReadRecordData(volume.Get(), static_cast<std::int64_t>(file.Record));
    if (!read.Compressed)
      continue;
    ++compressed;
    EXPECT_TRUE(read.Bytes == Icat(image, file.Record)) << file.Path;
    if (file.Record == OnesBin) {
      EXPECT_EQ(read.SearchMode, asmAttributeList);
      EXPECT_EQ(read.Size, 2949120);
      EXPECT_EQ(read.Bytes.size(), 2949120u);
    }
  }
  // Seven small files are resident: Windows flags their attribute
  // compressed but keeps the content as it is. ones.bin is the one with
  // compression units.
  EXPECT_EQ(compressed, 8);
}

// What the flags of a non-resident $DATA make of one packed unit: cluster
// 20 holds a chunk of "0123456789abcdef" repeated, the other 15 clusters of
// the unit are sparse.
struct TFlagsCase {
  const char* Name;
  std::uint16_t Flags;
  bool Encrypted;
  bool Expanded; // else the clusters as they lie on disk
};

class AttributeFlagsTest : public HandMadeVolumeTest, public ::testing::WithParamInterface<TFlagsCase> {
protected:
  static constexpr std::int64_t Record = 30;
  static constexpr std::int64_t DataSize = 8000;
  static constexpr std::array<std::uint8_t, 16> Pattern{'0', '1', '2', '3', '4', '5', '6', '7',
                                                        '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};

  void SetUp() override {
    handmade::TVolumeImage image;
    image.Records[Record] =
        handmade::TRecordBuilder()
            .Resident(0x10, handmade::StandardInformationContent(100, 0x20), 0)
            .Resident(0x30, handmade::FileNameContent(5, u"packed.bin", 3), 1)
            .NonResident(0x80, handmade::EncodeRuns({{1, 20}, {15, {}}}), 0, 15, DataSize, 2, u"", GetParam().Flags, 4)
            .Build();
    image.Clusters[20] = PackedUnit();
    Open(image);
  }

  static handmade::TBytes PackedUnit() {
    return handmade::Concat({handmade::PatternChunk(Pattern, 4096), handmade::PatternChunk(Pattern, 4096)});
  }

  static handmade::TBytes OnDisk() {
    handmade::TBytes bytes = PackedUnit();
    bytes.resize(DataSize, 0);
    return bytes;
  }
};

TEST_P(AttributeFlagsTest, ChooseTheStream) {
  const TFlagsCase& c = GetParam();
  const TNTFSNodeRef node(FVolume, MFT_REF::Build(Record));
  TAttributeSearch search(node.Get());
  ASSERT_TRUE(search.FindFirst(AttributeType::Data));
  EXPECT_EQ(NTFSAttribute::IsEncrypted(search.Rec().AttributeRecord), c.Encrypted);
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  const std::string bytes = ReadAll(*stream);
  const handmade::TBytes expected = c.Expanded ? handmade::Repeated(Pattern, DataSize) : OnDisk();
  EXPECT_TRUE(handmade::TBytes(bytes.begin(), bytes.end()) == expected);
}

INSTANTIATE_TEST_SUITE_P(Flags, AttributeFlagsTest,
                         ::testing::Values(TFlagsCase{"Plain", 0x0000, false, false},
                                           TFlagsCase{"Sparse", 0x8000, false, false},
                                           TFlagsCase{"Compressed", 0x0001, false, true},
                                           TFlagsCase{"CompressedAndSparse", 0x8001, false, true},
                                           TFlagsCase{"Encrypted", 0x4000, true, false},
                                           TFlagsCase{"EncryptedAndCompressed", 0x4001, true, false}),
                         [](const ::testing::TestParamInfo<TFlagsCase>& AInfo) { return AInfo.param.Name; });

class UnknownCompressionTest : public AttributeFlagsTest {};

TEST_P(UnknownCompressionTest, IsAnErrorOfTheFile) {
  const TNTFSNodeRef node(FVolume, MFT_REF::Build(Record));
  TAttributeSearch search(node.Get());
  ASSERT_TRUE(search.FindFirst(AttributeType::Data));
  EXPECT_TRUE(NTFSAttribute::IsCompressed(search.Rec().AttributeRecord));
  try {
    NTFSAttribute::GetDataStream(search.Rec());
    FAIL() << "no error raised";
  } catch (const FSError& e) {
    EXPECT_STREQ(e.what(), "Compressed data cannot be read: compression method 2 is unknown.");
  }
}

INSTANTIATE_TEST_SUITE_P(Flags, UnknownCompressionTest, ::testing::Values(TFlagsCase{"Method2", 0x0002, false, false}),
                         [](const ::testing::TestParamInfo<TFlagsCase>& AInfo) { return AInfo.param.Name; });

} // namespace
