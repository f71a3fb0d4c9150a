#include "engine/uFileMask.h"

#include "foundation/uUnicode.h"

#include <algorithm>

namespace {

struct TCodePoint {
  char32_t Value;
  std::size_t Length; // in UTF-16 code units
};

bool IsHighSurrogate(char32_t AUnit) { return AUnit >= 0xD800 && AUnit <= 0xDBFF; }
bool IsLowSurrogate(char32_t AUnit) { return AUnit >= 0xDC00 && AUnit <= 0xDFFF; }

// NTFS names are unchecked UTF-16: a surrogate without its partner stands for
// itself.
TCodePoint CodePointAt(std::u16string_view AText, std::size_t AIndex) {
  const char32_t unit = AText[AIndex];
  if (IsHighSurrogate(unit) && AIndex + 1 < AText.size() && IsLowSurrogate(AText[AIndex + 1]))
    return {0x10000 + ((unit - 0xD800) << 10) + (AText[AIndex + 1] - 0xDC00), 2};
  return {unit, 1};
}

std::u32string DecodeUtf16(std::u16string_view AText) {
  std::u32string result;
  for (std::size_t i = 0; i < AText.size();) {
    const TCodePoint point = CodePointAt(AText, i);
    result.push_back(point.Value);
    i += point.Length;
  }
  return result;
}

std::string EncodeUtf8(std::u32string_view AText) {
  std::string result;
  for (char32_t c : AText)
    AppendUtf8(result, IsHighSurrogate(c) || IsLowSurrogate(c) ? 0xFFFD : c);
  return result;
}

std::string InvalidMaskMessage(std::u32string_view AMask, std::size_t APosition) {
  std::string message = "'";
  message += EncodeUtf8(AMask);
  message += "' is an invalid mask at (";
  message += std::to_string(APosition);
  message += ')';
  return message;
}

// Only the ASCII letters fold; every other character matches only itself.
char32_t FoldCase(char32_t AChar) {
  return AChar >= U'a' && AChar <= U'z' ? AChar - (U'a' - U'A') : AChar;
}

constexpr char32_t LastSetMember = 0xFF;

void AddRange(std::bitset<256>& AMembers, char32_t AFirst, char32_t ALast) {
  for (char32_t c = AFirst; c <= std::min(ALast, LastSetMember); ++c)
    AMembers.set(c);
}

} // namespace

InvalidMaskError::InvalidMaskError(std::u32string_view AMask, std::size_t APosition)
    : std::runtime_error(InvalidMaskMessage(AMask, APosition)) {}

bool TFileMask::TElement::Accepts(char32_t AChar) const {
  switch (Kind) {
  case TElementKind::ekLiteral:
    return FoldCase(AChar) == Literal;
  case TElementKind::ekAnyChar:
    return true;
  case TElementKind::ekSet:
    return (AChar <= LastSetMember && Members.test(FoldCase(AChar))) != Negate;
  }
  return false;
}

// Turns the mask text into elements, one per character position of a name.
class TFileMask::TCompiler {
public:
  TCompiler(std::u16string_view AMask, TFileMask& AResult)
      : FMask(DecodeUtf16(AMask)), FResult(AResult) {}

  void Run() {
    for (FPos = 0; FPos < FMask.size(); ++FPos) {
      switch (FMask[FPos]) {
      case U'*':
        FPendingStar = true;
        break;
      case U'?':
        // Right after a "*" a "?" adds nothing: the "*" already covers it.
        if (!FPendingStar)
          Add(TElement(TElementKind::ekAnyChar));
        break;
      case U'[':
        Add(ScanSet());
        break;
      default:
        Add(TElement(TElementKind::ekLiteral, FoldCase(FMask[FPos])));
      }
    }
    if (FPendingStar) {
      CountElementAfterStar();
      FResult.FEndsWithStar = true;
    }
  }

private:
  // Reads the set that opens at FPos and leaves FPos on its closing "]".
  TElement ScanSet() {
    TElement set(TElementKind::ekSet);
    ++FPos;
    if (FPos < FMask.size() && FMask[FPos] == U'!') {
      set.Negate = true;
      ++FPos;
    }
    bool hasLastChar = false;
    char32_t lastChar = 0;
    for (; FPos < FMask.size() && FMask[FPos] != U']'; ++FPos) {
      if (FMask[FPos] == U'-') {
        if (!hasLastChar)
          Fail(); // a range without its first character
        // The character after "-" always ends the range, even a "]".
        if (++FPos == FMask.size())
          Fail();
        AddRange(set.Members, lastChar, FoldCase(FMask[FPos]));
      } else {
        lastChar = FoldCase(FMask[FPos]);
        hasLastChar = true;
        AddRange(set.Members, lastChar, lastChar);
      }
    }
    // No closing "]", or nothing that could ever be a member.
    if (FPos == FMask.size() || set.Members.none())
      Fail();
    return set;
  }

  void Add(TElement AElement) {
    if (FPendingStar)
      CountElementAfterStar();
    AElement.FollowsStar = FPendingStar;
    FPendingStar = false;
    FResult.FElements.push_back(AElement);
  }

  void CountElementAfterStar() {
    if (++FElementsAfterStar > MaxElementsAfterStar)
      Fail();
  }

  [[noreturn]] void Fail() const { throw InvalidMaskError(FMask, FPos + 1); }

  const std::u32string FMask;
  TFileMask& FResult;
  std::size_t FPos = 0;
  bool FPendingStar = false;
  int FElementsAfterStar = 0;
};

TFileMask::TFileMask(std::u16string_view AMask) { TCompiler(AMask, *this).Run(); }

// Every element covers exactly one character, so on a mismatch only the most
// recent "*" needs to swallow one more character: the match is linear in the
// name for each "*" rather than exponential in the number of stars.
bool TFileMask::Matches(std::u16string_view AName) const {
  constexpr std::size_t NoStar = static_cast<std::size_t>(-1);
  std::size_t element = 0;
  std::size_t pos = 0;
  std::size_t starElement = NoStar;
  std::size_t starPos = 0;
  for (;;) {
    if (element < FElements.size()) {
      if (FElements[element].FollowsStar) {
        starElement = element;
        starPos = pos;
      }
      if (pos < AName.size()) {
        const TCodePoint point = CodePointAt(AName, pos);
        if (FElements[element].Accepts(point.Value)) {
          ++element;
          pos += point.Length;
          continue;
        }
      }
    } else if (FEndsWithStar || pos == AName.size()) {
      return true;
    }
    if (starElement == NoStar || starPos >= AName.size())
      return false;
    starPos += CodePointAt(AName, starPos).Length;
    element = starElement;
    pos = starPos;
  }
}
