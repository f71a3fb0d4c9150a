#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace testsupport {

// Incremental SHA-256, so the fixture builder and the tests hash large
// contents without holding them twice.
class Sha256 {
public:
  Sha256();
  void Update(std::string_view ABytes);
  // Lower-case hex digest; the object must not be updated afterwards.
  std::string HexDigest();

private:
  void Compress(const std::uint8_t* ABlock);

  std::uint32_t FState[8];
  std::uint8_t FBlock[64];
  std::size_t FBlockUsed = 0;
  std::uint64_t FTotalBytes = 0;
};

std::string Sha256Hex(std::string_view ABytes);

} // namespace testsupport
