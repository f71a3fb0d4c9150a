#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A read-only run of bytes read at any position; every read names its own
// position. A result below the requested size is a short read, not an error.
class IStreamEx {
public:
  virtual ~IStreamEx() = default;
  virtual std::int64_t Read(std::int64_t APos, std::int64_t ASize, void* ADest) = 0;
  virtual std::int64_t Size() = 0;
};
using IStreamExPtr = std::shared_ptr<IStreamEx>;

class StreamEx {
public:
  StreamEx() = delete;

  static IStreamExPtr Null();
  static IStreamExPtr GetMemoryStream(const void* AData, std::int32_t ADataSize);
  static IStreamExPtr GetProxyStream(const IStreamExPtr& AStream, std::int64_t AOffset);
  static IStreamExPtr GetFileStream(const std::u16string& AFileName);
};
