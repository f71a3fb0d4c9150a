#pragma once

// Whole-disk images made in the test run around fixture volumes: each volume
// copied byte for byte into a partition of a partition table, as a disk
// rescued with ddrescue or a virtual machine's disk holds them.

#include <string>
#include <vector>

namespace testsupport {

// A table written by hand: volume 1 in primary partition 1, the others as
// logical partitions 5, 6, ... inside an extended partition 2, each behind
// its own extended boot record. Partitions start on MiB boundaries.
void MakeMbrDisk(const std::string& ADisk, const std::vector<std::string>& AVolumes);

// A GPT written by sgdisk, the volumes in partitions 1, 2, ... of type
// "Microsoft basic data". False when sgdisk is not available.
bool MakeGptDisk(const std::string& ADisk, const std::vector<std::string>& AVolumes);

// A GPT disk of ACount small empty NTFS volumes made by mkntfs, labelled
// "Part1", "Part2", ..., in partitions 1, 2, ...; ALast, when given, goes
// into the last partition instead. False when sgdisk or mkntfs failed.
bool MakeManyVolumesDisk(const std::string& ADisk, int ACount, const std::string& ALast = {});

} // namespace testsupport
