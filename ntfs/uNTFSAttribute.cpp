#include "ntfs/uNTFSAttribute.h"

#include "ntfs/uCompressedStream.h"
#include "ntfs/uFSError.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// Far above any attribute list Windows writes (a few hundred KiB at most);
// keeps a crafted size from asking for gigabytes.
constexpr std::int64_t MaxAttributeListSize = 16 * 1024 * 1024;

void CheckPrepared(const TAttributeSearchRec& ASearchRec) {
  if (!ASearchRec.Prepared)
    throw std::runtime_error("Attribute search must be initialized first.");
}

TByteView RecordOf(PNTFSNode ANode) {
  return ANode->MFTRecordHeader.Bytes();
}

TByteView AttributeListBlock(PNTFSNode ANode) {
  return TByteView(ANode->AttributeList.Ptr, static_cast<std::size_t>(ANode->AttributeList.Size));
}

// The list entry at AOffset of ABlock, or nil when its header or its whole
// Length does not fit in the block.
PMFTAttributeListEntry EntryAt(TByteView ABlock, std::size_t AOffset) {
  if (!ABlock.Contains(AOffset, AttributeListField::HeaderSize))
    return {};
  const std::uint16_t length = ABlock.Get<std::uint16_t>(AOffset + AttributeListField::Length);
  if (length < AttributeListField::HeaderSize || !ABlock.Contains(AOffset, length))
    return {};
  return PMFTAttributeListEntry(ABlock.Sub(AOffset, length));
}

// The entry after AEntry in ABlock, or nil.
PMFTAttributeListEntry EntryAfter(TByteView ABlock, const PMFTAttributeListEntry& AEntry) {
  const auto offset = ABlock.OffsetOf(AEntry.Bytes());
  return offset ? EntryAt(ABlock, *offset + AEntry.Length()) : PMFTAttributeListEntry{};
}

void LoadNonResidentAttributeList(PNTFSNode ANode, const PMFTAttributeRecord& AList) {
  const PNTFSVolume volume = ANode->Volume;
  const IMFTRunListPtr runs = MFTRunList::New();
  NTFSAttribute::RunListAddNonResidentPart(AList, runs);
  const std::int64_t mapped =
      CheckedMul<std::int64_t>(runs->VCNCount(), volume->ClusterSize).value_or(MaxAttributeListSize);
  const std::int64_t size =
      std::clamp<std::int64_t>(std::min(AList.DataSize(), mapped), 0, MaxAttributeListSize);
  std::uint8_t* block = NTFSNodeAllocAttributeList(ANode, static_cast<std::int32_t>(size));
  TMFTRunListStream stream(volume->Device, volume->ClusterSize, runs, AList.DataSize());
  stream.Read(0, size, block);
}

// The node's attribute list, loaded from its record on first use; empty
// when the record has none.
TByteView AttributeListOf(PNTFSNode ANode) {
  if (ANode->AttributeList.Ptr != nullptr)
    return AttributeListBlock(ANode);
  PMFTAttributeRecord list;
  if (!NTFSAttribute::FindInternal(true, RecordOf(ANode), AttributeType::AttributeList, 0, list))
    return {};
  if (NTFSAttribute::IsResident(list)) {
    const TByteView content = NTFSAttribute::GetResidentData(list);
    std::uint8_t* block = NTFSNodeAllocAttributeList(ANode, static_cast<std::int32_t>(content.Size()));
    if (!content.Empty())
      std::memcpy(block, content.Data(), content.Size());
  } else {
    LoadNonResidentAttributeList(ANode, list);
  }
  return AttributeListBlock(ANode);
}

// Whether ARecord is an extension record of the file ABase holds, and not
// of another file that had or has ABase's record: its base reference
// carries the sequence number ABase has while in use, or the one ABase had
// before freeing raised it. A reference without a sequence number (0)
// names the record alone.
bool IsExtensionOf(PNTFSNode ARecord, PNTFSNode ABase) {
  const PMFTRecord& header = ARecord->MFTRecordHeader;
  const PMFTRecord& base = ABase->MFTRecordHeader;
  const MFT_REF named = header.BaseMFTRecord();
  if (!header.IsFileRecord() || named.Address() != ABase->MFTNumber.Address())
    return false;
  const bool baseInUse = (base.Flags() & MFT_RECORD_IN_USE) != 0;
  return named.Number() == 0 ||
         (baseInUse ? named.Number() : SequenceAfterFreeing(named.Number())) == base.SequenceNumber();
}

