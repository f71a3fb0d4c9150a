#include "ntfs/uLZNT1.h"

#include "ntfs/uFSError.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// Chunk header: the low 12 bits hold the packed size minus 1, the top bit
// says whether the chunk holds tokens or its bytes as they are.
constexpr std::size_t ChunkHeaderSize = 2;
constexpr std::uint16_t ChunkSizeMask = 0x0FFF;
constexpr std::uint16_t ChunkCompressedFlag = 0x8000;

// A back-reference is a 16-bit token: offset bits above, length bits below.
// The length bits start at 12 and lose one each time the bytes already
// expanded in the chunk double past 16, so that the offset can always reach
// back to the chunk's start.
constexpr std::size_t BackReferenceSize = 2;
constexpr unsigned MaxLengthBits = 12;
constexpr std::size_t LengthBitsThreshold = 16;
constexpr std::size_t MinMatchLength = 3;
constexpr unsigned TokensPerFlagByte = 8;

// Where in the compressed data a fault lies, for the error message.
struct TChunkPlace {
  std::size_t Index;
  std::size_t Offset; // of the chunk's header in the compressed data
};

[[noreturn]] void Fail(const TChunkPlace& AChunk, const std::string& AWhat) {
  throw CompressedDataException("LZNT1 chunk " + std::to_string(AChunk.Index) + " at byte " +
                                std::to_string(AChunk.Offset) + " " + AWhat + ".");
}

unsigned LengthBits(std::size_t AExpanded) {
  unsigned bits = MaxLengthBits;
  for (std::size_t i = AExpanded - 1; i >= LengthBitsThreshold; i >>= 1)
    --bits;
  return bits;
}

// Expands the tokens of one chunk into ADest, at most ADestSize bytes.
void ExpandTokens(TByteView ATokens, std::uint8_t* ADest, std::size_t ADestSize, const TChunkPlace& AChunk) {
  std::size_t in = 0;
  std::size_t out = 0;
  while (in < ATokens.Size()) {
    const std::uint8_t flags = ATokens.Data()[in++];
    for (unsigned token = 0; token < TokensPerFlagByte && in < ATokens.Size(); ++token) {
      if ((flags & (1u << token)) == 0) {
        if (out >= ADestSize)
          Fail(AChunk, "expands past " + std::to_string(ADestSize) + " bytes");
        ADest[out++] = ATokens.Data()[in++];
        continue;
      }
      const std::optional<std::uint16_t> reference = ATokens.TryGet<std::uint16_t>(in);
      if (!reference)
        Fail(AChunk, "ends inside a back-reference at byte " + std::to_string(in));
      if (out == 0)
        Fail(AChunk, "starts with a back-reference");
      in += BackReferenceSize;
      const unsigned lengthBits = LengthBits(out);
      const std::size_t offset = (std::size_t{*reference} >> lengthBits) + 1;
      const std::size_t length = (*reference & ((1u << lengthBits) - 1)) + MinMatchLength;
      if (offset > out)
        Fail(AChunk, "refers back " + std::to_string(offset) + " bytes from byte " + std::to_string(out) +
                         " of its output");
      if (length > ADestSize - out)
        Fail(AChunk, "expands past " + std::to_string(ADestSize) + " bytes");
      // Byte by byte: a reference may overlap the bytes it produces.
      for (std::size_t i = 0; i < length; ++i, ++out)
        ADest[out] = ADest[out - offset];
    }
  }
}

} // namespace

void LZNT1::Decompress(TByteView ASource, std::uint8_t* ADest, std::size_t ADestSize) {
  std::memset(ADest, 0, ADestSize);
  std::size_t pos = 0;
  for (std::size_t index = 0; index * ChunkSize < ADestSize; ++index) {
    const std::optional<std::uint16_t> header = ASource.TryGet<std::uint16_t>(pos);
    if (!header || *header == 0)
      return;
    const TChunkPlace chunk{index, pos};
    const std::size_t packedSize = (*header & ChunkSizeMask) + 1u;
    if (!ASource.Contains(pos + ChunkHeaderSize, packedSize))
      Fail(chunk, "runs " + std::to_string(pos + ChunkHeaderSize + packedSize - ASource.Size()) +
                      " bytes past the end of the compressed data");
    const TByteView packed = ASource.Sub(pos + ChunkHeaderSize, packedSize);
    std::uint8_t* dest = ADest + index * ChunkSize;
    const std::size_t destSize = std::min(ChunkSize, ADestSize - index * ChunkSize);
    if ((*header & ChunkCompressedFlag) != 0) {
      ExpandTokens(packed, dest, destSize, chunk);
    } else {
      if (packedSize > destSize)
        Fail(chunk, "expands past " + std::to_string(destSize) + " bytes");
      std::memcpy(dest, packed.Data(), packedSize);
    }
    pos += ChunkHeaderSize + packedSize;
  }
}
