// Damaged and crafted volumes, one row each: the volume is opened from
// memory, every record is walked and every file's data read the way the scan
// and the recovery do, and the row states the outcome: a clear error, or
// what is still found. Nothing may crash, hang or ask for unbounded memory.

#include "ntfs/uFSError.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"

#include "foundation/uMemoryEx.h"
#include "HandMadeRecords.h"
#include "tests/support/uMemoryDevice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using handmade::TBytes;
using handmade::TRecordBuilder;
using handmade::TVolumeImage;
using testsupport::TMemoryDeviceIO;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Key;
using ::testing::Not;

constexpr std::int64_t kClusterSize = 4096;
constexpr std::int64_t kDataLCN = 40;
// More than any file of the hand-made volume; a crafted size is read no further.
constexpr std::int64_t kReadLimit = 1024 * 1024;
constexpr std::int64_t kReadPiece = 65536;

TBytes Pattern(std::size_t ASize, std::uint8_t ASeed) {
  TBytes bytes(ASize);
  for (std::size_t i = 0; i < ASize; ++i)
    bytes[i] = static_cast<std::uint8_t>(ASeed + i * 13);
  return bytes;
}

TRecordBuilder NamedRecord(const std::u16string& AName, std::int64_t ADataSize = 0) {
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x10, handmade::StandardInformationContent(1000, 0x20), 0)
      .Resident(0x30, handmade::FileNameContent(5, AName, 1, ADataSize), 1);
}

// Three deleted files: intact.txt (resident), data.bin (two clusters at
// LCN 40) and the record the rows damage, 26, holding victim.bin.
TVolumeImage HealthyVolume() {
  TVolumeImage image;
  const TBytes text = {'h', 'e', 'l', 'l', 'o'};
  image.Records[24] = NamedRecord(u"intact.txt", 5).Resident(0x80, text, 2).Build();
  image.Records[25] = NamedRecord(u"data.bin", 2 * kClusterSize)
                          .NonResident(0x80, handmade::EncodeRuns({{2, kDataLCN}}), 0, 1, 2 * kClusterSize, 2)
                          .Build();
  image.Clusters[kDataLCN] = Pattern(2 * kClusterSize, 7);
  image.Records[26] = NamedRecord(u"victim.bin", 5).Resident(0x80, text, 2).Build();
  return image;
}

// What a walk of the volume finds: each named record's data as read.
struct TWalk {
  std::int64_t RecordCount = 0;
  std::map<std::u16string, TBytes> Files;
  std::map<std::u16string, std::vector<TByteRange>> Unread;
};

TBytes ReadAll(const IStreamExPtr& AStream) {
  TBytes data;
  TBytes piece(kReadPiece);
  for (std::int64_t pos = 0; pos < kReadLimit;) {
    const std::int64_t got = AStream->Read(pos, kReadPiece, piece.data());
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
  if (!header.IsFileRecord() || header.BaseMFTRecord().Value != 0)
    return;
  const TNTFSNodeRef node(AVolume, MFT_REF::Build(ANumber));
  const PMFTFilenameAttribute name = NTFSAttribute::GetFileNameAttribute(
      record.data(), static_cast<std::uint32_t>(record.size()), FILE_NAME_WIN32);
  if (!name || ANumber < 16)
    return;
  TAttributeSearch search(node.Get());
  TBytes& data = AWalk.Files[NTFSUtils::GetFileName(name)];
  if (!search.FindFirst(AttributeType::Data))
    return;
  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  data = ReadAll(stream);
  const std::vector<TByteRange> unread = UnreadRangesOf(*stream);
  if (!unread.empty())
    AWalk.Unread[NTFSUtils::GetFileName(name)] = unread;
}

// Opens the device's volume and walks it; rethrows what opening raises.
TWalk Walk(const std::shared_ptr<TMemoryDeviceIO>& ADevice) {
  const testsupport::TDeviceIOGuard installed(ADevice);
  const TNTFSVolumeRef volume(NTFSVolumeInit(u"damaged"));
  TWalk walk;
  walk.RecordCount = volume->MFTRecordCount;
  for (std::int64_t number = 0; number < volume->MFTRecordCount; ++number)
    WalkRecord(volume.Get(), number, walk);
  return walk;
}

std::shared_ptr<TMemoryDeviceIO> DeviceOf(const TBytes& AImage) {
  auto device = std::make_shared<TMemoryDeviceIO>(static_cast<std::int64_t>(AImage.size()));
  device->Put(0, AImage);
  return device;
}

void Patch(TBytes& AImage, std::size_t AOffset, std::uint64_t AValue, std::size_t ASize) {
  handmade::PutLE(AImage, AOffset, AValue, ASize);
}

std::size_t RecordOffset(std::int64_t ANumber) {
  return static_cast<std::size_t>(4 * kClusterSize + ANumber * 1024);
}

struct TDamageCase {
  const char* Name;
  std::function<std::shared_ptr<TMemoryDeviceIO>()> Device;
  // Part of the FSError's message, or nullptr when the volume opens.
  const char* Error;
  // Checks what the walk found, when the volume opens.
  std::function<void(const TWalk&)> Check;
};

void IntactFilesFound(const TWalk& AWalk) {
  ASSERT_THAT(AWalk.Files, Contains(Key(u"intact.txt")));
  EXPECT_EQ(AWalk.Files.at(u"intact.txt"), (TBytes{'h', 'e', 'l', 'l', 'o'}));
  ASSERT_THAT(AWalk.Files, Contains(Key(u"data.bin")));
  EXPECT_EQ(AWalk.Files.at(u"data.bin"), Pattern(2 * kClusterSize, 7));
}

// The victim's record broken in place: the other files stay as they were.
std::function<std::shared_ptr<TMemoryDeviceIO>()> VictimRecord(std::function<TBytes()> ARecord) {
  return [ARecord] {
    TVolumeImage image = HealthyVolume();
    image.Records[26] = ARecord();
    return DeviceOf(image.Bytes());
  };
}

std::function<std::shared_ptr<TMemoryDeviceIO>()> PatchedImage(std::function<void(TBytes&)> APatch) {
  return [APatch] {
    TBytes image = HealthyVolume().Bytes();
    APatch(image);
    return DeviceOf(image);
  };
}

void VictimHasNoName(const TWalk& AWalk) {
  IntactFilesFound(AWalk);
  EXPECT_THAT(AWalk.Files, Not(Contains(Key(u"victim.bin"))));
}

void VictimHasNoData(const TWalk& AWalk) {
  IntactFilesFound(AWalk);
  ASSERT_THAT(AWalk.Files, Contains(Key(u"victim.bin")));
  EXPECT_TRUE(AWalk.Files.at(u"victim.bin").empty());
}

// An attribute whose Length field is ALength, followed by the file name
// that the walk then never reaches.
TBytes BrokenLengthRecord(std::uint32_t ALength) {
  TBytes broken(24, 0);
  Patch(broken, 0, 0x40, 4);
  Patch(broken, 4, ALength, 4);
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x10, handmade::StandardInformationContent(1000, 0x20), 0)
      .Raw(broken)
      .Resident(0x30, handmade::FileNameContent(5, u"victim.bin", 1), 1)
      .Build();
}