// The attribute a list entry names inside ARecord. The entry's id is the
// attribute's instance number in that record, so it must match exactly:
// 0 is a real instance number there, not "any".
PMFTAttributeRecord FindListedAttribute(PNTFSNode ARecord, const PMFTAttributeListEntry& AEntry) {
  PMFTAttributeRecord attribute;
  bool first = true;
  while (NTFSAttribute::FindInternal(first, RecordOf(ARecord), AEntry.TypeCode(), 0, attribute)) {
    first = false;
    if (attribute.AttributeId() == AEntry.AttributeId())
      return attribute;
  }
  return {};
}

// Makes AHeld the node of ARef, reusing it when it already is; the old
// node is released only once the new one is at hand.
void HoldNodeOf(PNTFSNode& AHeld, PNTFSVolume AVolume, MFT_REF ARef) {
  if (AHeld != nullptr && AHeld->MFTNumber.Address() == ARef.Address())
    return;
  PNTFSNode fresh = NTFSNodeGet(AVolume, ARef);
  if (AHeld != nullptr)
    NTFSNodeRelease(AHeld);
  AHeld = fresh;
}

// The extension record node a walk has at hand, released when the walk ends.
class TNodeAtHand {
public:
  TNodeAtHand() = default;
  ~TNodeAtHand() {
    if (FNode != nullptr)
      NTFSNodeRelease(FNode);
  }
  TNodeAtHand(const TNodeAtHand&) = delete;
  TNodeAtHand& operator=(const TNodeAtHand&) = delete;

  PNTFSNode Get(PNTFSVolume AVolume, MFT_REF ARef) {
    HoldNodeOf(FNode, AVolume, ARef);
    return FNode;
  }

private:
  PNTFSNode FNode = nullptr;
};

// The attribute at AStart of a record block; nil where the sequence ends:
// at the end marker, or at an attribute shorter than its own header or
// running past the record.
PMFTAttributeRecord AttributeAt(TByteView ARecord, std::size_t AStart) {
  if (!ARecord.Contains(AStart, AttributeField::CommonHeaderSize))
    return {};
  const std::uint32_t typeCode = ARecord.Get<std::uint32_t>(AStart + AttributeField::TypeCode);
  const std::uint32_t length = ARecord.Get<std::uint32_t>(AStart + AttributeField::Length);
  if (typeCode == AttributeType::End || length < AttributeField::CommonHeaderSize || !ARecord.Contains(AStart, length))
    return {};
  return PMFTAttributeRecord(ARecord.Sub(AStart, length));
}

// A freed extension record that held part of ABase while both lived, and
// whose own sequence number is the one after the number the list entry
// AEntry names it by.
bool IsFreedExtensionOf(PNTFSNode ARecord, PNTFSNode ABase, const PMFTAttributeListEntry& AEntry) {
  const PMFTRecord& header = ARecord->MFTRecordHeader;
  return NTFSAttribute::IsFreedExtension(header, ABase->MFTNumber.Address(), ABase->MFTRecordHeader.SequenceNumber()) &&
         header.SequenceNumber() == SequenceAfterFreeing(AEntry.BaseMFTRecord().Number());
}

