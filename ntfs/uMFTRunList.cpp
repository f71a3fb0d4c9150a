#include "ntfs/uMFTRunList.h"

#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <stdexcept>

namespace {

// A run's length and offset fields are at most eight bytes each.
constexpr unsigned MaxRunFieldSize = 8;
// The smallest sector a disk fails by: what a cluster that failed is asked
// for again in.
constexpr std::int64_t RereadSectorSize = 512;

// The little-endian value of AFieldSize bytes at AOffset; sign-extended from
// the top bit of the last byte when ASigned. The caller has checked the range.
std::int64_t ReadRunField(TByteView ARuns, std::size_t AOffset, unsigned AFieldSize, bool ASigned) {
  std::uint64_t value = 0;
  for (unsigned i = AFieldSize; i-- > 0;)
    value = (value << 8) | ARuns.Data()[AOffset + i];
  const bool negative = ASigned && AFieldSize > 0 && (ARuns.Data()[AOffset + AFieldSize - 1] & 0x80) != 0;
  if (negative && AFieldSize < MaxRunFieldSize)
    value |= ~std::uint64_t{0} << (8 * AFieldSize);
  return static_cast<std::int64_t>(value);
}

// The bytes of a span of one run: offsets count from the span's start,
// which lies AInRun bytes into the run that starts at cluster ALCN.
struct TRunBytes {
  IStreamEx& Volume;
  std::uint32_t ClusterSize;
  NTFS_LCN LCN;
  std::int64_t InRun;
  std::uint8_t* Dest;
  const TKeepRereading& KeepRereading;
};

// Reads the span's bytes [AFrom, AEnd) in pieces of APieceSize that lie on
// the volume's piece boundaries (a run starts on a cluster's), and hands
// AOnShort the bytes of each piece the device did not deliver, as offset
// and length.
void ReadInPieces(const TRunBytes& ARun, std::int64_t AFrom, std::int64_t AEnd, std::int64_t APieceSize,
                  const TUnreadBytes& AOnShort) {
  for (std::int64_t from = AFrom; from < AEnd;) {
    if (ARun.KeepRereading && !ARun.KeepRereading()) {
      AOnShort(from, AEnd - from);
      return;
    }
    const std::int64_t pieceEnd = std::min(((ARun.InRun + from) | (APieceSize - 1)) + 1 - ARun.InRun, AEnd);
    const std::int64_t delivered = ReadClusterBytes(ARun.Volume, ARun.ClusterSize, ARun.LCN, ARun.InRun + from,
                                                    pieceEnd - from, ARun.Dest + from);
    if (from + delivered < pieceEnd)
      AOnShort(from + delivered, pieceEnd - from - delivered);
    from = pieceEnd;
  }
}

} // namespace

IMFTRunListPtr MFTRunList::New() {
  return IMFTRunListPtr(new MFTRunList());
}

IMFTRunListPtr MFTRunList::New(std::vector<RunListElement> ARuns) {
  const IMFTRunListPtr list = New();
  auto& runs = static_cast<MFTRunList&>(*list);
  runs.FItems = std::move(ARuns);
  runs.FVCNCount = runs.FItems.empty() ? 0 : runs.FItems.back().VCN + runs.FItems.back().Length;
  return list;
}

NTFS_LCN MFTRunList::VCN2LCN(NTFS_VCN AVCN) {
  return RunAt(AVCN).LCN;
}

// Runs follow each other without gaps in VCN order, so the last run that
// starts at or before AVCN is the only one that can cover it.
RunListElement MFTRunList::RunAt(NTFS_VCN AVCN) {
  const auto after = std::upper_bound(FItems.begin(), FItems.end(), AVCN,
                                      [](NTFS_VCN AValue, const RunListElement& ARun) { return AValue < ARun.VCN; });
  if (after == FItems.begin())
    return {AVCN, 0, 0};
  const RunListElement& run = *std::prev(after);
  if (AVCN - run.VCN >= run.Length)
    return {AVCN, 0, 0};
  const NTFS_LCN lcn = run.LCN == 0 ? 0 : CheckedAdd<std::int64_t>(run.LCN, AVCN - run.VCN).value_or(0);
  return {AVCN, lcn, run.Length - (AVCN - run.VCN)};
}

