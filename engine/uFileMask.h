#pragma once

#include <bitset>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The mask error: "'<mask>' is an invalid mask at (<position>)", with the mask
// in UTF-8 and the 1-based position of the offending character.
class InvalidMaskError : public std::runtime_error {
public:
  InvalidMaskError(std::u32string_view AMask, std::size_t APosition);
};

// A file-name mask compiled once and matched against many names.
//   "*"      any run of characters, the empty run included
//   "?"      exactly one character; after a "*" it adds nothing
//   "[...]"  one character of the set, or with a leading "!" one outside it;
//            a set lists characters and ranges such as "a-f"
// The letters a to z match their upper-case forms, also inside sets; any
// other character matches only itself, and characters above U+00FF are never
// members of a set. Every other mask character must stand in the name at its
// place, so "*.*" matches only names that contain a dot. A UTF-16 surrogate
// pair counts as one character.
class TFileMask {
public:
  // Throws InvalidMaskError for a set without its closing "]", an empty set,
  // a range without a first character, or more than MaxElementsAfterStar
  // elements that follow a "*".
  explicit TFileMask(std::u16string_view AMask);

  bool Matches(std::u16string_view AName) const;

  static constexpr int MaxElementsAfterStar = 30;

private:
  enum class TElementKind { ekLiteral, ekAnyChar, ekSet };

  // One character position of the mask.
  struct TElement {
    explicit TElement(TElementKind AKind, char32_t ALiteral = 0) : Kind(AKind), Literal(ALiteral) {}
    TElementKind Kind;
    bool FollowsStar = false;
    char32_t Literal; // already folded to upper case
    bool Negate = false;
    std::bitset<256> Members; // folded to upper case
    bool Accepts(char32_t AChar) const;
  };

  class TCompiler;

  std::vector<TElement> FElements;
  bool FEndsWithStar = false;
};