// The $FILE_NAME contents a freed record block still holds. ntfs-3g frees
// an extension record by moving its end marker to the first attribute, so
// that marker's eight bytes overwrite that attribute's type and length
// while the rest of it stays as it was: the attribute is rebuilt from its
// resident header (content offset and length). Attributes that follow it
// kept their headers. Only what passes every check of a sound attribute is
// taken.
std::vector<TByteView> FormerFileNames(TByteView ARecord, std::vector<std::uint8_t>& ARebuilt) {
  std::size_t start = PMFTRecord(ARecord).AttributesOffset();
  while (const PMFTAttributeRecord attribute = AttributeAt(ARecord, start))
    start += attribute.Length();
  std::vector<TByteView> names;
  if (!ARecord.Contains(start, AttributeField::ResidentHeaderSize) ||
      ARecord.Get<std::uint32_t>(start + AttributeField::TypeCode) != AttributeType::End)
    return names;
  const std::size_t contentEnd = std::size_t{ARecord.Get<std::uint16_t>(start + AttributeField::ContentOffset)} +
                                 ARecord.Get<std::uint32_t>(start + AttributeField::ContentLength);
  const std::size_t length = (contentEnd + 7) / 8 * 8;
  if (!ARecord.Contains(start, length))
    return names;
  ARebuilt.assign(ARecord.Data() + start, ARecord.Data() + start + length);
  TByteView rebuilt(ARebuilt.data(), ARebuilt.size());
  for (std::size_t i = 0; i < sizeof(std::uint32_t); ++i) {
    ARebuilt[AttributeField::TypeCode + i] = static_cast<std::uint8_t>(AttributeType::FileName >> (8 * i));
    ARebuilt[AttributeField::Length + i] = static_cast<std::uint8_t>(length >> (8 * i));
  }
  const PMFTAttributeRecord first(rebuilt);
  if (NTFSAttribute::FormProblem(first) != nullptr ||
      PMFTFilenameAttribute(NTFSAttribute::GetResidentData(first)).NameLength() == 0)
    return names;
  names.push_back(NTFSAttribute::GetResidentData(first));
  for (start += length; const PMFTAttributeRecord attribute = AttributeAt(ARecord, start);) {
    if (attribute.TypeCode() == AttributeType::FileName && NTFSAttribute::FormProblem(attribute) == nullptr)
      names.push_back(NTFSAttribute::GetResidentData(attribute));
    start += attribute.Length();
  }
  return names;
}

} // namespace

bool NTFSAttribute::IsFreedExtension(const PMFTRecord& AHeader, std::int64_t ABase, std::uint16_t ABaseSequence) {
  return AHeader.IsFileRecord() && (AHeader.Flags() & MFT_RECORD_IN_USE) == 0 &&
         AHeader.BaseMFTRecord().Address() == ABase &&
         SequenceAfterFreeing(AHeader.BaseMFTRecord().Number()) == ABaseSequence;
}

TAttributeSearch::TAttributeSearch(PNTFSVolume AVolume, MFT_REF AMFTNumber, TByteView ARecord) {
  if (!NTFSAttribute::HasAttributeList(ARecord)) {
    NTFSAttribute::InitRecordSearch(ARecord, FRec);
    return;
  }
  FHeldNode = NTFSNodeGet(AVolume, AMFTNumber, ARecord);
  NTFSAttribute::InitSearch(FHeldNode, FRec);
}

TAttributeSearch::~TAttributeSearch() {
  NTFSAttribute::CloseSearch(FRec);
  if (FHeldNode != nullptr)
    NTFSNodeRelease(FHeldNode);
}

TByteView PMFTAttributeRecord::Name() const {
  return FBytes.Sub(Field<std::uint16_t>(AttributeField::NameOffset),
                    std::size_t{Field<std::uint8_t>(AttributeField::NameLength)} * 2);
}

std::u16string NTFSAttribute::AttributeName(const PMFTAttributeRecord& AAttributeRecord) {
  const TByteView bytes = AAttributeRecord.Name();
  std::u16string name(bytes.Size() / 2, u'\0');
  for (std::size_t i = 0; i < name.size(); ++i)
    name[i] = static_cast<char16_t>(bytes.Get<std::uint16_t>(i * 2));
  return name;
}

bool NTFSAttribute::IsNamedStreamStart(const PMFTAttributeRecord& AAttributeRecord) {
  return AAttributeRecord.TypeCode() == AttributeType::Data && !AAttributeRecord.Name().Empty() &&
         (IsResident(AAttributeRecord) || AAttributeRecord.LowVCN() == 0);
}

