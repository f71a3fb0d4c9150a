#include "tests/support/Manifest.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace {

constexpr const char* kMagic = "# tarnwick fixture manifest 1";

std::vector<std::string> Split(const std::string& AText, char ASeparator) {
  std::vector<std::string> parts;
  if (AText.empty())
    return parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = AText.find(ASeparator, start);
    parts.push_back(AText.substr(start, end - start));
    if (end == std::string::npos)
      return parts;
    start = end + 1;
  }
}

std::string Join(const std::vector<std::string>& AParts, char ASeparator) {
  std::string text;
  for (const std::string& part : AParts) {
    if (!text.empty())
      text += ASeparator;
    text += part;
  }
  return text;
}

std::uint64_t ParseNumber(const std::string& AText) {
  std::uint64_t value = 0;
  const char* end = AText.data() + AText.size();
  const auto [stop, error] = std::from_chars(AText.data(), end, value);
  if (AText.empty() || error != std::errc() || stop != end)
    throw std::invalid_argument("not a number: \"" + AText + "\"");
  return value;
}

bool ParseYesNo(const std::string& AText) {
  if (AText != "yes" && AText != "no")
    throw std::invalid_argument("expected yes or no: \"" + AText + "\"");
  return AText == "yes";
}

const char* YesNo(bool AValue) { return AValue ? "yes" : "no"; }

std::string FormatRuns(const std::vector<ManifestRun>& ARuns) {
  std::vector<std::string> parts;
  for (const ManifestRun& run : ARuns)
    parts.push_back((run.Lcn ? std::to_string(*run.Lcn) : std::string("hole")) + "+" +
                    std::to_string(run.Length));
  return Join(parts, ';');
}

std::vector<ManifestRun> ParseRuns(const std::string& AText) {
  std::vector<ManifestRun> runs;
  for (const std::string& part : Split(AText, ';')) {
    const std::size_t plus = part.find('+');
    if (plus == std::string::npos)
      throw std::invalid_argument("bad run \"" + part + "\"");
    ManifestRun run;
    const std::string start = part.substr(0, plus);
    if (start != "hole")
      run.Lcn = static_cast<std::int64_t>(ParseNumber(start));
    run.Length = static_cast<std::int64_t>(ParseNumber(part.substr(plus + 1)));
    runs.push_back(run);
  }
  return runs;
}

constexpr std::array<std::pair<Overwrite, const char*>, 4> kOverwriteNames = {
    {{Overwrite::NotApplicable, "-"},
     {Overwrite::None, "none"},
     {Overwrite::Partly, "partly"},
     {Overwrite::Entirely, "entirely"}}};

std::string FormatOverwrite(Overwrite AValue) {
  for (const auto& [value, name] : kOverwriteNames)
    if (value == AValue)
      return name;
  return "-";
}

Overwrite ParseOverwrite(const std::string& AText) {
  for (const auto& [value, name] : kOverwriteNames)
    if (AText == name)
      return value;
  throw std::invalid_argument("bad overwrite state \"" + AText + "\"");
}

// One TSV column: how an entry's field becomes text and back. Columns are
// found by their header name, so readers survive new columns.
struct Column {
  const char* Name;
  std::function<std::string(const ManifestEntry&)> Format;
  std::function<void(ManifestEntry&, const std::string&)> Parse;
};

const std::vector<Column>& Columns() {
  static const std::vector<Column> columns = {
      {"path", [](const ManifestEntry& e) { return e.Path; },
       [](ManifestEntry& e, const std::string& s) { e.Path = s; }},
      {"record", [](const ManifestEntry& e) { return std::to_string(e.Record); },
       [](ManifestEntry& e, const std::string& s) { e.Record = ParseNumber(s); }},
      {"sequence", [](const ManifestEntry& e) { return std::to_string(e.Sequence); },
       [](ManifestEntry& e, const std::string& s) { e.Sequence = static_cast<std::uint16_t>(ParseNumber(s)); }},
      {"parent", [](const ManifestEntry& e) { return std::to_string(e.ParentRecord); },
       [](ManifestEntry& e, const std::string& s) { e.ParentRecord = ParseNumber(s); }},
      {"type", [](const ManifestEntry& e) { return std::string(e.IsFolder ? "dir" : "file"); },
       [](ManifestEntry& e, const std::string& s) { e.IsFolder = s == "dir"; }},
      {"state", [](const ManifestEntry& e) { return std::string(e.Deleted ? "deleted" : "live"); },
       [](ManifestEntry& e, const std::string& s) { e.Deleted = s == "deleted"; }},
      {"size", [](const ManifestEntry& e) { return std::to_string(e.Size); },
       [](ManifestEntry& e, const std::string& s) { e.Size = ParseNumber(s); }},
      {"kinds", [](const ManifestEntry& e) { return Join(e.Kinds, ','); },
       [](ManifestEntry& e, const std::string& s) { e.Kinds = Split(s, ','); }},
      {"seed", [](const ManifestEntry& e) { return std::to_string(e.Seed); },
       [](ManifestEntry& e, const std::string& s) { e.Seed = ParseNumber(s); }},
      {"layout", [](const ManifestEntry& e) { return e.Layout; },
       [](ManifestEntry& e, const std::string& s) { e.Layout = s; }},
      {"sha256", [](const ManifestEntry& e) { return e.Sha256; },
       [](ManifestEntry& e, const std::string& s) { e.Sha256 = s; }},
      {"clusters", [](const ManifestEntry& e) { return std::to_string(e.Clusters); },
       [](ManifestEntry& e, const std::string& s) { e.Clusters = ParseNumber(s); }},
      {"taken", [](const ManifestEntry& e) { return std::to_string(e.TakenClusters); },
       [](ManifestEntry& e, const std::string& s) { e.TakenClusters = ParseNumber(s); }},
      {"overwritten", [](const ManifestEntry& e) { return FormatOverwrite(e.Overwritten); },
       [](ManifestEntry& e, const std::string& s) { e.Overwritten = ParseOverwrite(s); }},
      {"record_reused", [](const ManifestEntry& e) { return std::string(YesNo(e.RecordReused)); },
       [](ManifestEntry& e, const std::string& s) { e.RecordReused = ParseYesNo(s); }},
      {"runs", [](const ManifestEntry& e) { return FormatRuns(e.Runs); },
       [](ManifestEntry& e, const std::string& s) { e.Runs = ParseRuns(s); }},
  };
  return columns;
}

