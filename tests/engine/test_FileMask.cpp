#include "engine/uFileMask.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename TChar>
std::basic_string<TChar> Repeat(const TChar* APart, int ACount) {
  std::basic_string<TChar> result;
  for (int i = 0; i < ACount; ++i)
    result += APart;
  return result;
}

std::string Join(std::initializer_list<std::string_view> AParts) {
  std::string result;
  for (std::string_view part : AParts)
    result += part;
  return result;
}

struct TMatchCase {
  std::u16string Mask;
  std::u16string Name;
  bool Matches;
};

void PrintTo(const TMatchCase& ACase, std::ostream* AOut) {
  *AOut << ::testing::PrintToString(ACase.Mask) << " on " << ::testing::PrintToString(ACase.Name);
}

class FileMaskMatchTest : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(FileMaskMatchTest, MatchesAsExpected) {
  EXPECT_EQ(TFileMask(GetParam().Mask).Matches(GetParam().Name), GetParam().Matches);
}

INSTANTIATE_TEST_SUITE_P(
    Wildcards, FileMaskMatchTest,
    ::testing::Values(
        // The default mask wants a dot somewhere; "*" takes everything.
        TMatchCase{u"*.*", u"README", false}, TMatchCase{u"*.*", u"a.txt", true},
        TMatchCase{u"*.*", u".hidden", true}, TMatchCase{u"*.*", u"archive.tar.gz", true},
        TMatchCase{u"*", u"README", true}, TMatchCase{u"*", u"", true},
        TMatchCase{u"*.doc", u"b.doc", true}, TMatchCase{u"*.doc", u"B.DOC", true},
        TMatchCase{u"*.doc", u".doc", true}, TMatchCase{u"*.doc", u"a.txt", false},
        TMatchCase{u"*.doc", u"b.docx", false}, TMatchCase{u"*.doc", u"doc", false},
        TMatchCase{u"a*", u"a", true}, TMatchCase{u"a*", u"ba", false},
        TMatchCase{u"*abc", u"ababc", true}, TMatchCase{u"*abc", u"abab", false},
        TMatchCase{u"a*b*c", u"aXbYc", true}, TMatchCase{u"a*b*c", u"acb", false},
        TMatchCase{u"**x", u"x", true},
        // "?" is one character, but nothing right after a "*".
        TMatchCase{u"?", u"a", true}, TMatchCase{u"?", u"", false},
        TMatchCase{u"?", u"ab", false}, TMatchCase{u"a?c", u"abc", true},
        TMatchCase{u"a?c", u"ac", false}, TMatchCase{u"a?c", u"abbc", false},
        TMatchCase{u"*?", u"", true}, TMatchCase{u"*??x", u"x", true},
        TMatchCase{u"?*", u"", false}, TMatchCase{u"?*", u"abc", true},
        // Characters with no meaning outside a set stand for themselves.
        TMatchCase{u"a]", u"a]", true}, TMatchCase{u"!-x", u"!-x", true},
        TMatchCase{u"!-x", u"a-x", false},
        // Only a to z fold.
        TMatchCase{u"\u00e9", u"\u00c9", false}, TMatchCase{u"\u0101", u"\u0101", true},
        // A surrogate pair is one character.
        TMatchCase{u"?", u"\U0001F600", true}, TMatchCase{u"??", u"\U0001F600", false},
        TMatchCase{u"\U0001F600*", u"\U0001F600.txt", true},
        // Many stars over a long name must not backtrack exponentially.
        TMatchCase{Repeat(u"*a", 20) + u"*b", Repeat(u"a", 255), false},
        TMatchCase{Repeat(u"*a", 20) + u"*b", Repeat(u"a", 254) + u"b", true},
        // Thirty elements after a "*" are still allowed.
        TMatchCase{Repeat(u"*a", 30), Repeat(u"a", 30), true}));

