#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The Sleuth Kit as an independent oracle: each call runs one of its tools on
// a volume image and parses the output. Failures throw std::runtime_error
// with the command and its error output. (TSK 4.11 cannot open volumes with
// clusters above 64 KiB; use NtfsTools.h for those.)
namespace testsupport {

// fsstat: the volume's geometry.
struct FsGeometry {
  std::uint32_t SectorSize = 0;
  std::uint32_t ClusterSize = 0;
  std::uint32_t RecordSize = 0;
  std::uint32_t IndexRecordSize = 0;
  std::uint64_t MftStartCluster = 0;
  std::uint64_t MftMirrorCluster = 0;
  std::uint64_t TotalClusters = 0;
  std::uint64_t LastRecord = 0; // highest MFT entry number
  std::string VolumeName;
};
FsGeometry Fsstat(const std::string& AImage);

// fls -r -p: one line per name found, with the attribute it names.
struct FlsEntry {
  char NameType = '-'; // 'r' file, 'd' folder, 'V' virtual, '-' unknown (deleted)
  char MetaType = '-';
  bool Deleted = false;     // "*"
  bool Reallocated = false; // "(realloc)": the name's record now holds another file
  std::uint64_t Record = 0;
  std::optional<std::uint32_t> AttrType; // "65-128-2" gives 128 and 2
  std::optional<std::uint16_t> AttrId;
  std::string Path; // relative to the root, "/" separated; ":stream" kept

  bool IsFolder() const { return NameType == 'd' || MetaType == 'd'; }
};
enum class FlsFilter { All, DeletedOnly };
std::vector<FlsEntry> Fls(const std::string& AImage, FlsFilter AFilter = FlsFilter::All);

// istat: one record's header and attributes, with the clusters of each
// non-resident attribute (0 stands for a sparse or compressed-away cluster).
struct IstatAttribute {
  std::string TypeName; // "$DATA"
  std::uint32_t Type = 0;
  std::uint16_t Id = 0;
  std::string Name; // empty for the unnamed attribute
  bool Resident = false;
  bool Compressed = false;
  bool Sparse = false;
  bool Encrypted = false;
  std::uint64_t Size = 0;
  std::uint64_t InitSize = 0;
  std::vector<std::int64_t> Clusters;

  // Contiguous pieces of Clusters, zeros skipped.
  std::size_t CountExtents() const;
};
struct IstatInfo {
  std::uint64_t Record = 0;
  std::uint16_t Sequence = 0;
  bool Allocated = false;
  std::uint64_t ParentRecord = 0;
  std::uint64_t BaseRecord = 0; // of an extension record; 0 for a base record
  bool HasAttributeList = false;
  // "File Modified" of $STANDARD_INFORMATION, UTC, as istat prints it:
  // "2021-06-01 12:00:00.000000100 (UTC)".
  std::string Modified;
  std::vector<std::uint64_t> ListedRecords; // records named by $ATTRIBUTE_LIST entries
  std::vector<IstatAttribute> Attributes;

  // First attribute of that type and name (a copy, so it outlives the
  // IstatInfo); empty when missing.
  std::optional<IstatAttribute> Find(std::uint32_t AType, const std::string& AName = {}) const;
};
IstatInfo Istat(const std::string& AImage, std::uint64_t ARecord);

// icat: an attribute's content. Without a type, the unnamed $DATA; with a
// stream name, the named $DATA stream of that name (looked up with istat).
std::string Icat(const std::string& AImage, std::uint64_t ARecord,
                 std::optional<std::uint32_t> AType = std::nullopt, std::optional<std::uint16_t> AId = std::nullopt);
std::string IcatStream(const std::string& AImage, std::uint64_t ARecord, const std::string& AStreamName);

} // namespace testsupport