TByteView PMFTAttributeListEntry::Name() const {
  return FBytes.Sub(FBytes.Get<std::uint8_t>(AttributeListField::NameOffset),
                    std::size_t{FBytes.Get<std::uint8_t>(AttributeListField::NameLength)} * 2);
}

void NTFSAttribute::InitSearch(PNTFSNode ANode, TAttributeSearchRec& ASearchRec) {
  InitRecordSearch(RecordOf(ANode), ASearchRec);
  ASearchRec.Node = ANode;
}

void NTFSAttribute::InitRecordSearch(TByteView ARecord, TAttributeSearchRec& ASearchRec) {
  ASearchRec.Node = nullptr;
  ASearchRec.Record = ARecord;
  ASearchRec.TypeCode = AttributeType::AttributeList;
  ASearchRec.AttributeRecord = {};
  ASearchRec.AttributeListEntry = {};
  ASearchRec.ExternalNode = nullptr;
  ASearchRec.SearchMode = asmInternal;
  ASearchRec.Prepared = true;
}

bool NTFSAttribute::FindFirst(ATTRIBUTE_TYPE_CODE ATypeCode, std::uint16_t AAttributeId,
                              TAttributeSearchRec& ASearchRec) {
  CheckPrepared(ASearchRec);
  ASearchRec.SearchMode = asmInternal;
  ASearchRec.TypeCode = ATypeCode;
  ASearchRec.AttributeId = AAttributeId;
  if (FindInternal(true, ASearchRec.Record, ATypeCode, AAttributeId, ASearchRec.AttributeRecord))
    return true;
  ASearchRec.SearchMode = asmAttributeList;
  return FindInAttributeList(true, ASearchRec);
}

bool NTFSAttribute::FindNext(TAttributeSearchRec& ASearchRec) {
  CheckPrepared(ASearchRec);
  if (ASearchRec.SearchMode == asmAttributeList)
    return FindInAttributeList(false, ASearchRec);
  if (FindInternal(false, ASearchRec.Record, ASearchRec.TypeCode, ASearchRec.AttributeId,
                   ASearchRec.AttributeRecord))
    return true;
  ASearchRec.SearchMode = asmAttributeList;
  return FindInAttributeList(true, ASearchRec);
}

bool NTFSAttribute::HasAttributeList(TByteView ARecord) {
  PMFTAttributeRecord list;
  return FindInternal(true, ARecord, AttributeType::AttributeList, 0, list);
}

void NTFSAttribute::CloseSearch(TAttributeSearchRec& ASearchRec) {
  if (ASearchRec.ExternalNode != nullptr)
    NTFSNodeRelease(ASearchRec.ExternalNode);
  ASearchRec.ExternalNode = nullptr;
}

bool NTFSAttribute::FindInternal(bool AFindFirst, TByteView ARecord, ATTRIBUTE_TYPE_CODE ATypeCode,
                                 std::uint16_t AAttributeId, PMFTAttributeRecord& AAttrRecord) {
  std::size_t start = PMFTRecord(ARecord).AttributesOffset();
  if (!AFindFirst) {
    const auto current = ARecord.OffsetOf(AAttrRecord.Bytes());
    if (!AAttrRecord || !current)
      return false;
    start = *current + AAttrRecord.Length();
  }
  for (PMFTAttributeRecord attribute = AttributeAt(ARecord, start); attribute;
       start += attribute.Length(), attribute = AttributeAt(ARecord, start)) {
    if ((ATypeCode == AttributeType::Any || ATypeCode == attribute.TypeCode()) &&
        (AAttributeId == 0 || AAttributeId == attribute.AttributeId()) && FormProblem(attribute) == nullptr) {
      AAttrRecord = attribute;
      return true;
    }
  }
  return false;
}

