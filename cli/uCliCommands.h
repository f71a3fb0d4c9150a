#pragma once

#include "cli/uCliListing.h"
#include "cli/uCliTerminal.h"
#include "engine/uAppContext.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// What tarnwick-cli tells its caller when it ends.
enum TExitCode : int {
  ecDone = 0,
  ecFileErrors = 1,    // done, but some files or steps failed
  ecUsage = 2,         // the command line makes no sense
  ecSourceFailed = 3,  // the source could not be opened or holds no NTFS volume
  ecCanceled = 130,    // Ctrl-C, as shells report it
};

// Raised for a command-line value the program cannot use, with a message for
// the user.
class UsageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Raised when what the program writes for its caller cannot be written.
class OutputError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

struct TScanOptions {
  std::string Source;
  int Partition = 0;  // of a disk or disk image; 0 for none given
  std::int64_t Offset = 0; // where a volume no table lists starts; 0 for none given
  std::string MapFile; // ddrescue's mapfile of the image; empty to look beside it
  std::string Mask = "*";
  TListingFormat Format = TListingFormat::lfTree;
  bool IncludeSnapshots = true; // the previous versions in the volume's shadow copies
  bool IncludeGone = false; // names folders' indexes hold whose files are gone
};

// Which files the engine's tick rules tick before a restore.
enum class TSelection { slNone, slAll, slGood };

struct TRestoreOptions {
  TScanOptions Scan;
  std::string Target;
  TRestoreMode Mode = rmTree;
  TResolveConflictMode Conflict = rcmRename;
  TSelection Select = TSelection::slNone;
  std::vector<std::string> Paths; // as the listing shows them, or "#RECORD"
  bool AnswerYes = false;
  bool KeepTimes = true; // the records' modification and access times
  bool KeepStreams = true; // named data streams, as extended attributes or files beside
};

// The source drives as the source drive page lists them, with the volume
// and disk images AImages listed first.
int RunDrives(const std::vector<std::string>& AImages, std::ostream& AOut);
// Searches the disk or disk image ADisk for NTFS volumes its partition
// table does not list (with ADeep at every sector) and lists each with its
// offset, for scan --offset.
int RunSearch(const std::string& ADisk, bool ADeep, std::ostream& AOut, TTerminal& ATerminal);
// RunScan and RunRestore leave what the scan built to the process's exit:
// each is the last thing a process does.
// Scans the source and writes its folder tree to AOut.
int RunScan(const TScanOptions& AOptions, std::ostream& AOut, TTerminal& ATerminal);
// Scans the source, ticks the selection and restores it into the target.
int RunRestore(const TRestoreOptions& AOptions, TTerminal& ATerminal);
