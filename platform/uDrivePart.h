#pragma once

#include "platform/uDriveTable.h"

#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The drive part of a path: what decides whether two paths lie on the same
// volume, so that restored files are never written onto the volume they are
// read from.
//
// - "X:..."               -> "X:" (letter upper-cased)
// - "\\server\share\..."  -> "\\SERVER\SHARE" (ASCII upper-cased)
// - a POSIX path (a relative one taken from the current folder) -> "X:" when
//   the file system holding it is mounted from a listed volume, else
//   "dev:MAJOR:MINOR" of that file system
// - ""                    -> ""

// A volume of the drive table: its letter and the block device or volume
// image it is read from.
struct TListedVolume {
  char16_t Letter;
  std::string Path;
};

class IListedVolumes {
public:
  virtual ~IListedVolumes() = default;
  virtual std::vector<TListedVolume> ListedVolumes() const = 0;
};

// The volumes of a drive table, read afresh at every call so that drives
// attached or removed meanwhile count.
class TDriveTableVolumes : public IListedVolumes {
public:
  explicit TDriveTableVolumes(const TDriveTable& ATable) : FTable(ATable) {}
  std::vector<TListedVolume> ListedVolumes() const override;

private:
  const TDriveTable& FTable;
};

// One line of /proc/self/mountinfo, with the octal escapes of its paths
// undone.
struct TMountEntry {
  std::string MountPoint;
  dev_t Device;        // the mounted file system, as stat reports it in st_dev
  std::string Source;  // what was mounted, such as "/dev/sdb1"
  bool Writable = false; // mounted "rw": the system may write to it
};

std::vector<TMountEntry> ParseMountInfo(std::string_view AText);

// The drive part of a drive-letter or network path; empty when APath is
// neither.
std::optional<std::string> WindowsDrivePart(std::string_view APath);

class TDrivePartResolver {
public:
  explicit TDrivePartResolver(const IListedVolumes& AVolumes) : FVolumes(AVolumes) {}
  virtual ~TDrivePartResolver() = default;

  std::string DrivePart(const std::string& APath) const;

protected:
  // The system's sources, replaced in tests.
  virtual std::string ReadMountInfo() const;
  // The device number of a block device node; empty for anything else.
  virtual std::optional<dev_t> BlockDeviceNumber(const std::string& APath) const;

private:
  std::string PosixDrivePart(const std::string& APath) const;
  std::optional<char16_t> LetterOf(const TMountEntry& AMount) const;

  const IListedVolumes& FVolumes;
};

// The drive part as this process sees it: the system's mount table and the
// drive letters of ATable.
std::string SystemDrivePart(const TDriveTable& ATable, const std::string& APath);
