// One index block as it lies on disk, from the input: its fix-up, then
// every name its used part and its unused tail yield.

#include "ntfs/uIndexNames.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 4096;
constexpr std::int64_t kFolder = 5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
  std::vector<std::uint8_t> block(kBlockSize);
  std::copy_n(AData, std::min(ASize, kBlockSize), block.begin());
  (void)FixupIndexBlock(block.data(), kBlockSize);
  for (const TIndexName& name : IndexBlockNames(TByteView(block.data(), block.size()), kFolder))
    (void)name.Name.size();
  return 0;
}
