#include "tests/support/NtfsTools.h"

#include "tests/support/Command.h"

#include <regex>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

// "\tLabel: 1234" gives 1234; nothing when the line has another label.
std::optional<std::uint64_t> NumberAfter(const std::string& ALine, const std::string& ALabel) {
  const std::size_t start = ALine.find_first_not_of('\t');
  if (start == std::string::npos || ALine.compare(start, ALabel.size(), ALabel) != 0)
    return std::nullopt;
  return std::stoull(ALine.substr(start + ALabel.size()));
}

} // namespace

NtfsGeometry NtfsInfo(const std::string& AImage) {
  NtfsGeometry geometry;
  std::istringstream volume(RunCommandChecked({"ntfsinfo", "-f", "-m", AImage}));
  for (std::string line; std::getline(volume, line);) {
    if (auto v = NumberAfter(line, "Sector Size:"))
      geometry.SectorSize = static_cast<std::uint32_t>(*v);
    else if (auto v = NumberAfter(line, "Cluster Size:"))
      geometry.ClusterSize = static_cast<std::uint32_t>(*v);
    else if (auto v = NumberAfter(line, "MFT Record Size:"))
      geometry.RecordSize = static_cast<std::uint32_t>(*v);
    else if (auto v = NumberAfter(line, "Volume Size in Clusters:"))
      geometry.TotalClusters = *v;
    else if (auto v = NumberAfter(line, "LCN of Data Attribute for FILE_MFT:"))
      geometry.MftStartCluster = *v;
  }
  if (geometry.ClusterSize == 0 || geometry.RecordSize == 0)
    throw std::runtime_error("ntfsinfo gave no NTFS geometry for " + AImage);
  // The $FILE_NAME dump also has a "Data Size"; only the $DATA one counts.
  std::istringstream mft(RunCommandChecked({"ntfsinfo", "-f", "-i", "0", AImage}));
  bool inData = false;
  for (std::string line; std::getline(mft, line);) {
    if (line.rfind("Dumping attribute ", 0) == 0)
      inData = line.rfind("Dumping attribute $DATA ", 0) == 0;
    else if (auto v = NumberAfter(line, "Data size:"); v && inData)
      geometry.MftRecords = *v / geometry.RecordSize;
  }
  return geometry;
}

std::vector<NtfsLsEntry> NtfsLs(const std::string& AImage) {
  // A folder header "/$Extend/:" then "  RECORD  SIZE Mon DD HH:MM YYYY NAME",
  // folders with a trailing "/".
  static const std::regex kHeader(R"(^(/.*?)/?:$)");
  static const std::regex kEntry(R"(^\s*(\d+)\s+(\d+) \w{3} [ \d]\d \d\d:\d\d \d{4} (.*)$)");
  std::vector<NtfsLsEntry> entries;
  std::string folder;
  std::istringstream out(RunCommandChecked({"ntfsls", "-f", "-a", "-s", "-i", "-l", "-F", "-R", AImage}));
  for (std::string line; std::getline(out, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kHeader)) {
      folder = m[1] == "/" ? std::string() : std::string(m[1]);
      continue;
    }
    if (!std::regex_match(line, m, kEntry))
      continue;
    std::string name = m[3];
    NtfsLsEntry entry;
    entry.IsFolder = !name.empty() && name.back() == '/';
    if (entry.IsFolder)
      name.pop_back();
    if (name == "." || name == "..")
      continue;
    entry.Record = std::stoull(m[1]);
    entry.Size = std::stoull(m[2]);
    entry.Path = folder + "/" + name;
    entries.push_back(std::move(entry));
  }
  return entries;
}

std::string NtfsCat(const std::string& AImage, std::uint64_t ARecord, std::optional<std::uint32_t> AType,
                    const std::string& AStreamName) {
  std::vector<std::string> args = {"ntfscat", "-f", "-i", std::to_string(ARecord)};
  if (AType)
    args.insert(args.end(), {"-a", std::to_string(*AType)});
  if (!AStreamName.empty())
    args.insert(args.end(), {"-n", AStreamName});
  args.push_back(AImage);
  return RunCommandChecked(args);
}

} // namespace testsupport
