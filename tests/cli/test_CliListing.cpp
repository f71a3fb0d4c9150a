#include "cli/uCliListing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace {

TListingRow Row(std::string APath, std::string AName, bool AIsDirectory = false) {
  return TListingRow{.Record = 70,
                     .IsDirectory = AIsDirectory,
                     .Deleted = true,
                     .Size = 1536,
                     .Overwrite = 37.037,
                     .Created = "2023-07-01T12:00:00Z",
                     .DeletedAt = {},
                     .Attributes = "A",
                     .Path = std::move(APath),
                     .Name = std::move(AName),
                     .Snapshot = {},
                     .Depth = 1,
                     .ClaimedBy = {}};
}

std::string Listing(const std::vector<TListingRow>& ARows, TListingFormat AFormat) {
  std::ostringstream out;
  TListingWriter writer(out, AFormat);
  for (const TListingRow& row : ARows)
    writer.Write(row);
  writer.Finish();
  return out.str();
}

constexpr char kHeader[] =
    "record\tkind\tdeleted\tsize\toverwrite\tcreated\tdeleted_at\tattributes\tpath\tstreams\tsnapshot\n";

// Names come from volumes anyone may have crafted; none of them may break a
// row or a quoted field.
TEST(CliListing, EveryFormatKeepsAwkwardNamesInOneField) {
  const std::vector<TListingRow> rows = {Row("D:/tab\there", "tab\there"), Row("D:/a,\"b\"\nc\\", "x")};
  EXPECT_EQ(Listing(rows, TListingFormat::lfTsv),
            std::string(kHeader) + "70\tfile\t1\t1536\t37.04\t2023-07-01T12:00:00Z\t\tA\tD:/tab\\there\t0\t\n" +
                "70\tfile\t1\t1536\t37.04\t2023-07-01T12:00:00Z\t\tA\tD:/a,\"b\"\\nc\\\\\t0\t\n");
  EXPECT_EQ(Listing(rows, TListingFormat::lfCsv),
            "record,kind,deleted,size,overwrite,created,deleted_at,attributes,path,streams,snapshot\n"
            "70,file,1,1536,37.04,2023-07-01T12:00:00Z,,A,D:/tab\there,0,\n"
            "70,file,1,1536,37.04,2023-07-01T12:00:00Z,,A,\"D:/a,\"\"b\"\"\nc\\\",0,\n");
  EXPECT_EQ(Listing({rows[1]}, TListingFormat::lfJson),
            "[\n {\"record\": 70, \"kind\": \"file\", \"deleted\": 1, \"size\": 1536, \"overwrite\": 37.04, "
            "\"created\": \"2023-07-01T12:00:00Z\", \"deleted_at\": \"\", \"attributes\": \"A\", \"path\": \"D:/a,\\\"b\\\"\\u000ac\\\\\", \"streams\": 0, \"snapshot\": \"\", \"claimed_by\": []}\n]\n");
  TListingRow claimed = rows[1];
  claimed.ClaimedBy = {{968, "D:/new\n\"x\".bin", 3}, {-1, "", 1}};
  EXPECT_THAT(Listing({claimed}, TListingFormat::lfJson),
              ::testing::HasSubstr("\"claimed_by\": [{\"record\": 968, \"path\": \"D:/new\\u000a\\\"x\\\".bin\", "
                                   "\"clusters\": 3}, {\"record\": -1, \"path\": \"\", \"clusters\": 1}]}"));
  EXPECT_EQ(Listing({}, TListingFormat::lfJson), "[]\n");
}

TEST(CliListing, TreeIndentsByDepthAndShowsSizesAndEstimates) {
  TListingRow drive = Row("D:", "D:", true);
  drive.Depth = 0;
  drive.Deleted = false;
  TListingRow folder = Row("D:/Notes", "Notes", true);
  TListingRow file = Row("D:/Notes/a.txt", "a.txt");
  file.Depth = 2;
  EXPECT_EQ(Listing({drive, folder, file}, TListingFormat::lfTree),
            "D:/\n  Notes/  [deleted]\n    a.txt  1.5 KiB, 37.04% overwritten  [deleted]\n");
}

TEST(CliListing, NtfsTimesBecomeUtcSeconds) {
  struct Case {
    std::int64_t FileTime;
    const char* Expected;
  };
  // Every 64-bit time has a date: a crafted record may hold any of them, and
  // years before 1000 or before year 1 are written as the C library does.
  for (const Case& c : {Case{0, "1601-01-01T00:00:00Z"}, Case{116444736000000000, "1970-01-01T00:00:00Z"},
                        Case{133326864009999999, "2023-07-01T12:00:00Z"}, Case{-1, "1600-12-31T23:59:59Z"},
                        Case{133537247990000000, "2024-02-29T23:59:59Z"}, Case{157520160000000000, "2100-03-01T00:00:00Z"},
                        Case{-504911232000000000, "1-01-01T00:00:00Z"}, Case{-504911232000000001, "0-12-31T23:59:59Z"},
                        Case{std::numeric_limits<std::int64_t>::max(), "30828-09-14T02:48:05Z"},
                        Case{std::numeric_limits<std::int64_t>::min(), "-27627-04-19T21:11:54Z"}}) {
    EXPECT_EQ(UtcIso8601(c.FileTime), c.Expected) << c.FileTime;
  }
}

// A scan's listing goes out in pieces: rows that straddle a piece's end
// arrive whole and in order, and the last piece is not lost.
TEST(CliListing, ListingsLongerThanOneWriteArriveWhole) {
  std::vector<TListingRow> rows;
  std::string expected = kHeader;
  for (int i = 0; i < 20000; ++i) {
    const std::string name = "file-" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 37), 'x') + ".txt";
    rows.push_back(Row("D:/Folder/" + name, name));
    expected += "70\tfile\t1\t1536\t37.04\t2023-07-01T12:00:00Z\t\tA\tD:/Folder/" + name + "\t0\t\n";
  }
  EXPECT_EQ(Listing(rows, TListingFormat::lfTsv), expected);
}

} // namespace
