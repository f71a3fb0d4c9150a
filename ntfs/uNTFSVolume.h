#pragma once

#include "foundation/uLists.h"
#include "foundation/uStreamEx.h"
#include "ntfs/uNTFSBytes.h"
#include "ntfs/uUnreadRanges.h"
#include "ntfs/uVolumeSource.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using NTFS_LCN = std::int64_t;
using NTFS_VCN = std::int64_t;
using ATTRIBUTE_TYPE_CODE = std::uint32_t;
using ATTR_FLAGS = std::uint16_t;

// A 64-bit file reference: the record number in the low 48 bits, the
// sequence number in the high 16. References are compared by Address.
struct MFT_REF {
  std::int64_t Value = 0;

  std::int64_t Address() const { return Value & 0x0000FFFFFFFFFFFFLL; }
  std::uint16_t Number() const {
    return static_cast<std::uint16_t>(static_cast<std::uint64_t>(Value) >> 48);
  }
  static MFT_REF Build(std::int64_t ANum) { return MFT_REF{ANum}; }
};

// The sequence number a record carries once freed, when it carried
// ASequence while in use: Windows and ntfs-3g raise it by one when they free
// a record, 0xFFFF wrapping to 1 and 0 (records never reused) staying 0.
constexpr std::uint16_t SequenceAfterFreeing(std::uint16_t ASequence) {
  return ASequence == 0xFFFF ? 1 : ASequence == 0 ? 0 : static_cast<std::uint16_t>(ASequence + 1);
}

// The 6-byte key under which nodes and found items are looked up: the low
// six bytes of the reference in little-endian order, the record number.
using TMFTRefKey = std::array<std::uint8_t, 6>;
TMFTRefKey MFTRefKey(MFT_REF ARef);

// The FILE record header at the start of every MFT record.
namespace MFTRecordField {
constexpr std::size_t Identifier = 0;
constexpr std::size_t UsaOffset = 4;
constexpr std::size_t UsaCount = 6;
constexpr std::size_t SequenceNumber = 16;
constexpr std::size_t AttributesOffset = 20;
constexpr std::size_t Flags = 22;
constexpr std::size_t BaseMFTRecord = 32;
constexpr std::size_t HeaderSize = 48;
} // namespace MFTRecordField

constexpr std::uint16_t MFT_RECORD_IN_USE = 0x0001;
constexpr std::uint16_t MFT_RECORD_IS_DIRECTORY = 0x0002;

// A record block seen as a FILE record: fields are read from inside the
// block only (a field the block does not hold reads as 0).
class PMFTRecord {
public:
  PMFTRecord() = default;
  explicit PMFTRecord(TByteView ABytes) : FBytes(ABytes) {}

  TByteView Bytes() const { return FBytes; }
  // Whether the block starts with the characters "FILE".
  bool IsFileRecord() const;
  std::uint16_t UsaOffset() const { return FBytes.Get<std::uint16_t>(MFTRecordField::UsaOffset); }
  std::uint16_t UsaCount() const { return FBytes.Get<std::uint16_t>(MFTRecordField::UsaCount); }
  std::uint16_t AttributesOffset() const {
    return FBytes.Get<std::uint16_t>(MFTRecordField::AttributesOffset);
  }
  // Raised each time the record is freed; references to the record carry it.
  std::uint16_t SequenceNumber() const { return FBytes.Get<std::uint16_t>(MFTRecordField::SequenceNumber); }
  std::uint16_t Flags() const { return FBytes.Get<std::uint16_t>(MFTRecordField::Flags); }
  MFT_REF BaseMFTRecord() const {
    return MFT_REF::Build(FBytes.Get<std::int64_t>(MFTRecordField::BaseMFTRecord));
  }

private:
  TByteView FBytes;
};

struct TNTFSNodeRecord;
using PNTFSNode = TNTFSNodeRecord*;

