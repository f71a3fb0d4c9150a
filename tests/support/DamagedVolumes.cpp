#include "DamagedVolumes.h"

#include "HandMadeRecords.h"

#include <algorithm>

namespace damaged {

namespace {

using handmade::TRecordBuilder;
using handmade::TVolumeImage;
using testsupport::TMemorySource;
using TDeviceMaker = std::function<std::shared_ptr<TMemorySource>()>;

constexpr std::int64_t kClusterSize = 4096;
constexpr std::int64_t kDataLCN = 40;
constexpr std::int64_t kVictim = 26;
const TBytes kText = {'h', 'e', 'l', 'l', 'o'};

TBytes Pattern(std::size_t ASize) {
  TBytes bytes(ASize);
  for (std::size_t i = 0; i < ASize; ++i)
    bytes[i] = static_cast<std::uint8_t>(7 + i * 13);
  return bytes;
}

TRecordBuilder DeletedFile(const std::u16string& AName, std::int64_t ADataSize = 0) {
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x10, handmade::StandardInformationContent(1000, 0x20), 0)
      .Resident(0x30, handmade::FileNameContent(5, AName, 1, ADataSize), 1);
}

// Three deleted files in the root folder: intact.txt (resident), data.bin
// (two clusters at LCN 40) and, in record 26, victim.bin, which most
// cases damage.
TVolumeImage HealthyVolume() {
  TVolumeImage image;
  image.Records[24] = DeletedFile(u"intact.txt", 5).Resident(0x80, kText, 2).Build();
  image.Records[25] = DeletedFile(u"data.bin", 2 * kClusterSize)
                          .NonResident(0x80, handmade::EncodeRuns({{2, kDataLCN}}), 0, 1, 2 * kClusterSize, 2)
                          .Build();
  image.Clusters[kDataLCN] = Pattern(2 * kClusterSize);
  image.Records[kVictim] = DeletedFile(u"victim.bin", 5).Resident(0x80, kText, 2).Build();
  return image;
}

std::map<std::u16string, TBytes> HealthyFiles() {
  return {{u"intact.txt", kText}, {u"data.bin", Pattern(2 * kClusterSize)}};
}

std::map<std::u16string, TBytes> HealthyFilesAnd(const std::u16string& AName, const TBytes& AData) {
  std::map<std::u16string, TBytes> files = HealthyFiles();
  files[AName] = AData;
  return files;
}

std::shared_ptr<TMemorySource> DeviceOf(const TBytes& AImage) {
  auto device = std::make_shared<TMemorySource>(static_cast<std::int64_t>(AImage.size()));
  device->Put(0, AImage);
  return device;
}

TDeviceMaker Volume(std::function<void(TVolumeImage&)> AChange) {
  return [AChange] {
    TVolumeImage image = HealthyVolume();
    AChange(image);
    return DeviceOf(image.Bytes());
  };
}

TDeviceMaker VictimRecord(std::function<TBytes()> ARecord) {
  return Volume([ARecord](TVolumeImage& AImage) { AImage.Records[kVictim] = ARecord(); });
}

TDeviceMaker PatchedImage(std::function<void(TBytes&)> APatch) {
  return [APatch] {
    TBytes image = HealthyVolume().Bytes();
    APatch(image);
    return DeviceOf(image);
  };
}

TDeviceMaker Unreadable(std::int64_t AOffset, std::int64_t ALength, bool AFailWholeRead) {
  return [=] {
    auto device = DeviceOf(HealthyVolume().Bytes());
    device->FailRange(AOffset, ALength, AFailWholeRead);
    return device;
  };
}

std::size_t RecordOffset(std::int64_t ANumber) {
  return static_cast<std::size_t>(4 * kClusterSize + ANumber * 1024);
}

// An attribute whose Length field is ALength, before the file name that the
// walk then never reaches.
TBytes BrokenLengthRecord(std::uint32_t ALength) {
  TBytes broken(24, 0);
  handmade::PutLE(broken, 0, 0x40, 4);
  handmade::PutLE(broken, 4, ALength, 4);
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x10, handmade::StandardInformationContent(1000, 0x20), 0)
      .Raw(broken)
      .Resident(0x30, handmade::FileNameContent(5, u"victim.bin", 1), 1)
      .Build();
}

// victim.bin whose $DATA is to be found through a resident attribute list.
TBytes ListedVictim(const std::vector<handmade::TListEntry>& AEntries) {
  return DeletedFile(u"victim.bin").Resident(0x20, handmade::AttributeListContent(AEntries), 3).Build();
}

