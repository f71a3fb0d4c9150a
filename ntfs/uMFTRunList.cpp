#include "ntfs/uMFTRunList.h"

#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace {

// A run's length and offset fields are at most eight bytes each.
constexpr unsigned MaxRunFieldSize = 8;

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
  for (const RunListElement& run : FItems) {
    if (AVCN < run.VCN || AVCN - run.VCN >= run.Length)
      continue;
    if (run.LCN == 0)
      return 0;
    return CheckedAdd<std::int64_t>(run.LCN, AVCN - run.VCN).value_or(0);
  }
  return 0;
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

std::int64_t TMFTRunListStream::Read(std::int64_t APos, std::int64_t ASize, void* ADest) {
  if (APos < 0 || ASize <= 0 || APos >= ReadableSize() || FClusterSize == 0)
    return 0;
  auto* dest = static_cast<std::uint8_t*>(ADest);
  NTFS_VCN vcn = APos >> FClusterSizeBits;
  std::int64_t inCluster = APos - (vcn << FClusterSizeBits);
  std::int64_t remainder = std::min(ASize, ReadableSize() - APos);

  // A request inside one cluster is served whole, even past the last run.
  if (ASize <= static_cast<std::int64_t>(FClusterSize) - inCluster) {
    ReadCluster(vcn, inCluster, remainder, dest);
    return remainder;
  }
  std::int64_t total = 0;
  while (remainder > 0) {
    const std::int64_t n = std::min<std::int64_t>(FClusterSize - inCluster, remainder);
    ReadCluster(vcn, inCluster, n, dest + total);
    inCluster = 0;
    remainder -= n;
    total += n;
    ++vcn;
  }
  return total;
}

// Sparse and unmapped clusters, and bytes past the valid size, read as
// zeros; so do bytes the device does not deliver, which are also noted as
// unread. Runs are decoded from VCN 0 on without gaps, so only clusters
// past their end are unmapped: those are noted too.
void TMFTRunListStream::ReadCluster(NTFS_VCN AVCN, std::int64_t AInCluster, std::int64_t ALength,
                                    std::uint8_t* ADest) {
  const std::int64_t position = (AVCN << FClusterSizeBits) + AInCluster;
  if (AVCN >= FRunList->VCNCount())
    FNoRuns.Note(position, ALength);
  const std::int64_t written = std::clamp<std::int64_t>(FValidSize - position, 0, ALength);
  std::memset(ADest + written, 0, static_cast<std::size_t>(ALength - written));
  const NTFS_LCN lcn = FRunList->VCN2LCN(AVCN);
  if (lcn == 0) {
    std::memset(ADest, 0, static_cast<std::size_t>(written));
    return;
  }
  if (written == 0)
    return;
  const std::int64_t delivered = ReadClusterBytes(*FVolumeStream, FClusterSize, lcn, AInCluster, written, ADest);
  if (delivered < written)
    FUnread.Note(position + delivered, written - delivered);
}

std::vector<TByteRange> UnreadRangesOf(const IStreamEx& AStream) {
  const auto* reporter = dynamic_cast<const IUnreadReporter*>(&AStream);
  return reporter ? reporter->UnreadRanges() : std::vector<TByteRange>{};
}

std::vector<TByteRange> NoRunsRangesOf(const IStreamEx& AStream) {
  const auto* stream = dynamic_cast<const TMFTRunListStream*>(&AStream);
  return stream ? stream->NoRunsRanges() : std::vector<TByteRange>{};
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
