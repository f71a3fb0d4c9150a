#pragma once

#include "foundation/uStreamEx.h"
#include "ntfs/uMFTRunList.h"
#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace AttributeType {
constexpr ATTRIBUTE_TYPE_CODE Any = 0x00;
constexpr ATTRIBUTE_TYPE_CODE StandardInformation = 0x10;
constexpr ATTRIBUTE_TYPE_CODE AttributeList = 0x20;
constexpr ATTRIBUTE_TYPE_CODE FileName = 0x30;
constexpr ATTRIBUTE_TYPE_CODE Data = 0x80;
constexpr ATTRIBUTE_TYPE_CODE IndexRoot = 0x90;
constexpr ATTRIBUTE_TYPE_CODE IndexAllocation = 0xA0;
constexpr ATTRIBUTE_TYPE_CODE End = 0xFFFFFFFF;
} // namespace AttributeType

// Attribute header fields, from the start of the attribute.
namespace AttributeField {
constexpr std::size_t TypeCode = 0;
constexpr std::size_t Length = 4;
constexpr std::size_t NonResident = 8;
constexpr std::size_t NameLength = 9;
constexpr std::size_t NameOffset = 10;
constexpr std::size_t Flags = 12;
constexpr std::size_t AttributeId = 14;
constexpr std::size_t CommonHeaderSize = 16;
// resident form
constexpr std::size_t ContentLength = 16;
constexpr std::size_t ContentOffset = 20;
constexpr std::size_t ResidentHeaderSize = 24;
// non-resident form
constexpr std::size_t LowVCN = 16;
constexpr std::size_t HighVCN = 24;
constexpr std::size_t RunListOffset = 32;
constexpr std::size_t CompressionUnitSize = 34;
constexpr std::size_t AllocatedSize = 40;
constexpr std::size_t DataSize = 48;
constexpr std::size_t InitializedSize = 56;
// Compressed attributes add their compressed size after it; nothing here
// reads that.
constexpr std::size_t NonResidentHeaderSize = 64;
} // namespace AttributeField

// Attribute header flags.
namespace AttributeFlag {
// The low byte names the compression method; LZNT1 is the only one NTFS has.
constexpr ATTR_FLAGS CompressionMask = 0x00FF;
constexpr ATTR_FLAGS CompressedLZNT1 = 0x0001;
constexpr ATTR_FLAGS Encrypted = 0x4000;
constexpr ATTR_FLAGS Sparse = 0x8000;
} // namespace AttributeFlag

// One attribute inside a record block, limited to its own Length: a field
// the attribute does not hold reads as 0. A default-constructed one is nil.
class PMFTAttributeRecord {
public:
  PMFTAttributeRecord() = default;
  explicit PMFTAttributeRecord(TByteView ABytes) : FBytes(ABytes) {}

  explicit operator bool() const { return FBytes.Data() != nullptr; }
  bool operator==(const PMFTAttributeRecord& AOther) const {
    return FBytes.Data() == AOther.FBytes.Data();
  }
  TByteView Bytes() const { return FBytes; }

  ATTRIBUTE_TYPE_CODE TypeCode() const { return Field<std::uint32_t>(AttributeField::TypeCode); }
  std::uint32_t Length() const { return Field<std::uint32_t>(AttributeField::Length); }
  std::uint8_t NonResident() const { return Field<std::uint8_t>(AttributeField::NonResident); }
  ATTR_FLAGS Flags() const { return Field<ATTR_FLAGS>(AttributeField::Flags); }
  std::uint16_t AttributeId() const { return Field<std::uint16_t>(AttributeField::AttributeId); }
  // The attribute's name (UTF-16LE bytes), empty when it has none.
  TByteView Name() const;

  std::uint32_t ContentLength() const { return Field<std::uint32_t>(AttributeField::ContentLength); }
  std::uint16_t ContentOffset() const { return Field<std::uint16_t>(AttributeField::ContentOffset); }

