#pragma once

#include "foundation/uMemoryEx.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Names of records as the volume holds them now, read straight from the
// MFT: for what the scan did not collect, such as live files.

struct TRecordName {
  std::u16string Name;
  std::int64_t Parent = 0;
  bool InUse = false;
  std::uint16_t Sequence = 0;
};

// The record's own name and folder from its $FILE_NAME; none when the
// record is no FILE record or holds no name. ABuffer holds a record.
std::optional<TRecordName> RecordNameOf(PNTFSVolume AVolume, std::int64_t ARecord, TMemHolder& ABuffer);

// The names from below the root folder down to ARecord's own; "???" stands
// for a folder that cannot be read or named.
std::vector<std::u16string> RecordPathOf(PNTFSVolume AVolume, std::int64_t ARecord, TMemHolder& ABuffer);
