// Data runs: decoding one or more extents into one run list, the lookups
// over it, and reading a run-list stream through it from a small device,
// where cluster numbers from the runs meet the stream's arithmetic.

#include "ntfs/uMFTRunList.h"
#include "ntfs/uNTFSBytes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Extents are separated by this byte pair in the input, so that the fuzzer
// can grow and split them.
constexpr std::uint8_t kSeparator[] = {0xE5, 0x7E};
constexpr std::uint32_t kClusterSize = 512;
constexpr std::size_t kDeviceSize = 64 * kClusterSize;
// Read at most this far into the stream, in pieces that cross clusters.
constexpr std::int64_t kReadLimit = 16 * kClusterSize;
constexpr std::int64_t kReadPiece = 700;

std::vector<std::vector<std::uint8_t>> Extents(const std::uint8_t* AData, std::size_t ASize) {
  std::vector<std::vector<std::uint8_t>> extents(1);
  for (std::size_t i = 0; i < ASize; ++i) {
    if (i + 1 < ASize && AData[i] == kSeparator[0] && AData[i + 1] == kSeparator[1]) {
      extents.emplace_back();
      ++i;
    } else {
      extents.back().push_back(AData[i]);
    }
  }
  return extents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const IMFTRunListPtr runs = MFTRunList::New();
  for (const std::vector<std::uint8_t>& extent : Extents(AData, ASize))
    runs->Decompress(extent.data(), static_cast<std::int32_t>(extent.size()));

  for (std::int32_t i = 0; i < runs->ItemCount(); ++i) {
    const RunListElement run = runs->Item(i);
    // A run may end at the top of the range: its last cluster, not the one after.
    (void)runs->VCN2LCN(run.VCN);
    (void)runs->VCN2LCN(run.VCN + (run.Length > 0 ? run.Length - 1 : 0));
    (void)runs->IsUse(run.LCN);
    (void)runs->IsUse(CheckedAdd(run.LCN, run.Length).value_or(run.LCN));
  }

  static std::vector<std::uint8_t> device = [] {
    std::vector<std::uint8_t> bytes(kDeviceSize);
    for (std::size_t i = 0; i < bytes.size(); ++i)
      bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return bytes;
  }();
  const std::int64_t dataSize = CheckedMul<std::int64_t>(runs->VCNCount(), kClusterSize).value_or(INT64_MAX);
  TMFTRunListStream stream(StreamEx::GetMemoryStream(device.data(), static_cast<std::int32_t>(device.size())),
                           kClusterSize, runs, dataSize);
  std::vector<std::uint8_t> buffer(kReadPiece);
  for (std::int64_t pos = 0; pos < kReadLimit; pos += kReadPiece)
    if (stream.Read(pos, kReadPiece, buffer.data()) <= 0)
      break;
  (void)stream.UnreadRanges();
  return 0;
}
