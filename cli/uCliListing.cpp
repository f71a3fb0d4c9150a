#include "cli/uCliListing.h"

#include "engine/uTreeWalk.h"
#include "foundation/uSizeText.h"
#include "foundation/uUnicode.h"
#include "ntfs/uNTFSUtils.h"

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <string_view>
#include <unordered_map>

namespace {

// Columns only ever join at the end, so that scripts reading by position
// keep working.
constexpr std::array<const char*, 11> kColumns = {"record",     "kind",       "deleted",    "size", "overwrite",
                                                  "created",    "deleted_at", "attributes", "path", "streams",
                                                  "snapshot"};
constexpr char kWhitespace[] = " \t";
// What the listing gathers before it goes to the stream in one write.
constexpr std::size_t kWritePiece = 256 * 1024;

std::string Trimmed(const std::string& AText) {
  const std::size_t first = AText.find_first_not_of(kWhitespace);
  if (first == std::string::npos)
    return {};
  return AText.substr(first, AText.find_last_not_of(kWhitespace) - first + 1);
}

// Two decimals with "." whatever the locale.
void AppendTwoDecimals(std::string& AOut, double AValue) {
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), AValue, std::chars_format::fixed, 2);
  AOut.append(buffer.data(), result.ptr);
}

template <class TNumber>
void AppendNumber(std::string& AOut, TNumber AValue) {
  std::array<char, 24> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), AValue);
  AOut.append(buffer.data(), result.ptr);
}

// A separator, then two digits with a leading zero.
void AppendTwoDigits(std::string& AOut, char ASeparator, unsigned AValue) {
  AOut += ASeparator;
  AOut += static_cast<char>('0' + AValue / 10);
  AOut += static_cast<char>('0' + AValue % 10);
}

const char* KindOf(const TListingRow& ARow) { return ARow.Gone ? "gone" : ARow.IsDirectory ? "dir" : "file"; }

// The first of AChars in AText: string_view's find_first_of looks each
// character up with a call of its own, which shows in a listing's time.
std::size_t FirstOf(std::string_view AText, std::string_view AChars) {
  for (std::size_t i = 0; i < AText.size(); ++i)
    for (const char c : AChars)
      if (AText[i] == c)
        return i;
  return std::string_view::npos;
}

// Names come from a volume anyone may have crafted: a tab or a line break
// in one must not split a row.
void AppendTsvField(std::string& ALine, std::string_view AText) {
  static constexpr std::string_view kSpecial = "\t\n\r\\";
  static constexpr std::string_view kEscaped = "tnr\\";
  for (std::size_t special = FirstOf(AText, kSpecial); special != std::string_view::npos;
       special = FirstOf(AText, kSpecial)) {
    ALine.append(AText.substr(0, special));
    ALine += '\\';
    ALine += kEscaped[kSpecial.find(AText[special])];
    AText.remove_prefix(special + 1);
  }
  ALine.append(AText);
}

void AppendCsvField(std::string& ALine, std::string_view AText) {
  if (FirstOf(AText, ",\"\r\n") == std::string_view::npos) {
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

void AppendJsonString(std::string& AOut, std::string_view AText) {
  AOut += '"';
  for (const char c : AText) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      AOut += '\\';
      AOut += c;
    } else if (byte < 0x20) {
      std::array<char, 8> escaped{};
      std::snprintf(escaped.data(), escaped.size(), "\\u%04x", byte);
      AOut += escaped.data();
    } else {
      AOut += c;
    }
  }
  AOut += '"';
}

// The columns in listing order.
template <class TAppendField>
void AppendSeparatedRow(std::string& AOut, const TListingRow& ARow, char ASeparator, TAppendField AAppendField) {
  AppendNumber(AOut, ARow.Record);
  AOut += ASeparator;
  AOut += KindOf(ARow);
  AOut += ASeparator;
  AOut += ARow.Deleted ? '1' : '0';
  AOut += ASeparator;
  AppendNumber(AOut, ARow.Size);
  AOut += ASeparator;
  AppendTwoDecimals(AOut, ARow.Overwrite);
  for (const std::string* field : {&ARow.Created, &ARow.DeletedAt, &ARow.Attributes, &ARow.Path}) {
    AOut += ASeparator;
    AAppendField(AOut, *field);
  }
  AOut += ASeparator;
  AppendNumber(AOut, ARow.Streams);
  AOut += ASeparator;
  AAppendField(AOut, ARow.Snapshot);
  AOut += '\n';
}

void AppendSeparatedHeader(std::string& AOut, char ASeparator) {
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    if (i)
      AOut += ASeparator;
    AOut += kColumns[i];
  }
  AOut += '\n';
}

