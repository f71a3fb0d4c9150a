#pragma once

// A volume image read the way a failing disk reads it: every request that
// touches one range of bytes fails after a delay, as a disk's request does
// once the drive has given up retrying, and the rest reads as it is. A
// request that starts before the range delivers the bytes up to it (a disk
// does), or with AFailWholeRead fails whole (some USB bridges do). The
// failed requests are counted from whichever thread makes them, and a test
// can act at each one, as a user does while the disk struggles.

#include "ntfs/uVolumeSource.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>

namespace testsupport {

class TSlowFailingSource final : public IVolumeSource {
public:
  // Told the number of each failed request, from 1 on, on the thread that
  // made it, before the request returns.
  using TAtFailure = std::function<void(int AFailure)>;

  TSlowFailingSource(const std::string& AImage, TByteRange ABad, std::chrono::milliseconds ADelay,
                     bool AFailWholeRead = false)
      : FImage(TFileSource::Open(AImage)), FBad(ABad), FDelay(ADelay), FFailWholeRead(AFailWholeRead) {}

  // Set while no read is under way.
  void SetAtFailure(TAtFailure AAtFailure) { FAtFailure = std::move(AAtFailure); }
  int Failures() const { return FFailures; }

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    if (ASize <= 0 || APos + ASize <= FBad.Offset || APos >= FBad.Offset + FBad.Length)
      return FImage->ReadAt(APos, ADest, ASize);
    std::this_thread::sleep_for(FDelay);
    const int failure = ++FFailures;
    if (FAtFailure)
      FAtFailure(failure);
    if (APos < FBad.Offset && !FFailWholeRead)
      return FImage->ReadAt(APos, ADest, FBad.Offset - APos);
    return -1;
  }

  std::int64_t Size() override { return FImage->Size(); }
  std::vector<TSourcePiece> Pieces() const override { return FImage->Pieces(); }

private:
  IVolumeSourcePtr FImage;
  TByteRange FBad;
  std::chrono::milliseconds FDelay;
  bool FFailWholeRead;
  TAtFailure FAtFailure;
  std::atomic<int> FFailures{0};
};

} // namespace testsupport
