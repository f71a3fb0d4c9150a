// The damaged volumes walked by the reader alone: every record, every name
// and every file's data, as the scan and the recovery read them.

#include "DamagedVolumes.h"
#include "HandMadeRecords.h"

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"

#include "foundation/uMemoryEx.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using damaged::TBytes;
using damaged::TDamageCase;
using ::testing::HasSubstr;

// More than any file of the damaged volumes; a crafted size is read no further.
constexpr std::int64_t kReadLimit = 1024 * 1024;
constexpr std::int64_t kReadPiece = 65536;
// Records below this are the volume's own files.
constexpr std::int64_t kFirstUserRecord = 16;

struct TWalk {
  std::int64_t RecordCount = 0;
  std::map<std::u16string, TBytes> Files;
  std::map<std::u16string, std::vector<TByteRange>> Unread;
  std::map<std::u16string, std::vector<TByteRange>> NoRuns;
};

TBytes ReadAll(IStreamEx& AStream) {
  TBytes data;
  TBytes piece(kReadPiece);
  for (std::int64_t pos = 0; pos < kReadLimit;) {
    const std::int64_t got = AStream.Read(pos, kReadPiece, piece.data());
    if (got <= 0)
      break;
    data.insert(data.end(), piece.begin(), piece.begin() + got);
    pos += got;
  }
  return data;
}

void WalkRecord(PNTFSVolume AVolume, std::int64_t ANumber, TWalk& AWalk) {
  TBytes record(AVolume->MFTRecordSize);
  NTFSUtils::GetMFTRecord(AVolume, MFT_REF::Build(ANumber), record.data());
  const PMFTRecord header(TByteView(record.data(), record.size()));
  if (ANumber < kFirstUserRecord || !header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
    return;
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ANumber));
  const PMFTFilenameAttribute name = NTFSAttribute::GetFileNameAttribute(
      record.data(), static_cast<std::uint32_t>(record.size()), FILE_NAME_WIN32);
  if (!name)
    return;
  const std::u16string fileName = NTFSUtils::GetFileName(name);
  TBytes& data = AWalk.Files[fileName];
  TAttributeSearch search(node.Get());
  if (!search.FindFirst(AttributeType::Data))
    return;
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  data = ReadAll(*stream);
  if (!UnreadRangesOf(*stream).empty())
    AWalk.Unread[fileName] = UnreadRangesOf(*stream);
  if (!NoRunsRangesOf(*stream).empty())
    AWalk.NoRuns[fileName] = NoRunsRangesOf(*stream);
}

TWalk Walk(const TDamageCase& ACase) {
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"damaged", ACase.Device()));
  TWalk walk;
  walk.RecordCount = volume->MFTRecordCount;
  for (std::int64_t number = 0; number < volume->MFTRecordCount; ++number)
    WalkRecord(volume.Get(), number, walk);
  return walk;
}

class DamagedVolume : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(DamagedVolume, ReaderEndsWithAClearErrorOrAPartialResult) {
  const TDamageCase& c = GetParam();
  const std::int64_t before = MemoryEx::AllocatedBytes();
  if (c.Error != nullptr) {
    try {
      Walk(c);
      ADD_FAILURE() << "the volume opened";
    } catch (const FSError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.Error));
    }
  } else {
    const TWalk walk = Walk(c);
    EXPECT_EQ(walk.Files, c.Found);
    EXPECT_EQ(walk.Unread, c.Unread);
    EXPECT_EQ(walk.NoRuns, c.NoRuns);
    if (c.RecordCount != 0) {
      EXPECT_EQ(walk.RecordCount, c.RecordCount);
    }
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
}

// Files whose non-resident attribute lists claim 16 MiB each (one cluster of
// entries, then clusters past the end of the image): loading them all keeps
// only a bounded amount of lists in memory, and a list dropped from the
// cache is read again when a search needs it.
TEST(DamagedVolumeMemory, AttributeListsOfCachedNodesStayWithinALimit) {
  constexpr std::int64_t kFiles = 8;
  constexpr std::int64_t kListClusters = 4096;
  constexpr std::int64_t kListBytes = kListClusters * 4096;
  handmade::TVolumeImage image;
  for (std::int64_t i = 0; i < kFiles; ++i) {
    const std::int64_t base = 24 + i;
    const std::int64_t extension = 40 + i;
    const std::int64_t listLCN = 100 + i;
    image.Clusters[listLCN] = handmade::AttributeListContent({{0x80, 0, extension, 0, u""}});
    image.Records[base] =
        handmade::TRecordBuilder()
            .InUse(false)
            .Resident(0x30, handmade::FileNameContent(5, u"listed", 1), 1)
            .NonResident(0x20, handmade::EncodeRuns({{1, listLCN}, {kListClusters - 1, 200'000}}), 0,
                         kListClusters - 1, kListBytes, 2)
            .Build();
    image.Records[extension] =
        handmade::TRecordBuilder().BaseRecord(base).Resident(0x80, TBytes(static_cast<std::size_t>(10 + i), 1), 0).Build();
  }
  const auto device = std::make_shared<testsupport::TMemorySource>(image.TotalClusters * image.ClusterSize);
  device->Put(0, image.Bytes());
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"lists", device));
  for (std::int64_t i = 0; i < kFiles; ++i) {
    const TNTFSNodeRef node(volume.Get(), MFT_REF::Build(24 + i));
    EXPECT_EQ(node->DataSize, 10 + i) << "record " << 24 + i;
  }
  EXPECT_LE(volume->AttributeListBytes, AttributeListCacheLimit);
  EXPECT_LE(MemoryEx::AllocatedBytes(), AttributeListCacheLimit + kListBytes);

  const TNTFSNodeRef first(volume.Get(), MFT_REF::Build(24));
  ASSERT_EQ(first->AttributeList.Ptr, nullptr) << "the oldest list was not dropped";
  TAttributeSearch search(first.Get());
  ASSERT_TRUE(search.FindFirst(AttributeType::Data));
  EXPECT_EQ(NTFSAttribute::GetDataSize(search.Rec()), 10);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedVolume, ::testing::ValuesIn(damaged::DamageCases()),
                         [](const ::testing::TestParamInfo<TDamageCase>& AInfo) { return AInfo.param.Name; });

} // namespace
