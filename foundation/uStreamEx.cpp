#include "foundation/uStreamEx.h"

#include "foundation/uDescriptor.h"
#include "foundation/uMemoryEx.h"
#include "foundation/uSysPath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace {

class TNullStreamEx final : public IStreamEx {
public:
  std::int64_t Read(std::int64_t, std::int64_t, void*) override { return 0; }
  std::int64_t Size() override { return 0; }
};

// Owns a tracked copy of the bytes, so the caller's buffer may go at once.
class TMemoryStreamEx final : public IStreamEx {
public:
  TMemoryStreamEx(const void* AData, std::int32_t ADataSize) : FData(MemoryEx::AllocMem(ADataSize)) {
    if (ADataSize > 0)
      std::memcpy(FData.Ptr, AData, static_cast<std::size_t>(ADataSize));
  }
  ~TMemoryStreamEx() override { MemoryEx::FreeMem(FData); }
  TMemoryStreamEx(const TMemoryStreamEx&) = delete;
  TMemoryStreamEx& operator=(const TMemoryStreamEx&) = delete;

  std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) override {
    const std::int64_t size = Size();
    if (APos < 0 || ASize <= 0 || APos >= size)
      return 0;
    const std::int64_t count = std::min(ASize, size - APos);
    std::memcpy(ADest, FData.Ptr + APos, static_cast<std::size_t>(count));
    return count;
  }

  std::int64_t Size() override { return FData.Size; }

private:
  TMem FData;
};

// A window onto its source from FOffset to the source's end.
class TProxyStreamEx final : public IStreamEx {
public:
  TProxyStreamEx(IStreamExPtr AStream, std::int64_t AOffset) : FStream(std::move(AStream)), FOffset(AOffset) {}

  std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) override {
    // A negative position would reach the source's bytes before the window.
    if (APos < 0 || APos > std::numeric_limits<std::int64_t>::max() - FOffset)
      return 0;
    return FStream->Read(APos + FOffset, ASize, ADest);
  }

  // A source that shrank below the offset leaves an empty window.
  std::int64_t Size() override { return std::max<std::int64_t>(FStream->Size() - FOffset, 0); }

private:
  IStreamExPtr FStream;
  std::int64_t FOffset;
};

class TFileStreamEx final : public IStreamEx {
public:
  explicit TFileStreamEx(const std::string& AFileName) : FHandle(open(AFileName.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (FHandle.Get() < 0)
      throw std::system_error(errno, std::generic_category(), "Cannot open file \"" + AFileName + "\"");
  }
  TFileStreamEx(const TFileStreamEx&) = delete;
  TFileStreamEx& operator=(const TFileStreamEx&) = delete;

  std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) override {
    auto* dest = static_cast<char*>(ADest);
    std::int64_t total = 0;
    // pread positions and reads in one call; a position it cannot reach
    // (negative) fails and leaves the count at 0.
    while (total < ASize) {
      const auto chunk = static_cast<std::size_t>(std::min<std::int64_t>(ASize - total, kMaxChunk));
      const ssize_t got = pread(FHandle.Get(), dest + total, chunk, APos + total);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        break;
      total += got;
    }
    return total;
  }

  std::int64_t Size() override {
    struct stat info {};
    return fstat(FHandle.Get(), &info) == 0 ? info.st_size : 0;
  }

private:
  static constexpr std::int64_t kMaxChunk = 1 << 30;
  TDescriptor FHandle;
};

bool IsExistingFile(const std::string& AFileName) {
  struct stat info {};
  return stat(AFileName.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

} // namespace

IStreamExPtr StreamEx::Null() {
  static const IStreamExPtr shared = std::make_shared<TNullStreamEx>();
  return shared;
}

IStreamExPtr StreamEx::GetMemoryStream(const void* AData, std::int32_t ADataSize) {
  if (ADataSize < 0)
    throw std::runtime_error("GetMemoryStream: Incorrect data size.");
  if (AData == nullptr && ADataSize > 0)
    throw std::runtime_error("GetMemoryStream: Source data cannot be null.");
  return std::make_shared<TMemoryStreamEx>(AData, ADataSize);
}

IStreamExPtr StreamEx::GetProxyStream(const IStreamExPtr& AStream, std::int64_t AOffset) {
  if (!AStream)
    throw std::runtime_error("GetProxyStream: Source stream cannot be null.");
  if (AOffset < 0 || AOffset > AStream->Size())
    throw std::runtime_error("GetProxyStream: Incorrect offset value.");
  return std::make_shared<TProxyStreamEx>(AStream, AOffset);
}

IStreamExPtr StreamEx::GetFileStream(const std::u16string& AFileName) {
  const std::string fileName = ToNativePath(AFileName);
  if (!IsExistingFile(fileName))
    throw std::runtime_error("GetFileStream: File does not exist.");
  return std::make_shared<TFileStreamEx>(fileName);
}
