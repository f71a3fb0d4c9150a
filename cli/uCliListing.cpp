#include "cli/uCliListing.h"

#include "engine/uTreeWalk.h"
#include "foundation/uUnicode.h"
#include "ntfs/uNTFSUtils.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <string_view>
#include <unordered_map>

namespace {

constexpr std::array<const char*, 8> kColumns = {"record",  "kind",       "deleted", "size",
                                                 "overwrite", "created", "attributes", "path"};
// Seconds from 1601-01-01 to 1970-01-01, and NTFS time units per second.
constexpr std::int64_t kEpochDifference = 11644473600;
constexpr std::int64_t kUnitsPerSecond = 10000000;
constexpr char kWhitespace[] = " \t";
constexpr double kKiB = 1024.0;

std::string Trimmed(const std::string& AText) {
  const std::size_t first = AText.find_first_not_of(kWhitespace);
  if (first == std::string::npos)
    return {};
  return AText.substr(first, AText.find_last_not_of(kWhitespace) - first + 1);
}

// Two decimals with "." whatever the locale.
std::string TwoDecimals(double AValue) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), AValue, std::chars_format::fixed, 2);
  return std::string(buffer.data(), result.ptr);
}

const char* KindOf(const TListingRow& ARow) { return ARow.IsDirectory ? "dir" : "file"; }

// The numbers of a row as text, for Fields to point into.
struct TRowNumbers {
  std::string Record, Size, Overwrite;
};

// The columns in listing order, as text.
std::array<std::string_view, kColumns.size()> Fields(const TListingRow& ARow, TRowNumbers& ANumbers) {
  ANumbers = {std::to_string(ARow.Record), std::to_string(ARow.Size), TwoDecimals(ARow.Overwrite)};
  return {ANumbers.Record, KindOf(ARow), ARow.Deleted ? "1" : "0", ANumbers.Size,
          ANumbers.Overwrite, ARow.Created, ARow.Attributes, ARow.Path};
}

// Names come from a volume anyone may have crafted: a tab or a line break
// in one must not split a row.
void AppendTsvField(std::string& ALine, std::string_view AText) {
  if (AText.find_first_of("\t\n\r\\") == std::string_view::npos) {
    ALine += AText;
    return;
  }
  for (const char c : AText) {
    switch (c) {
    case '\t': ALine += "\\t"; break;
    case '\n': ALine += "\\n"; break;
    case '\r': ALine += "\\r"; break;
    case '\\': ALine += "\\\\"; break;
    default: ALine += c;
    }
  }
}

void AppendCsvField(std::string& ALine, std::string_view AText) {
  if (AText.find_first_of(",\"\r\n") == std::string_view::npos) {
    ALine += AText;
    return;
  }
  ALine += '"';
  for (const char c : AText) {
    if (c == '"')
      ALine += '"';
    ALine += c;
  }
  ALine += '"';
}

std::string JsonString(const std::string& AText) {
  std::string out = "\"";
  for (const char c : AText) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      std::array<char, 8> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\u%04x", byte);
      out += escaped.data();
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// One write per row: a scan lists hundreds of thousands of them.
template <class TAppendField>
void WriteSeparated(std::ostream& AOut, const std::vector<TListingRow>& ARows, char ASeparator,
                    TAppendField AAppendField) {
  std::string line;
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    if (i)
      line += ASeparator;
    line += kColumns[i];
  }
  line += '\n';
  AOut << line;
  TRowNumbers numbers;
  for (const TListingRow& row : ARows) {
    line.clear();
    const auto fields = Fields(row, numbers);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i)
        line += ASeparator;
      AAppendField(line, fields[i]);
    }
    line += '\n';
    AOut.write(line.data(), static_cast<std::streamsize>(line.size()));
  }
}

void WriteJson(std::ostream& AOut, const std::vector<TListingRow>& ARows) {
  AOut << '[';
  for (std::size_t r = 0; r < ARows.size(); ++r) {
    const TListingRow& row = ARows[r];
    AOut << (r ? ",\n " : "\n ") << "{\"record\": " << row.Record << ", \"kind\": " << JsonString(KindOf(row))
         << ", \"deleted\": " << (row.Deleted ? 1 : 0) << ", \"size\": " << row.Size
         << ", \"overwrite\": " << TwoDecimals(row.Overwrite) << ", \"created\": " << JsonString(row.Created)
         << ", \"attributes\": " << JsonString(row.Attributes) << ", \"path\": " << JsonString(row.Path) << '}';
  }
  AOut << (ARows.empty() ? "]\n" : "\n]\n");
}