  NTFS_VCN LowVCN() const { return Field<std::int64_t>(AttributeField::LowVCN); }
  NTFS_VCN HighVCN() const { return Field<std::int64_t>(AttributeField::HighVCN); }
  std::uint16_t RunListOffset() const { return Field<std::uint16_t>(AttributeField::RunListOffset); }
  // Clusters per compression unit as a power of two (4: 16 clusters).
  std::uint16_t CompressionUnitSize() const { return Field<std::uint16_t>(AttributeField::CompressionUnitSize); }
  std::int64_t AllocatedSize() const { return Field<std::int64_t>(AttributeField::AllocatedSize); }
  std::int64_t DataSize() const { return Field<std::int64_t>(AttributeField::DataSize); }
  // How far the file has written its data; what lies past it reads as zeros.
  std::int64_t InitializedSize() const { return Field<std::int64_t>(AttributeField::InitializedSize); }

private:
  template <typename T>
  T Field(std::size_t AOffset) const { return FBytes.Get<T>(AOffset); }

  TByteView FBytes;
};

// Attribute list entry fields.
namespace AttributeListField {
constexpr std::size_t TypeCode = 0;
constexpr std::size_t Length = 4;
constexpr std::size_t NameLength = 6;
constexpr std::size_t NameOffset = 7;
constexpr std::size_t StartVCN = 8;
constexpr std::size_t BaseMFTRecord = 16;
constexpr std::size_t AttributeId = 24;
constexpr std::size_t HeaderSize = 26;
} // namespace AttributeListField

// One entry of an attribute list, limited to its own Length.
class PMFTAttributeListEntry {
public:
  PMFTAttributeListEntry() = default;
  explicit PMFTAttributeListEntry(TByteView ABytes) : FBytes(ABytes) {}

  explicit operator bool() const { return FBytes.Data() != nullptr; }
  TByteView Bytes() const { return FBytes; }

  ATTRIBUTE_TYPE_CODE TypeCode() const { return FBytes.Get<std::uint32_t>(AttributeListField::TypeCode); }
  std::uint16_t Length() const { return FBytes.Get<std::uint16_t>(AttributeListField::Length); }
  NTFS_VCN StartVCN() const { return FBytes.Get<std::int64_t>(AttributeListField::StartVCN); }
  MFT_REF BaseMFTRecord() const {
    return MFT_REF::Build(FBytes.Get<std::int64_t>(AttributeListField::BaseMFTRecord));
  }
  std::uint16_t AttributeId() const { return FBytes.Get<std::uint16_t>(AttributeListField::AttributeId); }
  TByteView Name() const;

private:
  TByteView FBytes;
};

// $STANDARD_INFORMATION content fields: the times every writer keeps, then
// the attribute bits. Windows 2000 and later append owner, security and
// quota fields, which nothing here reads.
namespace StandardInformationField {
constexpr std::size_t CreationTime = 0;
constexpr std::size_t ModificationTime = 8; // the data last written
constexpr std::size_t RecordChangeTime = 16; // the record last changed
constexpr std::size_t AccessTime = 24;
constexpr std::size_t FileAttributes = 32;
constexpr std::size_t SummarySize = 36;
} // namespace StandardInformationField

// The content of one $STANDARD_INFORMATION attribute, limited to the attribute.
class PMFTStandardInformation {
public:
  PMFTStandardInformation() = default;
  explicit PMFTStandardInformation(TByteView ABytes) : FBytes(ABytes) {}

  // Whether the content holds the times and the attribute bits.
  bool HoldsSummary() const { return FBytes.Contains(0, StandardInformationField::SummarySize); }
  std::int64_t CreationTime() const { return FBytes.Get<std::int64_t>(StandardInformationField::CreationTime); }
  std::int64_t ModificationTime() const {
    return FBytes.Get<std::int64_t>(StandardInformationField::ModificationTime);
  }
  std::int64_t RecordChangeTime() const {
    return FBytes.Get<std::int64_t>(StandardInformationField::RecordChangeTime);
  }
  std::int64_t AccessTime() const { return FBytes.Get<std::int64_t>(StandardInformationField::AccessTime); }
  std::uint32_t FileAttributes() const { return FBytes.Get<std::uint32_t>(StandardInformationField::FileAttributes); }

private:
  TByteView FBytes;
};

