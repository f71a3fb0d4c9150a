// Fuzz target: a compressed attribute's stream over an in-memory volume.
// The input is a small header (cluster size, compression unit, data size),
// the attribute's data runs, and the volume's bytes:
//   byte 0      cluster size as a power of two (masked to 512 .. 4096)
//   byte 1      compression unit size as the attribute header holds it
//   bytes 2-5   data size, little-endian, below 256 KiB
//   bytes 6-7   length of the data runs that follow, little-endian
//   then        the data runs, then the volume.
// Every read must stay inside its buffers; a damaged unit may only raise
// FSError.

#include "foundation/uStreamEx.h"
#include "ntfs/uCompressedStream.h"
#include "ntfs/uFSError.h"
#include "ntfs/uNTFSBytes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t HeaderSize = 8;
constexpr unsigned MinClusterBits = 9;
constexpr unsigned ClusterBitsSpan = 4; // 512, 1024, 2048, 4096
// Four units of 64 KiB are enough to reach every path; more only slows
// the fuzzer down.
constexpr std::uint32_t MaxDataSize = 4 * 65536;
// Reads of these sizes straddle clusters, chunks and units, and the last is
// the engine's copy block.
constexpr std::int64_t ReadSizes[] = {7, 4096, 65536};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  const TByteView input(AData, ASize);
  if (!input.Contains(0, HeaderSize))
    return 0;
  const std::uint32_t clusterSize = 1u << (MinClusterBits + input.Get<std::uint8_t>(0) % ClusterBitsSpan);
  const std::uint16_t unitSize = input.Get<std::uint8_t>(1);
  const std::int64_t dataSize = input.Get<std::uint32_t>(2) % MaxDataSize;
  const std::size_t runsSize = input.Get<std::uint16_t>(6);
  const TByteView runs = input.Sub(HeaderSize, runsSize);
  const TByteView volume = input.From(HeaderSize + runs.Size());

  const IMFTRunListPtr runList = MFTRunList::New();
  runList->Decompress(runs.Data(), static_cast<std::int32_t>(runs.Size()));
  const IStreamExPtr device = StreamEx::GetMemoryStream(volume.Data(), static_cast<std::int32_t>(volume.Size()));
  // Unit sizes the stream refuses make it throw before this is used.
  const std::int64_t unitBytes = unitSize < 16 ? (std::int64_t{1} << unitSize) * clusterSize : 1;
  try {
    TCompressedRunListStream stream(device, clusterSize, unitSize, runList, dataSize);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(ReadSizes[std::size(ReadSizes) - 1]));
    for (const std::int64_t readSize : ReadSizes) {
      for (std::int64_t pos = 0; pos < stream.Size();) {
        std::int64_t n = 0;
        try {
          n = stream.Read(pos, readSize, buffer.data());
        } catch (const FSError&) {
          // A damaged unit: go on after it, as a reader of the rest would.
          // Stepping on by the read size instead would expand it again for
          // every few bytes of it.
          pos = (pos / unitBytes + 1) * unitBytes;
          continue;
        }
        if (n <= 0 || n > readSize)
          break;
        pos += n;
      }
    }
  } catch (const FSError&) {
    // A cluster or unit size no writer makes.
  }
  return 0;
}
