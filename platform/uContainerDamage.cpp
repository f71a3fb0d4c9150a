#include "platform/uContainerDamage.h"

#include "foundation/uDescriptor.h"
#include "ntfs/uNTFSBytes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace {

// A container file read at the positions its own tables name; every read
// is checked for length, so a table cut short reads as missing.
class TContainerFile {
public:
  explicit TContainerFile(const std::string& APath) : FHandle(open(APath.c_str(), O_RDONLY | O_CLOEXEC)) {
    struct stat info {};
    if (FHandle.Get() >= 0 && fstat(FHandle.Get(), &info) == 0)
      FSize = info.st_size;
  }
  bool IsOpen() const { return FHandle.Get() >= 0; }
  std::int64_t Size() const { return FSize; }
  // The ALength bytes at AOffset, or nothing when the file does not hold
  // them all.
  std::optional<std::vector<std::uint8_t>> Bytes(std::int64_t AOffset, std::int64_t ALength) const {
    if (AOffset < 0 || ALength < 0 || AOffset > FSize || ALength > FSize - AOffset)
      return std::nullopt;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ALength));
    if (pread(FHandle.Get(), bytes.data(), bytes.size(), AOffset) != static_cast<ssize_t>(bytes.size()))
      return std::nullopt;
    return bytes;
  }

private:
  TDescriptor FHandle;
  std::int64_t FSize = 0;
};

std::uint64_t BigEndian(const std::vector<std::uint8_t>& ABytes, std::size_t AOffset, std::size_t ASize) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < ASize && AOffset + i < ABytes.size(); ++i)
    value = (value << 8) | ABytes[AOffset + i];
  return value;
}

// A little-endian field of ABytes; 0 outside them.
template <class T>
std::uint64_t LittleEndian(const std::vector<std::uint8_t>& ABytes, std::size_t AOffset) {
  return TByteView(ABytes.data(), ABytes.size()).Get<T>(AOffset);
}

// The disk bytes [ADiskOffset, ADiskOffset + ALength) as far as the disk
// reaches.
void NoteDamage(std::vector<TByteRange>& ADamage, std::int64_t ADiskOffset, std::int64_t ALength,
                std::int64_t AMediaSize) {
  const std::int64_t length = std::min(ALength, AMediaSize - ADiskOffset);
  if (length > 0)
    ADamage.push_back({ADiskOffset, length});
}

// The part of a block of the disk, [ADiskOffset, ADiskOffset + ALength),
// that lies past the end of the file when the block is stored from
// AFileOffset on: a file cut inside a block keeps the block's first bytes.
void NotePastEnd(std::vector<TByteRange>& ADamage, const TContainerFile& AFile, std::int64_t ADiskOffset,
                 std::int64_t ALength, std::uint64_t AFileOffset, std::int64_t AMediaSize) {
  const auto fileOffset = static_cast<std::int64_t>(std::min<std::uint64_t>(AFileOffset, INT64_MAX));
  const std::int64_t held = std::clamp<std::int64_t>(AFile.Size() - fileOffset, 0, ALength);
  NoteDamage(ADamage, ADiskOffset + held, ALength - held, AMediaSize);
}

// QCOW2 header fields (big-endian), from the format's description.
namespace QcowField {
constexpr std::size_t Version = 4;
constexpr std::size_t ClusterBits = 20;
constexpr std::size_t L1Size = 36;
constexpr std::size_t L1TableOffset = 40;
constexpr std::size_t HeaderSize = 48;
} // namespace QcowField
constexpr std::array<std::uint8_t, 4> kQcowMagic{'Q', 'F', 'I', 0xFB};
// Table entries keep the host offset in bits 9..55; bit 62 marks a
// compressed cluster, bit 0 one that reads as zeros.
constexpr std::uint64_t kQcowOffsetMask = 0x00FFFFFFFFFFFE00;
constexpr std::uint64_t kQcowCompressed = std::uint64_t{1} << 62;
constexpr std::uint64_t kQcowZero = 1;
// qemu refuses cluster sizes outside 512 bytes to 2 MiB.
constexpr std::uint64_t kQcowMinClusterBits = 9;
constexpr std::uint64_t kQcowMaxClusterBits = 21;

