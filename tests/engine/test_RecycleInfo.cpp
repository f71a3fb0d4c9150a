#include "engine/uRecycleInfo.h"
#include "tests/support/RecycleInfoBytes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using testing::HasSubstr;

// A "$I" file of 4096 bytes deleted on 2024-03-01, as the fixtures write it.
std::vector<std::uint8_t> RecycleInfo(std::uint64_t AVersion, const std::u16string& APath,
                                      std::optional<std::uint32_t> AUnitCount = std::nullopt) {
  const std::string bytes = testsupport::RecycleInfoBytes(AVersion, 4096, 133537248000000000, APath, AUnitCount);
  return {bytes.begin(), bytes.end()};
}

TEST(RecycleInfo, BothVersionsGiveSizeTimeAndThePathBelowTheDrive) {
  for (const std::uint64_t version : {1u, 2u}) {
    const TRecycleInfoResult result = ParseRecycleInfo(RecycleInfo(version, u"D:\\Users\\ann\\beach.jpg"));
    ASSERT_TRUE(result.Info) << version << ": " << result.Problem;
    EXPECT_EQ(result.Info->OriginalSize, 4096);
    EXPECT_EQ(result.Info->DeletionTime, 133537248000000000);
    EXPECT_THAT(result.Info->PathParts, ElementsAre(u"Users", u"ann", u"beach.jpg"));
  }
  // The longest path version 1 holds: 259 units and the NUL.
  const std::u16string longest = u"C:\\" + std::u16string(256, u'x');
  ASSERT_TRUE(ParseRecycleInfo(RecycleInfo(1, longest)).Info);
  EXPECT_EQ(ParseRecycleInfo(RecycleInfo(1, longest)).Info->PathParts.back().size(), 256u);
  // A surrogate pair is UTF-16 as valid as any.
  EXPECT_TRUE(ParseRecycleInfo(RecycleInfo(2, u"C:\\\U0001F600.txt")).Info);
}

TEST(RecycleInfo, DamagedOrImplausibleFilesAreRejectedWithTheReason) {
  struct Case {
    const char* What;
    std::vector<std::uint8_t> Bytes;
    const char* Problem;
  };
  std::vector<std::uint8_t> version1Longer = RecycleInfo(1, u"C:\\a.txt");
  version1Longer.push_back(0);
  std::vector<std::uint8_t> version2Cut = RecycleInfo(2, u"C:\\a.txt");
  version2Cut.resize(version2Cut.size() - 2);
  const std::vector<Case> cases = {
      {"too short", std::vector<std::uint8_t>(20), "too few for its header"},
      {"unknown version", RecycleInfo(3, u"C:\\a.txt"), "version 3 is unknown"},
      {"version 1 of another size", version1Longer, "a version 1 record holds 544 bytes"},
      {"path of 260 units", RecycleInfo(1, u"C:\\" + std::u16string(257, u'x')), "not terminated"},
      {"no length", RecycleInfo(2, u"C:\\a.txt", 0), "does not fit"},
      {"length past the end", version2Cut, "does not fit"},
      {"length beyond any path", RecycleInfo(2, u"C:\\a.txt", 40000), "does not fit"},
      {"NUL before the length", RecycleInfo(2, std::u16string(u"C:\\a.txt\0b", 10)), "ends before the length"},
      {"no NUL at the length", RecycleInfo(2, u"C:\\a.txt", 4), "not terminated"},
      {"unpaired surrogate", RecycleInfo(2, u"C:\\" + std::u16string(1, char16_t{0xDC00}) + u".txt"),
       "not valid UTF-16"},
      {"no drive letter", RecycleInfo(2, u"\\\\server\\share\\a.txt"), "not of the form"},
      {"relative to the drive", RecycleInfo(2, u"C:a.txt"), "not of the form"},
      {"only the drive", RecycleInfo(2, u"C:\\"), "not of the form"},
      {"empty folder name", RecycleInfo(2, u"C:\\a\\\\b.txt"), "not of the form"},
      {"parent folder", RecycleInfo(2, u"C:\\a\\..\\b.txt"), "not of the form"},
  };
  for (const Case& c : cases) {
    const TRecycleInfoResult result = ParseRecycleInfo(c.Bytes);
    EXPECT_FALSE(result.Info) << c.What;
    EXPECT_THAT(result.Problem, HasSubstr(c.Problem)) << c.What;
  }
}

TEST(RecycleInfo, NamesOfBothKindsAreToldApart) {
  struct Case {
    const char16_t* Name;
    char16_t Kind;
    bool Expected;
  };
  for (const Case& c : {Case{u"$IABC123.jpg", u'I', true}, Case{u"$RABC123.jpg", u'R', true},
                        Case{u"$RABC123", u'R', true}, Case{u"$RABC123.jpg", u'I', false},
                        Case{u"$RABC12", u'R', false}, Case{u"$RABC1234.jpg", u'R', false},
                        Case{u"RABC1234", u'R', false}})
    EXPECT_EQ(IsRecycleName(c.Name, c.Kind), c.Expected) << static_cast<int>(c.Name[1]) << c.Expected;
}

} // namespace
