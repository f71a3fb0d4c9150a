#include "ntfs/uNTFSNode.h"

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

void FreeAttributeList(PNTFSNode ANode) {
  ANode->Volume->AttributeListBytes -= ANode->AttributeList.Size;
  MemoryEx::FreeMem(ANode->AttributeList);
}

void NTFSNodeFree(PNTFSNode ANode) {
  MemoryEx::FreeMem(ANode->MFTRecord);
  FreeAttributeList(ANode);
  delete ANode;
}

// Every cached node may hold an attribute list of up to 16 MiB, and a
// crafted volume can give each one such a list; only the lists of nodes
// that nobody holds can go, since open searches point into the others.
void DropAttributeLists(PNTFSVolume AVolume, std::int64_t AKeep) {
  const IExListEnumeratorPtr items = AVolume->NodeCache->GetItems();
  while (AVolume->AttributeListBytes > AKeep && items->MoveNext()) {
    PNTFSNode node = nullptr;
    items->ReadData(&node);
    if (node->RefCount <= 0 && node->AttributeList.Ptr != nullptr)
      FreeAttributeList(node);
  }
}

// A scan creates a node for every MFT record and each trim frees ten
// thousand of them; handing the trimmed nodes to the next creations spares
// the allocator hundreds of thousands of record-sized blocks. A spare keeps
// only its volume and its record block, cleared as a new one would be.
constexpr std::size_t SpareNodeLimit = NodeCacheLimit + 1;

void KeepSpareNode(PNTFSVolume AVolume, PNTFSNode ANode) {
  if (AVolume->SpareNodes.size() >= SpareNodeLimit ||
      ANode->MFTRecord.Size != static_cast<std::int32_t>(AVolume->MFTRecordSize)) {
    NTFSNodeFree(ANode);
    return;
  }
  FreeAttributeList(ANode);
  const TMem record = ANode->MFTRecord;
  std::memset(record.Ptr, 0, static_cast<std::size_t>(record.Size));
  *ANode = TNTFSNodeRecord{};
  ANode->Volume = AVolume;
  ANode->MFTRecord = record;
  AVolume->SpareNodes.push_back(ANode);
}

void FreeSpareNodes(PNTFSVolume AVolume) {
  for (PNTFSNode node : AVolume->SpareNodes)
    NTFSNodeFree(node);
  AVolume->SpareNodes.clear();
}

// A node with a cleared record block of the volume's record size.
PNTFSNode NewNode(PNTFSVolume AVolume) {
  if (!AVolume->SpareNodes.empty()) {
    PNTFSNode node = AVolume->SpareNodes.back();
    AVolume->SpareNodes.pop_back();
    return node;
  }
  auto* node = new TNTFSNodeRecord;
  node->Volume = AVolume;
  try {
    node->MFTRecord = MemoryEx::AllocMem(static_cast<std::int32_t>(AVolume->MFTRecordSize));
  } catch (...) {
    delete node;
    throw;
  }
  return node;
}

PNTFSNode NTFSNodeCreate(PNTFSVolume AVolume, MFT_REF AMFTNumber) {
  NTFSNodeCacheTrim(AVolume, false);
  PNTFSNode node = NewNode(AVolume);
  node->MFTNumber = AMFTNumber;
  node->Volume = AVolume;
  node->MFTRecordHeader =
      PMFTRecord(TByteView(node->MFTRecord.Ptr, static_cast<std::size_t>(node->MFTRecord.Size)));
  const TMFTRefKey key = MFTRefKey(AMFTNumber);
  AVolume->NodeList->Add(key.data(), &node);
  AVolume->NodeCache->Add(&node);
  return node;
}

// The times and attribute bits of the standard information (taken only
// when its content holds all 36 bytes) and the sizes of the first $DATA.
void TakeAttributeSummary(PNTFSNode ANode) {
  const TByteView record = ANode->MFTRecordHeader.Bytes();
  PMFTAttributeRecord standardInformation;
  if (NTFSAttribute::FindInternal(true, record, AttributeType::StandardInformation, 0,
                                  standardInformation)) {
    const PMFTStandardInformation content(NTFSAttribute::GetResidentData(standardInformation));
    if (content.HoldsSummary()) {
      ANode->CreationTime = content.CreationTime();
      ANode->ChangeTime = content.ModificationTime();
      ANode->LastWriteTime = content.RecordChangeTime();
      ANode->LastAccessTime = content.AccessTime();
      ANode->FileAttributes = content.FileAttributes();
    }
  }
  TAttributeSearch search(ANode);
  if (!search.FindFirst(AttributeType::Data))
    return;
  const PMFTAttributeRecord& data = search.Rec().AttributeRecord;
  if (NTFSAttribute::IsResident(data)) {
    ANode->DataSize = data.ContentLength();
  } else {
    ANode->AllocatedSize = data.AllocatedSize();
    ANode->DataSize = data.DataSize();
  }
}