// VMDK sparse extent header fields (little-endian), from the format's
// description; positions and sizes count 512-byte sectors.
namespace VmdkField {
constexpr std::size_t Flags = 8;
constexpr std::size_t GrainSize = 20;
constexpr std::size_t EntriesPerTable = 44;
constexpr std::size_t DirectoryOffset = 56;
constexpr std::size_t HeaderSize = 80;
} // namespace VmdkField
constexpr std::int64_t kVmdkSectorSize = 512;
// A streamed extent keeps its directory at its end, behind markers.
constexpr std::uint64_t kVmdkDirectoryAtEnd = ~std::uint64_t{0};
constexpr std::uint32_t kVmdkCompressedGrains = 1u << 16;
// Table entries 0 (not allocated) and 1 (all zeros) name no grain.
constexpr std::uint64_t kVmdkFirstGrainEntry = 2;
// No writer makes grains beyond 1 MiB nor tables beyond 4,096 entries;
// larger values are damage, not an extent to walk.
constexpr std::uint64_t kVmdkMaxGrainSectors = 2048;
constexpr std::uint64_t kVmdkMaxEntriesPerTable = 4096;

// VHDX structures (little-endian), from the format's description: the
// region table at 192 KiB names the block allocation table and the
// metadata region by GUID; the metadata gives the block and sector size.
constexpr std::int64_t kVhdxRegionTable = 192 * 1024;
constexpr std::size_t kVhdxRegionEntries = 16;
constexpr std::size_t kVhdxRegionEntrySize = 32;
constexpr std::size_t kVhdxMaxRegions = 2047;
constexpr std::size_t kVhdxMetadataEntries = 32;
constexpr std::size_t kVhdxMetadataEntrySize = 32;
constexpr std::size_t kVhdxMaxMetadataEntries = 2047;
using TGuidBytes = std::array<std::uint8_t, 16>;
constexpr TGuidBytes kVhdxBatRegion{0x66, 0x77, 0xC2, 0x2D, 0x23, 0xF6, 0x00, 0x42,
                                    0x9D, 0x64, 0x11, 0x5E, 0x9B, 0xFD, 0x4A, 0x08};
constexpr TGuidBytes kVhdxMetadataRegion{0x06, 0xA2, 0x7C, 0x8B, 0x90, 0x47, 0x9A, 0x4B,
                                         0xB8, 0xFE, 0x57, 0x5F, 0x05, 0x0F, 0x88, 0x6E};
constexpr TGuidBytes kVhdxFileParameters{0x37, 0x67, 0xA1, 0xCA, 0x36, 0xFA, 0x43, 0x4D,
                                         0xB3, 0xB6, 0x33, 0xF0, 0xAA, 0x44, 0xE7, 0x6B};
constexpr TGuidBytes kVhdxLogicalSectorSize{0x1D, 0xBF, 0x41, 0x81, 0x6F, 0xA9, 0x09, 0x47,
                                            0xBA, 0x47, 0xF2, 0x33, 0xA8, 0xFA, 0xAB, 0x5F};
// A block allocation entry: its state in bits 0..2, the block's file
// offset in MiB from bit 20 on. Only present blocks have bytes in the file.
constexpr std::uint64_t kVhdxStateMask = 7;
constexpr std::uint64_t kVhdxFullyPresent = 6;
constexpr std::uint64_t kVhdxPartiallyPresent = 7;
constexpr int kVhdxOffsetShift = 20;
// Chunk ratio = 2^23 sectors of the disk per sector bitmap block.
constexpr std::uint64_t kVhdxSectorsPerBitmap = std::uint64_t{1} << 23;

bool GuidAt(const std::vector<std::uint8_t>& ABytes, std::size_t AOffset, const TGuidBytes& AGuid) {
  return AOffset + AGuid.size() <= ABytes.size() && std::equal(AGuid.begin(), AGuid.end(), ABytes.begin() + AOffset);
}

struct TVhdxRegion {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;
};