struct VolumeField {
  const char* Name;
  std::function<std::string(const ManifestVolume&)> Format;
  std::function<void(ManifestVolume&, const std::string&)> Parse;
};

template <typename T> VolumeField NumberField(const char* AName, T ManifestVolume::*AField) {
  return {AName, [AField](const ManifestVolume& v) { return std::to_string(v.*AField); },
          [AField](ManifestVolume& v, const std::string& s) { v.*AField = static_cast<T>(ParseNumber(s)); }};
}

const std::vector<VolumeField>& VolumeFields() {
  static const std::vector<VolumeField> fields = {
      {"recipe", [](const ManifestVolume& v) { return v.Recipe; },
       [](ManifestVolume& v, const std::string& s) { v.Recipe = s; }},
      NumberField("sector_size", &ManifestVolume::SectorSize),
      NumberField("cluster_size", &ManifestVolume::ClusterSize),
      NumberField("record_size", &ManifestVolume::RecordSize),
      NumberField("total_clusters", &ManifestVolume::TotalClusters),
      NumberField("mft_extents", &ManifestVolume::MftExtents),
  };
  return fields;
}

void CheckFieldText(const std::string& AText) {
  if (AText.find_first_of("\t\n") != std::string::npos)
    throw std::invalid_argument("manifest field holds a tab or newline: \"" + AText + "\"");
}

void ParseVolumeLine(ManifestVolume& AVolume, const std::string& ALine) {
  const std::vector<std::string> parts = Split(ALine.substr(2), '\t');
  if (parts.size() != 2)
    return;
  for (const VolumeField& field : VolumeFields())
    if (parts[0] == field.Name)
      field.Parse(AVolume, parts[1]);
}

} // namespace

bool ManifestEntry::HasKind(const std::string& AKind) const {
  return std::find(Kinds.begin(), Kinds.end(), AKind) != Kinds.end();
}

std::string ManifestEntry::Name() const { return Path.substr(Path.rfind('/') + 1); }

const ManifestEntry* Manifest::Find(const std::string& APath) const {
  const ManifestEntry* found = nullptr;
  for (const ManifestEntry& entry : Entries)
    if (entry.Path == APath)
      found = &entry;
  return found;
}

void WriteManifest(const Manifest& AManifest, const std::string& AFileName) {
  std::ostringstream out;
  out << kMagic << '\n';
  for (const VolumeField& field : VolumeFields())
    out << "# " << field.Name << '\t' << field.Format(AManifest.Volume) << '\n';
  std::vector<std::string> header;
  for (const Column& column : Columns())
    header.push_back(column.Name);
  out << Join(header, '\t') << '\n';
  for (const ManifestEntry& entry : AManifest.Entries) {
    std::vector<std::string> fields;
    for (const Column& column : Columns()) {
      fields.push_back(column.Format(entry));
      CheckFieldText(fields.back());
    }
    out << Join(fields, '\t') << '\n';
  }
  std::ofstream file(AFileName, std::ios::binary | std::ios::trunc);
  file << out.str();
  if (!file.flush())
    throw std::runtime_error("cannot write manifest " + AFileName);
}

Manifest ReadManifest(const std::string& AFileName) {
  std::ifstream file(AFileName, std::ios::binary);
  if (!file)
    throw std::runtime_error("cannot open manifest " + AFileName);
  Manifest manifest;
  std::vector<const Column*> layout; // column of each TSV field, nullptr if unknown
  std::string line;
  for (int lineNo = 1; std::getline(file, line); ++lineNo) {
    try {
      if (lineNo == 1 && line != kMagic)
        throw std::invalid_argument("not a fixture manifest");
      if (line.rfind("# ", 0) == 0) {
        ParseVolumeLine(manifest.Volume, line);
        continue;
      }
      const std::vector<std::string> fields = Split(line, '\t');
      if (layout.empty()) {
        for (const std::string& name : fields) {
          const auto it = std::find_if(Columns().begin(), Columns().end(),
                                       [&](const Column& c) { return name == c.Name; });
          layout.push_back(it == Columns().end() ? nullptr : &*it);
        }
        continue;
      }
      if (fields.size() != layout.size())
        throw std::invalid_argument("expected " + std::to_string(layout.size()) + " fields, found " +
                                    std::to_string(fields.size()));
      ManifestEntry entry;
      for (std::size_t i = 0; i < fields.size(); ++i)
        if (layout[i])
          layout[i]->Parse(entry, fields[i]);
      manifest.Entries.push_back(std::move(entry));
    } catch (const std::logic_error& e) {
      throw std::runtime_error(AFileName + ":" + std::to_string(lineNo) + ": " + e.what());
    }
  }
  return manifest;
}

} // namespace testsupport