const char* NTFSAttribute::FormProblem(const PMFTAttributeRecord& AAttributeRecord) {
  const TByteView bytes = AAttributeRecord.Bytes();
  const std::size_t nameLength = std::size_t{bytes.Get<std::uint8_t>(AttributeField::NameLength)} * 2;
  if (nameLength > 0 && !bytes.Contains(bytes.Get<std::uint16_t>(AttributeField::NameOffset), nameLength))
    return "its name lies outside it";
  if (IsResident(AAttributeRecord)) {
    if (!bytes.Contains(0, AttributeField::ResidentHeaderSize))
      return "its resident header does not fit in it";
    // Content that starts inside the header would hand out header bytes as data.
    if (AAttributeRecord.ContentOffset() < AttributeField::ResidentHeaderSize ||
        !bytes.Contains(AAttributeRecord.ContentOffset(), AAttributeRecord.ContentLength()))
      return "its resident content lies outside it";
  } else {
    if (AAttributeRecord.TypeCode() == AttributeType::FileName)
      return "a file name is never stored outside the record";
    if (!bytes.Contains(0, AttributeField::NonResidentHeaderSize))
      return "its non-resident header does not fit in it";
    // A run list that starts inside the header would decode the header's
    // own sizes as runs.
    if (AAttributeRecord.RunListOffset() < AttributeField::NonResidentHeaderSize ||
        AAttributeRecord.RunListOffset() > bytes.Size())
      return "its run list lies outside it";
  }
  if (AAttributeRecord.TypeCode() == AttributeType::FileName) {
    const TByteView content = GetResidentData(AAttributeRecord);
    const std::size_t nameBytes = std::size_t{content.Get<std::uint8_t>(FileNameField::NameLength)} * 2;
    if (!content.Contains(0, FileNameField::Name + nameBytes))
      return "its file name content is shorter than 66 bytes and the name";
  }
  return nullptr;
}

std::vector<TAttributeDamage> NTFSAttribute::DamagedAttributes(TByteView ARecord) {
  std::vector<TAttributeDamage> damaged;
  std::size_t start = PMFTRecord(ARecord).AttributesOffset();
  for (PMFTAttributeRecord attribute = AttributeAt(ARecord, start); attribute;
       start += attribute.Length(), attribute = AttributeAt(ARecord, start))
    if (const char* problem = FormProblem(attribute))
      damaged.push_back({start, attribute.TypeCode(), problem});
  return damaged;
}

bool NTFSAttribute::FindInAttributeList(bool AFindFirst, TAttributeSearchRec& ASearchRec) {
  CheckPrepared(ASearchRec);
  // The list is never searched for itself.
  if (ASearchRec.TypeCode == AttributeType::AttributeList || ASearchRec.Node == nullptr)
    return false;
  const PNTFSNode node = ASearchRec.Node;
  const bool loaded = node->AttributeList.Ptr != nullptr;
  const TByteView block = AttributeListOf(node);
  if (block.Empty())
    return false;

  PMFTAttributeListEntry entry = AFindFirst || !loaded ? EntryAt(block, 0)
                                                       : EntryAfter(block, ASearchRec.AttributeListEntry);
  for (; entry; entry = EntryAfter(block, entry)) {
    ASearchRec.AttributeListEntry = entry;
    // Only first extents are matched here, and only those in extension
    // records: what the base record holds was seen by the internal walk.
    // A search for any type takes every such entry, so that a walk over a
    // record's attributes also meets those kept in extension records; the
    // later extents of each are collected with its first one.
    const bool typeMatches = ASearchRec.TypeCode == AttributeType::Any || entry.TypeCode() == ASearchRec.TypeCode;
    if (!typeMatches || entry.StartVCN() != 0 || entry.BaseMFTRecord().Address() == node->MFTNumber.Address())
      continue;
    HoldNodeOf(ASearchRec.ExternalNode, node->Volume, entry.BaseMFTRecord());
    if (!IsExtensionOf(ASearchRec.ExternalNode, node))
      continue;
    const PMFTAttributeRecord found = FindListedAttribute(ASearchRec.ExternalNode, entry);
    if (found) {
      ASearchRec.AttributeRecord = found;
      return true;
    }
  }
  return false;
}

bool NTFSAttribute::IsCompressed(const PMFTAttributeRecord& AAttributeRecord) {
  return (AAttributeRecord.Flags() & AttributeFlag::CompressionMask) != 0;
}

bool NTFSAttribute::IsEncrypted(const PMFTAttributeRecord& AAttributeRecord) {
  return (AAttributeRecord.Flags() & AttributeFlag::Encrypted) != 0;
}