void AppendJsonRow(std::string& AOut, const TListingRow& ARow, bool AFirst) {
  AOut += AFirst ? "\n {\"record\": " : ",\n {\"record\": ";
  AppendNumber(AOut, ARow.Record);
  AOut += ", \"kind\": ";
  AppendJsonString(AOut, KindOf(ARow));
  AOut += ", \"deleted\": ";
  AOut += ARow.Deleted ? '1' : '0';
  AOut += ", \"size\": ";
  AppendNumber(AOut, ARow.Size);
  AOut += ", \"overwrite\": ";
  AppendTwoDecimals(AOut, ARow.Overwrite);
  AOut += ", \"created\": ";
  AppendJsonString(AOut, ARow.Created);
  AOut += ", \"deleted_at\": ";
  AppendJsonString(AOut, ARow.DeletedAt);
  AOut += ", \"attributes\": ";
  AppendJsonString(AOut, ARow.Attributes);
  AOut += ", \"path\": ";
  AppendJsonString(AOut, ARow.Path);
  AOut += ", \"streams\": ";
  AppendNumber(AOut, ARow.Streams);
  AOut += ", \"snapshot\": ";
  AppendJsonString(AOut, ARow.Snapshot);
  AOut += ", \"claimed_by\": [";
  for (const TListingClaim& claim : ARow.ClaimedBy) {
    AOut += &claim == ARow.ClaimedBy.data() ? "{\"record\": " : ", {\"record\": ";
    AppendNumber(AOut, claim.Record);
    AOut += ", \"path\": ";
    AppendJsonString(AOut, claim.Path);
    AOut += ", \"clusters\": ";
    AppendNumber(AOut, claim.Clusters);
    AOut += '}';
  }
  AOut += "]}";
}

void AppendSizeText(std::string& AOut, std::int64_t ASize) { AOut += SizeText(ASize); }

// An indented line per node: folders end in "/", files show their size and
// how much of them is estimated overwritten.
void AppendTreeRow(std::string& AOut, const TListingRow& ARow) {
  AOut.append(static_cast<std::size_t>(ARow.Depth) * 2, ' ');
  AOut += EscapeControls(ARow.Name);
  if (ARow.IsDirectory) {
    if (!ARow.Name.ends_with('/'))
      AOut += '/';
  } else {
    AOut += "  ";
    AppendSizeText(AOut, ARow.Size);
    AOut += ", ";
    AppendTwoDecimals(AOut, ARow.Overwrite);
    AOut += "% overwritten";
  }
  if (ARow.Gone)
    AOut += "  [gone]";
  else if (ARow.Deleted && ARow.Depth > 0)
    AOut += "  [deleted]";
  AOut += '\n';
}

} // namespace

std::string UtcIso8601(std::int64_t AFileTime) {
  using namespace std::chrono;
  // Floor division, so that times before 1601 still fall on whole seconds.
  std::int64_t seconds = AFileTime / FileTimeTicksPerSecond;
  if (AFileTime % FileTimeTicksPerSecond < 0)
    --seconds;
  const sys_seconds time{std::chrono::seconds(seconds - SecondsFrom1601To1970)};
  const sys_days day = floor<days>(time);
  const year_month_day date(day);
  const hh_mm_ss clock(time - day);
  // The year as the C library writes it: without leading zeros, signed
  // before year 0, as every 64-bit NTFS time falls between -27627 and 30828.
  std::string text;
  AppendNumber(text, static_cast<int>(date.year()));
  AppendTwoDigits(text, '-', static_cast<unsigned>(date.month()));
  AppendTwoDigits(text, '-', static_cast<unsigned>(date.day()));
  AppendTwoDigits(text, 'T', static_cast<unsigned>(clock.hours().count()));
  AppendTwoDigits(text, ':', static_cast<unsigned>(clock.minutes().count()));
  AppendTwoDigits(text, ':', static_cast<unsigned>(clock.seconds().count()));
  return text + 'Z';
}

void ForEachListingRow(const TNTFSRecoveryContext& AContext, const std::function<void(const TListingRow&)>& AVisit) {
  // The pre-order walk meets a folder before what it holds, so the folders
  // open above a node form a stack whose top is the node's folder; the
  // row's path keeps the path of each of them as a prefix, so each folder's
  // path is spelt once and nothing is allocated per row.
  struct TOpenFolder {
    PTreeItemInfo Node;
    std::size_t PathLength;
  };
  std::vector<TOpenFolder> folders;
  // Few distinct sets of attribute bits occur; each is spelt once.
  std::unordered_map<std::uint32_t, std::string> attributeTexts;
  TListingRow row;
  ForEachTreeNode(AContext.TreeItems(), [&](PTreeItemInfo ANode) {
    const PItemInfo item = TNTFSRecoveryContext::ItemInfo(ANode);
    while (!folders.empty() && folders.back().Node != ANode->Parent)
      folders.pop_back();
    row.Name.clear();
    AppendNativePath(row.Name, item->Name);
    row.Path.resize(folders.empty() ? 0 : folders.back().PathLength);
    if (!folders.empty())
      row.Path += '/';
    row.Path += row.Name;
    row.Depth = static_cast<std::int32_t>(folders.size());
    if (ANode->SubItems)
      folders.push_back({ANode, row.Path.size()});
    const auto [attributes, added] = attributeTexts.try_emplace(item->Attributes);
    if (added)
      attributes->second = Trimmed(ToNativePath(NTFSUtils::FileAttributesToString(item->Attributes)));
    row.Node = ANode;
    row.Record = static_cast<std::uint64_t>(item->MFTNumber.Address());
    row.IsDirectory = item->IsDirectory;
    row.Deleted = item->IsDeleted;
    row.Size = item->DataSize;
    row.Overwrite = item->OverwritePercent;
    row.Created = UtcIso8601(item->CreationTime);
    row.DeletedAt = item->DeletionTime != 0 ? UtcIso8601(item->DeletionTime) : std::string();
    row.Attributes = attributes->second;
    row.Streams = item->NamedStreams;
    const std::int64_t snapshotTime = AContext.SnapshotTime(*item);
    row.Snapshot = snapshotTime != 0 ? UtcIso8601(snapshotTime) : std::string();
    AVisit(row);
  });
}

