#pragma once

#include "foundation/uMemoryEx.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>

// One MFT record loaded into memory with a summary of its attributes. Nodes
// belong to their volume's cache; callers borrow them with NTFSNodeGet and
// give them back with NTFSNodeRelease (or hold them through TNTFSNodeRef).
struct TNTFSNodeRecord {
  MFT_REF MFTNumber;             // the reference first loaded, sequence number included
  PNTFSVolume Volume = nullptr;
  TMem MFTRecord;                // MFTRecordSize bytes, fixed up
  PMFTRecord MFTRecordHeader;    // MFTRecord seen as a FILE record
  std::int32_t RefCount = 0;
  TMem AttributeList;            // the attribute list once a search loaded it
  std::int64_t CreationTime = 0; // times and bits of $STANDARD_INFORMATION
  std::int64_t ChangeTime = 0;
  std::int64_t LastWriteTime = 0;
  std::int64_t LastAccessTime = 0;
  std::int64_t AllocatedSize = 0; // sizes of the first $DATA attribute
  std::int64_t DataSize = 0;
  std::uint32_t FileAttributes = 0;
  bool IsDeleted = false;         // the record's in-use flag is clear
};

// The volume keeps this many unreferenced nodes after a trim, and trims
// once per this many node creations plus one.
constexpr std::int64_t NodeCacheLimit = 10000;

// Once the attribute lists of a volume's cached nodes hold more than this,
// those of unreferenced nodes are dropped, down to half of it, before a new
// one is allocated; a search that needs a dropped list reads it again.
constexpr std::int64_t AttributeListCacheLimit = 64 * 1024 * 1024;

// The volume's node for the record number of AMFTNumber, loaded on first
// use, with one more reference (which also holds the volume).
PNTFSNode NTFSNodeGet(PNTFSVolume AVolume, MFT_REF AMFTNumber);
// The same for a record already read and fixed up (ARecord): a node not
// cached yet takes a copy of it instead of reading the record again.
PNTFSNode NTFSNodeGet(PNTFSVolume AVolume, MFT_REF AMFTNumber, TByteView ARecord);
void NTFSNodeRelease(PNTFSNode ANode);
// Gives the node its attribute-list block of ASize bytes, within
// AttributeListCacheLimit.
std::uint8_t* NTFSNodeAllocAttributeList(PNTFSNode ANode, std::int32_t ASize);
// Frees the oldest unreferenced nodes beyond NodeCacheLimit; with AForce
// every node, referenced or not.
void NTFSNodeCacheTrim(PNTFSVolume AVolume, bool AForce);

// Holds one node reference for the guard's life.
class TNTFSNodeRef {
public:
  TNTFSNodeRef(PNTFSVolume AVolume, MFT_REF AMFTNumber) : FNode(NTFSNodeGet(AVolume, AMFTNumber)) {}
  ~TNTFSNodeRef() { NTFSNodeRelease(FNode); }
  TNTFSNodeRef(const TNTFSNodeRef&) = delete;
  TNTFSNodeRef& operator=(const TNTFSNodeRef&) = delete;

  PNTFSNode Get() const { return FNode; }
  PNTFSNode operator->() const { return FNode; }

private:
  PNTFSNode FNode;
};