std::int64_t NTFSAttribute::GetAttributeDataSize(const PMFTAttributeRecord& AAttributeRecord) {
  return IsResident(AAttributeRecord) ? AAttributeRecord.ContentLength() : AAttributeRecord.DataSize();
}

std::int64_t NTFSAttribute::GetDataSize(const TAttributeSearchRec& ASearchRec) {
  return GetAttributeDataSize(ASearchRec.AttributeRecord);
}

PMFTFilenameAttribute NTFSAttribute::GetFileNameAttribute(const void* AMFTRecord, std::uint32_t AMFTRecordSize,
                                                          std::uint8_t ANameType) {
  const TByteView record(AMFTRecord, AMFTRecordSize);
  PMFTAttributeRecord attribute;
  PMFTFilenameAttribute last;
  bool first = true;
  while (FindInternal(first, record, AttributeType::FileName, 0, attribute)) {
    first = false;
    last = PMFTFilenameAttribute(GetResidentData(attribute));
    if ((last.NameType() & ANameType) != 0)
      return last;
  }
  return last;
}

void NTFSAttribute::RunListAddNonResidentPart(const PMFTAttributeRecord& AAttributeRecord,
                                              const IMFTRunListPtr& ARunList) {
  const TByteView runs = AAttributeRecord.Bytes().From(AAttributeRecord.RunListOffset());
  ARunList->Decompress(runs.Data(), static_cast<std::int32_t>(runs.Size()));
}

// Extents are chained by type, name and the VCN where the previous one
// ended. Attribute ids do not chain them: an id is an instance number inside
// one record, and ntfs-3g gives a first $DATA extent id 2 and the later ones
// id 0, where Windows happens to repeat one id.
void NTFSAttribute::RunListAddPartsFromAttributeList(const TAttributeSearchRec& ASearchRec,
                                                     const IMFTRunListPtr& ARunList) {
  const PMFTAttributeRecord& match = ASearchRec.AttributeRecord;
  if (!match || IsResident(match))
    return;
  RunListAddNonResidentPart(match, ARunList);
  const PNTFSNode base = ASearchRec.Node;
  auto expected = CheckedAdd<NTFS_VCN>(match.HighVCN(), 1);
  if (base == nullptr || !expected || *expected <= 0)
    return;

  const TByteView block = AttributeListOf(base);
  TNodeAtHand atHand;
  for (PMFTAttributeListEntry entry = EntryAt(block, 0); entry && expected; entry = EntryAfter(block, entry)) {
    if (entry.TypeCode() != match.TypeCode() || entry.StartVCN() != *expected ||
        !entry.Name().SameBytes(match.Name()))
      continue;
    const bool inBase = entry.BaseMFTRecord().Address() == base->MFTNumber.Address();
    const PNTFSNode holder = inBase ? base : atHand.Get(base->Volume, entry.BaseMFTRecord());
    if (!inBase && !IsExtensionOf(holder, base))
      continue;
    const PMFTAttributeRecord extent = FindListedAttribute(holder, entry);
    if (!extent || IsResident(extent) || extent.LowVCN() != *expected)
      continue;
    RunListAddNonResidentPart(extent, ARunList);
    expected = CheckedAdd<NTFS_VCN>(extent.HighVCN(), 1);
  }
}

void NTFSAttribute::RunListBuild(const TAttributeSearchRec& ASearchRec, const IMFTRunListPtr& ARunList) {
  RunListAddPartsFromAttributeList(ASearchRec, ARunList);
}

