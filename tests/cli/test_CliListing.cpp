#include "cli/uCliListing.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

TListingRow Row(std::string APath, std::string AName, bool AIsDirectory = false) {
  return TListingRow{.Record = 70,
                     .IsDirectory = AIsDirectory,
                     .Deleted = true,
                     .Size = 1536,
                     .Overwrite = 37.037,
                     .Created = "2023-07-01T12:00:00Z",
                     .Attributes = "A",
                     .Path = std::move(APath),
                     .Name = std::move(AName),
                     .Depth = 1};
}

std::string Listing(const std::vector<TListingRow>& ARows, TListingFormat AFormat) {
  std::ostringstream out;
  WriteListing(out, ARows, AFormat);
  return out.str();
}

constexpr char kHeader[] = "record\tkind\tdeleted\tsize\toverwrite\tcreated\tattributes\tpath\n";

// Names come from volumes anyone may have crafted; none of them may break a
// row or a quoted field.
TEST(CliListing, EveryFormatKeepsAwkwardNamesInOneField) {
  const std::vector<TListingRow> rows = {Row("D:/tab\there", "tab\there"), Row("D:/a,\"b\"\nc\\", "x")};
  EXPECT_EQ(Listing(rows, TListingFormat::lfTsv),
            std::string(kHeader) + "70\tfile\t1\t1536\t37.04\t2023-07-01T12:00:00Z\tA\tD:/tab\\there\n" +
                "70\tfile\t1\t1536\t37.04\t2023-07-01T12:00:00Z\tA\tD:/a,\"b\"\\nc\\\\\n");
  EXPECT_EQ(Listing(rows, TListingFormat::lfCsv),
            "record,kind,deleted,size,overwrite,created,attributes,path\n"
            "70,file,1,1536,37.04,2023-07-01T12:00:00Z,A,D:/tab\there\n"
            "70,file,1,1536,37.04,2023-07-01T12:00:00Z,A,\"D:/a,\"\"b\"\"\nc\\\"\n");
  EXPECT_EQ(Listing({rows[1]}, TListingFormat::lfJson),
            "[\n {\"record\": 70, \"kind\": \"file\", \"deleted\": 1, \"size\": 1536, \"overwrite\": 37.04, "
            "\"created\": \"2023-07-01T12:00:00Z\", \"attributes\": \"A\", \"path\": \"D:/a,\\\"b\\\"\\u000ac\\\\\"}\n]\n");
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
  for (const Case& c : {Case{0, "1601-01-01T00:00:00Z"}, Case{116444736000000000, "1970-01-01T00:00:00Z"},
                        Case{133326864009999999, "2023-07-01T12:00:00Z"}, Case{-1, "1600-12-31T23:59:59Z"}}) {
    EXPECT_EQ(UtcIso8601(c.FileTime), c.Expected) << c.FileTime;
  }
}

} // namespace
