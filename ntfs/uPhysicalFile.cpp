#include "ntfs/uPhysicalFile.h"

#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

TDevicePathResolver& DevicePathResolver() {
  static TDevicePathResolver resolver;
  return resolver;
}

IDeviceIOPtr& InstalledDeviceIO() {
  static IDeviceIOPtr installed;
  return installed;
}

class TPosixDeviceIO final : public IDeviceIO {
public:
  int Open(const std::string& APath) override {
    // No O_EXCL: on a block device it would lock out the mounted file system.
    const int handle = open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (handle < 0)
      return kInvalidHandle;
    // A folder opens read-only too, and a character device has no end;
    // neither is a volume.
    struct stat info {};
    if (fstat(handle, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))) {
      close(handle);
      return kInvalidHandle;
    }
    return handle;
  }

  std::int64_t ReadAt(int AHandle, std::int64_t APos, void* ADest, std::int64_t ASize) override {
    ssize_t got;
    do
      got = pread(AHandle, ADest, static_cast<std::size_t>(ASize), APos);
    while (got < 0 && errno == EINTR);
    return got;
  }

  std::int64_t SizeOf(int AHandle) override {
    struct stat info {};
    if (fstat(AHandle, &info) != 0)
      return 0;
    if (!S_ISBLK(info.st_mode))
      return info.st_size;
    std::uint64_t bytes = 0;
    if (ioctl(AHandle, BLKGETSIZE64, &bytes) != 0)
      return 0;
    return static_cast<std::int64_t>(bytes);
  }

  void Close(int AHandle) override { close(AHandle); }
};

} // namespace

void SetDevicePathResolver(TDevicePathResolver AResolver) {
  DevicePathResolver() = std::move(AResolver);
}

std::string ResolveDevicePath(const std::u16string& AName) {
  const TDevicePathResolver& resolver = DevicePathResolver();
  return resolver ? resolver(AName) : ToNativePath(AName);
}

IDeviceIOPtr PosixDeviceIO() {
  static const IDeviceIOPtr shared = std::make_shared<TPosixDeviceIO>();
  return shared;
}

void SetDeviceIO(IDeviceIOPtr ADeviceIO) {
  InstalledDeviceIO() = std::move(ADeviceIO);
}

IDeviceIOPtr CurrentDeviceIO() {
  const IDeviceIOPtr& installed = InstalledDeviceIO();
  return installed ? installed : PosixDeviceIO();
}

TPhysicalFile::TPhysicalFile(std::u16string AName, IDeviceIOPtr ADeviceIO)
    : FCacheBuf(MemoryEx::AllocMem(kCacheSize)), FName(std::move(AName)), FDeviceIO(std::move(ADeviceIO)) {}

TPhysicalFile::~TPhysicalFile() {
  MemoryEx::FreeMem(FCacheBuf);
  Close();
}

std::int64_t TPhysicalFile::Read(std::int64_t AOffset, std::int64_t ASize, void* ADest) {
  Open();
  auto* dest = static_cast<std::uint8_t*>(ADest);
  std::int64_t pos = AOffset;
  std::int64_t remainder = ASize;
  std::int64_t total = 0;
  while (remainder > 0) {
    if (CacheHolds(pos)) {
      const std::int64_t cacheOffset = pos - FCacheStart;
      const std::int64_t count = std::min(FCacheSize - cacheOffset, remainder);
      std::memcpy(dest, FCacheBuf.Ptr + cacheOffset, static_cast<std::size_t>(count));
      dest += count;
      pos += count;
      remainder -= count;
      total += count;
    } else if (!FillCache(pos, remainder)) {
      break;
    }
  }
  return total;
}

std::int64_t TPhysicalFile::Size() {
  Open();
  return FDeviceIO->SizeOf(FHandle);
}

bool TPhysicalFile::Exists(const std::u16string& AName) {
  IDeviceIO& io = *CurrentDeviceIO();
  const int handle = io.Open(ResolveDevicePath(AName));
  if (handle == IDeviceIO::kInvalidHandle)
    return false;
  io.Close(handle);
  return true;
}

void TPhysicalFile::Open() {
  if (Opened())
    return;
  FHandle = FDeviceIO->Open(ResolveDevicePath(FName));
  if (!Opened())
    throw NoDriveException();
}

void TPhysicalFile::Close() {
  if (Opened())
    FDeviceIO->Close(FHandle);
  FHandle = IDeviceIO::kInvalidHandle;
}

bool TPhysicalFile::CacheHolds(std::int64_t APos) const {
  // Written as a difference so that a window near the top of the range
  // cannot overflow.
  return APos >= FCacheStart && APos - FCacheStart < FCacheSize;
}

// The fill starts exactly at APos and asks for the whole block. A device
// with a bad sector may fail the whole block rather than deliver the bytes
// before it; asking again for just the AWanted bytes keeps a cluster that
// lies before the bad sector from being lost with it.
bool TPhysicalFile::FillCache(std::int64_t APos, std::int64_t AWanted) {
  std::int64_t got = FDeviceIO->ReadAt(FHandle, APos, FCacheBuf.Ptr, kCacheSize);
  if (got < 0 && AWanted < kCacheSize)
    got = FDeviceIO->ReadAt(FHandle, APos, FCacheBuf.Ptr, AWanted);
  if (got < 0) {
    // A failed read may have left anything in the block: forget the window.
    FCacheSize = 0;
    return false;
  }
  FCacheStart = APos;
  FCacheSize = std::min<std::int64_t>(got, kCacheSize);
  return FCacheSize > 0;
}
