#pragma once

#include "platform/uBlockDevices.h"
#include "platform/uDriveTable.h"
#include "platform/uOpenedSource.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// The drives the program can recover from: first the block devices of the
// system, then the volume image files the user added, each under a letter C
// to Z while letters last and named by where it lies after that. A letter
// is a label for the user; what a drive stands for is opened through
// TSourceResolver.

// The same order and values as the drive kinds of the Windows drive-type query.
enum TDriveType : std::uint8_t { dtUnknown, dtNoDrive, dtFloppy, dtFixed, dtNetwork, dtCDROM, dtRAM };

using TDriveLetter = char16_t;

struct TVolumeInformationRecord {
  TDriveLetter Letter = 0;      // 0 for a drive listed after the letters ran out
  std::u16string RootPathName;  // "D:\"; without a letter, where it lies: "partition 27 of disk.img\"
  std::u16string VolumeName;    // the label; "Local Drive" without one, an image's file name
  std::uint32_t SerialNumber = 0;
  std::uint32_t MaximumComponentLength = 0;
  std::uint32_t FileSystemFlags = 0;
  std::u16string FileSystemName;  // "NTFS", ...; empty when the volume could not be read
  TDriveType DriveType = dtUnknown;
  TDriveSource Source;  // the device or image, and the partition or offset, it is read from
};
using PVolumeInformationRecord = TVolumeInformationRecord*;

// "D:", or for a drive without a letter where it lies: "/dev/sdb27",
// "partition 27 of disk.img".
std::u16string DriveName(const TVolumeInformationRecord& ARecord);

// "System (C: [NTFS])", or "Local Drive (D:)" when no file system is known;
// "System (partition 27 of disk.img [NTFS])" or "partition 27 of disk.img
// [NTFS]" for a drive without a letter.
std::u16string DriveDisplayName(const TVolumeInformationRecord& ARecord);

// Whether the source drive page lists the drive: a drive of a known kind that
// holds NTFS.
bool IsListedSourceDrive(const TVolumeInformationRecord& ARecord);

// The volume image files the user added, in the order added, as absolute
// paths. They are read again at every refresh.
class TVolumeImageList {
public:
  const std::vector<std::string>& Paths() const { return FPaths; }
  bool Contains(const std::string& APath) const;
  // Appends the paths not listed yet, unchecked: the next refresh drops those
  // that do not hold NTFS. For a list loaded from the state file.
  void Merge(const std::vector<std::string>& APaths);
  void Remove(const std::string& APath);
  void Clear() { FPaths.clear(); }

private:
  std::vector<std::string> FPaths;
};

// The images named by the environment variable TARNWICK_IMAGES, ":"-separated.
std::vector<std::string> ImagePathsFromEnvironment();

// Raised by AddVolumeImage, with a message for the user.
class VolumeImageError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// The drives of the system and the images the user added, under their
// letters or without one, as the source drive page and "tarnwick-cli drives"
// list them. Its owner keeps it; nothing else in the process holds drive
// letters.
class TDriveList {
public:
  // Starts with the images named by TARNWICK_IMAGES.
  TDriveList();
  TDriveList(const TDriveList&) = delete;
  TDriveList& operator=(const TDriveList&) = delete;

  // Where Refresh looks for block devices; tests move it.
  TBlockDeviceRoots& DeviceRoots() { return FRoots; }
  TVolumeImageList& Images() { return FImages; }
  const TVolumeImageList& Images() const { return FImages; }
  // The letters and what each names.
  const TDriveTable& Table() const { return FTable; }

  // The record of ALetter ("A" to "Z"; anything else raises
  // std::out_of_range). Records stay at their place for the list's life,
  // so a view may keep pointers to them. A and B are never filled.
  TVolumeInformationRecord& Record(TDriveLetter ALetter);

  // Lists the block devices and volume images again and fills the records
  // C to Z, then one record for each drive beyond Z: a record that now
  // names nothing turns dtUnknown and keeps its other fields, and stays at
  // its place. A device or image keeps the letter it had where it can; new
  // ones get the first free letters in listing order. An image that is gone
  // or no longer holds NTFS leaves the image list without a message.
  void Refresh();

  // The records that pass IsListedSourceDrive: C to Z in letter order, then
  // those without a letter in listing order.
  std::vector<PVolumeInformationRecord> ListedSourceDrives();

  // Checks that APath holds an NTFS volume, or is a disk image with NTFS
  // partitions, lists it and refreshes; returns the image's record (a
  // disk's first NTFS partition's), with a letter while one is free. Raises
  // VolumeImageError saying why for a file that cannot be read or one that
  // holds no NTFS volume or partition.
  const TVolumeInformationRecord& AddVolumeImage(const std::string& APath);

  // Lists the NTFS volume at AVolume.Offset of its disk or image, which no
  // partition table lists, as a drive of its own and refreshes; returns its
  // record. Raises VolumeImageError saying why when no NTFS volume opens
  // there.
  const TVolumeInformationRecord& AddLostVolume(const TDriveSource& AVolume);
  // The lost volumes added, in the order added.
  const std::vector<TDriveSource>& LostVolumes() const { return FLostVolumes; }
  // Appends the lost volumes not listed yet, unchecked: the next refresh
  // leaves out those that no longer hold NTFS. For those loaded from the
  // state file.
  void MergeLostVolumes(const std::vector<TDriveSource>& AVolumes);

  // The drives of a device or image, by whatever name or link, with a letter
  // or without: the device or image itself, or its partitions in the order
  // of their numbers.
  std::vector<PVolumeInformationRecord> DrivesOf(const std::string& APath);

  // Reads the image AImage through the mapfile AMap from now on; an empty
  // AMap takes the choice back.
  void ChooseRescueMap(const std::string& AImage, const std::string& AMap);
  // The mapfiles chosen, by image.
  const std::map<std::string, std::string>& ChosenRescueMaps() const { return FChosenMaps; }

  // What ALetter stands for, with the mapfile chosen for its image; none
  // when the letter names nothing.
  std::optional<TSourceRequest> RequestOf(TDriveLetter ALetter) const;
  // ASource with the mapfile chosen for its device or image.
  TSourceRequest RequestOf(const TDriveSource& ASource) const;

private:
  TDriveTable FTable;
  std::array<TVolumeInformationRecord, 26> FRecords;
  // The drives listed after Z, by what they are read from; FUnlettered
  // holds them in listing order since the last refresh.
  std::map<TDriveSource, TVolumeInformationRecord> FUnletteredRecords;
  std::vector<TDriveSource> FUnlettered;
  TBlockDeviceRoots FRoots;
  TVolumeImageList FImages;
  std::vector<TDriveSource> FLostVolumes;
  std::map<std::string, std::string> FChosenMaps;
};