std::optional<TVhdxRegion> VhdxRegion(const TContainerFile& AFile, const TGuidBytes& AGuid) {
  const auto table = AFile.Bytes(kVhdxRegionTable, kVhdxRegionEntries + kVhdxMaxRegions * kVhdxRegionEntrySize);
  if (!table || std::memcmp(table->data(), "regi", 4) != 0)
    return std::nullopt;
  const auto count = std::min<std::size_t>(LittleEndian<std::uint32_t>(*table, 8), kVhdxMaxRegions);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kVhdxRegionEntries + i * kVhdxRegionEntrySize;
    if (GuidAt(*table, entry, AGuid))
      return TVhdxRegion{static_cast<std::int64_t>(LittleEndian<std::uint64_t>(*table, entry + 16)),
                         static_cast<std::int64_t>(LittleEndian<std::uint32_t>(*table, entry + 24))};
  }
  return std::nullopt;
}

// The first four bytes of the metadata item AGuid.
std::optional<std::uint32_t> VhdxMetadataValue(const TContainerFile& AFile, const TVhdxRegion& AMetadata,
                                                const TGuidBytes& AGuid) {
  const auto table =
      AFile.Bytes(AMetadata.Offset, kVhdxMetadataEntries + kVhdxMaxMetadataEntries * kVhdxMetadataEntrySize);
  if (!table || std::memcmp(table->data(), "metadata", 8) != 0)
    return std::nullopt;
  const auto count = std::min<std::size_t>(LittleEndian<std::uint16_t>(*table, 10), kVhdxMaxMetadataEntries);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t entry = kVhdxMetadataEntries + i * kVhdxMetadataEntrySize;
    if (!GuidAt(*table, entry, AGuid))
      continue;
    const auto itemOffset = static_cast<std::int64_t>(LittleEndian<std::uint32_t>(*table, entry + 16));
    if (const auto value = AFile.Bytes(AMetadata.Offset + itemOffset, 4))
      return static_cast<std::uint32_t>(LittleEndian<std::uint32_t>(*value, 0));
  }
  return std::nullopt;
}

} // namespace

void TDamageMap::Add(TByteRange ARange) {
  if (ARange.Length <= 0)
    return;
  auto at = std::lower_bound(FRanges.begin(), FRanges.end(), ARange.Offset,
                             [](const TByteRange& AKnown, std::int64_t AOffset) {
                               return AKnown.Offset + AKnown.Length < AOffset;
                             });
  std::int64_t first = ARange.Offset;
  std::int64_t end = ARange.Offset + ARange.Length;
  auto last = at;
  for (; last != FRanges.end() && last->Offset <= end; ++last) {
    first = std::min(first, last->Offset);
    end = std::max(end, last->Offset + last->Length);
  }
  at = FRanges.erase(at, last);
  FRanges.insert(at, {first, end - first});
}

std::int64_t TDamageMap::UndamagedFrom(std::int64_t APos, std::int64_t ALength) const {
  // The first range that ends after APos.
  const auto next = std::upper_bound(FRanges.begin(), FRanges.end(), APos,
                                     [](std::int64_t APosition, const TByteRange& ARange) {
                                       return APosition < ARange.Offset + ARange.Length;
                                     });
  if (next == FRanges.end())
    return ALength;
  return std::clamp<std::int64_t>(next->Offset - APos, 0, ALength);
}

