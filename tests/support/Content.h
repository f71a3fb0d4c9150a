#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// What a fixture file holds, segment after segment: random bytes (LZNT1
// cannot shrink them), text (compresses well), zeros written out, or a hole
// that is never written (sparse, reads back as zeros), or given bytes (a
// file format a test needs exactly). The manifest stores the layout as text
// ("text:300,hole:65536,rand:4096,hex:0201") with a seed, so a test can
// regenerate every byte the builder wrote.
enum class SegmentKind { Random, Text, Zero, Hole, Given };

struct ContentSegment {
  SegmentKind Kind;
  std::uint64_t Size;
  std::string Bytes = {}; // what a Given segment holds
};

struct ContentLayout {
  std::vector<ContentSegment> Segments;

  std::uint64_t TotalSize() const;
  bool HasHoles() const;
  std::string Format() const;
  // Throws std::invalid_argument naming the bad segment.
  static ContentLayout Parse(const std::string& AText);
};

// The whole content, holes as zeros. Equal layouts and seeds give equal bytes.
std::string GenerateContent(const ContentLayout& ALayout, std::uint64_t ASeed);

// Shorthands for recipes and tests.
ContentLayout RandomBytes(std::uint64_t ASize);
ContentLayout TextBytes(std::uint64_t ASize);
ContentLayout GivenBytes(std::string ABytes);

} // namespace testsupport
