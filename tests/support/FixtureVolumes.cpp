#include "tests/support/FixtureVolumes.h"

#include "tests/support/Command.h"
#include "tests/support/SleuthKit.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr const char* kForeignFolder = "windows-volumes";

} // namespace

std::string FixturesDir() {
  if (const char* dir = std::getenv("TARNWICK_FIXTURES_DIR"); dir && *dir)
    return dir;
  return TARNWICK_FIXTURES_DIR;
}

std::vector<std::string> FixtureRecipes() {
  std::vector<std::string> names;
  std::istringstream list(RunCommandChecked({TARNWICK_FIXTURE_TOOL, "--list"}));
  for (std::string line; std::getline(list, line);)
    names.push_back(line.substr(0, line.find(' ')));
  return names;
}

std::string FixtureImage(const std::string& ARecipe) { return FixturesDir() + "/" + ARecipe + ".img"; }

std::string FixtureManifestPath(const std::string& ARecipe) {
  return FixturesDir() + "/" + ARecipe + ".manifest.tsv";
}

std::pair<std::int64_t, std::int64_t> FixtureMFTRecordBytes(const std::string& ARecipe, std::int64_t AFirst,
                                                            std::optional<std::int64_t> AEnd) {
  if (FixtureManifest(ARecipe).Volume.MftExtents != 1)
    throw std::runtime_error("The MFT of fixture " + ARecipe + " is not one extent.");
  const FsGeometry geometry = Fsstat(FixtureImage(ARecipe));
  // The Sleuth Kit's last entry is its virtual orphan folder, numbered
  // right after the MFT's last record.
  const auto end = AEnd.value_or(static_cast<std::int64_t>(geometry.LastRecord));
  const auto mft = static_cast<std::int64_t>(geometry.MftStartCluster * geometry.ClusterSize);
  return {mft + AFirst * geometry.RecordSize, (end - AFirst) * geometry.RecordSize};
}

Manifest FixtureManifest(const std::string& ARecipe) { return ReadManifest(FixtureManifestPath(ARecipe)); }

std::string ForeignVolume(const std::string& AName) {
  const std::string path = FixturesDir() + "/" + kForeignFolder + "/" + AName + ".img";
  return std::filesystem::exists(path) ? path : std::string();
}

std::string ShadowCopyVolume() {
  const std::string path = FixturesDir() + "/shadow-copies/vsstest.qcow2";
  return std::filesystem::exists(path) ? path : std::string();
}

std::vector<std::string> ForeignVolumes() {
  std::vector<std::string> names;
  const std::filesystem::path folder = std::filesystem::path(FixturesDir()) / kForeignFolder;
  if (!std::filesystem::is_directory(folder))
    return names;
  for (const auto& file : std::filesystem::directory_iterator(folder))
    if (file.path().extension() == ".img")
      names.push_back(file.path().stem().string());
  std::sort(names.begin(), names.end());
  return names;
}

} // namespace testsupport