TBytes VictimWithRuns(const TBytes& ARuns, std::int64_t ADataSize) {
  return DeletedFile(u"victim.bin").NonResident(0x80, ARuns, 0, 0, ADataSize, 2).Build();
}

std::vector<TDamageCase> MakeCases() {
  const TDamageCase victimNameLost{"", {}, nullptr, HealthyFiles()};
  const TDamageCase victimDataLost{"", {}, nullptr, HealthyFilesAnd(u"victim.bin", {})};
  auto like = [](TDamageCase ACase, const char* AName, TDeviceMaker ADevice) {
    ACase.Name = AName;
    ACase.Device = std::move(ADevice);
    return ACase;
  };
  auto error = [](const char* AName, TDeviceMaker ADevice, const char* AError) {
    TDamageCase c{AName, std::move(ADevice)};
    c.Error = AError;
    return c;
  };
  std::vector<TDamageCase> cases = {
      error("ImageShorterThanTheBootSector", PatchedImage([](TBytes& AImage) { AImage.resize(100); }),
            "outside the volume"),
      error("ZeroedBootSector", PatchedImage([](TBytes& AImage) { std::fill_n(AImage.begin(), 512, 0); }),
            "bytes_per_sector (boot sector offset 0x0B) is 0"),
      error("SectorsPerCluster3", PatchedImage([](TBytes& AImage) { AImage[0x0D] = 3; }),
            "sectors_per_cluster is not a power of 2."),
      error("ZeroBytesPerSector", PatchedImage([](TBytes& AImage) { handmade::PutLE(AImage, 0x0B, 0, 2); }),
            "bytes_per_sector (boot sector offset 0x0B) is 0"),
      error("MFTClusterBeyondTheImage",
            PatchedImage([](TBytes& AImage) { handmade::PutLE(AImage, 0x30, 1 << 20, 8); }), "outside the volume"),
      error("MFTClusterOverflowingTheByteOffset",
            PatchedImage([](TBytes& AImage) { handmade::PutLE(AImage, 0x30, std::uint64_t{1} << 62, 8); }),
            "outside the volume"),
      error("RecordZeroWithoutData", Volume([](TVolumeImage& AImage) {
              AImage.Records[0] =
                  TRecordBuilder().Resident(0x30, handmade::FileNameContent(5, u"$MFT", 3), 1).Build();
            }),
            "MFT record 0 has no $DATA attribute."),
      like(victimNameLost, "FixupArrayOutsideTheRecord",
           PatchedImage([](TBytes& AImage) { handmade::PutLE(AImage, RecordOffset(kVictim) + 4, 0x3FF, 2); })),
      like(victimNameLost, "AttributeLengthZero", VictimRecord([] { return BrokenLengthRecord(0); })),
      like(victimNameLost, "AttributeLengthAllOnes", VictimRecord([] { return BrokenLengthRecord(0xFFFFFFFF); })),
      like(victimNameLost, "AttributeLengthPastTheRecord", VictimRecord([] { return BrokenLengthRecord(2000); })),
      like(victimDataLost, "AttributeListNamesItsOwnRecord",
           VictimRecord([] { return ListedVictim({{0x80, 0, kVictim, 0, u""}}); })),
      like(victimDataLost, "AttributeListNamesARecordBeyondTheMFT",
           VictimRecord([] { return ListedVictim({{0x80, 0, 1'000'000'000'000, 0, u""}}); })),
      // Record 27 claims to extend 26 and lists 26 back.
      like(victimDataLost, "AttributeListsLoopBetweenTwoRecords", Volume([](TVolumeImage& AImage) {
             AImage.Records[kVictim] = ListedVictim({{0x80, 0, 27, 0, u""}, {0x80, 1, 27, 0, u""}});
             AImage.Records[27] = TRecordBuilder()
                                      .BaseRecord(kVictim)
                                      .Resident(0x20, handmade::AttributeListContent({{0x80, 0, kVictim, 0, u""}}), 0)
                                      .Build();
           })),
  };
  // Runs that decode to nothing: the file's one cluster has no run.
  for (const auto& [name, runs] : {std::pair{"NegativeFirstRunOffset", TBytes{0x11, 0x01, 0x80, 0x00}},
                                   std::pair{"RunLengthOfTwoToThe63", TBytes{0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 40, 0}}}) {
    TDamageCase noRuns{name, VictimRecord([bytes = runs] { return VictimWithRuns(bytes, kClusterSize); }), nullptr,
                       HealthyFilesAnd(u"victim.bin", TBytes(kClusterSize, 0))};
    noRuns.NoRuns[u"victim.bin"] = {{0, kClusterSize}};
    noRuns.RunWarnings = {"The data runs of MFT record 26 break off at VCN 0: bytes 0 to 4095 have no clusters."};
    cases.push_back(noRuns);
  }

  TDamageCase beyond{"RunBeyondTheVolume",
                     VictimRecord([] { return VictimWithRuns(handmade::EncodeRuns({{1, 1'000'000}}), 100); }),
                     nullptr, HealthyFilesAnd(u"victim.bin", TBytes(100, 0))};
  beyond.Unread[u"victim.bin"] = {{0, 100}};
  cases.push_back(beyond);

  // Past its runs the file reads as zeros, but no further than the volume
  // reaches.
  const std::int64_t volumeSize = HealthyVolume().TotalClusters * kClusterSize;
  TBytes runsThenZeros = Pattern(kClusterSize);
  runsThenZeros.resize(static_cast<std::size_t>(volumeSize), 0);
  TDamageCase hugeSize{"DataSizeOfTwoToThe62", VictimRecord([] {
                         return VictimWithRuns(handmade::EncodeRuns({{1, kDataLCN}}), std::int64_t{1} << 62);
                       }),
                       nullptr, HealthyFilesAnd(u"victim.bin", runsThenZeros)};
  hugeSize.NoRuns[u"victim.bin"] = {{kClusterSize, volumeSize - kClusterSize}};
  hugeSize.RunWarnings = {"The data runs of MFT record 26 break off at VCN 1: bytes 4096 to " +
                          std::to_string((std::int64_t{1} << 62) - 1) + " have no clusters."};
  cases.push_back(hugeSize);

  // A run of 2^30 clusters claims 2^32 records; a 1 MiB image holds 1,024.
  TDamageCase billions{"RecordCountInTheBillionsFromATinyImage", Volume([](TVolumeImage& AImage) {
                         const std::int64_t clusters = std::int64_t{1} << 30;
                         AImage.Records[0] = TRecordBuilder()
                                                 .Resident(0x30, handmade::FileNameContent(5, u"$MFT", 3), 1)
                                                 .NonResident(0x80, handmade::EncodeRuns({{clusters, 4}}), 0,
                                                              clusters - 1, clusters * kClusterSize, 2)
                                                 .Build();
                       }),
                       nullptr, HealthyFilesAnd(u"victim.bin", kText)};
  billions.RecordCount = 1024;
  // The records from 1008 on would lie past the image, after the 16 KiB
  // before the MFT: those it could hold, and the rest the MFT claims.
  billions.UnreadRecords = {{1008, (std::int64_t{1} << 32) - 1}};
  cases.push_back(billions);

  TDamageCase unreadableRecord =
      like(victimNameLost, "UnreadableRecord", Unreadable(static_cast<std::int64_t>(RecordOffset(kVictim)), 1024, false));
  unreadableRecord.UnreadRecords = {{kVictim, kVictim}};
  cases.push_back(unreadableRecord);
  TDamageCase unreadableRecords{"UnreadableRecordsInARow",
                                Unreadable(static_cast<std::int64_t>(RecordOffset(25)), 2 * 1024, false), nullptr,
                                {{u"intact.txt", kText}}};
  unreadableRecords.UnreadRecords = {{25, kVictim}};
  cases.push_back(unreadableRecords);

  // A bad sector in data.bin's second cluster, on a device that fails any
  // read touching it: every other sector is still read, the bad one reads
  // as zeros and is named as unread.
  TBytes partial = Pattern(2 * kClusterSize);
  std::fill(partial.begin() + kClusterSize + 512, partial.begin() + kClusterSize + 1024, 0);
  TDamageCase badSector{"UnreadableDataCluster", Unreadable((kDataLCN + 1) * kClusterSize + 512, 512, true),
                        nullptr, {{u"intact.txt", kText}, {u"data.bin", partial}, {u"victim.bin", kText}}};
  badSector.Unread[u"data.bin"] = {{kClusterSize + 512, 512}};
  cases.push_back(badSector);
  return cases;
}

} // namespace

const std::vector<TDamageCase>& DamageCases() {
  static const std::vector<TDamageCase> cases = MakeCases();
  return cases;
}

} // namespace damaged