std::vector<TByteRange> QcowClustersPastEnd(const std::string& APath, std::int64_t AMediaSize) {
  std::vector<TByteRange> damage;
  const TContainerFile file(APath);
  const auto header = file.IsOpen() ? file.Bytes(0, QcowField::HeaderSize) : std::nullopt;
  if (!header || !std::equal(kQcowMagic.begin(), kQcowMagic.end(), header->begin()))
    return damage;
  const std::uint64_t version = BigEndian(*header, QcowField::Version, 4);
  const std::uint64_t clusterBits = BigEndian(*header, QcowField::ClusterBits, 4);
  if (version < 2 || clusterBits < kQcowMinClusterBits || clusterBits > kQcowMaxClusterBits)
    return damage;
  const std::int64_t clusterSize = std::int64_t{1} << clusterBits;
  const std::int64_t entriesPerTable = clusterSize / 8;
  const std::int64_t bytesPerTable = clusterSize * entriesPerTable;
  const auto l1Size = static_cast<std::int64_t>(BigEndian(*header, QcowField::L1Size, 4));
  const auto l1 = file.Bytes(static_cast<std::int64_t>(BigEndian(*header, QcowField::L1TableOffset, 8)), l1Size * 8);
  if (!l1)
    return damage;
  for (std::int64_t i = 0; i < l1Size && i * bytesPerTable < AMediaSize; ++i) {
    const std::uint64_t l2Offset = BigEndian(*l1, static_cast<std::size_t>(i * 8), 8) & kQcowOffsetMask;
    if (l2Offset == 0)
      continue;
    const auto l2 = file.Bytes(static_cast<std::int64_t>(l2Offset), clusterSize);
    if (!l2) {
      NoteDamage(damage, i * bytesPerTable, bytesPerTable, AMediaSize);
      continue;
    }
    for (std::int64_t j = 0; j < entriesPerTable; ++j) {
      const std::int64_t diskOffset = i * bytesPerTable + j * clusterSize;
      if (diskOffset >= AMediaSize)
        break;
      const std::uint64_t entry = BigEndian(*l2, static_cast<std::size_t>(j * 8), 8);
      // A compressed cluster's offset field is narrower, and its length
      // is not a cluster's: its first byte must lie in the file at least.
      const bool compressed = (entry & kQcowCompressed) != 0;
      const std::uint64_t hostOffset =
          compressed ? entry & ((std::uint64_t{1} << (62 - (clusterBits - 8))) - 1) : entry & kQcowOffsetMask;
      if (hostOffset == 0 || (!compressed && (entry & kQcowZero) != 0))
        continue;
      if (!compressed)
        NotePastEnd(damage, file, diskOffset, clusterSize, hostOffset, AMediaSize);
      else if (hostOffset >= static_cast<std::uint64_t>(file.Size()))
        NoteDamage(damage, diskOffset, clusterSize, AMediaSize);
    }
  }
  return damage;
}

std::vector<TByteRange> VmdkGrainsPastEnd(const std::string& AExtentFile, std::int64_t ADiskOffset,
                                          std::int64_t AExtentSize) {
  std::vector<TByteRange> damage;
  const TContainerFile file(AExtentFile);
  const auto header = file.IsOpen() ? file.Bytes(0, VmdkField::HeaderSize) : std::nullopt;
  if (!header || std::memcmp(header->data(), "KDMV", 4) != 0)
    return damage;
  const std::uint64_t grainSectors = LittleEndian<std::uint64_t>(*header, VmdkField::GrainSize);
  const std::uint64_t entriesPerTable = LittleEndian<std::uint32_t>(*header, VmdkField::EntriesPerTable);
  const std::uint64_t directory = LittleEndian<std::uint64_t>(*header, VmdkField::DirectoryOffset);
  const bool compressed = (LittleEndian<std::uint32_t>(*header, VmdkField::Flags) & kVmdkCompressedGrains) != 0;
  if (grainSectors == 0 || grainSectors > kVmdkMaxGrainSectors || entriesPerTable == 0 ||
      entriesPerTable > kVmdkMaxEntriesPerTable || directory == kVmdkDirectoryAtEnd || AExtentSize <= 0)
    return damage;
  const auto grainSize = static_cast<std::int64_t>(grainSectors) * kVmdkSectorSize;
  const auto tableSpan = grainSize * static_cast<std::int64_t>(entriesPerTable);
  const std::int64_t tables = (AExtentSize + tableSpan - 1) / tableSpan;
  const std::int64_t extentEnd = ADiskOffset + AExtentSize;
  const auto directoryEntries =
      file.Bytes(static_cast<std::int64_t>(std::min<std::uint64_t>(directory, INT64_MAX / kVmdkSectorSize)) *
                     kVmdkSectorSize,
                 tables * 4);
  if (!directoryEntries) {
    NoteDamage(damage, ADiskOffset, AExtentSize, extentEnd);
    return damage;
  }
  for (std::int64_t i = 0; i < tables; ++i) {
    const std::int64_t tableDisk = ADiskOffset + i * tableSpan;
    const std::uint64_t tableSector =
        LittleEndian<std::uint32_t>(*directoryEntries, static_cast<std::size_t>(i * 4));
    if (tableSector == 0)
      continue;
    const auto table = file.Bytes(static_cast<std::int64_t>(tableSector) * kVmdkSectorSize,
                                  static_cast<std::int64_t>(entriesPerTable) * 4);
    if (!table) {
      NoteDamage(damage, tableDisk, tableSpan, extentEnd);
      continue;
    }
    for (std::int64_t j = 0; j < static_cast<std::int64_t>(entriesPerTable); ++j) {
      const std::int64_t grainDisk = tableDisk + j * grainSize;
      const std::uint64_t grainSector = LittleEndian<std::uint32_t>(*table, static_cast<std::size_t>(j * 4));
      if (grainDisk >= extentEnd)
        break;
      if (grainSector < kVmdkFirstGrainEntry)
        continue;
      // A compressed grain's length is its own: its first byte must lie
      // in the file at least.
      const std::uint64_t grainOffset = grainSector * kVmdkSectorSize;
      if (!compressed)
        NotePastEnd(damage, file, grainDisk, grainSize, grainOffset, extentEnd);
      else if (grainOffset >= static_cast<std::uint64_t>(file.Size()))
        NoteDamage(damage, grainDisk, grainSize, extentEnd);
    }
  }
  return damage;
}

