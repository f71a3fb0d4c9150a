#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/uTargetFolder.h"

// The services of the target drive that a recovery needs: free space, the
// longest name, and the target folder itself. Paths are native (UTF-8)
// strings. The recovery engine reaches the system only through IFileSystem,
// so tests can replace any one answer.

class IFileSystem {
public:
  virtual ~IFileSystem() = default;
  // Bytes the calling user may still write on the file system that holds
  // APath (or would hold it, once created); empty when that cannot be told.
  virtual std::optional<std::int64_t> FreeBytesForUser(const std::string& APath) const = 0;
  // The longest file name, in bytes, that the file system holding APath takes.
  virtual std::size_t MaxNameBytes(const std::string& APath) const = 0;
  // The target folder APath, created with its parents when missing; raises
  // an error when it cannot be made or lies on the source drive.
  virtual ITargetFolderPtr OpenTargetFolder(const std::string& APath, const TSourceIdentity& ASource) const = 0;
};

class TLinuxFileSystem : public IFileSystem {
public:
  std::optional<std::int64_t> FreeBytesForUser(const std::string& APath) const override;
  std::size_t MaxNameBytes(const std::string& APath) const override;
  ITargetFolderPtr OpenTargetFolder(const std::string& APath, const TSourceIdentity& ASource) const override;
};

// APath itself when it exists, else its closest existing parent folder; a
// relative path is taken from the current folder.
std::string NearestExistingAncestor(const std::string& APath);
