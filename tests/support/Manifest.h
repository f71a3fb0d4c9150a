#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A cluster run as the builder saw it; Lcn is empty for a sparse hole.
struct ManifestRun {
  std::optional<std::int64_t> Lcn;
  std::int64_t Length = 0;

  bool operator==(const ManifestRun&) const = default;
};

// How much of a deleted file's clusters later activity took: allocated again
// or written over with other bytes.
enum class Overwrite { NotApplicable, None, Partly, Entirely };

// One file or folder the fixture builder made. The builder is the truth about
// its own volume: where The Sleuth Kit disagrees, the manifest holds.
struct ManifestEntry {
  std::string Path; // UTF-8, "/" separated, from the root
  std::uint64_t Record = 0;
  std::uint16_t Sequence = 0; // sequence number while the file lived
  std::uint64_t ParentRecord = 0;
  bool IsFolder = false;
  bool Deleted = false;
  std::uint64_t Size = 0;
  // Tags of what the entry exercises: resident, nonresident, fragmented,
  // sparse, attrlist, compressed, empty, unicode, parent-reused.
  std::vector<std::string> Kinds;
  std::uint64_t Seed = 0;
  std::string Layout; // ContentLayout text; empty for folders
  std::string Sha256; // of the content written; empty for folders
  std::vector<ManifestRun> Runs; // $DATA runs when last written or deleted
  std::uint64_t Clusters = 0;    // allocated (non-hole) clusters in Runs
  std::uint64_t TakenClusters = 0;
  Overwrite Overwritten = Overwrite::NotApplicable;
  bool RecordReused = false; // the MFT record now holds something else

  bool HasKind(const std::string& AKind) const;
  std::string Name() const; // last path component
};

struct ManifestVolume {
  std::string Recipe;
  std::uint32_t SectorSize = 0;
  std::uint32_t ClusterSize = 0;
  std::uint32_t RecordSize = 0;
  std::uint64_t TotalClusters = 0;
  std::uint32_t MftExtents = 0;
};

struct Manifest {
  ManifestVolume Volume;
  std::vector<ManifestEntry> Entries;

  // The entry made last under this path (a path may be reused after a
  // deletion); nullptr when there is none.
  const ManifestEntry* Find(const std::string& APath) const;
};

void WriteManifest(const Manifest& AManifest, const std::string& AFileName);
// Throws std::runtime_error naming the file and line on malformed input.
Manifest ReadManifest(const std::string& AFileName);

} // namespace testsupport
