#include "HandMadeRecords.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace handmade {

namespace {

constexpr std::uint16_t UsaOffset = 48;
constexpr std::uint16_t SequenceNumber = 0x5AA5;
constexpr std::uint32_t FixupBlock = 512;

std::size_t Align8(std::size_t AValue) {
  return (AValue + 7) & ~std::size_t{7};
}

int SignificantBytes(std::int64_t AValue, bool ASigned) {
  int n = 1;
  while (n < 8) {
    const std::int64_t low = AValue >> (8 * n - 1);
    if (ASigned ? (low == 0 || low == -1) : (AValue >> (8 * n)) == 0)
      break;
    ++n;
  }
  return n;
}

TBytes AttributeHeader(std::uint32_t ATypeCode, bool ANonResident, std::size_t AHeaderSize,
                       const std::u16string& AName, std::uint16_t AId) {
  TBytes attribute(Align8(AHeaderSize + 2 * AName.size()), 0);
  PutLE(attribute, 0, ATypeCode, 4);
  attribute[8] = ANonResident ? 1 : 0;
  attribute[9] = static_cast<std::uint8_t>(AName.size());
  PutLE(attribute, 10, AHeaderSize, 2);
  PutLE(attribute, 14, AId, 2);
  const TBytes name = Utf16Bytes(AName);
  std::copy(name.begin(), name.end(), attribute.begin() + static_cast<std::ptrdiff_t>(AHeaderSize));
  return attribute;
}

} // namespace

void PutLE(TBytes& ABytes, std::size_t AOffset, std::uint64_t AValue, std::size_t ASize) {
  if (AOffset > ABytes.size() || ASize > ABytes.size() - AOffset)
    throw std::out_of_range("hand-made bytes: field outside the structure");
  for (std::size_t i = 0; i < ASize; ++i)
    ABytes[AOffset + i] = static_cast<std::uint8_t>(AValue >> (8 * i));
}

void AppendLE(TBytes& ABytes, std::uint64_t AValue, std::size_t ASize) {
  for (std::size_t i = 0; i < ASize; ++i)
    ABytes.push_back(static_cast<std::uint8_t>(AValue >> (8 * i)));
}

TBytes Utf16Bytes(const std::u16string& AText) {
  TBytes bytes;
  for (char16_t c : AText) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  return bytes;
}

TBytes EncodeRuns(const std::vector<TRun>& ARuns) {
  TBytes bytes;
  std::int64_t previous = 0;
  for (const TRun& run : ARuns) {
    const int lengthSize = SignificantBytes(run.Length, false);
    const int offsetSize = run.LCN ? SignificantBytes(*run.LCN - previous, true) : 0;
    bytes.push_back(static_cast<std::uint8_t>(lengthSize | (offsetSize << 4)));
    AppendLE(bytes, static_cast<std::uint64_t>(run.Length), static_cast<std::size_t>(lengthSize));
    if (run.LCN) {
      AppendLE(bytes, static_cast<std::uint64_t>(*run.LCN - previous), static_cast<std::size_t>(offsetSize));
      previous = *run.LCN;
    }
  }
  bytes.push_back(0);
  return bytes;
}

TBytes FileNameContent(std::int64_t AParentRef, const std::u16string& AName, std::uint8_t ANameType,
                       std::int64_t ADataSize) {
  TBytes content(66, 0);
  PutLE(content, 0, static_cast<std::uint64_t>(AParentRef), 8);
  PutLE(content, 48, static_cast<std::uint64_t>(ADataSize), 8);
  content[64] = static_cast<std::uint8_t>(AName.size());
  content[65] = ANameType;
  const TBytes name = Utf16Bytes(AName);
  content.insert(content.end(), name.begin(), name.end());
  return content;
}

TBytes StandardInformationContent(std::int64_t ACreationTime, std::uint32_t AFileAttributes) {
  TBytes content(72, 0);
  for (std::size_t i = 0; i < 4; ++i)
    PutLE(content, 8 * i, static_cast<std::uint64_t>(ACreationTime + static_cast<std::int64_t>(i)), 8);
  PutLE(content, 32, AFileAttributes, 4);
  return content;
}

