#pragma once

#include "engine/uAppContext.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// The folder tree of a scan as text for people and scripts.

// One node of the tree, with the values every format shows.
struct TListingRow {
  PTreeItemInfo Node = nullptr;
  std::uint64_t Record = 0; // the 48-bit MFT record number
  bool IsDirectory = false;
  bool Deleted = false;
  std::int64_t Size = 0;
  double Overwrite = 0;
  std::string Created;    // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string Attributes; // short codes, blank-separated
  std::string Path;       // from the drive folder or "???", "/"-separated, in UTF-8
  std::string Name;
  std::int32_t Depth = 0; // 0 for the drive folder and the orphans folder
};

enum class TListingFormat { lfTree, lfTsv, lfCsv, lfJson };

// Every node of the context's tree in depth-first pre-order.
std::vector<TListingRow> ListingRows(const TNTFSRecoveryContext& AContext);

void WriteListing(std::ostream& AOut, const std::vector<TListingRow>& ARows, TListingFormat AFormat);

// An NTFS time (100 ns units since 1601) as UTC ISO 8601; empty when it
// lies beyond what the calendar functions represent.
std::string UtcIso8601(std::int64_t AFileTime);
