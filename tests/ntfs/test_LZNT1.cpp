// LZNT1 chunks made by hand: token forms, chunk placement, where the chunk
// sequence ends, and every kind of damage the decoder must refuse without
// reading or writing outside its buffers.

#include "LZNT1Chunks.h"

#include "ntfs/uFSError.h"
#include "ntfs/uLZNT1.h"

#include <gtest/gtest.h>

namespace {

using handmade::Bytes;
using handmade::Chunk;
using handmade::CompressedChunk;
using handmade::Concat;
using handmade::StoredChunk;
using handmade::TBytes;

// "a" and then a back-reference one byte back for five more: the copy
// overlaps what it produces.
const TBytes SixAs = Chunk(CompressedChunk, {0x02, 'a', 0x02, 0x00});
const TBytes Hello = Chunk(StoredChunk, Bytes("hello"));

// Seventeen literals and then a back-reference of 3 bytes to the start.
// With 17 bytes expanded the length field has 11 bits, so 0x8000 means
// offset 17; read with 12 bits it would be offset 9.
TBytes SeventeenThenBackReference() {
  TBytes packed{0x00};
  const TBytes letters = Bytes("ABCDEFGHIJKLMNOPQ");
  packed.insert(packed.end(), letters.begin(), letters.begin() + 8);
  packed.push_back(0x00);
  packed.insert(packed.end(), letters.begin() + 8, letters.begin() + 16);
  packed.insert(packed.end(), {0x02, 'Q', 0x00, 0x80});
  return Chunk(CompressedChunk, packed);
}

// Expected content: AParts placed at their offsets, zeros elsewhere.
TBytes Placed(std::size_t ASize, std::initializer_list<std::pair<std::size_t, std::string>> AParts) {
  TBytes bytes(ASize, 0);
  for (const auto& [offset, text] : AParts)
    std::copy(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(offset));
  return bytes;
}

struct TGoodCase {
  const char* Name;
  TBytes Source;
  TBytes Expected; // its size is the destination's
};

class LZNT1GoodTest : public ::testing::TestWithParam<TGoodCase> {};

TEST_P(LZNT1GoodTest, ExpandsToTheExpectedBytes) {
  const TGoodCase& c = GetParam();
  TBytes dest(c.Expected.size(), 0xCC);
  LZNT1::Decompress(TByteView(c.Source.data(), c.Source.size()), dest.data(), dest.size());
  EXPECT_EQ(dest, c.Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, LZNT1GoodTest,
    ::testing::Values(
        TGoodCase{"Literals", Chunk(CompressedChunk, Concat({{0x00}, Bytes("abcdefgh"), {0x00}, Bytes("i")})),
                  Placed(4096, {{0, "abcdefghi"}})},
        TGoodCase{"OverlappingBackReference", SixAs, Placed(4096, {{0, "aaaaaa"}})},
        TGoodCase{"StoredChunk", Hello, Placed(4096, {{0, "hello"}})},
        TGoodCase{"LengthBitsShrinkPastSixteenBytes", SeventeenThenBackReference(),
                  Placed(4096, {{0, "ABCDEFGHIJKLMNOPQABC"}})},
        TGoodCase{"EachChunkStartsAtItsOwn4096Bytes", Concat({SixAs, Hello}),
                  Placed(8192, {{0, "aaaaaa"}, {4096, "hello"}})},
        TGoodCase{"HeaderZeroEndsTheChunks", Concat({SixAs, {0x00, 0x00}, Hello}), Placed(8192, {{0, "aaaaaa"}})},
        TGoodCase{"OneByteLeftEndsTheChunks", Concat({SixAs, {0x41}}), Placed(8192, {{0, "aaaaaa"}})},
        // Bytes after the chunk that fills the destination are slack.
        TGoodCase{"FullDestinationEndsTheChunks", Concat({SixAs, Hello}), Placed(4096, {{0, "aaaaaa"}})},
        TGoodCase{"DestinationSmallerThanAChunk", SixAs, Placed(2048, {{0, "aaaaaa"}})},
        TGoodCase{"NoChunksAtAll", {}, Placed(4096, {})}),
    [](const ::testing::TestParamInfo<TGoodCase>& AInfo) { return AInfo.param.Name; });

struct TBadCase {
  const char* Name;
  TBytes Source;
  std::size_t DestSize;
  std::string Message;
};

class LZNT1BadTest : public ::testing::TestWithParam<TBadCase> {};

TEST_P(LZNT1BadTest, RaisesNamingTheChunk) {
  const TBadCase& c = GetParam();
  // The source and destination are exactly as large as declared, so the
  // sanitizer build sees any access outside them.
  TBytes dest(c.DestSize);
  try {
    LZNT1::Decompress(TByteView(c.Source.data(), c.Source.size()), dest.data(), dest.size());
    FAIL() << "no error raised";
  } catch (const FSError& e) {
    EXPECT_EQ(std::string(e.what()), c.Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Damage, LZNT1BadTest,
    ::testing::Values(
        TBadCase{"ChunkRunsPastTheData", {0x10, 0xB0, 0x00, 'a', 'b'}, 4096,
                 "LZNT1 chunk 0 at byte 0 runs 14 bytes past the end of the compressed data."},
        TBadCase{"BackReferenceBeforeTheStart", Concat({SixAs, Chunk(CompressedChunk, {0x02, 'a', 0x00, 0x10})}),
                 8192, "LZNT1 chunk 1 at byte 6 refers back 2 bytes from byte 1 of its output."},
        TBadCase{"StartsWithABackReference", Chunk(CompressedChunk, {0x01, 0x00, 0x00}), 4096,
                 "LZNT1 chunk 0 at byte 0 starts with a back-reference."},
        TBadCase{"BackReferenceCutByTheChunkEnd", Chunk(CompressedChunk, {0x02, 'a', 0x05}), 4096,
                 "LZNT1 chunk 0 at byte 0 ends inside a back-reference at byte 2."},
        // "a" and a back-reference of 4,098 bytes: 4,099 in all.
        TBadCase{"BackReferencePastTheChunkSize", Chunk(CompressedChunk, {0x02, 'a', 0xFF, 0x0F}), 8192,
                 "LZNT1 chunk 0 at byte 0 expands past 4096 bytes."},
        TBadCase{"LiteralPastTheDestination",
                 Chunk(CompressedChunk, Concat({{0x00}, Bytes("abcdefgh"), {0x00}, Bytes("i")})), 8,
                 "LZNT1 chunk 0 at byte 0 expands past 8 bytes."},
        TBadCase{"StoredChunkPastTheDestination", Hello, 4,
                 "LZNT1 chunk 0 at byte 0 expands past 4 bytes."}),
    [](const ::testing::TestParamInfo<TBadCase>& AInfo) { return AInfo.param.Name; });

} // namespace
