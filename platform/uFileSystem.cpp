#include "platform/uFileSystem.h"

#include "platform/uRestorePath.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

std::optional<struct stat> StatOf(const std::string& APath) {
  struct stat info {};
  if (::stat(APath.c_str(), &info) != 0)
    return std::nullopt;
  return info;
}

std::optional<struct statvfs> FileSystemStatOf(const std::string& APath) {
  struct statvfs info {};
  if (::statvfs(NearestExistingAncestor(APath).c_str(), &info) != 0)
    return std::nullopt;
  return info;
}

}  // namespace

std::string NearestExistingAncestor(const std::string& APath) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::absolute(APath, error);
  if (error)
    path = APath;
  while (!StatOf(path.string()) && path.has_relative_path())
    path = path.parent_path();
  return path.string();
}

std::optional<std::int64_t> TLinuxFileSystem::FreeBytesForUser(const std::string& APath) const {
  const std::optional<struct statvfs> info = FileSystemStatOf(APath);
  if (!info)
    return std::nullopt;
  constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  const std::uint64_t blockSize = info->f_frsize;
  const std::uint64_t blocks = info->f_bavail;
  if (blockSize != 0 && blocks > kMax / blockSize)
    return std::numeric_limits<std::int64_t>::max();
  return static_cast<std::int64_t>(blocks * blockSize);
}

std::size_t TLinuxFileSystem::MaxNameBytes(const std::string& APath) const {
  const std::optional<struct statvfs> info = FileSystemStatOf(APath);
  if (!info || info->f_namemax == 0)
    return DefaultMaxNameBytes;
  return static_cast<std::size_t>(info->f_namemax);
}

ITargetFolderPtr TLinuxFileSystem::OpenTargetFolder(const std::string& APath, const TSourceIdentity& ASource) const {
  return OpenLinuxTargetFolder(APath, ASource);
}
