#include "platform/uTargetFolder.h"

#include "foundation/uDescriptor.h"

#include "platform/uFileSystem.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <linux/openat2.h>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace {

std::runtime_error FileError(const char* AWhat, const std::string& APath, const std::string& AReason) {
  return std::runtime_error(std::string(AWhat) + " \"" + APath + "\". " + AReason);
}

std::runtime_error FileError(const char* AWhat, const std::string& APath, int AErrno) {
  return FileError(AWhat, APath, std::string(std::strerror(AErrno)));
}

// Access time first, as futimens and utimensat take them; a time not given
// is left as it is.
std::array<timespec, 2> TimespecsOf(const TFileTimes& ATimes) {
  const timespec leave{0, UTIME_OMIT};
  return {ATimes.Accessed.value_or(leave), ATimes.Modified.value_or(leave)};
}

// What file systems answer for a time outside what they can hold, where
// they do not store the nearest one instead.
bool IsRefusedTime(int AErrno) { return AErrno == EINVAL || AErrno == EOVERFLOW; }

// Sets ATimes through ASet (futimens or utimensat of one file, given the
// pair; 0 or -1 with errno). A pair the file system refuses is set one time
// at a time, so that one it can hold is not lost with one it cannot. False
// when a time was refused; any other failure raises AFailure(errno).
template <typename TSet, typename TFailure>
bool SetEachTime(const TFileTimes& ATimes, TSet ASet, TFailure AFailure) {
  if (ASet(TimespecsOf(ATimes).data()) == 0)
    return true;
  if (!IsRefusedTime(errno))
    throw AFailure(errno);
  bool allSet = true;
  for (const TFileTimes& single : {TFileTimes{ATimes.Modified, {}}, TFileTimes{{}, ATimes.Accessed}}) {
    if (!single.Modified && !single.Accessed)
      continue;
    if (ASet(TimespecsOf(single).data()) == 0)
      continue;
    if (!IsRefusedTime(errno))
      throw AFailure(errno);
    allSet = false;
  }
  return allSet;
}

// File systems keep times only to their own grain: FAT keeps a modification
// time to two seconds and an access time as its local date. A time read
// back further off than this was moved into the range the file system
// holds (ext4 with 128-byte inodes: 1901 to 2038; FAT: 1980 to 2107).
constexpr std::int64_t kTimeGrainSeconds = 2 * 24 * 3600;

bool IsKept(const std::optional<timespec>& AGiven, const timespec& AStored) {
  // The given time lies within 10^12 seconds of 1970, the stored one is
  // that or a file system's limit: the difference cannot overflow.
  return !AGiven || std::abs(static_cast<std::int64_t>(AGiven->tv_sec) - AStored.tv_sec) <= kTimeGrainSeconds;
}

// Sets ATimes as SetEachTime does, then reads them back through AStat (fstat
// or fstatat of that file, 0 or -1 with errno). False when the file system
// refused a time or keeps another one.
template <typename TSet, typename TStat, typename TFailure>
bool SetAndCheckTimes(const TFileTimes& ATimes, TSet ASet, TStat AStat, TFailure AFailure) {
  const bool allSet = SetEachTime(ATimes, ASet, AFailure);
  struct stat stored {};
  if (AStat(stored) != 0)
    throw AFailure(errno);
  return allSet && IsKept(ATimes.Modified, stored.st_mtim) && IsKept(ATimes.Accessed, stored.st_atim);
}

class TPosixOutputFile : public IOutputFile {
public:
  TPosixOutputFile(TDescriptor AHandle, std::string APath) : FHandle(std::move(AHandle)), FPath(std::move(APath)) {}

  void Write(const void* AData, std::size_t ASize) override {
    FEndsInHole = false;
    const char* data = static_cast<const char*>(AData);
    while (ASize > 0) {
      const ssize_t written = ::write(FHandle.Get(), data, ASize);
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
        ::lseek(FHandle.Get(), static_cast<off_t>(ASize), SEEK_CUR) < 0)
      throw FileError("Cannot write file", FPath, errno != 0 ? errno : EFBIG);
    FEndsInHole = true;
  }