// Keeps a node being loaded out of the trims that loading its extension
// records may run.
class TLoadPin {
public:
  explicit TLoadPin(PNTFSNode ANode) : FNode(ANode) { ++FNode->RefCount; }
  ~TLoadPin() { --FNode->RefCount; }
  TLoadPin(const TLoadPin&) = delete;
  TLoadPin& operator=(const TLoadPin&) = delete;

private:
  PNTFSNode FNode;
};

// The cached node of AMFTNumber, or a new one whose record AFill puts in
// place.
template <typename TFill>
PNTFSNode GetNode(PNTFSVolume AVolume, MFT_REF AMFTNumber, TFill AFill) {
  const TMFTRefKey key = MFTRefKey(AMFTNumber);
  PNTFSNode node = nullptr;
  if (!AVolume->NodeList->ReadItem(key.data(), &node)) {
    // A node whose loading fails stays registered without references and
    // goes with a later trim.
    node = NTFSNodeCreate(AVolume, AMFTNumber);
    const TLoadPin pin(node);
    AFill(node->MFTRecord.Ptr);
    node->IsDeleted = (node->MFTRecordHeader.Flags() & MFT_RECORD_IN_USE) == 0;
    if (node->MFTRecordHeader.IsFileRecord())
      TakeAttributeSummary(node);
  }
  NTFSVolumeAddRef(node->Volume);
  ++node->RefCount;
  return node;
}

} // namespace

PNTFSNode NTFSNodeGet(PNTFSVolume AVolume, MFT_REF AMFTNumber) {
  return GetNode(AVolume, AMFTNumber,
                 [&](std::uint8_t* ADest) { NTFSUtils::GetMFTRecord(AVolume, AMFTNumber, ADest); });
}

PNTFSNode NTFSNodeGet(PNTFSVolume AVolume, MFT_REF AMFTNumber, TByteView ARecord) {
  return GetNode(AVolume, AMFTNumber, [&](std::uint8_t* ADest) {
    const std::size_t size = std::min<std::size_t>(ARecord.Size(), AVolume->MFTRecordSize);
    std::memcpy(ADest, ARecord.Data(), size);
    std::memset(ADest + size, 0, AVolume->MFTRecordSize - size);
  });
}

void NTFSNodeRelease(PNTFSNode ANode) {
  --ANode->RefCount;
  NTFSVolumeRelease(ANode->Volume);
}

std::uint8_t* NTFSNodeAllocAttributeList(PNTFSNode ANode, std::int32_t ASize) {
  if (ANode->AttributeList.Ptr != nullptr)
    throw std::runtime_error("AttributeList already allocated.");
  const PNTFSVolume volume = ANode->Volume;
  if (volume->AttributeListBytes + ASize > AttributeListCacheLimit)
    DropAttributeLists(volume, AttributeListCacheLimit / 2);
  ANode->AttributeList = MemoryEx::AllocMem(ASize);
  volume->AttributeListBytes += ANode->AttributeList.Size;
  return ANode->AttributeList.Ptr;
}

void NTFSNodeCacheTrim(PNTFSVolume AVolume, bool AForce) {
  ++AVolume->NodeCacheAccessCount;
  if (!AForce && AVolume->NodeCacheAccessCount <= NodeCacheLimit)
    return;
  AVolume->NodeCacheAccessCount = 0;
  const IExListEnumeratorPtr items = AVolume->NodeCache->GetItems();
  while (AForce || AVolume->NodeCache->Count() > NodeCacheLimit) {
    if (!items->MoveNext())
      break;
    PNTFSNode node = nullptr;
    items->ReadData(&node);
    if (!AForce && node->RefCount > 0)
      continue;
    const TMFTRefKey key = MFTRefKey(node->MFTNumber);
    AVolume->NodeList->Delete(key.data());
    AVolume->NodeCache->Delete(items->GetBookmark());
    if (AForce)
      NTFSNodeFree(node);
    else
      KeepSpareNode(AVolume, node);
  }
  if (AForce)
    FreeSpareNodes(AVolume);
}
