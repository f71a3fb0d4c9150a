#pragma once

// The fuzzers' form of a volume image: the image's size, then the pieces
// that are not zeros, so that a 16 MiB fixture volume becomes a seed of a
// few hundred KiB whose every byte the volume's reader looks at.
//
//   u64 image size, then any number of: u64 offset, u32 length, bytes
//
// all little-endian. A piece cut short by the end of the input is kept as
// far as it goes.

#include "tests/support/uMemoryDevice.h"

#include <cstdint>
#include <vector>

namespace fuzz {

// The fuzzers keep a mutated image this small, so that a scan stays quick.
constexpr std::int64_t kMaxSparseImageSize = 16 * 1024 * 1024;

inline std::uint64_t TakeLE(const std::uint8_t*& AData, std::size_t& ASize, std::size_t ABytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < ABytes && i < ASize; ++i)
    value |= std::uint64_t{AData[i]} << (8 * i);
  const std::size_t taken = ABytes < ASize ? ABytes : ASize;
  AData += taken;
  ASize -= taken;
  return value;
}

inline void LoadSparseImage(testsupport::TMemorySource& ADevice, const std::uint8_t* AData, std::size_t ASize) {
  ADevice.SetSize(static_cast<std::int64_t>(TakeLE(AData, ASize, 8) % (kMaxSparseImageSize + 1)));
  while (ASize > 0) {
    const std::uint64_t offset = TakeLE(AData, ASize, 8) % kMaxSparseImageSize;
    const std::size_t length = static_cast<std::size_t>(TakeLE(AData, ASize, 4));
    const std::size_t taken = length < ASize ? length : ASize;
    ADevice.Put(static_cast<std::int64_t>(offset), AData, taken);
    AData += taken;
    ASize -= taken;
  }
}

inline void AppendLE(std::vector<std::uint8_t>& AOut, std::uint64_t AValue, std::size_t ABytes) {
  for (std::size_t i = 0; i < ABytes; ++i)
    AOut.push_back(static_cast<std::uint8_t>(AValue >> (8 * i)));
}

} // namespace fuzz