std::vector<TByteRange> VhdxBlocksPastEnd(const std::string& APath, std::int64_t AMediaSize) {
  std::vector<TByteRange> damage;
  const TContainerFile file(APath);
  const auto identifier = file.IsOpen() ? file.Bytes(0, 8) : std::nullopt;
  if (!identifier || std::memcmp(identifier->data(), "vhdxfile", 8) != 0)
    return damage;
  const auto bat = VhdxRegion(file, kVhdxBatRegion);
  const auto metadata = VhdxRegion(file, kVhdxMetadataRegion);
  if (!bat || !metadata)
    return damage;
  const auto blockSize = VhdxMetadataValue(file, *metadata, kVhdxFileParameters);
  const auto sectorSize = VhdxMetadataValue(file, *metadata, kVhdxLogicalSectorSize);
  if (!blockSize || !sectorSize || *blockSize == 0 || *sectorSize == 0)
    return damage;
  const std::uint64_t chunkRatio = kVhdxSectorsPerBitmap * *sectorSize / *blockSize;
  if (chunkRatio == 0)
    return damage;
  // After every chunk ratio of payload entries comes one sector bitmap
  // entry. The table is read at once, as far as the file holds it.
  const std::int64_t blocks = (AMediaSize + *blockSize - 1) / *blockSize;
  const std::int64_t entries = blocks + blocks / static_cast<std::int64_t>(chunkRatio) + 1;
  const std::int64_t held = std::clamp<std::int64_t>(file.Size() - bat->Offset, 0, entries * 8);
  const std::vector<std::uint8_t> table = file.Bytes(bat->Offset, held / 8 * 8).value_or(std::vector<std::uint8_t>());
  for (std::int64_t block = 0; block < blocks; ++block) {
    const auto index = static_cast<std::size_t>(block + block / static_cast<std::int64_t>(chunkRatio));
    const std::int64_t diskOffset = block * *blockSize;
    if ((index + 1) * 8 > table.size()) {
      NoteDamage(damage, diskOffset, AMediaSize - diskOffset, AMediaSize);
      break;
    }
    const std::uint64_t value = LittleEndian<std::uint64_t>(table, index * 8);
    const std::uint64_t state = value & kVhdxStateMask;
    if (state == kVhdxFullyPresent || state == kVhdxPartiallyPresent)
      NotePastEnd(damage, file, diskOffset, *blockSize, (value >> kVhdxOffsetShift) << kVhdxOffsetShift, AMediaSize);
  }
  return damage;
}
