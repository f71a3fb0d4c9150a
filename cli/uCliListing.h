#pragma once

#include "engine/uAppContext.h"

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// The folder tree of a scan as text for people and scripts.

// A record that holds clusters of a deleted file now.
struct TListingClaim {
  std::int64_t Record = -1; // -1: in use by the volume's count, claimed by no record read
  std::string Path;         // as the rows' paths; empty for -1
  std::int64_t Clusters = 0;
};

// One node of the tree, with the values every format shows.
struct TListingRow {
  PTreeItemInfo Node = nullptr;
  std::uint64_t Record = 0; // the 48-bit MFT record number
  bool IsDirectory = false;
  bool Deleted = false;
  bool Gone = false; // a name a folder's index holds whose file is gone
  std::int64_t Size = 0;
  double Overwrite = 0;
  std::string Created;    // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string DeletedAt;  // likewise, when the Recycle Bin tells it; else empty
  std::string Attributes; // short codes, blank-separated
  std::string Path;       // from the drive folder or "???", "/"-separated, in UTF-8
  std::int32_t Streams = 0; // named data streams besides the data
  std::string Name;
  std::string Snapshot;   // UTC, when the snapshot it was found in was taken; empty for the volume now
  std::int32_t Depth = 0; // 0 for the drive folder and the orphans folder
  // JSON only: what took the clusters of a file estimated overwritten.
  std::vector<TListingClaim> ClaimedBy;
};

enum class TListingFormat { lfTree, lfTsv, lfCsv, lfJson };

// Hands every node of the context's tree to AVisit in depth-first pre-order.
// The row is only valid during the call: it is reused for the next node.
void ForEachListingRow(const TNTFSRecoveryContext& AContext, const std::function<void(const TListingRow&)>& AVisit);

// Every node of the context's tree in depth-first pre-order.
std::vector<TListingRow> ListingRows(const TNTFSRecoveryContext& AContext);

// The row of a gone name: kind "gone", the record its index entry named,
// what the entry still tells (size, time, attributes), nothing of its data
// known. ADrive is the drive folder's name.
TListingRow GoneListingRow(const TGoneName& AName, const std::string& ADrive);

// For every deleted file estimated overwritten, by node, the records that
// claim its clusters now. Reads the source drive.
std::map<PTreeItemInfo, std::vector<TListingClaim>> ListingClaims(TNTFSRecoveryContext& AContext);

// Writes a listing row by row, in large pieces: a scan lists hundreds of
// thousands of rows. Nothing reaches the stream before a piece is full or
// Finish is called.
class TListingWriter {
public:
  TListingWriter(std::ostream& AOut, TListingFormat AFormat);
  TListingWriter(const TListingWriter&) = delete;
  TListingWriter& operator=(const TListingWriter&) = delete;

  void Write(const TListingRow& ARow);
  // Ends the listing (JSON's closing bracket) and hands the rest to the stream.
  void Finish();

private:
  void Flush();

  std::ostream& FOut;
  TListingFormat FFormat;
  std::string FBuffer;
  std::size_t FRows = 0;
};

// An NTFS time (100 ns units since 1601) as UTC ISO 8601, to the second;
// every 64-bit time has one (years -27627 to 30828).
std::string UtcIso8601(std::int64_t AFileTime);
