#pragma once

// Hand-made LZNT1 chunks for the decoder and the compressed stream tests.

#include "HandMadeRecords.h"

#include <array>
#include <cstdint>
#include <string>

namespace handmade {

constexpr std::uint16_t CompressedChunk = 0xB000; // flag and the signature Windows writes
constexpr std::uint16_t StoredChunk = 0x3000;

// A chunk header followed by APacked.
inline TBytes Chunk(std::uint16_t AKind, const TBytes& APacked) {
  TBytes chunk;
  AppendLE(chunk, AKind | (APacked.size() - 1), 2);
  chunk.insert(chunk.end(), APacked.begin(), APacked.end());
  return chunk;
}

inline TBytes Bytes(const std::string& AText) {
  return TBytes(AText.begin(), AText.end());
}

inline TBytes Concat(std::initializer_list<TBytes> AParts) {
  TBytes all;
  for (const TBytes& part : AParts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A compressed chunk that expands to ASize bytes (19 to 4,096) of APattern
// repeated: sixteen literals, then one back-reference to the start.
inline TBytes PatternChunk(const std::array<std::uint8_t, 16>& APattern, std::size_t ASize) {
  TBytes packed{0x00};
  packed.insert(packed.end(), APattern.begin(), APattern.begin() + 8);
  packed.push_back(0x00);
  packed.insert(packed.end(), APattern.begin() + 8, APattern.end());
  packed.push_back(0x01);
  // 16 bytes expanded: 12 length bits, offset 16 stored as 15.
  AppendLE(packed, (15u << 12) | (ASize - 16 - 3), 2);
  return Chunk(CompressedChunk, packed);
}

// What PatternChunk expands to.
inline TBytes Repeated(const std::array<std::uint8_t, 16>& APattern, std::size_t ASize) {
  TBytes bytes(ASize);
  for (std::size_t i = 0; i < ASize; ++i)
    bytes[i] = APattern[i % APattern.size()];
  return bytes;
}

} // namespace handmade