// An opened volume: its device, geometry, MFT and bitmap streams and its
// node cache. Kept alive by RefCount; the engine holds one reference and
// every node handed out holds one.
struct TNTFSVolumeRecord {
  bool Initialized = false;
  IStreamExPtr Device;
  IStreamExPtr MFTDataStream;
  IStreamExPtr BitmapDataStream;
  // Handed to every data stream of the volume.
  TKeepRereading KeepRereading;
  std::uint16_t SectorSize = 0;
  std::uint8_t SectorSizeBits = 0;
  std::uint32_t ClusterSize = 0;
  std::uint8_t ClusterSizeBits = 0;
  std::int64_t NumberOfClusters = 0;
  std::uint32_t MFTRecordSize = 0;
  std::uint8_t MFTRecordSizeBits = 0;
  std::int64_t MFTRecordCount = 0;   // bounded by what the device can hold
  std::int64_t MFTRecordsClaimed = 0; // as record 0's data size says
  NTFS_LCN MFTLcn = 0;
  std::uint32_t ClustersPerMFTRecord = 0;
  MFT_REF RootDirRef;
  IExDictionaryPtr NodeList;
  IExListPtr NodeCache;
  std::int32_t NodeCacheAccessCount = 0;
  std::int64_t AttributeListBytes = 0; // held by the attribute lists of cached nodes
  // Nodes a trim let go, each with its record block, for the next creations
  // (uNTFSNode.cpp); freed with the volume.
  std::vector<PNTFSNode> SpareNodes;
  std::int64_t RefCount = 0;
  // What opening had to work around (a damaged boot sector read from its
  // backup, record 0 read from $MFTMirr), for the scan's log.
  std::vector<std::string> OpeningNotes;
};
using PNTFSVolume = TNTFSVolumeRecord*;

// What an NTFS boot sector says of its volume.
struct TNTFSBootSector {
  std::uint16_t SectorSize = 0;
  std::uint32_t SectorsPerCluster = 0;
  std::int64_t TotalSectors = 0; // the backup boot sector lies just past them
  NTFS_LCN MFTLcn = 0;
  NTFS_LCN MFTMirrLcn = 0;
  std::uint32_t ClustersPerMFTRecord = 0;
  std::uint32_t MFTRecordSize = 0;

  std::uint32_t ClusterSize() const { return SectorSize * SectorsPerCluster; }
  // The volume's bytes with the backup boot sector after its sectors; none
  // when the count overflows.
  std::optional<std::int64_t> VolumeLength() const;
};

// The smallest sector an NTFS volume has; boot sectors and their backups
// are looked for at multiples of it.
constexpr std::int64_t kSmallestSectorSize = 512;

// Reads ABytes (at least kSmallestSectorSize of them) as an NTFS boot
// sector: none when it carries no NTFS signature or its geometry makes no
// sense.
std::optional<TNTFSBootSector> ReadNTFSBootSector(TByteView ABytes);

// Whether ARecord, an MFT record block as it lies on disk, is the $MFT's
// own record 0: a FILE record whose name is "$MFT".
bool IsMFTRecordZero(TByteView ARecord);

// Opens the volume held by ASource, known to the user as AName (a drive
// name, block device or image path), and reads its geometry and MFT. The
// volume comes back with RefCount 0: the caller takes its reference with
// NTFSVolumeAddRef. A source that delivers no bytes gives a volume that is
// not Initialized and has no records. Throws FSError for a boot sector that
// does not describe an NTFS volume and for an MFT whose first record cannot
// be read or is damaged.
PNTFSVolume NTFSVolumeInit(const std::u16string& AName, IVolumeSourcePtr ASource);
void NTFSVolumeAddRef(PNTFSVolume AVolume);
// Gives one reference back; the last one frees the volume with its nodes.
void NTFSVolumeRelease(PNTFSVolume AVolume);

// Holds one reference on a volume for the guard's life.
class TNTFSVolumeRef {
public:
  explicit TNTFSVolumeRef(PNTFSVolume AVolume) : FVolume(AVolume) { NTFSVolumeAddRef(FVolume); }
  ~TNTFSVolumeRef() { NTFSVolumeRelease(FVolume); }
  TNTFSVolumeRef(const TNTFSVolumeRef&) = delete;
  TNTFSVolumeRef& operator=(const TNTFSVolumeRef&) = delete;

  PNTFSVolume Get() const { return FVolume; }
  PNTFSVolume operator->() const { return FVolume; }

private:
  PNTFSVolume FVolume;
};