// victim.bin's unnamed $DATA in extension record 27 through an attribute
// list with the given entries, the list itself resident.
TBytes ListedVictim(const std::vector<handmade::TListEntry>& AEntries) {
  return NamedRecord(u"victim.bin").Resident(0x20, handmade::AttributeListContent(AEntries), 3).Build();
}

TBytes VictimWithRuns(const TBytes& ARuns, std::int64_t ADataSize, std::int64_t AHighVCN = 0) {
  return NamedRecord(u"victim.bin").NonResident(0x80, ARuns, 0, AHighVCN, ADataSize, 2).Build();
}

const TDamageCase kDamageCases[] = {
    {"ImageShorterThanTheBootSector", PatchedImage([](TBytes& AImage) { AImage.resize(100); }),
     "outside the volume", nullptr},
    {"ZeroedBootSector", PatchedImage([](TBytes& AImage) { std::fill_n(AImage.begin(), 512, 0); }),
     "bytes_per_sector (boot sector offset 0x0B) is 0", nullptr},
    {"SectorsPerCluster3", PatchedImage([](TBytes& AImage) { AImage[0x0D] = 3; }),
     "sectors_per_cluster is not a power of 2.", nullptr},
    {"ZeroBytesPerSector", PatchedImage([](TBytes& AImage) { Patch(AImage, 0x0B, 0, 2); }),
     "bytes_per_sector (boot sector offset 0x0B) is 0", nullptr},
    {"MFTClusterBeyondTheImage", PatchedImage([](TBytes& AImage) { Patch(AImage, 0x30, 1 << 20, 8); }),
     "outside the volume", nullptr},
    {"MFTClusterOverflowingByteOffset", PatchedImage([](TBytes& AImage) { Patch(AImage, 0x30, 1ull << 62, 8); }),
     "outside the volume", nullptr},
    {"RecordZeroWithoutData",
     [] {
       TVolumeImage image = HealthyVolume();
       image.Records[0] = TRecordBuilder().Resident(0x30, handmade::FileNameContent(5, u"$MFT", 3), 1).Build();
       return DeviceOf(image.Bytes());
     },
     "MFT record 0 has no $DATA attribute.", nullptr},
    {"FixupArrayOutsideTheRecord",
     PatchedImage([](TBytes& AImage) { Patch(AImage, RecordOffset(26) + 4, 0x3FF, 2); }), nullptr,
     VictimHasNoName},
    {"AttributeLengthZero", VictimRecord([] { return BrokenLengthRecord(0); }), nullptr, VictimHasNoName},
    {"AttributeLengthAllOnes", VictimRecord([] { return BrokenLengthRecord(0xFFFFFFFF); }), nullptr,
     VictimHasNoName},
    {"AttributeLengthPastTheRecord", VictimRecord([] { return BrokenLengthRecord(2000); }), nullptr,
     VictimHasNoName},
    {"AttributeListNamesItsOwnRecord", VictimRecord([] { return ListedVictim({{0x80, 0, 26, 0, u""}}); }), nullptr,
     VictimHasNoData},
    {"AttributeListNamesARecordBeyondTheMFT",
     VictimRecord([] { return ListedVictim({{0x80, 0, 1'000'000'000'000, 0, u""}}); }), nullptr,
     VictimHasNoData},
    {"AttributeListsLoopBetweenTwoRecords",
     [] {
       TVolumeImage image = HealthyVolume();
       image.Records[26] = ListedVictim({{0x80, 0, 27, 0, u""}, {0x80, 1, 27, 0, u""}});
       image.Records[27] = TRecordBuilder()
                               .BaseRecord(26)
                               .Resident(0x20, handmade::AttributeListContent({{0x80, 0, 26, 0, u""}}), 0)
                               .Build();
       return DeviceOf(image.Bytes());
     },
     nullptr, VictimHasNoData},
    {"NegativeFirstRunOffset", VictimRecord([] { return VictimWithRuns({0x11, 0x01, 0x80, 0x00}, kClusterSize); }),
     nullptr, VictimHasNoData},
    {"RunLengthOfTwoToThe63",
     VictimRecord([] { return VictimWithRuns({0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 40, 0}, kClusterSize); }), nullptr,
     VictimHasNoData},
    {"RunBeyondTheVolume",
     VictimRecord([] { return VictimWithRuns(handmade::EncodeRuns({{1, 1'000'000}}), 100); }), nullptr,
     [](const TWalk& AWalk) {
       IntactFilesFound(AWalk);
       // The device has no such cluster: zeros, and the range is named.
       EXPECT_EQ(AWalk.Files.at(u"victim.bin"), TBytes(100, 0));
       EXPECT_EQ(AWalk.Unread.at(u"victim.bin"), (std::vector<TByteRange>{{0, 100}}));
     }},
    {"DataSizeOfTwoToThe62",
     VictimRecord([] { return VictimWithRuns(handmade::EncodeRuns({{1, kDataLCN}}), std::int64_t{1} << 62); }),
     nullptr,
     [](const TWalk& AWalk) {
       IntactFilesFound(AWalk);
       // Reading ends where the runs end.
       EXPECT_EQ(AWalk.Files.at(u"victim.bin"), Pattern(kClusterSize, 7));
     }},
    {"RecordCountInTheBillionsFromATinyImage",
     [] {
       TVolumeImage image = HealthyVolume();
       image.Records[0] = TRecordBuilder()
                              .Resident(0x30, handmade::FileNameContent(5, u"$MFT", 3), 1)
                              .NonResident(0x80, handmade::EncodeRuns({{std::int64_t{1} << 30, 4}}), 0,
                                           (std::int64_t{1} << 30) - 1, std::int64_t{1} << 42, 2)
                              .Build();
       return DeviceOf(image.Bytes());
     },
     nullptr,
     [](const TWalk& AWalk) {
       IntactFilesFound(AWalk);
       // No more records than the 1 MiB image can hold.
       EXPECT_EQ(AWalk.RecordCount, 1024);
     }},
    {"UnreadableRecord",
     [] {
       auto device = DeviceOf(HealthyVolume().Bytes());
       device->FailRange(static_cast<std::int64_t>(RecordOffset(26)), 1024);
       return device;
     },
     nullptr, VictimHasNoName},
    {"UnreadableDataCluster",
     [] {
       auto device = DeviceOf(HealthyVolume().Bytes());
       device->FailRange((kDataLCN + 1) * kClusterSize + 512, 512, true);
       return device;
     },
     nullptr,
     [](const TWalk& AWalk) {
       // The first cluster is read whole; the second, holding the bad
       // sector, reads as zeros, named as unread.
       TBytes expected = Pattern(2 * kClusterSize, 7);
       std::fill(expected.begin() + kClusterSize, expected.end(), 0);
       EXPECT_EQ(AWalk.Files.at(u"data.bin"), expected);
       EXPECT_EQ(AWalk.Unread.at(u"data.bin"), (std::vector<TByteRange>{{kClusterSize, kClusterSize}}));
       EXPECT_EQ(AWalk.Files.at(u"intact.txt"), (TBytes{'h', 'e', 'l', 'l', 'o'}));
     }},
};

class DamagedVolume : public ::testing::TestWithParam<TDamageCase> {};

TEST_P(DamagedVolume, EndsWithAClearErrorOrAPartialResult) {
  const TDamageCase& c = GetParam();
  const std::int64_t before = MemoryEx::AllocatedBytes();
  if (c.Error != nullptr) {
    try {
      Walk(c.Device());
      ADD_FAILURE() << "the volume opened";
    } catch (const FSError& error) {
      EXPECT_THAT(error.what(), HasSubstr(c.Error));
    }
  } else {
    c.Check(Walk(c.Device()));
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedVolume, ::testing::ValuesIn(kDamageCases),
                         [](const ::testing::TestParamInfo<TDamageCase>& AInfo) { return AInfo.param.Name; });

} // namespace
