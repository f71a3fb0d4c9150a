#pragma once

#include "ntfs/uUnreadRanges.h"

#include <cstdint>
#include <string>
#include <vector>

// The disk bytes a container cannot deliver, in order and merged: a range
// that touches or overlaps another joins it.
class TDamageMap {
public:
  void Add(TByteRange ARange);
  const std::vector<TByteRange>& Ranges() const { return FRanges; }
  // How many of the ALength bytes from APos on come before the first
  // damaged byte: 0 when APos itself is damaged.
  std::int64_t UndamagedFrom(std::int64_t APos, std::int64_t ALength) const;

private:
  std::vector<TByteRange> FRanges;
};

// The disk bytes of the QCOW2 file at APath whose clusters its tables place
// at or past the end of the file, as happens when the file was cut short;
// none when the file is no QCOW2 version 2 or 3 or cannot be read.
std::vector<TByteRange> QcowClustersPastEnd(const std::string& APath, std::int64_t AMediaSize);

// The same for the grains of a VMDK sparse extent file: the extent holds
// AExtentSize bytes of the disk from ADiskOffset on. None for an extent in
// another form (flat, or streamed with its tables at the end).
std::vector<TByteRange> VmdkGrainsPastEnd(const std::string& AExtentFile, std::int64_t ADiskOffset,
                                          std::int64_t AExtentSize);

// The same for the payload blocks of a VHDX file.
std::vector<TByteRange> VhdxBlocksPastEnd(const std::string& APath, std::int64_t AMediaSize);