  bool SetTimes(const TFileTimes& ATimes) override {
    SetLength();
    return SetAndCheckTimes(
        ATimes, [this](const timespec* ATimespecs) { return ::futimens(FHandle.Get(), ATimespecs); },
        [this](struct stat& AStored) { return ::fstat(FHandle.Get(), &AStored); },
        [this](int AErrno) { return FileError("Cannot set the times of file", FPath, AErrno); });
  }

  TXattrOutcome SetExtendedAttribute(const std::string& AName, std::string_view AValue) override {
    if (AValue.size() > MaxXattrValueBytes)
      return TXattrOutcome::xoTooLarge;
    if (::fsetxattr(FHandle.Get(), AName.c_str(), AValue.data(), AValue.size(), 0) == 0)
      return TXattrOutcome::xoSet;
    // ENOSPC and E2BIG: no room left in the inode or block that holds the
    // attributes (ext4 keeps about one block per file); ERANGE: a name or
    // value beyond what the file system keeps.
    if (errno == ENOSPC || errno == E2BIG || errno == ERANGE)
      return TXattrOutcome::xoTooLarge;
    if (errno == ENOTSUP || errno == EPERM)
      return TXattrOutcome::xoNotSupported;
    throw FileError("Cannot set an extended attribute of file", FPath, errno);
  }

  void Close() override {
    if (FHandle.Get() >= 0)
      SetLength();
    const int handle = FHandle.Release();
    if (handle >= 0 && ::close(handle) != 0)
      throw FileError("Cannot write file", FPath, errno);
  }

private:
  // A hole at the end is only a position past the end until the length
  // is set.
  void SetLength() {
    if (!FEndsInHole)
      return;
    const off_t length = ::lseek(FHandle.Get(), 0, SEEK_CUR);
    if (length < 0 || ::ftruncate(FHandle.Get(), length) != 0)
      throw FileError("Cannot write file", FPath, errno);
    FEndsInHole = false;
  }

  TDescriptor FHandle;
  std::string FPath;
  bool FEndsInHole = false;
};

TTargetEntry EntryOf(const struct stat& AInfo) {
  TEntryKind kind = TEntryKind::ekOther;
  if (S_ISDIR(AInfo.st_mode))
    kind = TEntryKind::ekFolder;
  else if (S_ISREG(AInfo.st_mode))
    kind = TEntryKind::ekFile;
  return {kind, AInfo.st_dev, AInfo.st_ino};
}

std::pair<std::string, std::string> SplitParent(const std::string& ARelative) {
  const std::size_t slash = ARelative.rfind('/');
  if (slash == std::string::npos)
    return {std::string(), ARelative};
  return {ARelative.substr(0, slash), ARelative.substr(slash + 1)};
}

constexpr char kIsTheSource[] = "It is on the source drive, which is never written to.";

bool IsPlainName(const std::string& AName) {
  return !AName.empty() && AName != "." && AName != ".." && AName.find('/') == std::string::npos;
}

class TLinuxTargetFolder final : public ITargetFolder {
public:
  TLinuxTargetFolder(std::string APath, TSourceIdentity ASource)
      : FPath(std::move(APath)), FSource(std::move(ASource)) {}

  const std::string& Path() const override { return FPath; }

  TTargetEntry Entry(const std::string& ARelative) const override {
    const auto [folder, name] = SplitParent(ARelative);
    // A folder not made yet holds nothing; any other failure is a folder
    // that is no real folder any more.
    if (!OpenRoot(false) || (TryOpenFolder(folder).Get() < 0 && errno == ENOENT))
      return {};
    const TDescriptor parent = OpenFolder(folder, ARelative);
    struct stat info {};
    if (::fstatat(parent.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT)
        return {};
      throw FileError("Cannot look at", FullPath(ARelative), errno);
    }
    return EntryOf(info);
  }

