#include "platform/uFileSystem.h"

#include "platform/uRestorePath.h"

#include <array>
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

std::runtime_error FileError(const char* AWhat, const std::string& APath, const std::string& AReason) {
  return std::runtime_error(std::string(AWhat) + " \"" + APath + "\". " + AReason);
}

std::runtime_error FileError(const char* AWhat, const std::string& APath, int AErrno) {
  return FileError(AWhat, APath, std::string(std::strerror(AErrno)));
}

std::optional<struct stat> StatOf(const std::string& APath) {
  struct stat info {};
  if (::stat(APath.c_str(), &info) != 0)
    return std::nullopt;
  return info;
}

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// Seconds rounded down, so that times before 1970 keep a nanosecond part
// between 0 and a second.
timespec TimespecOf(std::int64_t ANanoseconds) {
  std::int64_t seconds = ANanoseconds / kNanosecondsPerSecond;
  std::int64_t rest = ANanoseconds % kNanosecondsPerSecond;
  if (rest < 0) {
    seconds -= 1;
    rest += kNanosecondsPerSecond;
  }
  return timespec{static_cast<time_t>(seconds), static_cast<long>(rest)};
}

// Access time first, as futimens and utimensat take them.
std::array<timespec, 2> TimespecsOf(const TFileTimes& ATimes) {
  return {TimespecOf(ATimes.Accessed), TimespecOf(ATimes.Modified)};
}

std::optional<struct statvfs> FileSystemStatOf(const std::string& APath) {
  struct statvfs info {};
  if (::statvfs(NearestExistingAncestor(APath).c_str(), &info) != 0)
    return std::nullopt;
  return info;
}

class TPosixOutputFile : public IOutputFile {
public:
  TPosixOutputFile(int AHandle, std::string APath) : FHandle(AHandle), FPath(std::move(APath)) {}
  ~TPosixOutputFile() override {
    if (FHandle >= 0)
      ::close(FHandle);
  }
  TPosixOutputFile(const TPosixOutputFile&) = delete;
  TPosixOutputFile& operator=(const TPosixOutputFile&) = delete;

  void Write(const void* AData, std::size_t ASize) override {
    FEndsInHole = false;
    const char* data = static_cast<const char*>(AData);
    while (ASize > 0) {
      const ssize_t written = ::write(FHandle, data, ASize);
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0)
        throw FileError("Cannot write file", FPath, written < 0 ? errno : ENOSPC);
      data += written;
      ASize -= static_cast<std::size_t>(written);
    }
  }

  void Skip(std::size_t ASize) override {
    if (ASize == 0)
      return;
    if (ASize > static_cast<std::size_t>(std::numeric_limits<off_t>::max()) ||
        ::lseek(FHandle, static_cast<off_t>(ASize), SEEK_CUR) < 0)
      throw FileError("Cannot write file", FPath, errno != 0 ? errno : EFBIG);
    FEndsInHole = true;
  }

  void SetTimes(const TFileTimes& ATimes) override {
    SetLength();
    const std::array<timespec, 2> times = TimespecsOf(ATimes);
    if (::futimens(FHandle, times.data()) != 0)
      throw FileError("Cannot set the times of file", FPath, errno);
  }

  void Close() override {
    if (FHandle >= 0)
      SetLength();
    const int handle = FHandle;
    FHandle = -1;
    if (handle >= 0 && ::close(handle) != 0)
      throw FileError("Cannot write file", FPath, errno);
  }

private:
  // A hole at the end is only a position past the end until the length
  // is set.
  void SetLength() {
    if (!FEndsInHole)
      return;
    const off_t length = ::lseek(FHandle, 0, SEEK_CUR);
    if (length < 0 || ::ftruncate(FHandle, length) != 0)
      throw FileError("Cannot write file", FPath, errno);
    FEndsInHole = false;
  }

  int FHandle;
  std::string FPath;
  bool FEndsInHole = false;
};

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

bool TLinuxFileSystem::FileExists(const std::string& APath) const {
  const std::optional<struct stat> info = StatOf(APath);
  return info && !S_ISDIR(info->st_mode);
}

bool TLinuxFileSystem::DirectoryExists(const std::string& APath) const {
  const std::optional<struct stat> info = StatOf(APath);
  return info && S_ISDIR(info->st_mode);
}

void TLinuxFileSystem::ForceDirectories(const std::string& APath) const {
  std::error_code error;
  std::filesystem::create_directories(APath, error);
  if (error)
    throw FileError("Cannot create folder", APath, error.value());
}

IOutputFilePtr TLinuxFileSystem::CreateOutputFile(const std::string& APath) const {
  // Never write through a symbolic link (it may lead onto the source
  // volume), never block on a named pipe, and empty the old content only
  // once it is known to be a plain file: a device node in the target folder
  // must not be written to.
  const int handle = ::open(APath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (handle < 0)
    throw FileError("Cannot create file", APath, errno);
  auto file = std::make_unique<TPosixOutputFile>(handle, APath);
  struct stat info {};
  if (::fstat(handle, &info) != 0)
    throw FileError("Cannot create file", APath, errno);
  if (!S_ISREG(info.st_mode))
    throw FileError("Cannot create file", APath, "It is not a regular file.");
  if (::ftruncate(handle, 0) != 0)
    throw FileError("Cannot create file", APath, errno);
  return file;
}

void TLinuxFileSystem::SetFolderTimes(const std::string& APath, const TFileTimes& ATimes) const {
  const std::array<timespec, 2> times = TimespecsOf(ATimes);
  if (::utimensat(AT_FDCWD, APath.c_str(), times.data(), AT_SYMLINK_NOFOLLOW) != 0)
    throw FileError("Cannot set the times of folder", APath, errno);
}
