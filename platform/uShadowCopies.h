#pragma once

#include "ntfs/uVolumeSource.h"

#include <cstdint>
#include <string>
#include <vector>

// The Volume Shadow Copy snapshots a volume keeps of itself, each read as a
// volume of its own: the stores are read from the volume's raw bytes (the
// store files read as zeros through the file system), and a snapshot's
// block is taken from its store where the volume has changed it since.

// One snapshot, as a read-only source of the volume's bytes when it was taken.
struct TShadowCopy {
  std::int32_t Store = 0;        // 1 for the oldest store, as the stores are numbered on the volume
  std::int64_t CreationTime = 0; // when it was taken, 100 ns units since 1601, UTC
  IVolumeSourcePtr Source;
};

struct TShadowCopies {
  std::vector<TShadowCopy> Snapshots; // oldest first
  // One line for each store that could not be read, naming it and why.
  std::vector<std::string> Skipped;
};

// The snapshots whose stores AVolume holds; none when it holds no shadow
// copies. A store that cannot be read (its block list damaged or cut short)
// is skipped and named in Skipped; the others are still read. Where the
// stores cannot be read at all, Skipped says so in one line.
TShadowCopies OpenShadowCopies(const IVolumeSourcePtr& AVolume);

// The line that says store AStore is skipped, and why.
std::string SkippedStoreLine(std::int32_t AStore, const std::string& AWhy);
