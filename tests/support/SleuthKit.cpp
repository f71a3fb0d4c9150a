#include "tests/support/SleuthKit.h"

#include "tests/support/Command.h"

#include <regex>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr std::uint32_t kAttrTypeData = 128;
constexpr std::uint32_t kAttrTypeAttributeList = 32;

// The text after "ALabel" up to the end of the line, trimmed; empty if absent.
std::optional<std::string> ValueAfter(const std::string& ALine, const std::string& ALabel) {
  if (ALine.rfind(ALabel, 0) != 0)
    return std::nullopt;
  const std::size_t start = ALine.find_first_not_of(" \t", ALabel.size());
  return start == std::string::npos ? std::string() : ALine.substr(start);
}

std::uint64_t Number(const std::string& AText) { return std::stoull(AText); }

// "0 - 10238" gives 10238.
std::uint64_t RangeEnd(const std::string& AText) { return Number(AText.substr(AText.find('-') + 1)); }

IstatAttribute ParseAttributeLine(const std::smatch& AMatch) {
  IstatAttribute attr;
  attr.TypeName = AMatch[1];
  attr.Type = static_cast<std::uint32_t>(Number(AMatch[2]));
  attr.Id = static_cast<std::uint16_t>(Number(AMatch[3]));
  attr.Name = AMatch[4] == "N/A" ? std::string() : std::string(AMatch[4]);
  const std::string flags = AMatch[5];
  attr.Resident = flags.rfind("Resident", 0) == 0;
  attr.Compressed = flags.find("Compressed") != std::string::npos;
  attr.Sparse = flags.find("Sparse") != std::string::npos;
  attr.Encrypted = flags.find("Encrypted") != std::string::npos;
  attr.Size = Number(AMatch[6]);
  attr.InitSize = AMatch[7].matched ? Number(AMatch[7]) : attr.Size;
  return attr;
}

} // namespace

FsGeometry Fsstat(const std::string& AImage) {
  FsGeometry geometry;
  for (const std::string& line : SplitLines(RunCommandChecked({"fsstat", "-f", "ntfs", AImage}))) {
    if (auto v = ValueAfter(line, "Sector Size:"))
      geometry.SectorSize = static_cast<std::uint32_t>(Number(*v));
    else if (auto v = ValueAfter(line, "Cluster Size:"))
      geometry.ClusterSize = static_cast<std::uint32_t>(Number(*v));
    else if (auto v = ValueAfter(line, "Size of MFT Entries:"))
      geometry.RecordSize = static_cast<std::uint32_t>(Number(*v));
    else if (auto v = ValueAfter(line, "Size of Index Records:"))
      geometry.IndexRecordSize = static_cast<std::uint32_t>(Number(*v));
    else if (auto v = ValueAfter(line, "First Cluster of MFT:"))
      geometry.MftStartCluster = Number(*v);
    else if (auto v = ValueAfter(line, "First Cluster of MFT Mirror:"))
      geometry.MftMirrorCluster = Number(*v);
    else if (auto v = ValueAfter(line, "Total Cluster Range:"))
      geometry.TotalClusters = RangeEnd(*v) + 1;
    else if (auto v = ValueAfter(line, "Range:"))
      geometry.LastRecord = RangeEnd(*v);
    else if (auto v = ValueAfter(line, "Volume Name:"))
      geometry.VolumeName = *v;
  }
  if (geometry.ClusterSize == 0 || geometry.RecordSize == 0)
    throw std::runtime_error("fsstat gave no NTFS geometry for " + AImage);
  return geometry;
}

