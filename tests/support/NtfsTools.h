#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// ntfs-3g's own tools as a second oracle, for volumes The Sleuth Kit cannot
// open (clusters above 64 KiB). Failures throw std::runtime_error.
namespace testsupport {

// ntfsinfo -f -m, with the $MFT's data size from ntfsinfo -f -i 0: the
// volume's geometry as ntfs-3g reads it.
struct NtfsGeometry {
  std::uint32_t SectorSize = 0;
  std::uint32_t ClusterSize = 0;
  std::uint32_t RecordSize = 0;
  std::uint64_t TotalClusters = 0;
  std::uint64_t MftStartCluster = 0;
  std::uint64_t MftRecords = 0; // the $MFT's data size in records
};
NtfsGeometry NtfsInfo(const std::string& AImage);

// ntfsls -f -a -s -i -l -F -R: every live name, system files included.
struct NtfsLsEntry {
  std::uint64_t Record = 0;
  std::uint64_t Size = 0;
  bool IsFolder = false;
  std::string Path; // from the root, "/" separated, no trailing "/"
};
std::vector<NtfsLsEntry> NtfsLs(const std::string& AImage);

// ntfscat -f -i RECORD [-a TYPE] [-n NAME]: an attribute's content, by
// default the unnamed $DATA.
std::string NtfsCat(const std::string& AImage, std::uint64_t ARecord, std::optional<std::uint32_t> AType = std::nullopt,
                    const std::string& AStreamName = {});

} // namespace testsupport