TBytes AttributeListContent(const std::vector<TListEntry>& AEntries) {
  TBytes content;
  for (const TListEntry& entry : AEntries) {
    TBytes bytes(Align8(26 + 2 * entry.Name.size()), 0);
    PutLE(bytes, 0, entry.TypeCode, 4);
    PutLE(bytes, 4, bytes.size(), 2);
    bytes[6] = static_cast<std::uint8_t>(entry.Name.size());
    bytes[7] = 26;
    PutLE(bytes, 8, static_cast<std::uint64_t>(entry.StartVCN), 8);
    PutLE(bytes, 16, static_cast<std::uint64_t>(entry.Record), 8);
    PutLE(bytes, 24, entry.AttributeId, 2);
    const TBytes name = Utf16Bytes(entry.Name);
    std::copy(name.begin(), name.end(), bytes.begin() + 26);
    content.insert(content.end(), bytes.begin(), bytes.end());
  }
  return content;
}

TRecordBuilder::TRecordBuilder(std::uint32_t ARecordSize) : FSize(ARecordSize) {}

TRecordBuilder& TRecordBuilder::InUse(bool AInUse) {
  FFlags = static_cast<std::uint16_t>(AInUse ? FFlags | 1 : FFlags & ~1);
  return *this;
}

TRecordBuilder& TRecordBuilder::Directory() {
  FFlags |= 2;
  return *this;
}

TRecordBuilder& TRecordBuilder::BaseRecord(std::int64_t ABaseRef) {
  FBase = ABaseRef;
  return *this;
}

TRecordBuilder& TRecordBuilder::Resident(std::uint32_t ATypeCode, const TBytes& AContent, std::uint16_t AId,
                                         const std::u16string& AName) {
  TBytes attribute = AttributeHeader(ATypeCode, false, 24, AName, AId);
  PutLE(attribute, 16, AContent.size(), 4);
  PutLE(attribute, 20, attribute.size(), 2);
  attribute.insert(attribute.end(), AContent.begin(), AContent.end());
  attribute.resize(Align8(attribute.size()), 0);
  PutLE(attribute, 4, attribute.size(), 4);
  return Raw(attribute);
}

TRecordBuilder& TRecordBuilder::NonResident(std::uint32_t ATypeCode, const TBytes& ARuns, std::int64_t ALowVCN,
                                            std::int64_t AHighVCN, std::int64_t ADataSize, std::uint16_t AId,
                                            const std::u16string& AName, std::uint16_t AFlags,
                                            std::uint16_t ACompressionUnitSize) {
  TBytes attribute = AttributeHeader(ATypeCode, true, 64, AName, AId);
  PutLE(attribute, 12, AFlags, 2);
  PutLE(attribute, 16, static_cast<std::uint64_t>(ALowVCN), 8);
  PutLE(attribute, 24, static_cast<std::uint64_t>(AHighVCN), 8);
  PutLE(attribute, 32, attribute.size(), 2);
  PutLE(attribute, 34, ACompressionUnitSize, 2);
  PutLE(attribute, 40, static_cast<std::uint64_t>((ADataSize + 4095) / 4096 * 4096), 8);
  PutLE(attribute, 48, static_cast<std::uint64_t>(ADataSize), 8);
  PutLE(attribute, 56, static_cast<std::uint64_t>(ADataSize), 8);
  attribute.insert(attribute.end(), ARuns.begin(), ARuns.end());
  attribute.resize(Align8(attribute.size()), 0);
  PutLE(attribute, 4, attribute.size(), 4);
  return Raw(attribute);
}

TRecordBuilder& TRecordBuilder::Raw(const TBytes& AAttribute) {
  FAttributes.insert(FAttributes.end(), AAttribute.begin(), AAttribute.end());
  return *this;
}

TRecordBuilder& TRecordBuilder::NoEndMarker() {
  FEndMarker = false;
  return *this;
}

