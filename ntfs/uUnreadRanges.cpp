#include "ntfs/uUnreadRanges.h"

#include <algorithm>

void TUnreadRanges::Note(std::int64_t AOffset, std::int64_t ALength) {
  if (ALength <= 0)
    return;
  FNotedBytes += ALength;
  if (!FRanges.empty()) {
    TByteRange& last = FRanges.back();
    const bool joins = AOffset >= last.Offset && AOffset <= last.Offset + last.Length;
    if (joins || FRanges.size() >= kMaxRanges) {
      last.Length = std::max(last.Length, AOffset + ALength - last.Offset);
      return;
    }
  }
  FRanges.push_back({AOffset, ALength});
}
