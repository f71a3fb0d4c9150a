// ddrescue mapfiles: what they mark finished is read, everything else fails
// as a bad sector would, and a file that is no mapfile is named with its
// line.

#include "platform/uRescueMap.h"

#include "ntfs/uFSError.h"
#include "ntfs/uPhysicalFile.h"
#include "tests/support/uMemoryDevice.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// As ddrescue 1.27 writes it, with a comment and a blank line on the way.
const std::string kMapfile = R"(# Mapfile. Created by GNU ddrescue version 1.27
# Command line: ddrescue /dev/sdb disk.img disk.img.map
# current_pos  current_status  current_pass
0x00003000     +               1
#      pos        size  status
0x00000000  0x00001000  +
0x00001000  0x00000200  -
0x00001200  0x00000E00  +

0x00002000  0x00000800  ?
0x00002800  0x00000800  *
0x00003000  4096  +
0x00004000  0x00001000  /
)";

TEST(RescueMap, FinishedAreasAreJoinedAndEverythingElseLeftOut) {
  const TRescueMap map = TRescueMap::Parse(kMapfile, "disk.img.map");
  EXPECT_THAT(map.Finished(), ElementsAre(TByteRange{0, 0x1000}, TByteRange{0x1200, 0xE00}, TByteRange{0x3000, 0x1000}));
  // ddrescue before 1.21 wrote no pass on the status line.
  EXPECT_THAT(TRescueMap::Parse("0x0 +\n0x0 0x200 +\n", "old.log").Finished(), ElementsAre(TByteRange{0, 0x200}));
}

TEST(RescueMap, AMalformedMapfileNamesItsLine) {
  const struct {
    std::string Text;
    std::string Message;
  } cases[] = {
      {"", "at line 0: no status line; this is not a ddrescue mapfile."},
      {"hello\n", "at line 1: expected the current position and status."},
      {"0 +\n0 512\n", "at line 2: expected a position, a size and a status."},
      {"0 +\n0 512 + 1\n", "at line 2: expected a position, a size and a status."},
      {"0 +\n0 zero +\n", "at line 2: \"0 zero\" is no position and size."},
      {"0 +\n0 -512 +\n", "at line 2: \"0 -512\" is no position and size."},
      {"0 +\n0 0 +\n", "at line 2: \"0 0\" is no position and size."},
      {"0 +\n0 512 x\n", "at line 2: \"x\" is no block status."},
      {"0 +\n0 512 +\n256 512 +\n", "at line 3: the block starts before the end of the one above it."},
      {"0 +\n0x7FFFFFFFFFFFFFFF 2 +\n", "at line 2: the block ends beyond the largest position."},
  };
  for (const auto& c : cases) {
    try {
      TRescueMap::Parse(c.Text, "bad.map");
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const NoDriveException& e) {
      EXPECT_EQ(std::string(e.what()), "The mapfile \"bad.map\" is malformed " + c.Message) << c.Text;
    }
  }
  EXPECT_THROW(TRescueMap::Load("/nonexistent/disk.img.map"), NoDriveException);
}

TEST(RescueMap, ReadsStopAtTheFirstByteNotRescued) {
  const auto image = std::make_shared<testsupport::TMemorySource>(0x5000);
  image->Put(0, testfiles::PatternBytes(0, 0x5000));
  TRescuedSource source(image, TRescueMap::Parse(kMapfile, "disk.img.map"));
  std::vector<std::uint8_t> buffer(0x5000);
  const struct {
    std::int64_t Pos, Size, Count;
  } cases[] = {
      {0, 0x5000, 0x1000},     // up to the bad sector
      {0x0F00, 0x400, 0x100},
      {0x1000, 0x200, -1},     // the bad sector itself
      {0x1100, 0x200, -1},
      {0x1200, 0x5000, 0xE00}, // up to the non-tried area
      {0x2400, 0x100, -1},
      {0x3000, 0x800, 0x800},
      {0x4000, 0x100, -1},     // non-scraped
      {0x6000, 0x100, -1},     // past what the map describes
  };
  for (const auto& c : cases) {
    EXPECT_EQ(source.ReadAt(c.Pos, buffer.data(), c.Size), c.Count) << c.Pos;
    if (c.Count > 0) {
      EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + c.Count),
                testfiles::PatternBytes(c.Pos, c.Count));
    }
  }
  // Through the volume's cache the unrescued bytes never show as data.
  TPhysicalFile file(u"disk.img", std::make_shared<TRescuedSource>(image, TRescueMap::Parse(kMapfile, "m")));
  EXPECT_EQ(file.Read(0x0800, 0x1000, buffer.data()), 0x800);
  EXPECT_EQ(file.Read(0x1000, 0x10, buffer.data()), 0);
}

// ddrescue's users keep the mapfile beside the image, but a log of
// anything else may carry the same name: only a file that reads as a
// mapfile is taken, and one that does not is named and passed over.
TEST(RescueMap, AMapfileBesideTheImageIsTakenOnlyWhenItReadsAsOne) {
  testfiles::TTempFolder folder;
  const std::string image = (folder / "disk.img").string();
  testfiles::WriteFile(image, {});
  std::vector<std::string> ignored;
  EXPECT_FALSE(RescueMapBeside(image, ignored));
  EXPECT_THAT(ignored, IsEmpty());

  const std::string log = "copying disk.img: 100 % done\n";
  testfiles::WriteFile(image + ".log", std::vector<std::uint8_t>(log.begin(), log.end()));
  EXPECT_FALSE(RescueMapBeside(image, ignored));
  ASSERT_EQ(ignored.size(), 1u);
  EXPECT_THAT(ignored.front(), HasSubstr("\"" + image + ".log\" beside the image is not read as its mapfile"));
  EXPECT_THAT(ignored.front(), HasSubstr("line 1"));

  for (const std::string suffix : {".mapfile", ".map"}) {
    testfiles::WriteFile(image + suffix, std::vector<std::uint8_t>(kMapfile.begin(), kMapfile.end()));
    ignored.clear();
    const std::optional<TRescueMap> map = RescueMapBeside(image, ignored);
    ASSERT_TRUE(map) << suffix;
    ASSERT_TRUE(map->File());
    EXPECT_EQ(map->File()->Path, image + suffix) << ".map is looked for first";
    EXPECT_EQ(map->Finished(), TRescueMap::Parse(kMapfile, "m").Finished());
  }
}

} // namespace
