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

// The drives the program can recover from, each under a letter C to Z: first
// the block devices of the system, then the volume image files the user
// added. A letter is a label for the user; what it stands for is opened
// through TSourceResolver.

// The same order and values as the drive kinds of the Windows drive-type query.
enum TDriveType : std::uint8_t { dtUnknown, dtNoDrive, dtFloppy, dtFixed, dtNetwork, dtCDROM, dtRAM };

using TDriveLetter = char16_t;

struct TVolumeInformationRecord {
  TDriveLetter Letter = 0;
  std::u16string RootPathName;  // "D:\"
  std::u16string VolumeName;    // the label; "Local Drive" without one, an image's file name
  std::uint32_t SerialNumber = 0;
  std::uint32_t MaximumComponentLength = 0;
  std::uint32_t FileSystemFlags = 0;
  std::u16string FileSystemName;  // "NTFS", ...; empty when the volume could not be read
  TDriveType DriveType = dtUnknown;
};
using PVolumeInformationRecord = TVolumeInformationRecord*;

// "System (C: [NTFS])", or "Local Drive (D:)" when no file system is known.
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
// letters, as the source drive page and "tarnwick-cli drives" list them. Its
// owner keeps it; nothing else in the process holds drive letters.
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
  // C to Z: a letter that now names nothing turns dtUnknown and keeps its
  // other fields. A device or image keeps the letter it had where it can;
  // new ones get the first free letters in listing order. An image that is
  // gone or no longer holds NTFS leaves the image list without a message.
  void Refresh();

  // The records C to Z that pass IsListedSourceDrive, in letter order.
  std::vector<PVolumeInformationRecord> ListedSourceDrives();

  // Checks that APath holds an NTFS volume, or is a disk image with NTFS
  // partitions, lists it and refreshes; returns the letter the image has
  // (its old one when already listed; a disk's first NTFS partition's).
  // Raises VolumeImageError saying why for a file that cannot be read, one
  // that holds no NTFS volume or partition, and when no letter is free.
  TDriveLetter AddVolumeImage(const std::string& APath);

  // The letters of a device or image, by whatever name or link: its own, or
  // those of its partitions in the order of their numbers.
  std::vector<TDriveLetter> LettersOf(const std::string& APath) const;

  // Reads the image AImage through the mapfile AMap from now on; an empty
  // AMap takes the choice back.
  void ChooseRescueMap(const std::string& AImage, const std::string& AMap);
  // The mapfiles chosen, by image.
  const std::map<std::string, std::string>& ChosenRescueMaps() const { return FChosenMaps; }

  // What ALetter stands for, with the mapfile chosen for its image; none
  // when the letter names nothing.
  std::optional<TSourceRequest> RequestOf(TDriveLetter ALetter) const;

private:
  // The whole device or image at APath, with the mapfile chosen for it.
  TSourceRequest RequestOf(const std::string& APath) const;

  TDriveTable FTable;
  std::array<TVolumeInformationRecord, 26> FRecords;
  TBlockDeviceRoots FRoots;
  TVolumeImageList FImages;
  std::map<std::string, std::string> FChosenMaps;
};