std::vector<TListingRow> ListingRows(const TNTFSRecoveryContext& AContext) {
  std::vector<TListingRow> rows;
  ForEachListingRow(AContext, [&rows](const TListingRow& ARow) { rows.push_back(ARow); });
  return rows;
}

TListingRow GoneListingRow(const TGoneName& AName, const std::string& ADrive) {
  TListingRow row;
  row.Record = static_cast<std::uint64_t>(AName.Entry.File.Address());
  row.Deleted = true;
  row.Gone = true;
  row.Size = AName.Entry.DataSize;
  row.Overwrite = 100;
  row.Created = UtcIso8601(AName.Entry.CreationTime);
  row.Attributes = Trimmed(ToNativePath(NTFSUtils::FileAttributesToString(AName.Entry.FileAttributes)));
  row.Path = ADrive;
  for (const std::u16string& name : AName.Path)
    AppendNativePath(row.Path += '/', name);
  // Listed after the tree, a gone name shows its whole path there too.
  row.Name = row.Path;
  return row;
}

std::map<PTreeItemInfo, std::vector<TListingClaim>> ListingClaims(TNTFSRecoveryContext& AContext) {
  std::vector<PTreeItemInfo> overwritten;
  ForEachListingRow(AContext, [&overwritten](const TListingRow& ARow) {
    if (ARow.Deleted && !ARow.IsDirectory && ARow.Overwrite > 0)
      overwritten.push_back(ARow.Node);
  });
  const std::string drive = ToNativePath(AContext.SourceDriveName());
  const std::vector<std::vector<TClaimant>> claimants = AContext.ClaimantsOf(overwritten);
  std::map<PTreeItemInfo, std::vector<TListingClaim>> claims;
  for (std::size_t i = 0; i < overwritten.size(); ++i)
    for (const TClaimant& claimant : claimants[i]) {
      TListingClaim& claim = claims[overwritten[i]].emplace_back(TListingClaim{claimant.Record, {}, claimant.Clusters});
      if (claimant.Record < 0)
        continue;
      claim.Path = drive;
      for (const std::u16string& name : claimant.Path)
        AppendNativePath(claim.Path += '/', name);
    }
  return claims;
}

TListingWriter::TListingWriter(std::ostream& AOut, TListingFormat AFormat) : FOut(AOut), FFormat(AFormat) {
  FBuffer.reserve(kWritePiece + kWritePiece / 4);
  if (FFormat == TListingFormat::lfTsv)
    AppendSeparatedHeader(FBuffer, '\t');
  else if (FFormat == TListingFormat::lfCsv)
    AppendSeparatedHeader(FBuffer, ',');
  else if (FFormat == TListingFormat::lfJson)
    FBuffer += '[';
}

void TListingWriter::Write(const TListingRow& ARow) {
  switch (FFormat) {
  case TListingFormat::lfTsv:
    AppendSeparatedRow(FBuffer, ARow, '\t', AppendTsvField);
    break;
  case TListingFormat::lfCsv:
    AppendSeparatedRow(FBuffer, ARow, ',', AppendCsvField);
    break;
  case TListingFormat::lfJson:
    AppendJsonRow(FBuffer, ARow, FRows == 0);
    break;
  case TListingFormat::lfTree:
    AppendTreeRow(FBuffer, ARow);
    break;
  }
  ++FRows;
  if (FBuffer.size() >= kWritePiece)
    Flush();
}

void TListingWriter::Finish() {
  if (FFormat == TListingFormat::lfJson)
    FBuffer += FRows == 0 ? "]\n" : "\n]\n";
  Flush();
}

void TListingWriter::Flush() {
  FOut.write(FBuffer.data(), static_cast<std::streamsize>(FBuffer.size()));
  FBuffer.clear();
}