// $FILE_NAME content fields.
namespace FileNameField {
constexpr std::size_t DirectoryFileReferenceNumber = 0;
constexpr std::size_t CreationTime = 8;
constexpr std::size_t ChangeTime = 16;
constexpr std::size_t LastWriteTime = 24;
constexpr std::size_t LastAccessTime = 32;
constexpr std::size_t AllocatedSize = 40;
constexpr std::size_t DataSize = 48;
constexpr std::size_t FileAttributes = 56;
constexpr std::size_t NameLength = 64;
constexpr std::size_t NameType = 65;
constexpr std::size_t Name = 66;
} // namespace FileNameField

// Name types, tested as bits.
constexpr std::uint8_t FILE_NAME_POSIX = 0;
constexpr std::uint8_t FILE_NAME_WIN32 = 1;
constexpr std::uint8_t FILE_NAME_DOS = 2;

// The content of one $FILE_NAME attribute, limited to the attribute.
class PMFTFilenameAttribute {
public:
  PMFTFilenameAttribute() = default;
  explicit PMFTFilenameAttribute(TByteView ABytes) : FBytes(ABytes) {}

  explicit operator bool() const { return FBytes.Data() != nullptr; }
  TByteView Bytes() const { return FBytes; }

  MFT_REF DirectoryFileReferenceNumber() const {
    return MFT_REF::Build(FBytes.Get<std::int64_t>(FileNameField::DirectoryFileReferenceNumber));
  }
  std::int64_t CreationTime() const { return FBytes.Get<std::int64_t>(FileNameField::CreationTime); }
  std::int64_t ChangeTime() const { return FBytes.Get<std::int64_t>(FileNameField::ChangeTime); }
  std::int64_t LastWriteTime() const { return FBytes.Get<std::int64_t>(FileNameField::LastWriteTime); }
  std::int64_t LastAccessTime() const { return FBytes.Get<std::int64_t>(FileNameField::LastAccessTime); }
  std::int64_t AllocatedSize() const { return FBytes.Get<std::int64_t>(FileNameField::AllocatedSize); }
  std::int64_t DataSize() const { return FBytes.Get<std::int64_t>(FileNameField::DataSize); }
  std::uint32_t FileAttributes() const { return FBytes.Get<std::uint32_t>(FileNameField::FileAttributes); }
  std::uint8_t NameLength() const { return FBytes.Get<std::uint8_t>(FileNameField::NameLength); }
  std::uint8_t NameType() const { return FBytes.Get<std::uint8_t>(FileNameField::NameType); }

private:
  TByteView FBytes;
};

// An attribute of a record block whose form does not hold together.
struct TAttributeDamage {
  std::size_t Offset = 0; // from the start of the record
  ATTRIBUTE_TYPE_CODE TypeCode = 0;
  const char* Problem = nullptr; // what is wrong, as a sentence part
};

// A $FILE_NAME found in a freed extension record: a copy of its content,
// and the record it came from.
struct TFormerFileName {
  std::vector<std::uint8_t> Content;
  std::int64_t Record = 0;
};

enum TAttributeSearchMode { asmInternal, asmAttributeList };

// The state of one attribute search, owned by the caller.
struct TAttributeSearchRec {
  PNTFSNode Node = nullptr; // nil when a lone record block is searched
  TByteView Record;         // the block the internal walk goes over
  ATTRIBUTE_TYPE_CODE TypeCode = 0;
  std::uint16_t AttributeId = 0;
  PMFTAttributeRecord AttributeRecord;
  PMFTAttributeListEntry AttributeListEntry;
  PNTFSNode ExternalNode = nullptr;
  TAttributeSearchMode SearchMode = asmInternal;
  bool Prepared = false;
};

