#pragma once

#include "tests/support/Manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Where the test build put its NTFS volumes: the images built from recipes
// ("clusters4k.img" beside "clusters4k.manifest.tsv") and the unpacked
// volumes made by Windows and others ("windows-volumes/velo-test-ntfs.img").
// Tests only read them: copy an image first if a test must change it.
namespace testsupport {

// TARNWICK_FIXTURES_DIR from the environment, else the build's folder.
std::string FixturesDir();

// The names of every built recipe, as the builder lists them.
std::vector<std::string> FixtureRecipes();

std::string FixtureImage(const std::string& ARecipe);
// Where records AFirst to AEnd - 1 of a built fixture's MFT lie in its
// image, as The Sleuth Kit places the MFT: the offset and the length. Up to
// the MFT's last record without AEnd. The recipe's MFT must be one extent.
std::pair<std::int64_t, std::int64_t> FixtureMFTRecordBytes(const std::string& ARecipe, std::int64_t AFirst,
                                                            std::optional<std::int64_t> AEnd = std::nullopt);
std::string FixtureManifestPath(const std::string& ARecipe);
Manifest FixtureManifest(const std::string& ARecipe);

// An unpacked foreign volume by its file name without ".img.gz"
// ("win10-2mclust"); empty when the shared test data was not available.
std::string ForeignVolume(const std::string& AName);
std::vector<std::string> ForeignVolumes();

// The 1 GiB volume made by Windows with two shadow copy stores
// ("shadow-copies/vsstest.qcow2"); empty when the shared test data was not
// available.
std::string ShadowCopyVolume();

} // namespace testsupport
