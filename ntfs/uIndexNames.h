#pragma once

#include "ntfs/uNTFSBytes.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <string>
#include <vector>

// The names a folder's index blocks ("INDX", the $I30 index) still hold.
// A deleted file's entry leaves the index, but its bytes often stay in the
// unused tail of the block (its slack) after the entries still in use moved
// up: the only trace left of a file whose record was since used again.

// One $FILE_NAME key of an index entry, with the record it pointed to.
struct TIndexName {
  MFT_REF File;                // record and sequence number while the file had this name
  std::u16string Name;
  std::uint8_t NameType = 0;   // POSIX, Win32, DOS or both
  std::int64_t DataSize = 0;
  std::int64_t CreationTime = 0;
  std::int64_t ChangeTime = 0; // last write of the data
  std::uint32_t FileAttributes = 0;
  bool InSlack = false;        // read from the block's unused tail
};

// Applies the update sequence of an index block read from disk, in place.
// False when the block is no "INDX" block or its fix-up does not fit.
bool FixupIndexBlock(std::uint8_t* ABlock, std::uint32_t ASize);

// The names of an index block (fixed up) of the folder AFolder: each entry
// of its used part, then every entry its slack still holds whole. A key
// must name AFolder as its parent and hold a sound name to count; a torn
// entry in the slack is passed over.
std::vector<TIndexName> IndexBlockNames(TByteView ABlock, std::int64_t AFolder);