std::string SizeText(std::int64_t ASize) {
  if (ASize < 1024)
    return std::to_string(ASize) + " B";
  static constexpr std::array<const char*, 5> units = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(ASize) / kKiB;
  std::size_t unit = 0;
  for (; value >= kKiB && unit + 1 < units.size(); ++unit)
    value /= kKiB;
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 1);
  return std::string(buffer.data(), result.ptr) + " " + units[unit];
}

// An indented line per node: folders end in "/", files show their size and
// how much of them is estimated overwritten.
void WriteTree(std::ostream& AOut, const std::vector<TListingRow>& ARows) {
  for (const TListingRow& row : ARows) {
    AOut << std::string(static_cast<std::size_t>(row.Depth) * 2, ' ') << EscapeControls(row.Name);
    if (row.IsDirectory)
      AOut << (row.Name.ends_with('/') ? "" : "/");
    else
      AOut << "  " << SizeText(row.Size) << ", " << TwoDecimals(row.Overwrite) << "% overwritten";
    if (row.Deleted && row.Depth > 0)
      AOut << "  [deleted]";
    AOut << '\n';
  }
}

} // namespace

std::string UtcIso8601(std::int64_t AFileTime) {
  // Floor division, so that times before 1601 still fall on whole seconds.
  std::int64_t seconds = AFileTime / kUnitsPerSecond;
  if (AFileTime % kUnitsPerSecond < 0)
    --seconds;
  const std::time_t unixTime = static_cast<std::time_t>(seconds - kEpochDifference);
  std::tm calendar{};
  if (gmtime_r(&unixTime, &calendar) == nullptr)
    return {};
  std::array<char, 64> buffer{};
  const std::size_t length = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%dT%H:%M:%SZ", &calendar);
  return std::string(buffer.data(), length);
}

std::vector<TListingRow> ListingRows(const TNTFSRecoveryContext& AContext) {
  std::vector<TListingRow> rows;
  // The pre-order walk meets a folder before what it holds, so a node's path
  // and depth follow from its folder's row: each folder's path is spelt once.
  std::unordered_map<PTreeItemInfo, std::size_t> folderRows;
  // Few distinct sets of attribute bits occur; each is spelt once.
  std::unordered_map<std::uint32_t, std::string> attributeTexts;
  ForEachTreeNode(AContext.TreeItems(), [&rows, &folderRows, &attributeTexts](PTreeItemInfo ANode) {
    const PItemInfo item = TNTFSRecoveryContext::ItemInfo(ANode);
    std::string name = ToNativePath(item->Name);
    std::string path;
    std::int32_t depth = 0;
    if (ANode->Parent != nullptr) {
      const TListingRow& folder = rows[folderRows.at(ANode->Parent)];
      path = folder.Path + '/' + name;
      depth = folder.Depth + 1;
    } else {
      path = name;
    }
    if (ANode->SubItems)
      folderRows.emplace(ANode, rows.size());
    const auto [attributes, added] = attributeTexts.try_emplace(item->Attributes);
    if (added)
      attributes->second = Trimmed(ToNativePath(NTFSUtils::FileAttributesToString(item->Attributes)));
    rows.push_back({ANode, static_cast<std::uint64_t>(item->MFTNumber.Address()), item->IsDirectory, item->IsDeleted,
                    item->DataSize, item->OverwritePercent, UtcIso8601(item->CreationTime), attributes->second,
                    std::move(path), std::move(name), depth});
  });
  return rows;
}

void WriteListing(std::ostream& AOut, const std::vector<TListingRow>& ARows, TListingFormat AFormat) {
  switch (AFormat) {
  case TListingFormat::lfTsv:
    WriteSeparated(AOut, ARows, '\t', AppendTsvField);
    break;
  case TListingFormat::lfCsv:
    WriteSeparated(AOut, ARows, ',', AppendCsvField);
    break;
  case TListingFormat::lfJson:
    WriteJson(AOut, ARows);
    break;
  case TListingFormat::lfTree:
    WriteTree(AOut, ARows);
    break;
  }
}