// Each extent's data runs count their cluster offsets from LCN 0, and a
// sparse run leaves the current LCN where the last run with clusters put it:
// that is how Windows and ntfs-3g write them. The VCNs of a further extent
// continue where the runs already held end.
std::int32_t MFTRunList::Decompress(const void* AData, std::int32_t ADataSize) {
  const TByteView runs(AData, ADataSize > 0 ? static_cast<std::size_t>(ADataSize) : 0);
  NTFS_VCN nextVCN = FItems.empty() ? 0 : FItems.back().VCN + FItems.back().Length;
  NTFS_LCN currentLCN = 0;
  std::int32_t added = 0;

  std::size_t pos = 0;
  while (pos < runs.Size() && runs.Data()[pos] != 0) {
    const std::uint8_t header = runs.Data()[pos++];
    if (pos >= runs.Size())
      break;
    const unsigned lengthSize = header & 0x0F;
    const unsigned offsetSize = header >> 4;
    // Each field must be followed by at least one more byte: a run that ends
    // exactly at the end of the data, without its terminating 0, is not taken.
    if (lengthSize > MaxRunFieldSize || pos + lengthSize >= runs.Size())
      break;
    const std::int64_t length = ReadRunField(runs, pos, lengthSize, false);
    pos += lengthSize;
    if (offsetSize > MaxRunFieldSize || pos + offsetSize >= runs.Size())
      break;
    const std::int64_t offset = ReadRunField(runs, pos, offsetSize, true);
    pos += offsetSize;

    NTFS_LCN runLCN = 0;
    if (offsetSize > 0) {
      const auto moved = CheckedAdd(currentLCN, offset);
      if (!moved || *moved < 0)
        break;
      currentLCN = runLCN = *moved;
    }
    const auto runEnd = CheckedAdd(nextVCN, length);
    const auto vcnCount = CheckedAdd(FVCNCount, length);
    if (length < 0 || !runEnd || !vcnCount)
      break;
    FItems.push_back({nextVCN, runLCN, length});
    nextVCN = *runEnd;
    FVCNCount = *vcnCount;
    ++added;
  }
  SortItems();
  return added;
}

std::int32_t MFTRunList::ItemCount() {
  return static_cast<std::int32_t>(FItems.size());
}

RunListElement MFTRunList::Item(std::int32_t AIndex) {
  if (AIndex < 0)
    throw std::out_of_range("MFTRunList.Item: index out of range.");
  return FItems.at(static_cast<std::size_t>(AIndex));
}

std::int64_t MFTRunList::VCNCount() {
  return FVCNCount;
}

bool MFTRunList::IsUse(NTFS_LCN ALCN) {
  if (ALCN == 0)
    return false;
  return std::any_of(FItems.begin(), FItems.end(), [ALCN](const RunListElement& run) {
    return run.LCN != 0 && ALCN >= run.LCN && ALCN - run.LCN < run.Length;
  });
}

void MFTRunList::Clear() {
  FItems.clear();
  FVCNCount = 0;
}

// Runs are appended at increasing VCNs, so this normally finds nothing to do;
// equal VCNs keep their order.
void MFTRunList::SortItems() {
  std::stable_sort(FItems.begin(), FItems.end(),
                   [](const RunListElement& A, const RunListElement& B) { return A.VCN < B.VCN; });
}

TMFTRunListStream::TMFTRunListStream(IStreamExPtr AVolumeStream, std::uint32_t AClusterSize,
                                     IMFTRunListPtr ARunList, std::int64_t ADataSize, std::int64_t AValidSize)
    : FDataSize(ADataSize),
      FValidSize(std::max<std::int64_t>(AValidSize, 0)),
      FRunList(std::move(ARunList)),
      FVolumeStream(std::move(AVolumeStream)),
      FClusterSize(AClusterSize),
      FClusterSizeBits(NTFSUtils::GetSizeBits(AClusterSize)) {}

std::shared_ptr<TMFTRunListStream> TMFTRunListStream::ReadThrough(IStreamExPtr AVolumeStream,
                                                                   TRereads ARereads) const {
  auto stream = std::make_shared<TMFTRunListStream>(std::move(AVolumeStream), FClusterSize, FRunList, FDataSize,
                                                    FValidSize);
  stream->FRereads = ARereads;
  return stream;
}

std::int64_t TMFTRunListStream::Size() {
  return FDataSize;
}

// Past the end of the runs only zeros follow. A size that no run supports
// is not taken further than the volume itself reaches: a damaged or
// crafted size of exabytes must not become a restore of exabytes of zeros.
// A device that cannot tell its size (0) lets nothing past the runs.
std::int64_t TMFTRunListStream::ReadableSize() {
  const std::int64_t mapped = CheckedMul<std::int64_t>(FRunList->VCNCount(), FClusterSize)
                                  .value_or(std::numeric_limits<std::int64_t>::max());
  return std::min(FDataSize, std::max(mapped, FVolumeStream->Size()));
}