TBytes TRecordBuilder::BuildUnprotected() const {
  const std::uint16_t usaCount = static_cast<std::uint16_t>(FSize / FixupBlock + 1);
  const std::size_t attributesOffset = Align8(UsaOffset + 2u * usaCount);
  TBytes record(FSize, 0);
  PutLE(record, 0, 0x454C4946, 4); // "FILE"
  PutLE(record, 4, UsaOffset, 2);
  PutLE(record, 6, usaCount, 2);
  PutLE(record, 16, 1, 2);
  PutLE(record, 20, attributesOffset, 2);
  PutLE(record, 22, FFlags, 2);
  PutLE(record, 28, FSize, 4);
  PutLE(record, 32, static_cast<std::uint64_t>(FBase), 8);
  TBytes body = FAttributes;
  if (FEndMarker)
    AppendLE(body, 0xFFFFFFFF, 8);
  if (attributesOffset + body.size() > FSize)
    throw std::length_error("hand-made record: attributes do not fit");
  std::copy(body.begin(), body.end(), record.begin() + static_cast<std::ptrdiff_t>(attributesOffset));
  PutLE(record, 24, attributesOffset + body.size(), 4);
  PutLE(record, UsaOffset, SequenceNumber, 2);
  return record;
}

TBytes TRecordBuilder::Build() const {
  TBytes record = BuildUnprotected();
  for (std::uint32_t i = 1; i <= FSize / FixupBlock; ++i) {
    const std::size_t sectorEnd = i * FixupBlock - 2;
    record[UsaOffset + 2 * i] = record[sectorEnd];
    record[UsaOffset + 2 * i + 1] = record[sectorEnd + 1];
    PutLE(record, sectorEnd, SequenceNumber, 2);
  }
  return record;
}

TBytes TVolumeImage::MFTRecordZero() const {
  std::vector<TRun> runs;
  std::int64_t clusters = 0;
  for (const auto& [lcn, count] : MFTExtents) {
    runs.push_back({count, lcn});
    clusters += count;
  }
  return TRecordBuilder(RecordSize)
      .Resident(0x10, StandardInformationContent(1, 0x06), 0)
      .Resident(0x30, FileNameContent(5 | (std::int64_t{5} << 48), u"$MFT", 3), 3)
      .NonResident(0x80, EncodeRuns(runs), 0, clusters - 1, clusters * ClusterSize, 1)
      .Build();
}

TBytes TVolumeImage::Bytes() const {
  TBytes image(static_cast<std::size_t>(TotalClusters) * ClusterSize, 0);
  image[0] = 0xEB;
  std::copy_n("NTFS    ", 8, image.begin() + 3);
  PutLE(image, 0x0B, SectorSize, 2);
  image[0x0D] = SectorsPerClusterByte;
  PutLE(image, 0x28, static_cast<std::uint64_t>(TotalClusters) * (SectorSize ? ClusterSize / SectorSize : 1) - 1, 8);
  PutLE(image, 0x30, static_cast<std::uint64_t>(MFTExtents.front().first), 8);
  PutLE(image, 0x40, ClustersPerRecordField, 4);
  image[510] = 0x55;
  image[511] = 0xAA;

  auto place = [&](std::int64_t ANumber, const TBytes& ARecord) {
    std::int64_t byte = ANumber * RecordSize;
    for (const auto& [lcn, count] : MFTExtents) {
      if (byte < count * ClusterSize) {
        std::copy(ARecord.begin(), ARecord.end(), image.begin() + lcn * ClusterSize + byte);
        return;
      }
      byte -= count * ClusterSize;
    }
    throw std::out_of_range("hand-made volume: record outside the MFT");
  };
  for (const auto& [lcn, bytes] : Clusters)
    std::copy(bytes.begin(), bytes.end(), image.begin() + lcn * ClusterSize);
  place(0, Records.count(0) ? Records.at(0) : MFTRecordZero());
  for (const auto& [number, record] : Records)
    if (number != 0)
      place(number, record);
  return image;
}

void TVolumeImage::WriteTo(const std::string& APath) const {
  const TBytes image = Bytes();
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
  if (!out)
    throw std::runtime_error("hand-made volume: cannot write " + APath);
}

TTempFile::TTempFile(const std::string& AStem) {
  static std::atomic<int> counter{0};
  const char* dir = std::getenv("TMPDIR");
  FPath = std::string(dir ? dir : "/tmp") + "/" + AStem + "-" + std::to_string(::getpid()) + "-" +
          std::to_string(counter++) + ".img";
}

TTempFile::~TTempFile() {
  std::remove(FPath.c_str());
}

std::u16string TTempFile::Name() const {
  return std::u16string(FPath.begin(), FPath.end());
}

} // namespace handmade
