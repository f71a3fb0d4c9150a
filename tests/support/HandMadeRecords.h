#pragma once

// Builders of MFT records and small volume images byte by byte, for the
// cases a real volume cannot be forced into: extents with chosen ids and
// VCNs, broken attribute lengths, run lists without their terminating 0.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace handmade {

using TBytes = std::vector<std::uint8_t>;

void PutLE(TBytes& ABytes, std::size_t AOffset, std::uint64_t AValue, std::size_t ASize);
void AppendLE(TBytes& ABytes, std::uint64_t AValue, std::size_t ASize);
TBytes Utf16Bytes(const std::u16string& AText);

// One data run: ALength clusters at ALCN, or sparse without one.
struct TRun {
  std::int64_t Length;
  std::optional<std::int64_t> LCN;
};
// Encodes runs as NTFS writes them: offsets relative to the last run with
// clusters, the smallest field sizes, a terminating 0.
TBytes EncodeRuns(const std::vector<TRun>& ARuns);

TBytes FileNameContent(std::int64_t AParentRef, const std::u16string& AName, std::uint8_t ANameType,
                       std::int64_t ADataSize = 0);
TBytes StandardInformationContent(std::int64_t ACreationTime, std::uint32_t AFileAttributes);

struct TListEntry {
  std::uint32_t TypeCode;
  std::int64_t StartVCN;
  std::int64_t Record;
  std::uint16_t AttributeId;
  std::u16string Name;
};
TBytes AttributeListContent(const std::vector<TListEntry>& AEntries);

// One MFT record, laid out the way Windows lays it out (header, update
// sequence array at 48, attributes from 56 on, end marker) and protected
// with update sequence words every 512 bytes.
class TRecordBuilder {
public:
  explicit TRecordBuilder(std::uint32_t ARecordSize = 1024);

  TRecordBuilder& InUse(bool AInUse);
  TRecordBuilder& Directory();
  TRecordBuilder& BaseRecord(std::int64_t ABaseRef);
  TRecordBuilder& Resident(std::uint32_t ATypeCode, const TBytes& AContent, std::uint16_t AId,
                           const std::u16string& AName = u"");
  // AFlags and ACompressionUnitSize go to the header as they are.
  TRecordBuilder& NonResident(std::uint32_t ATypeCode, const TBytes& ARuns, std::int64_t ALowVCN,
                              std::int64_t AHighVCN, std::int64_t ADataSize, std::uint16_t AId,
                              const std::u16string& AName = u"", std::uint16_t AFlags = 0,
                              std::uint16_t ACompressionUnitSize = 0);
  // Attribute bytes exactly as given, for malformed cases.
  TRecordBuilder& Raw(const TBytes& AAttribute);
  // Leaves out the end marker, so that the attributes run to the record's end.
  TRecordBuilder& NoEndMarker();

  // The record as it lies on disk (sector ends replaced by the sequence number).
  TBytes Build() const;
  // The record as it reads after a fix-up.
  TBytes BuildUnprotected() const;

private:
  std::uint32_t FSize;
  std::uint16_t FFlags = 0x0001;
  std::int64_t FBase = 0;
  bool FEndMarker = true;
  TBytes FAttributes;
};

// A volume image: boot sector, MFT records at their places and cluster
// contents. The MFT's own record 0 is made from MFTExtents unless given.
struct TVolumeImage {
  std::uint16_t SectorSize = 512;
  std::uint8_t SectorsPerClusterByte = 8;
  std::uint32_t ClustersPerRecordField = 0xF6;
  std::uint32_t RecordSize = 1024;
  std::uint32_t ClusterSize = 4096;
  std::int64_t TotalClusters = 256;
  // The MFT's extents: (first LCN, clusters); the first one's LCN goes to
  // the boot sector.
  std::vector<std::pair<std::int64_t, std::int64_t>> MFTExtents = {{4, 16}};
  std::map<std::int64_t, TBytes> Records;
  std::map<std::int64_t, TBytes> Clusters;

  TBytes MFTRecordZero() const;
  // The whole image, TotalClusters clusters long.
  TBytes Bytes() const;
  void WriteTo(const std::string& APath) const;
};

// A scratch file removed again at the end of the test.
class TTempFile {
public:
  explicit TTempFile(const std::string& AStem);
  ~TTempFile();
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  const std::string& Path() const { return FPath; }
  std::u16string Name() const;

private:
  std::string FPath;
};

} // namespace handmade