  TTargetEntry CreateFolder(const std::string& ARelative) override {
    OpenRoot(true);
    const auto [folder, name] = SplitParent(ARelative);
    const TDescriptor parent = OpenFolder(folder, ARelative);
    if (::mkdirat(parent.Get(), name.c_str(), 0777) != 0 && errno != EEXIST)
      throw FileError("Cannot create folder", FullPath(ARelative), errno);
    struct stat info {};
    if (::fstatat(parent.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
      throw FileError("Cannot create folder", FullPath(ARelative), errno);
    if (!S_ISDIR(info.st_mode))
      throw FileError("Cannot create folder", FullPath(ARelative), "Something else of that name is in the way.");
    return EntryOf(info);
  }

  IOutputFilePtr CreateFile(const std::string& ARelative, bool AReplace, TTargetEntry& ACreated) override {
    OpenRoot(true);
    const auto [folder, name] = SplitParent(ARelative);
    const TDescriptor parent = OpenFolder(folder, ARelative);
    const std::string path = FullPath(ARelative);
    // Never through a link, never blocking on a pipe; the old content goes
    // only once the file is known to be a plain file that is not the source.
    const int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (AReplace ? 0 : O_EXCL);
    TDescriptor handle(::openat(parent.Get(), name.c_str(), flags, 0666));
    // The kernel's FAT answers a name it cannot hold with EINVAL, FUSE
    // file systems often with EPERM.
    if (handle.Get() < 0 && (errno == EINVAL || errno == EPERM))
      throw TNameRefusedError(FileError("Cannot create file", path, errno).what());
    if (handle.Get() < 0)
      throw FileError("Cannot create file", path, errno);
    struct stat info {};
    if (::fstat(handle.Get(), &info) != 0)
      throw FileError("Cannot create file", path, errno);
    if (!S_ISREG(info.st_mode))
      throw FileError("Cannot create file", path, "It is not a regular file.");
    if (FSource.IsSource(info))
      throw FileError("Cannot create file", path, kIsTheSource);
    if (::ftruncate(handle.Get(), 0) != 0)
      throw FileError("Cannot create file", path, errno);
    ACreated = EntryOf(info);
    return std::make_unique<TPosixOutputFile>(std::move(handle), path);
  }

  bool SetFolderTimes(const std::string& ARelative, const TFileTimes& ATimes) override {
    // Named, not bound: the checks below are lambdas, and not every
    // compiler lets a lambda take a structured binding.
    const std::pair<std::string, std::string> split = SplitParent(ARelative);
    const std::string& name = split.second;
    const TDescriptor parent = OpenFolder(split.first, ARelative);
    return SetAndCheckTimes(
        ATimes,
        [&](const timespec* ATimespecs) {
          return ::utimensat(parent.Get(), name.c_str(), ATimespecs, AT_SYMLINK_NOFOLLOW);
        },
        [&](struct stat& AStored) { return ::fstatat(parent.Get(), name.c_str(), &AStored, AT_SYMLINK_NOFOLLOW); },
        [&](int AErrno) { return FileError("Cannot set the times of folder", FullPath(ARelative), AErrno); });
  }

private:
  // The target folder is made only when the first file or folder is written
  // into it, so a restore that writes nothing leaves nothing behind. False
  // when it does not exist and AMake is false.
  bool OpenRoot(bool AMake) const {
    if (FRoot.Get() >= 0)
      return true;
    if (AMake) {
      std::error_code error;
      std::filesystem::create_directories(FPath, error);
      if (error)
        throw FileError("Cannot create folder", FPath, error.value());
    }
    TDescriptor root(::open(FPath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (root.Get() < 0) {
      if (errno == ENOENT && !AMake)
        return false;
      throw FileError("Cannot open folder", FPath, errno);
    }
    struct stat info {};
    if (::fstat(root.Get(), &info) != 0)
      throw FileError("Cannot open folder", FPath, errno);
    if (FSource.HoldsFileSystem(info.st_dev))
      throw std::runtime_error(TargetOnSourceMessage(FPath));
    FRoot = std::move(root);
    return true;
  }

  std::string FullPath(const std::string& ARelative) const {
    return FPath.ends_with('/') ? FPath + ARelative : FPath + '/' + ARelative;
  }

  // The folder ARelative below the target, reached without following any
  // link and without leaving the target; raises an error naming AFor.
  TDescriptor OpenFolder(const std::string& ARelative, const std::string& AFor) const {
    TDescriptor folder = TryOpenFolder(ARelative);
    if (folder.Get() < 0)
      throw FileError("Cannot create file", FullPath(AFor), errno);
    // A mount of the source below the target must not be written into,
    // not even by creating a folder there.
    struct stat info {};
    if (::fstat(folder.Get(), &info) != 0)
      throw FileError("Cannot create file", FullPath(AFor), errno);
    if (FSource.HoldsFileSystem(info.st_dev))
      throw FileError("Cannot create file", FullPath(AFor), kIsTheSource);
    return folder;
  }

  // As OpenFolder, but an invalid descriptor with errno set on failure.
  TDescriptor TryOpenFolder(const std::string& ARelative) const {
    if (ARelative.empty())
      return TDescriptor(::fcntl(FRoot.Get(), F_DUPFD_CLOEXEC, 0));
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long handle = ::syscall(SYS_openat2, FRoot.Get(), ARelative.c_str(), &how, sizeof how);
    if (handle >= 0 || (errno != ENOSYS && errno != EPERM))
      return TDescriptor(static_cast<int>(handle));
    return WalkFolder(ARelative);
  }

  // For kernels without openat2: one name at a time, none of them a link.
  TDescriptor WalkFolder(const std::string& ARelative) const {
    TDescriptor current(::fcntl(FRoot.Get(), F_DUPFD_CLOEXEC, 0));
    for (std::size_t start = 0; start <= ARelative.size() && current.Get() >= 0;) {
      std::size_t end = ARelative.find('/', start);
      if (end == std::string::npos)
        end = ARelative.size();
      const std::string name = ARelative.substr(start, end - start);
      if (!IsPlainName(name)) {
        errno = EXDEV;
        return TDescriptor();
      }
      TDescriptor next(::openat(current.Get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      const int failure = errno; // closing the folder before must not hide it
      current = std::move(next);
      errno = failure;
      start = end + 1;
    }
    return current;
  }

  std::string FPath;
  mutable TDescriptor FRoot;
  TSourceIdentity FSource;
};

} // namespace

std::string TargetOnSourceMessage(const std::string& AFolder) {
  return "The target folder \"" + AFolder +
         "\" is on the source drive: files are never written onto the drive they are read from.";
}

bool LiesOnSource(const std::string& APath, const TSourceIdentity& ASource) {
  struct stat info {};
  return ::stat(NearestExistingAncestor(APath).c_str(), &info) == 0 && ASource.HoldsFileSystem(info.st_dev);
}

// Why no file can be written below APath, told by the file system it would
// be made on; empty when files can be.
std::string WhyUnwritable(const std::string& APath) {
  struct statvfs info {};
  if (::statvfs(NearestExistingAncestor(APath).c_str(), &info) != 0)
    return {};
  // /proc, /sys and their kind report no blocks at all: they hold no files'
  // data, whatever their free space would say.
  if (info.f_blocks == 0)
    return "The target folder \"" + APath + "\" is on a file system that holds no files (such as /proc or /sys).";
  if ((info.f_flag & ST_RDONLY) != 0)
    return "The target folder \"" + APath + "\" is on a file system mounted read-only.";
  return {};
}

ITargetFolderPtr OpenLinuxTargetFolder(const std::string& APath, const TSourceIdentity& ASource) {
  // Asked before any folder is made: it would be made there.
  if (LiesOnSource(APath, ASource))
    throw std::runtime_error(TargetOnSourceMessage(APath));
  if (const std::string why = WhyUnwritable(APath); !why.empty())
    throw std::runtime_error(why);
  return std::make_unique<TLinuxTargetFolder>(APath, ASource);
}
