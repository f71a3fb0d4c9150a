#include "tests/support/Content.h"

#include <array>
#include <charconv>
#include <cstring>
#include <optional>
#include <string_view>
#include <stdexcept>

namespace testsupport {

namespace {

struct KindName {
  SegmentKind Kind;
  const char* Name;
};

constexpr std::array<KindName, 5> kKindNames = {{{SegmentKind::Random, "rand"},
                                                 {SegmentKind::Text, "text"},
                                                 {SegmentKind::Zero, "zero"},
                                                 {SegmentKind::Hole, "hole"},
                                                 {SegmentKind::Given, "hex"}}};
constexpr char kHexDigits[] = "0123456789abcdef";

std::string HexOf(const std::string& ABytes) {
  std::string hex;
  for (const char c : ABytes) {
    hex += kHexDigits[static_cast<unsigned char>(c) >> 4];
    hex += kHexDigits[static_cast<unsigned char>(c) & 0xF];
  }
  return hex;
}

// The bytes of lower-case hex digits; nothing when they are not.
std::optional<std::string> BytesOfHex(std::string_view AHex) {
  if (AHex.size() % 2 != 0)
    return std::nullopt;
  std::string bytes;
  for (std::size_t i = 0; i < AHex.size(); i += 2) {
    const char* high = std::strchr(kHexDigits, AHex[i]);
    const char* low = std::strchr(kHexDigits, AHex[i + 1]);
    if (AHex[i] == 0 || AHex[i + 1] == 0 || !high || !low)
      return std::nullopt;
    bytes += static_cast<char>((high - kHexDigits) << 4 | (low - kHexDigits));
  }
  return bytes;
}

// splitmix64: tiny, fast and the same on every platform.
class SeededGenerator {
public:
  explicit SeededGenerator(std::uint64_t ASeed) : FState(ASeed) {}
  std::uint64_t Next() {
    std::uint64_t z = (FState += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }

private:
  std::uint64_t FState;
};

void AppendRandom(std::string& AOut, std::uint64_t ASize, SeededGenerator& AGen) {
  for (std::uint64_t i = 0; i < ASize; i += 8) {
    std::uint64_t word = AGen.Next();
    for (std::uint64_t b = 0; b < 8 && i + b < ASize; ++b, word >>= 8)
      AOut += static_cast<char>(word & 0xFF);
  }
}

void AppendText(std::string& AOut, std::uint64_t ASize, SeededGenerator& AGen) {
  static constexpr const char* kWords[] = {"recovery ", "cluster ",  "record ", "volume ",
                                           "folder ",   "deleted ", "stream ", "index ",
                                           "the ",      "of ",      "and ",    "data\n"};
  const std::size_t end = AOut.size() + ASize;
  while (AOut.size() < end) {
    const std::string_view word = kWords[AGen.Next() % std::size(kWords)];
    AOut.append(word.substr(0, end - AOut.size()));
  }
}

} // namespace

std::uint64_t ContentLayout::TotalSize() const {
  std::uint64_t total = 0;
  for (const ContentSegment& segment : Segments)
    total += segment.Size;
  return total;
}

bool ContentLayout::HasHoles() const {
  for (const ContentSegment& segment : Segments)
    if (segment.Kind == SegmentKind::Hole)
      return true;
  return false;
}

std::string ContentLayout::Format() const {
  std::string text;
  for (const ContentSegment& segment : Segments) {
    if (!text.empty())
      text += ',';
    for (const KindName& kind : kKindNames)
      if (kind.Kind == segment.Kind)
        text += kind.Name;
    text += ':' + (segment.Kind == SegmentKind::Given ? HexOf(segment.Bytes) : std::to_string(segment.Size));
  }
  return text;
}

ContentLayout ContentLayout::Parse(const std::string& AText) {
  ContentLayout layout;
  std::size_t start = 0;
  while (start < AText.size()) {
    std::size_t end = AText.find(',', start);
    if (end == std::string::npos)
      end = AText.size();
    const std::string item = AText.substr(start, end - start);
    const std::size_t colon = item.find(':');
    const KindName* found = nullptr;
    for (const KindName& kind : kKindNames)
      if (colon != std::string::npos && item.compare(0, colon, kind.Name) == 0)
        found = &kind;
    const std::invalid_argument bad("content layout: bad segment \"" + item + "\" in \"" + AText + "\"");
    if (found && found->Kind == SegmentKind::Given) {
      const std::optional<std::string> bytes = BytesOfHex(std::string_view(item).substr(colon + 1));
      if (!bytes)
        throw bad;
      layout.Segments.push_back(GivenBytes(*bytes).Segments.front());
      start = end + 1;
      continue;
    }
    std::uint64_t size = 0;
    const char* sizeEnd = item.data() + item.size();
    const bool sizeOk = found && std::from_chars(item.data() + colon + 1, sizeEnd, size).ptr == sizeEnd &&
                        colon + 1 < item.size();
    if (!sizeOk)
      throw bad;
    layout.Segments.push_back({found->Kind, size});
    start = end + 1;
  }
  return layout;
}

std::string GenerateContent(const ContentLayout& ALayout, std::uint64_t ASeed) {
  SeededGenerator gen(ASeed);
  std::string out;
  out.reserve(ALayout.TotalSize());
  for (const ContentSegment& segment : ALayout.Segments) {
    switch (segment.Kind) {
    case SegmentKind::Random:
      AppendRandom(out, segment.Size, gen);
      break;
    case SegmentKind::Text:
      AppendText(out, segment.Size, gen);
      break;
    case SegmentKind::Zero:
    case SegmentKind::Hole:
      out.append(segment.Size, '\0');
      break;
    case SegmentKind::Given:
      out += segment.Bytes;
      break;
    }
  }
  return out;
}

ContentLayout RandomBytes(std::uint64_t ASize) { return {{{SegmentKind::Random, ASize}}}; }

ContentLayout TextBytes(std::uint64_t ASize) { return {{{SegmentKind::Text, ASize}}}; }

ContentLayout GivenBytes(std::string ABytes) {
  const std::uint64_t size = ABytes.size();
  return {{{SegmentKind::Given, size, std::move(ABytes)}}};
}

} // namespace testsupport
