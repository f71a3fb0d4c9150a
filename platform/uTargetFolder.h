#pragma once

#include "platform/uSourceIdentity.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <sys/types.h>

// The target folder of one restore, and everything written below it. Paths
// below it are relative, "/"-joined safe names (see uRestorePath.h). Each
// one is resolved from an open descriptor of the folder and never through a
// symbolic link, so whatever the folder holds (links to elsewhere, into a
// mount of the source, dangling ones) nothing is written outside it. Every
// file opened for writing is compared with the source drive first.

// A restored file's or folder's times since 1 January 1970, UTC. A time the
// source does not hold is left as writing the file leaves it.
struct TFileTimes {
  std::optional<std::timespec> Modified;
  std::optional<std::timespec> Accessed;
};

// What became of an extended attribute given to a restored file.
enum class TXattrOutcome : std::uint8_t {
  xoSet,          // the file holds it
  xoNotSupported, // the target's file system takes no user attributes
  xoTooLarge      // the value does not fit what the file system keeps per file
};

// The largest value Linux hands to any file system as one extended attribute.
inline constexpr std::size_t MaxXattrValueBytes = 65536;

// A file being written; closed by Close or, if still open, when destroyed.
class IOutputFile {
public:
  virtual ~IOutputFile() = default;
  // Writes all ASize bytes or raises an error naming the file.
  virtual void Write(const void* AData, std::size_t ASize) = 0;
  // Moves on by ASize bytes that read as zeros, leaving a hole where the
  // file system keeps holes; raises an error naming the file.
  virtual void Skip(std::size_t ASize) = 0;
  // Gives the file its times, after the last write or skip (which would
  // change them again). False when its file system cannot hold one of them:
  // it refused it or stored another; raises an error naming the file when
  // setting them fails otherwise.
  [[nodiscard]] virtual bool SetTimes(const TFileTimes& ATimes) = 0;
  // Gives the file the extended attribute AName ("user.<name>") with the
  // value AValue, through its descriptor; raises an error naming the file
  // when setting it fails for another reason than the two outcomes tell.
  virtual TXattrOutcome SetExtendedAttribute(const std::string& AName, std::string_view AValue) = 0;
  // Raises an error when the data could not be stored.
  virtual void Close() = 0;
};
using IOutputFilePtr = std::unique_ptr<IOutputFile>;

enum class TEntryKind : std::uint8_t {
  ekNone,   // nothing of that name
  ekFolder, // a real folder, not a link to one
  ekFile,   // a regular file
  ekOther   // a symbolic link, device, pipe or socket: never written through
};

struct TTargetEntry {
  TEntryKind Kind = TEntryKind::ekNone;
  // Which file or folder it is, so that one restore can tell what it wrote
  // itself even where the target file system folds case or normalises names.
  dev_t Device = 0;
  ino_t Inode = 0;
};

// The target's file system refuses a file of that name (FAT and exFAT take
// no ":", for one), as distinct from refusing to write at all.
class TNameRefusedError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class ITargetFolder {
public:
  virtual ~ITargetFolder() = default;
  // The folder as the user named it, for messages.
  virtual const std::string& Path() const = 0;
  // What stands at ARelative; raises an error when one of the folders above
  // it is not a real folder (a link swapped in since it was made).
  virtual TTargetEntry Entry(const std::string& ARelative) const = 0;
  // Creates the folder ARelative, whose parent exists; raises an error
  // naming the folder when that fails.
  virtual TTargetEntry CreateFolder(const std::string& ARelative) = 0;
  // Creates the file ARelative, or with AReplace empties the regular file
  // there. Raises an error naming the file when it cannot be written: it
  // exists and AReplace is false, it is no regular file, or it is the source;
  // a TNameRefusedError when the file system takes no such name.
  virtual IOutputFilePtr CreateFile(const std::string& ARelative, bool AReplace, TTargetEntry& ACreated) = 0;
  // Gives the folder ARelative its times, never through a link. False as
  // for IOutputFile::SetTimes; raises an error naming the folder.
  [[nodiscard]] virtual bool SetFolderTimes(const std::string& ARelative, const TFileTimes& ATimes) = 0;
};
using ITargetFolderPtr = std::unique_ptr<ITargetFolder>;

// The message of a target folder that lies on the source drive.
std::string TargetOnSourceMessage(const std::string& AFolder);

// Whether the folder APath, or the closest of its parents that exists,
// lies on the source drive or on a mount of it.
bool LiesOnSource(const std::string& APath, const TSourceIdentity& ASource);

// The target folder APath. It is made with its parents (following links in
// the path the user chose) when the first file or folder is written into it.
// Raises an error when it lies on the source drive, now or when it is made.
ITargetFolderPtr OpenLinuxTargetFolder(const std::string& APath, const TSourceIdentity& ASource);
