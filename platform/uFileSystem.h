#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

// The services of the target folder that a recovery needs: free space,
// existence, folders with their parents, and files written from scratch.
// Paths are native (UTF-8) strings. The recovery engine reaches the system
// only through IFileSystem, so tests can replace any one answer.

// A restored file's or folder's times, in nanoseconds since 1 January 1970, UTC.
struct TFileTimes {
  std::int64_t Modified = 0;
  std::int64_t Accessed = 0;

  bool operator==(const TFileTimes&) const = default;
};

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
  // change them again); raises an error naming the file.
  virtual void SetTimes(const TFileTimes& ATimes) = 0;
  // Raises an error when the data could not be stored.
  virtual void Close() = 0;
};
using IOutputFilePtr = std::unique_ptr<IOutputFile>;

class IFileSystem {
public:
  virtual ~IFileSystem() = default;
  // Bytes the calling user may still write on the file system that holds
  // APath (or would hold it, once created); empty when that cannot be told.
  virtual std::optional<std::int64_t> FreeBytesForUser(const std::string& APath) const = 0;
  // The longest file name, in bytes, that the file system holding APath takes.
  virtual std::size_t MaxNameBytes(const std::string& APath) const = 0;
  // Something other than a folder exists at APath.
  virtual bool FileExists(const std::string& APath) const = 0;
  virtual bool DirectoryExists(const std::string& APath) const = 0;
  // Creates the folder with every missing parent; raises an error on failure.
  virtual void ForceDirectories(const std::string& APath) const = 0;
  // Creates the file, or empties an existing one; raises an error on failure.
  virtual IOutputFilePtr CreateOutputFile(const std::string& APath) const = 0;
  // Gives the folder its times, without following a symbolic link; raises
  // an error on failure.
  virtual void SetFolderTimes(const std::string& APath, const TFileTimes& ATimes) const = 0;
};

class TLinuxFileSystem : public IFileSystem {
public:
  std::optional<std::int64_t> FreeBytesForUser(const std::string& APath) const override;
  std::size_t MaxNameBytes(const std::string& APath) const override;
  bool FileExists(const std::string& APath) const override;
  bool DirectoryExists(const std::string& APath) const override;
  void ForceDirectories(const std::string& APath) const override;
  IOutputFilePtr CreateOutputFile(const std::string& APath) const override;
  void SetFolderTimes(const std::string& APath, const TFileTimes& ATimes) const override;
};

// APath itself when it exists, else its closest existing parent folder; a
// relative path is taken from the current folder.
std::string NearestExistingAncestor(const std::string& APath);