std::vector<FlsEntry> Fls(const std::string& AImage, FlsFilter AFilter) {
  std::vector<std::string> args = {"fls", "-f", "ntfs", "-r", "-p"};
  if (AFilter == FlsFilter::DeletedOnly)
    args.push_back("-d");
  args.push_back(AImage);
  // "r/r * 65-128-2(realloc):\tpath" - the address may lack the attribute.
  static const std::regex kLine(R"(^(\S)/(\S) (\* )?(\d+)(?:-(\d+)-(\d+))?(\(realloc\))?:\t(.*)$)");
  std::vector<FlsEntry> entries;
  for (const std::string& line : SplitLines(RunCommandChecked(args))) {
    std::smatch m;
    if (!std::regex_match(line, m, kLine))
      continue;
    FlsEntry entry;
    entry.NameType = m.str(1)[0];
    entry.MetaType = m.str(2)[0];
    entry.Deleted = m[3].matched;
    entry.Record = Number(m[4]);
    if (m[5].matched) {
      entry.AttrType = static_cast<std::uint32_t>(Number(m[5]));
      entry.AttrId = static_cast<std::uint16_t>(Number(m[6]));
    }
    entry.Reallocated = m[7].matched;
    entry.Path = m[8];
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::size_t IstatAttribute::CountExtents() const {
  std::size_t extents = 0;
  std::int64_t previous = -1;
  for (std::int64_t cluster : Clusters) {
    if (cluster != 0 && cluster != previous + 1)
      ++extents;
    previous = cluster == 0 ? -1 : cluster;
  }
  return extents;
}

std::optional<IstatAttribute> IstatInfo::Find(std::uint32_t AType, const std::string& AName) const {
  for (const IstatAttribute& attr : Attributes)
    if (attr.Type == AType && attr.Name == AName)
      return attr;
  return std::nullopt;
}

IstatInfo Istat(const std::string& AImage, std::uint64_t ARecord) {
  static const std::regex kAttr(
      R"(^Type: (\S+) \((\d+)-(\d+)\)\s+Name: (.*?)\s+((?:Non-)?Resident(?:, \w+)*)\s+size: (\d+)(?:\s+init_size: (\d+))?\s*$)");
  static const std::regex kListEntry(R"(^Type: \d+-\d+ \tMFT Entry: (\d+) \tVCN: \d+)");
  static const std::regex kClusters(R"(^[\d ]+$)");
  IstatInfo info;
  info.Record = ARecord;
  IstatAttribute* current = nullptr;
  bool standardInformation = false;
  for (const std::string& line :
       SplitLines(RunCommandChecked({"istat", "-f", "ntfs", "-z", "UTC", AImage, std::to_string(ARecord)}))) {
    std::smatch m;
    if (line.ends_with("Attribute Values:")) {
      standardInformation = line.starts_with("$STANDARD_INFORMATION");
    } else if (auto v = ValueAfter(line, "File Modified:"); v && standardInformation) {
      info.Modified = *v;
    } else if (auto v = ValueAfter(line, "Entry:")) {
      info.Sequence = static_cast<std::uint16_t>(Number(v->substr(v->find("Sequence:") + 9)));
    } else if (line == "Allocated File" || line == "Not Allocated File") {
      info.Allocated = line == "Allocated File";
    } else if (auto v = ValueAfter(line, "Base File Record:")) {
      info.BaseRecord = Number(*v);
    } else if (auto v = ValueAfter(line, "Parent MFT Entry:")) {
      info.ParentRecord = Number(*v);
    } else if (std::regex_search(line, m, kListEntry)) {
      info.ListedRecords.push_back(Number(m[1]));
    } else if (std::regex_match(line, m, kAttr)) {
      info.Attributes.push_back(ParseAttributeLine(m));
      current = &info.Attributes.back();
      info.HasAttributeList |= current->Type == kAttrTypeAttributeList;
    } else if (current && !current->Resident && std::regex_match(line, kClusters)) {
      std::istringstream numbers(line);
      for (std::int64_t cluster; numbers >> cluster;)
        current->Clusters.push_back(cluster);
    } else {
      current = nullptr;
    }
  }
  return info;
}

std::string Icat(const std::string& AImage, std::uint64_t ARecord, std::optional<std::uint32_t> AType,
                 std::optional<std::uint16_t> AId) {
  // Appended piece by piece: GCC 12 warns falsely on the chained form.
  std::string address = std::to_string(ARecord);
  if (AType) {
    address += '-';
    address += std::to_string(*AType);
  }
  if (AType && AId) {
    address += '-';
    address += std::to_string(*AId);
  }
  return RunCommandChecked({"icat", "-f", "ntfs", AImage, address});
}

std::string IcatStream(const std::string& AImage, std::uint64_t ARecord, const std::string& AStreamName) {
  const std::optional<IstatAttribute> stream = Istat(AImage, ARecord).Find(kAttrTypeData, AStreamName);
  if (!stream)
    throw std::runtime_error("istat shows no stream \"" + AStreamName + "\" on record " + std::to_string(ARecord) +
                             " of " + AImage);
  return Icat(AImage, ARecord, kAttrTypeData, stream->Id);
}

} // namespace testsupport
