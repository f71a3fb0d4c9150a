#pragma once

#include "foundation/uStreamEx.h"
#include "ntfs/uMFTRunList.h"

#include <cstdint>
#include <limits>
#include <vector>

// The data of an NTFS-compressed attribute. The data is cut into
// compression units of 2^n clusters, each stored in one of three ways,
// told apart by the runs over the unit's clusters:
// - all clusters on disk: the unit's bytes as they are (data LZNT1 could
//   not shrink);
// - clusters on disk followed by sparse ones: the unit LZNT1-compressed
//   into the clusters on disk;
// - all clusters sparse: zeros.
// The last unit may be cut short by the end of the run list; its clusters
// are judged the same way.
// Clusters the device cannot deliver read as zeros and are reported: in a
// unit stored as it is, just their bytes; in a compressed unit, the whole
// unit, which stays zeros rather than expanding into garbage.
class TCompressedRunListStream : public IStreamEx, public IUnreadReporter {
public:
  // ACompressionUnitSize is the attribute header's power of two. Throws
  // CompressedDataException for a cluster size that is no power of two or
  // a unit larger than any writer makes.
  // Bytes from AValidSize on read as zeros, as in TMFTRunListStream.
  TCompressedRunListStream(IStreamExPtr AVolumeStream, std::uint32_t AClusterSize,
                           std::uint16_t ACompressionUnitSize, IMFTRunListPtr ARunList, std::int64_t ADataSize,
                           std::int64_t AValidSize = std::numeric_limits<std::int64_t>::max());

  // Reads end at the end of the data or of the run list. A unit that
  // cannot be expanded throws CompressedDataException naming the unit and
  // where it starts in the data; a read that reaches such a unit after
  // delivering bytes of earlier ones returns those first, short.
  std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) override;
  std::int64_t Size() override;
  const std::vector<TByteRange>& UnreadRanges() const override { return FUnread.Ranges(); }
  std::int64_t UnreadBytesNoted() const override { return FUnread.NotedBytes(); }
  void SetKeepRereading(TKeepRereading AKeepRereading) { FKeepRereading = std::move(AKeepRereading); }

private:
  static constexpr std::int64_t NoUnit = -1;

  // The unit's bytes, expanded; kept until another unit is asked for.
  const std::uint8_t* ExpandedUnit(std::int64_t AUnit);
  // Reads the clusters ALCNs, in order, into ADest; returns the ranges of
  // ADest the device did not deliver, which hold zeros.
  std::vector<TByteRange> ReadClusters(const std::vector<NTFS_LCN>& ALCNs, std::uint8_t* ADest);
  // Notes unread bytes at AOffset of the data, as far as the data reaches.
  void NoteUnread(std::int64_t AOffset, std::int64_t ALength);
  void Expand(std::int64_t AUnit, std::size_t APackedClusters);
  // Where the runs end, in bytes; nothing is mapped past it.
  std::int64_t MappedSize();

  std::int64_t FDataSize;
  std::int64_t FValidSize;
  IMFTRunListPtr FRunList;
  IStreamExPtr FVolumeStream;
  TKeepRereading FKeepRereading;
  std::uint32_t FClusterSize;
  std::int64_t FUnitClusters;
  std::int64_t FUnitBytes;
  std::vector<std::uint8_t> FUnit;
  std::vector<std::uint8_t> FPacked;
  std::int64_t FLoadedUnit = NoUnit;
  TUnreadRanges FUnread;
};
