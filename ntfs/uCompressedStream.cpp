#include "ntfs/uCompressedStream.h"

#include "ntfs/uFSError.h"
#include "ntfs/uLZNT1.h"
#include "ntfs/uNTFSBytes.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace {

// Windows and ntfs-3g write units of 16 clusters and compress only volumes
// with clusters of at most 4 KiB, so 64 KiB units. The limit leaves room for
// any other writer while keeping a crafted header from asking for a buffer
// of gigabytes.
constexpr std::uint16_t MaxCompressionUnitSize = 16;
constexpr std::int64_t MaxUnitBytes = 1024 * 1024;

std::int64_t UnitBytes(std::uint32_t AClusterSize, std::uint16_t ACompressionUnitSize) {
  if (AClusterSize == 0 || (AClusterSize & (AClusterSize - 1)) != 0)
    throw CompressedDataException("Compressed data cannot be read: the cluster size " + std::to_string(AClusterSize) +
                                  " is not a power of two.");
  const std::int64_t bytes = ACompressionUnitSize <= MaxCompressionUnitSize
                                 ? (std::int64_t{1} << ACompressionUnitSize) * AClusterSize
                                 : std::numeric_limits<std::int64_t>::max();
  if (bytes > MaxUnitBytes)
    throw CompressedDataException("Compressed data cannot be read: a compression unit of 2^" +
                                  std::to_string(ACompressionUnitSize) + " clusters of " +
                                  std::to_string(AClusterSize) + " bytes is larger than " +
                                  std::to_string(MaxUnitBytes) + " bytes.");
  return bytes;
}

} // namespace

TCompressedRunListStream::TCompressedRunListStream(IStreamExPtr AVolumeStream, std::uint32_t AClusterSize,
                                                   std::uint16_t ACompressionUnitSize, IMFTRunListPtr ARunList,
                                                   std::int64_t ADataSize, std::int64_t AValidSize)
    : FDataSize(ADataSize),
      FValidSize(std::max<std::int64_t>(AValidSize, 0)),
      FRunList(std::move(ARunList)),
      FVolumeStream(std::move(AVolumeStream)),
      FClusterSize(AClusterSize),
      FUnitBytes(UnitBytes(AClusterSize, ACompressionUnitSize)) {
  FUnitClusters = FUnitBytes / FClusterSize;
  FUnit.resize(static_cast<std::size_t>(FUnitBytes));
  FPacked.resize(static_cast<std::size_t>(FUnitBytes));
}

std::int64_t TCompressedRunListStream::Size() {
  return FDataSize;
}

std::int64_t TCompressedRunListStream::Read(std::int64_t APos, std::int64_t ASize, void* ADest) {
  if (APos < 0 || ASize <= 0 || APos >= FDataSize)
    return 0;
  const std::int64_t requestEnd = CheckedAdd(APos, ASize).value_or(std::numeric_limits<std::int64_t>::max());
  const std::int64_t end = std::min({requestEnd, FDataSize, MappedSize()});
  auto* dest = static_cast<std::uint8_t*>(ADest);
  std::int64_t pos = APos;
  while (pos < end) {
    const std::int64_t unit = pos / FUnitBytes;
    const std::int64_t inUnit = pos % FUnitBytes;
    const std::int64_t n = std::min(FUnitBytes - inUnit, end - pos);
    const std::uint8_t* bytes = nullptr;
    try {
      bytes = ExpandedUnit(unit);
    } catch (const CompressedDataException&) {
      // Bytes already delivered go out first; the next read starts at the
      // damaged unit and reports it.
      if (pos > APos)
        break;
      throw;
    }
    const std::int64_t valid = std::clamp<std::int64_t>(FValidSize - pos, 0, n);
    std::memcpy(dest + (pos - APos), bytes + inUnit, static_cast<std::size_t>(valid));
    std::memset(dest + (pos - APos) + valid, 0, static_cast<std::size_t>(n - valid));
    pos += n;
  }
  return std::max<std::int64_t>(0, pos - APos);
}

std::int64_t TCompressedRunListStream::MappedSize() {
  return CheckedMul<std::int64_t>(FRunList->VCNCount(), FClusterSize)
      .value_or(std::numeric_limits<std::int64_t>::max());
}

const std::uint8_t* TCompressedRunListStream::ExpandedUnit(std::int64_t AUnit) {
  if (AUnit == FLoadedUnit)
    return FUnit.data();
  FLoadedUnit = NoUnit;
  // Units are only asked for below MappedSize, so the VCNs cannot overflow.
  const NTFS_VCN first = AUnit * FUnitClusters;
  const NTFS_VCN end = std::min(first + FUnitClusters, FRunList->VCNCount());
  std::vector<NTFS_LCN> onDisk;
  bool sparse = false;
  for (NTFS_VCN vcn = first; vcn < end; ++vcn) {
    const NTFS_LCN lcn = FRunList->VCN2LCN(vcn);
    if (lcn == 0)
      sparse = true;
    else
      onDisk.push_back(lcn);
  }
  std::fill(FUnit.begin(), FUnit.end(), std::uint8_t{0});
  const std::int64_t unitStart = AUnit * FUnitBytes;
  if (!sparse) {
    for (const TByteRange& missing : ReadClusters(onDisk, FUnit.data()))
      NoteUnread(unitStart + missing.Offset, missing.Length);
  } else if (!onDisk.empty()) {
    if (ReadClusters(onDisk, FPacked.data()).empty())
      Expand(AUnit, onDisk.size());
    else
      NoteUnread(unitStart, FUnitBytes);
  }
  FLoadedUnit = AUnit;
  return FUnit.data();
}

// Neighbouring clusters are read in one go.
std::vector<TByteRange> TCompressedRunListStream::ReadClusters(const std::vector<NTFS_LCN>& ALCNs,
                                                               std::uint8_t* ADest) {
  std::vector<TByteRange> missing;
  for (std::size_t i = 0; i < ALCNs.size();) {
    std::size_t j = i + 1;
    while (j < ALCNs.size() && ALCNs[j] - 1 == ALCNs[j - 1])
      ++j;
    const std::int64_t start = static_cast<std::int64_t>(i) * FClusterSize;
    const std::int64_t length = static_cast<std::int64_t>(j - i) * FClusterSize;
    ReadClusterBytesNarrowing(*FVolumeStream, FClusterSize, ALCNs[i], 0, length, ADest + start,
                              [&](std::int64_t AOffset, std::int64_t ALength) {
                                missing.push_back({start + AOffset, ALength});
                              },
                              FKeepRereading);
    i = j;
  }
  return missing;
}

void TCompressedRunListStream::NoteUnread(std::int64_t AOffset, std::int64_t ALength) {
  if (AOffset < FDataSize)
    FUnread.Note(AOffset, std::min(ALength, FDataSize - AOffset));
}

void TCompressedRunListStream::Expand(std::int64_t AUnit, std::size_t APackedClusters) {
  try {
    LZNT1::Decompress(TByteView(FPacked.data(), APackedClusters * FClusterSize), FUnit.data(), FUnit.size());
  } catch (const CompressedDataException& e) {
    throw CompressedDataException("Compression unit " + std::to_string(AUnit) + " at byte " +
                                  std::to_string(AUnit * FUnitBytes) + " of the data cannot be expanded: " +
                                  e.what());
  }
}
