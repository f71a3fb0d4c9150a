#pragma once

#include "ntfs/uNTFSBytes.h"

#include <cstddef>
#include <cstdint>

// LZNT1, the compression NTFS applies to each compression unit: a sequence
// of chunks, each a 2-byte header followed by the packed form of up to
// 4,096 bytes, either as LZ77 tokens or stored as they are.
namespace LZNT1 {

// Bytes one chunk stands for. Chunk i of a unit expands to the bytes from
// i × ChunkSize on; a chunk that expands to less leaves zeros behind it.
constexpr std::size_t ChunkSize = 4096;

// Expands the chunks of ASource into the ADestSize bytes at ADest, which
// start zeroed. The chunks end at a header of 0, where ASource has no room
// for another header, or once ADest is full. A chunk that runs past the end
// of ASource, a back-reference before the start of its chunk, or a chunk
// that expands past its 4,096 bytes (or past ADest) throws
// CompressedDataException naming the chunk and its byte offset in ASource.
void Decompress(TByteView ASource, std::uint8_t* ADest, std::size_t ADestSize);

} // namespace LZNT1