class NTFSAttribute {
public:
  NTFSAttribute() = delete;

  // Search by type and id: first in the node's own record, then through its
  // attribute list. Call InitSearch, FindFirst, FindNext while it returns
  // True, and CloseSearch (TAttributeSearch does the first and last).
  static void InitSearch(PNTFSNode ANode, TAttributeSearchRec& ASearchRec);
  // A search over the attributes of one record block alone, for a record
  // without an attribute list: it finds what the node's search would, and
  // builds run lists, without loading a node.
  static void InitRecordSearch(TByteView ARecord, TAttributeSearchRec& ASearchRec);
  // Whether the record block holds an $ATTRIBUTE_LIST.
  static bool HasAttributeList(TByteView ARecord);
  static bool FindFirst(ATTRIBUTE_TYPE_CODE ATypeCode, std::uint16_t AAttributeId,
                        TAttributeSearchRec& ASearchRec);
  static bool FindNext(TAttributeSearchRec& ASearchRec);
  static void CloseSearch(TAttributeSearchRec& ASearchRec);

  // One step of the walk over the attributes of one record block: the
  // first match (AFindFirst) or the next one after AAttrRecord. Type 0 and
  // id 0 match anything. A malformed sequence ends the walk: not found.
  static bool FindInternal(bool AFindFirst, TByteView ARecord, ATTRIBUTE_TYPE_CODE ATypeCode,
                           std::uint16_t AAttributeId, PMFTAttributeRecord& AAttrRecord);
  // What is wrong with an attribute's form, or nil when it is sound: the
  // header of its form fits in it, its name and its resident content or run
  // list lie inside it, and a $FILE_NAME is resident and holds its fixed
  // part and its name. Searches pass over an attribute that is not sound.
  static const char* FormProblem(const PMFTAttributeRecord& AAttributeRecord);
  // The attributes of the record block that searches pass over for their form.
  static std::vector<TAttributeDamage> DamagedAttributes(TByteView ARecord);
  // The name a deleted base record kept in an extension record that was
  // freed with it, when that record still holds it (see the unit); nothing
  // otherwise. The first long name wins, else the last name found.
  static std::optional<TFormerFileName> FormerFileName(PNTFSNode ABase);
  // Whether the record block is an extension record freed while it held
  // part of base record ABase in use with sequence number ABaseSequence:
  // its base reference carries the number ABase had then, which freeing
  // ABase raised.
  static bool IsFreedExtension(const PMFTRecord& AHeader, std::int64_t ABase, std::uint16_t ABaseSequence);
  // The runs of each extent of a non-resident attribute (ATypeCode, AName)
  // that the record block holds and that passes every check of a sound
  // extent: its form, a LowVCN not below 0 and a HighVCN not below it, a run
  // list that decodes to exactly the VCNs from the one to the other, clusters
  // inside a volume of AClusterCount clusters. Each extent's runs start at
  // its LowVCN. Made for freed extension records: ntfs-3g frees a deleted
  // file's extension records with their extents intact, but its attribute
  // list no longer names them all.
  static std::vector<std::vector<RunListElement>> FormerExtents(TByteView ARecord, ATTRIBUTE_TYPE_CODE ATypeCode,
                                                                TByteView AName, std::int64_t AClusterCount);
  // One step of the walk over the node's attribute list, loading the list
  // and the extension records as needed.
  static bool FindInAttributeList(bool AFindFirst, TAttributeSearchRec& ASearchRec);