IStreamExPtr NTFSAttribute::GetDataStream(const TAttributeSearchRec& ASearchRec, IMFTRunListPtr ARuns) {
  const PMFTAttributeRecord& match = ASearchRec.AttributeRecord;
  if (!match)
    return StreamEx::Null();
  if (ASearchRec.Node == nullptr)
    throw std::logic_error("Attribute data needs a search with a node.");
  if (IsResident(match)) {
    const TByteView content = GetResidentData(match);
    return StreamEx::GetMemoryStream(content.Data(), static_cast<std::int32_t>(content.Size()));
  }
  const PNTFSVolume volume = ASearchRec.Node->Volume;
  if (!ARuns) {
    ARuns = MFTRunList::New();
    RunListBuild(ASearchRec, ARuns);
  }
  // Resident data is never compressed, whatever the flags say. Encrypted
  // data is handed out as it lies on disk: Windows does not compress it,
  // and expanding its cipher text would only garble it further.
  if (IsCompressed(match) && !IsEncrypted(match)) {
    const ATTR_FLAGS method = match.Flags() & AttributeFlag::CompressionMask;
    if (method != AttributeFlag::CompressedLZNT1)
      throw CompressedDataException("Compressed data cannot be read: compression method " + std::to_string(method) +
                                    " is unknown.");
    auto stream = std::make_shared<TCompressedRunListStream>(volume->Device, volume->ClusterSize,
                                                             match.CompressionUnitSize(), ARuns, match.DataSize(),
                                                             match.InitializedSize());
    stream->SetKeepRereading(volume->KeepRereading);
    return stream;
  }
  auto stream = std::make_shared<TMFTRunListStream>(volume->Device, volume->ClusterSize, ARuns, match.DataSize(),
                                                    match.InitializedSize());
  stream->SetKeepRereading(volume->KeepRereading);
  return stream;
}

void NTFSAttribute::ReadData(const TAttributeSearchRec& ASearchRec, std::int64_t ASize, void* ADest) {
  GetDataStream(ASearchRec)->Read(0, ASize, ADest);
}

std::vector<std::vector<RunListElement>> NTFSAttribute::FormerExtents(TByteView ARecord,
                                                                     ATTRIBUTE_TYPE_CODE ATypeCode, TByteView AName,
                                                                     std::int64_t AClusterCount) {
  std::vector<std::vector<RunListElement>> extents;
  PMFTAttributeRecord extent;
  for (bool first = true; FindInternal(first, ARecord, ATypeCode, 0, extent); first = false) {
    const NTFS_VCN low = extent.LowVCN();
    if (IsResident(extent) || low < 0 || extent.HighVCN() < low || !extent.Name().SameBytes(AName))
      continue;
    const IMFTRunListPtr decoded = MFTRunList::New();
    RunListAddNonResidentPart(extent, decoded);
    if (CheckedAdd<NTFS_VCN>(extent.HighVCN() - low, 1) != decoded->VCNCount())
      continue;
    std::vector<RunListElement> runs;
    for (std::int32_t i = 0; i < decoded->ItemCount(); ++i) {
      RunListElement run = decoded->Item(i);
      const std::optional<std::int64_t> end = CheckedAdd(run.LCN, run.Length);
      if (run.LCN != 0 && (!end || *end > AClusterCount))
        break;
      run.VCN += low;
      runs.push_back(run);
    }
    if (runs.size() == static_cast<std::size_t>(decoded->ItemCount()))
      extents.push_back(std::move(runs));
  }
  return extents;
}

std::optional<TFormerFileName> NTFSAttribute::FormerFileName(PNTFSNode ABase) {
  const TByteView block = AttributeListOf(ABase);
  TNodeAtHand atHand;
  std::optional<TFormerFileName> last;
  std::vector<std::uint8_t> rebuilt;
  for (PMFTAttributeListEntry entry = EntryAt(block, 0); entry; entry = EntryAfter(block, entry)) {
    if (entry.TypeCode() != AttributeType::FileName || entry.BaseMFTRecord().Address() == ABase->MFTNumber.Address())
      continue;
    const PNTFSNode holder = atHand.Get(ABase->Volume, entry.BaseMFTRecord());
    if (!IsFreedExtensionOf(holder, ABase, entry))
      continue;
    for (const TByteView content : FormerFileNames(holder->MFTRecordHeader.Bytes(), rebuilt)) {
      last = TFormerFileName{{content.Data(), content.Data() + content.Size()}, holder->MFTNumber.Address()};
      if ((PMFTFilenameAttribute(content).NameType() & FILE_NAME_WIN32) != 0)
        return last;
    }
  }
  return last;
}
