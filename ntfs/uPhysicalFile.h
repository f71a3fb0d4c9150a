#pragma once

#include "foundation/uMemoryEx.h"
#include "foundation/uStreamEx.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Turns the drive name given to TPhysicalFile ("D:", or the path of a device
// or image) into the path to open; an empty result names nothing.
using TDevicePathResolver = std::function<std::string(const std::u16string& AName)>;

// Replaces the process-wide resolver; an empty function restores the default,
// which opens the name itself as a path.
void SetDevicePathResolver(TDevicePathResolver AResolver);
std::string ResolveDevicePath(const std::u16string& AName);

// The platform's file operations behind TPhysicalFile.
class IDeviceIO {
public:
  static constexpr int kInvalidHandle = -1;

  virtual ~IDeviceIO() = default;
  // Read-only, leaving other programs free to read and write the device.
  // kInvalidHandle when the path cannot be opened or is no device or file.
  virtual int Open(const std::string& APath) = 0;
  // Up to ASize bytes at APos in one platform read: 0 at the end, -1 on failure.
  virtual std::int64_t ReadAt(int AHandle, std::int64_t APos, void* ADest, std::int64_t ASize) = 0;
  // Length of a file or block device; 0 when the platform cannot tell.
  virtual std::int64_t SizeOf(int AHandle) = 0;
  virtual void Close(int AHandle) = 0;
};
using IDeviceIOPtr = std::shared_ptr<IDeviceIO>;

// open(O_RDONLY), pread, fstat or BLKGETSIZE64, close.
IDeviceIOPtr PosixDeviceIO();

// The operations every TPhysicalFile uses unless it is given its own: the
// POSIX ones, or what SetDeviceIO installed (a device held in memory, one
// that fails reads in a range). An empty pointer restores the POSIX ones.
void SetDeviceIO(IDeviceIOPtr ADeviceIO);
IDeviceIOPtr CurrentDeviceIO();

// The raw bytes of a volume, read through one 64 KiB cache. The device is
// opened on the first Read or Size and stays open until destruction.
class TPhysicalFile final : public IStreamEx {
public:
  static constexpr std::int32_t kCacheSize = 65536;

  // Opens nothing, so it never fails for a bad name.
  explicit TPhysicalFile(std::u16string AName, IDeviceIOPtr ADeviceIO = CurrentDeviceIO());
  ~TPhysicalFile() override;
  TPhysicalFile(const TPhysicalFile&) = delete;
  TPhysicalFile& operator=(const TPhysicalFile&) = delete;

  // Raise NoDriveException when the device cannot be opened, also for a read
  // of 0 bytes. A short count means the device delivered no more.
  std::int64_t Read(std::int64_t AOffset, std::int64_t ASize, void* ADest) override;
  std::int64_t Size() override;

  // Whether the name can be opened as Read would; raises nothing.
  static bool Exists(const std::u16string& AName);

  const std::u16string& Name() const { return FName; }
  int Handle() const { return FHandle; }
  bool Opened() const { return FHandle != IDeviceIO::kInvalidHandle; }

private:
  void Open();
  void Close();
  bool CacheHolds(std::int64_t APos) const;
  bool FillCache(std::int64_t APos, std::int64_t AWanted);

  TMem FCacheBuf;
  std::int64_t FCacheStart = 0;
  std::int64_t FCacheSize = 0;
  std::u16string FName;
  IDeviceIOPtr FDeviceIO;
  int FHandle = IDeviceIO::kInvalidHandle;
};