INSTANTIATE_TEST_SUITE_P(
    Sets, FileMaskMatchTest,
    ::testing::Values(
        TMatchCase{u"[abc]*", u"apple", true}, TMatchCase{u"[abc]*", u"Banana", true},
        TMatchCase{u"[abc]*", u"date", false}, TMatchCase{u"[ABC]*", u"cherry", true},
        TMatchCase{u"[!abc]*", u"date", true}, TMatchCase{u"[!abc]*", u"apple", false},
        TMatchCase{u"[!abc]*", u"Apple", false}, TMatchCase{u"[!abc]*", u"", false},
        TMatchCase{u"[a-f]x", u"cx", true}, TMatchCase{u"[a-f]x", u"CX", true},
        TMatchCase{u"[a-f]x", u"gx", false}, TMatchCase{u"[A-F]x", u"cx", true},
        TMatchCase{u"[!a-f]", u"g", true}, TMatchCase{u"[!a-f]", u"c", false},
        TMatchCase{u"[0-9a]", u"7", true}, TMatchCase{u"[0-9a]", u"A", true},
        TMatchCase{u"*[0-9]", u"report2", true}, TMatchCase{u"*[0-9]", u"report", false},
        // Above U+00FF nothing is a member; a range is cut off there.
        TMatchCase{u"[\u00e9]", u"\u00e9", true}, TMatchCase{u"[\u00e9]", u"\u00c9", false},
        TMatchCase{u"[\u0101a]", u"\u0101", false}, TMatchCase{u"[\u0101a]", u"a", true},
        TMatchCase{u"[a-\u0101]", u"\u00ff", true}, TMatchCase{u"[a-\u0101]", u"\u0101", false},
        TMatchCase{u"[!a]", u"\u0101", true}, TMatchCase{u"[!a]", u"\U0001F600", true},
        // The character after "-" ends the range, even a "]".
        TMatchCase{u"[+-]x]", u"-", true}, TMatchCase{u"[+-]x]", u"X", true},
        // A range running backwards adds nothing.
        TMatchCase{u"[z-a]", u"z", true}, TMatchCase{u"[z-a]", u"b", false}));

struct TInvalidCase {
  std::u16string Mask;
  std::string Message;
};

void PrintTo(const TInvalidCase& ACase, std::ostream* AOut) {
  *AOut << ::testing::PrintToString(ACase.Mask);
}

class FileMaskInvalidTest : public ::testing::TestWithParam<TInvalidCase> {};

TEST_P(FileMaskInvalidTest, FailsWithTheMaskError) {
  try {
    TFileMask mask(GetParam().Mask);
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_NE(dynamic_cast<const InvalidMaskError*>(&error), nullptr);
    EXPECT_EQ(error.what(), GetParam().Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileMaskInvalidTest,
    ::testing::Values(
        // A set without its closing "]" fails at the end of the mask.
        TInvalidCase{u"[abc", "'[abc' is an invalid mask at (5)"},
        TInvalidCase{u"a[", "'a[' is an invalid mask at (3)"},
        TInvalidCase{u"[a-", "'[a-' is an invalid mask at (4)"},
        TInvalidCase{u"[a-]", "'[a-]' is an invalid mask at (5)"},
        // An empty set fails at its "]".
        TInvalidCase{u"[]", "'[]' is an invalid mask at (2)"},
        TInvalidCase{u"*.[!]", "'*.[!]' is an invalid mask at (5)"},
        TInvalidCase{u"[\u0101]", "'[\u0101]' is an invalid mask at (3)"},
        // A range without its first character fails at the "-".
        TInvalidCase{u"[-a]", "'[-a]' is an invalid mask at (2)"},
        TInvalidCase{u"x[!-a]", "'x[!-a]' is an invalid mask at (4)"},
        // Positions count characters, and the mask is shown in UTF-8.
        TInvalidCase{u"\U0001F600\u00e9[", "'\U0001F600\u00e9[' is an invalid mask at (4)"},
        // The 31st element after a "*", the end of the mask included.
        TInvalidCase{Repeat(u"*a", 31), Join({"'", Repeat("*a", 31), "' is an invalid mask at (62)"})},
        TInvalidCase{Repeat(u"*a", 30) + u"*",
                     Join({"'", Repeat("*a", 30), "*' is an invalid mask at (62)"})},
        TInvalidCase{Repeat(u"*[ab]", 31),
                     Join({"'", Repeat("*[ab]", 31), "' is an invalid mask at (155)"})}));

} // namespace
