// Why a file counts as overwritten: the JSON listing names, for each deleted
// file estimated overwritten, the records that hold its clusters now. The
// fixture builder knows where it put every file's clusters.
#include "tests/cli/CliRun.h"
#include "tests/support/FixtureVolumes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <regex>
#include <set>
#include <string>

namespace {

using ClaimsByRecord = std::map<std::uint64_t, std::map<std::int64_t, std::int64_t>>;

std::set<std::int64_t> ClustersOf(const testsupport::ManifestEntry& AEntry) {
  std::set<std::int64_t> clusters;
  for (const testsupport::ManifestRun& run : AEntry.Runs)
    if (run.Lcn)
      for (std::int64_t i = 0; i < run.Length; ++i)
        clusters.insert(*run.Lcn + i);
  return clusters;
}

// Each deleted file of the builder whose clusters a later file took: those
// files by record, with how many of the clusters each holds.
ClaimsByRecord BuilderClaims(const testsupport::Manifest& AManifest) {
  ClaimsByRecord claims;
  for (const testsupport::ManifestEntry& lost : AManifest.Entries) {
    if (!lost.Deleted || lost.IsFolder || lost.TakenClusters == 0)
      continue;
    const std::set<std::int64_t> clusters = ClustersOf(lost);
    for (const testsupport::ManifestEntry& other : AManifest.Entries) {
      if (other.Record == lost.Record || other.IsFolder)
        continue;
      std::int64_t shared = 0;
      for (std::int64_t cluster : ClustersOf(other))
        shared += clusters.count(cluster);
      if (shared > 0)
        claims[lost.Record][static_cast<std::int64_t>(other.Record)] = shared;
    }
  }
  return claims;
}

// The claims of every row of a JSON listing that has some, by record.
ClaimsByRecord ListedClaims(const std::string& AJson) {
  static const std::regex row("^ \\{\"record\": (\\d+),.*\"claimed_by\": \\[(.+)\\]\\}");
  static const std::regex claim("\\{\"record\": (-?\\d+), \"path\": \"[^\"]*\", \"clusters\": (\\d+)\\}");
  ClaimsByRecord claims;
  for (const std::string& line : testsupport::SplitLines(AJson)) {
    std::smatch found;
    if (!std::regex_search(line, found, row))
      continue;
    const std::string list = found[2];
    auto& ofRow = claims[std::stoull(found[1])];
    for (std::sregex_iterator it(list.begin(), list.end(), claim), end; it != end; ++it)
      ofRow[std::stoll((*it)[1])] = std::stoll((*it)[2]);
  }
  return claims;
}

// On the fragmentation volume the large files that took the holes are live
// or deleted; on the other they were all made before the small files and
// deleted after growing into their holes.
TEST(CliClaims, EachOverwrittenFileNamesTheFilesWhoseClustersTheBuilderPutThere) {
  for (const char* recipe : {"fragmentation", "grownlater"}) {
    SCOPED_TRACE(recipe);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    const testsupport::CommandResult scan =
        clirun::Cli({"scan", testsupport::FixtureImage(recipe), "--format", "json"});
    ASSERT_EQ(scan.ExitCode, 0) << scan.Err;
    const ClaimsByRecord expected = BuilderClaims(manifest);
    ASSERT_GT(expected.size(), 100u);
    EXPECT_EQ(ListedClaims(scan.Out), expected);
    // Paths are those of the volume now, from its drive folder.
    const std::regex named("\\{\"record\": " + std::to_string(manifest.Find("/Large/big-1.bin")->Record) +
                           ", \"path\": \"[A-Z]:/Large/big-1\\.bin\"");
    EXPECT_TRUE(std::regex_search(scan.Out, named));
  }
}

} // namespace
