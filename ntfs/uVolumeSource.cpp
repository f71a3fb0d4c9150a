#include "ntfs/uVolumeSource.h"

#include "ntfs/uFSError.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

std::string Quoted(const std::string& APath) { return "\"" + APath + "\""; }

// What a user can do about a device or file the process may not read.
std::string PermissionDenied(const std::string& APath, bool AIsDevice) {
  if (AIsDevice)
    return "Permission denied reading " + Quoted(APath) +
           ": run Tarnwick as root, or join the \"disk\" group and log in again.";
  return "Permission denied reading " + Quoted(APath) + ": run Tarnwick as root, or as a user who may read the file.";
}

std::string NotAVolume(const std::string& APath, const struct stat& AInfo) {
  if (S_ISDIR(AInfo.st_mode))
    return Quoted(APath) + " is a folder, not a block device or a volume image file.";
  return Quoted(APath) + " is not a block device or a volume image file.";
}

[[noreturn]] void RaiseOpenError(const std::string& APath, int AError) {
  struct stat info {};
  const bool known = stat(APath.c_str(), &info) == 0;
  switch (AError) {
  case ENOENT:
  case ENOTDIR:
    throw NoDriveException(Quoted(APath) + " does not exist.");
  case EACCES:
  case EPERM: {
    const bool device = known && S_ISBLK(info.st_mode);
    throw AccessDeniedException(PermissionDenied(APath, device), APath, device);
  }
  case ENOMEDIUM:
    throw NoDriveException(Quoted(APath) + " holds no medium.");
  default:
    throw NoDriveException(Quoted(APath) + " cannot be opened: " + std::strerror(AError) + ".");
  }
}

} // namespace

IVolumeSourcePtr TFileSource::Open(const std::string& APath) {
  if (APath.empty())
    throw NoDriveException(NoDriveException::kMessage);
  // Non-blocking, so that a named pipe is refused below instead of waiting
  // for a writer; reads of files and disks do not heed it.
  const int handle = open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (handle < 0)
    RaiseOpenError(APath, errno);
  return Adopt(handle, APath);
}

IVolumeSourcePtr TFileSource::Adopt(int AHandle, const std::string& APath) {
  TDescriptor handle(AHandle);
  // A folder opens read-only too, and a character device has no end;
  // neither is a volume.
  struct stat info {};
  if (fstat(handle.Get(), &info) != 0 || !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode)))
    throw NoDriveException(NotAVolume(APath, info));
  return IVolumeSourcePtr(new TFileSource(std::move(handle), TSourcePiece{APath, info}));
}

std::int64_t TFileSource::ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) {
  ssize_t got;
  do
    got = pread(FHandle.Get(), ADest, static_cast<std::size_t>(ASize), APos);
  while (got < 0 && errno == EINTR);
  return got;
}

// Linux widens the read-ahead of the whole file for it.
void TFileSource::ExpectSequentialReads() {
  posix_fadvise(FHandle.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);
}

std::int64_t TFileSource::Size() {
  if (!S_ISBLK(FPiece.Identity.st_mode))
    return FPiece.Identity.st_size;
  std::uint64_t bytes = 0;
  if (ioctl(FHandle.Get(), BLKGETSIZE64, &bytes) != 0)
    return 0;
  return static_cast<std::int64_t>(bytes);
}

TSliceSource::TSliceSource(IVolumeSourcePtr ASource, std::int64_t AOffset, std::int64_t ALength)
    : FSource(std::move(ASource)), FOffset(std::max<std::int64_t>(AOffset, 0)),
      FLength(std::max<std::int64_t>(ALength, 0)) {}

std::vector<TByteRange> TSliceSource::KnownUnreadable() const {
  std::vector<TByteRange> ranges;
  for (const TByteRange& range : FSource->KnownUnreadable()) {
    const std::int64_t first = std::max(range.Offset, FOffset);
    const std::int64_t end = std::min(range.Offset + range.Length, FOffset + FLength);
    if (first < end)
      ranges.push_back({first - FOffset, end - first});
  }
  // A partition of a disk image cut short runs past the image's end.
  if (const std::int64_t held = FSource->Size() - FOffset; FSource->Size() > 0 && held < FLength) {
    const std::int64_t first = std::max<std::int64_t>(held, 0);
    if (!ranges.empty() && ranges.back().Offset + ranges.back().Length >= first)
      ranges.back().Length = FLength - ranges.back().Offset;
    else
      ranges.push_back({first, FLength - first});
  }
  return ranges;
}

std::int64_t TSliceSource::ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) {
  if (APos < 0 || ASize < 0)
    return -1;
  if (APos >= FLength)
    return 0;
  return FSource->ReadAt(FOffset + APos, ADest, std::min(ASize, FLength - APos));
}