// The request is served a run at a time, so that clusters that lie
// together on disk are read together.
std::int64_t TMFTRunListStream::Read(std::int64_t APos, std::int64_t ASize, void* ADest) {
  if (APos < 0 || ASize <= 0 || APos >= ReadableSize() || FClusterSize == 0)
    return 0;
  auto* dest = static_cast<std::uint8_t*>(ADest);
  const std::int64_t total = std::min(ASize, ReadableSize() - APos);
  for (std::int64_t done = 0; done < total;) {
    const std::int64_t position = APos + done;
    const NTFS_VCN vcn = position >> FClusterSizeBits;
    const RunListElement run = FRunList->RunAt(vcn);
    // Past the runs, one cluster at a time is as good as any other count.
    const std::int64_t clusters = std::max<std::int64_t>(run.Length, 1);
    const std::int64_t inRun = CheckedMul<std::int64_t>(clusters, FClusterSize)
                                   .value_or(std::numeric_limits<std::int64_t>::max()) -
                               (position - (vcn << FClusterSizeBits));
    const std::int64_t length = std::min(inRun, total - done);
    ReadSpan(position, run, length, dest + done);
    done += length;
  }
  return total;
}

// Sparse and unmapped clusters, and bytes past the valid size, read as
// zeros; so do bytes the device does not deliver, which are also noted as
// unread. Runs are decoded from VCN 0 on without gaps, so only clusters
// past their end are unmapped: those are noted too.
void TMFTRunListStream::ReadSpan(std::int64_t APosition, const RunListElement& ARun, std::int64_t ALength,
                                 std::uint8_t* ADest) {
  if (ARun.Length == 0)
    FNoRuns.Note(APosition, ALength);
  const std::int64_t written = std::clamp<std::int64_t>(FValidSize - APosition, 0, ALength);
  std::memset(ADest + written, 0, static_cast<std::size_t>(ALength - written));
  if (ARun.LCN == 0) {
    std::memset(ADest, 0, static_cast<std::size_t>(written));
    return;
  }
  const std::int64_t inCluster = APosition - (ARun.VCN << FClusterSizeBits);
  if (FRereads == TRereads::ByCaller) {
    const std::int64_t done = ReadClusterBytes(*FVolumeStream, FClusterSize, ARun.LCN, inCluster, written, ADest);
    FUnread.Note(APosition + done, written - done);
    return;
  }
  ReadClusterBytesNarrowing(*FVolumeStream, FClusterSize, ARun.LCN, inCluster, written, ADest,
                            [&](std::int64_t AOffset, std::int64_t ALength) {
                              FUnread.Note(APosition + AOffset, ALength);
                            },
                            FKeepRereading);
}

std::vector<TByteRange> UnreadRangesOf(const IStreamEx& AStream) {
  const auto* reporter = dynamic_cast<const IUnreadReporter*>(&AStream);
  return reporter ? reporter->UnreadRanges() : std::vector<TByteRange>{};
}

std::vector<TByteRange> NoRunsRangesOf(const IStreamEx& AStream) {
  const auto* stream = dynamic_cast<const TMFTRunListStream*>(&AStream);
  return stream ? stream->NoRunsRanges() : std::vector<TByteRange>{};
}

// A device fails a whole request for one bad sector: what the request did
// not deliver is asked for again a cluster at a time, so that only the
// clusters that fail are asked for a sector at a time.
void ReadClusterBytesNarrowing(IStreamEx& AVolumeStream, std::uint32_t AClusterSize, NTFS_LCN ALCN,
                               std::int64_t AOffset, std::int64_t ALength, std::uint8_t* ADest,
                               const TUnreadBytes& AOnUnread, const TKeepRereading& AKeepRereading) {
  const TRunBytes run{AVolumeStream, AClusterSize, ALCN, AOffset, ADest, AKeepRereading};
  const std::int64_t done = ReadClusterBytes(AVolumeStream, AClusterSize, ALCN, AOffset, ALength, ADest);
  ReadInPieces(run, done, ALength, AClusterSize, [&](std::int64_t AFrom, std::int64_t AMissing) {
    ReadInPieces(run, AFrom, AFrom + AMissing, RereadSectorSize, AOnUnread);
  });
}

std::int64_t ReadClusterBytes(IStreamEx& AVolumeStream, std::uint32_t AClusterSize, NTFS_LCN ALCN,
                              std::int64_t AOffset, std::int64_t ALength, std::uint8_t* ADest) {
  std::int64_t delivered = 0;
  const auto clusterStart = CheckedMul<std::int64_t>(ALCN, AClusterSize);
  const auto pos = clusterStart ? CheckedAdd(*clusterStart, AOffset) : std::nullopt;
  if (pos)
    delivered = std::clamp<std::int64_t>(AVolumeStream.Read(*pos, ALength, ADest), 0, ALength);
  if (delivered < ALength)
    std::memset(ADest + delivered, 0, static_cast<std::size_t>(ALength - delivered));
  return delivered;
}
