#pragma once

// The POSIX device operations, keeping the open flags of every handle, so
// that a test can prove the source was opened for reading only.

#include "ntfs/uPhysicalFile.h"

#include <fcntl.h>

#include <string>
#include <vector>

namespace testsupport {

class TFlagRecordingDeviceIO final : public IDeviceIO {
public:
  int Open(const std::string& APath) override {
    const int handle = FReal->Open(APath);
    if (handle != kInvalidHandle)
      Flags.push_back(fcntl(handle, F_GETFL));
    return handle;
  }
  std::int64_t ReadAt(int AHandle, std::int64_t APos, void* ADest, std::int64_t ASize) override {
    return FReal->ReadAt(AHandle, APos, ADest, ASize);
  }
  std::int64_t SizeOf(int AHandle) override { return FReal->SizeOf(AHandle); }
  void Close(int AHandle) override { FReal->Close(AHandle); }

  std::vector<int> Flags;

private:
  IDeviceIOPtr FReal = PosixDeviceIO();
};

} // namespace testsupport
