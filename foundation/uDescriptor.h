#pragma once

#include <unistd.h>

#include <utility>

// A file descriptor closed with its owner: the one type that owns a
// descriptor, wherever the program opens a file, folder or device.
class TDescriptor {
public:
  explicit TDescriptor(int AHandle = -1) : FHandle(AHandle) {}
  ~TDescriptor() {
    if (FHandle >= 0)
      ::close(FHandle);
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;
  TDescriptor(TDescriptor&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, -1)) {}
  TDescriptor& operator=(TDescriptor&& AOther) noexcept {
    std::swap(FHandle, AOther.FHandle);
    return *this;
  }

  int Get() const { return FHandle; }
  // Hands the descriptor over; the object then owns none.
  int Release() { return std::exchange(FHandle, -1); }

private:
  int FHandle;
};