  static bool IsResident(const PMFTAttributeRecord& AAttributeRecord) { return AAttributeRecord.NonResident() == 0; }
  // Whether the data is stored compressed (by any method) or EFS-encrypted.
  // Encrypted data cannot be read without the owner's keys: its stream
  // hands out the encrypted bytes as they lie on disk.
  static bool IsCompressed(const PMFTAttributeRecord& AAttributeRecord);
  static bool IsEncrypted(const PMFTAttributeRecord& AAttributeRecord);
  // The resident content, limited to the attribute's own bytes.
  static TByteView GetResidentData(const PMFTAttributeRecord& AAttributeRecord) {
    return AAttributeRecord.Bytes().Sub(AAttributeRecord.ContentOffset(), AAttributeRecord.ContentLength());
  }
  // ContentLength when resident, DataSize otherwise.
  static std::int64_t GetAttributeDataSize(const PMFTAttributeRecord& AAttributeRecord);
  static std::int64_t GetDataSize(const TAttributeSearchRec& ASearchRec);
  // The first $FILE_NAME whose name type shares a bit with ANameType, else
  // the last one in the record; nil when there is none.
  static PMFTFilenameAttribute GetFileNameAttribute(const void* AMFTRecord, std::uint32_t AMFTRecordSize,
                                                    std::uint8_t ANameType);

  // Run lists and data of the current match.
  static void RunListAddNonResidentPart(const PMFTAttributeRecord& AAttributeRecord,
                                        const IMFTRunListPtr& ARunList);
  // The match's runs followed by those of its further extents, found in the
  // attribute list by type, name and the VCN at which the previous one ended.
  static void RunListAddPartsFromAttributeList(const TAttributeSearchRec& ASearchRec,
                                               const IMFTRunListPtr& ARunList);
  // The runs of the current match and its further extents; nothing when resident.
  static void RunListBuild(const TAttributeSearchRec& ASearchRec, const IMFTRunListPtr& ARunList);
  // The match's data (a search with a node only): a copy of resident content, a stream that expands
  // the compression units of compressed data, or a run-list stream over the
  // clusters as they are (encrypted data among them). Throws
  // CompressedDataException for a compression method other than LZNT1 or a
  // compression unit no writer makes. ARuns, when given, are the match's
  // runs with its further extents, as the caller found them; else they are
  // built from the record and its attribute list.
  static IStreamExPtr GetDataStream(const TAttributeSearchRec& ASearchRec, IMFTRunListPtr ARuns = nullptr);
  // The name of the match's attribute, as UTF-16 code units; empty for the
  // unnamed data stream.
  static std::u16string AttributeName(const PMFTAttributeRecord& AAttributeRecord);
  // Whether the match is the first extent of a named data stream: a stream
  // with further extents shows up once per extent.
  static bool IsNamedStreamStart(const PMFTAttributeRecord& AAttributeRecord);
  // Reads the first ASize bytes of the match's data into ADest.
  static void ReadData(const TAttributeSearchRec& ASearchRec, std::int64_t ASize, void* ADest);
};

// Keeps one attribute search open on a node for the guard's life.
class TAttributeSearch {
public:
  explicit TAttributeSearch(PNTFSNode ANode) { NTFSAttribute::InitSearch(ANode, FRec); }
  // A search over the record ARecord already holds for AMFTNumber, as the
  // record pass has it at hand: a record without an attribute list is
  // walked in place, one with a list through its node, which the search
  // holds for its life.
  TAttributeSearch(PNTFSVolume AVolume, MFT_REF AMFTNumber, TByteView ARecord);
  ~TAttributeSearch();
  TAttributeSearch(const TAttributeSearch&) = delete;
  TAttributeSearch& operator=(const TAttributeSearch&) = delete;

  TAttributeSearchRec& Rec() { return FRec; }
  bool FindFirst(ATTRIBUTE_TYPE_CODE ATypeCode, std::uint16_t AAttributeId = 0) {
    return NTFSAttribute::FindFirst(ATypeCode, AAttributeId, FRec);
  }
  bool FindNext() { return NTFSAttribute::FindNext(FRec); }

private:
  TAttributeSearchRec FRec;
  PNTFSNode FHeldNode = nullptr;
};
