#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Stream positions [Offset, Offset + Length) that the device did not deliver.
struct TByteRange {
  std::int64_t Offset = 0;
  std::int64_t Length = 0;

  bool operator==(const TByteRange&) const = default;
};

// What a stream had to fill with zeros for want of the device's bytes, in
// the order met. A range that touches or overlaps the last one joins it;
// past kMaxRanges, further unread bytes widen the last range, so a failing
// disk cannot make the list grow without end.
class TUnreadRanges {
public:
  static constexpr std::size_t kMaxRanges = 1000;

  void Note(std::int64_t AOffset, std::int64_t ALength);
  const std::vector<TByteRange>& Ranges() const { return FRanges; }

private:
  std::vector<TByteRange> FRanges;
};

// A stream that can tell which of its bytes the device did not deliver.
class IUnreadReporter {
public:
  virtual ~IUnreadReporter() = default;
  // Sparse and unmapped clusters are not listed: they hold zeros by right.
  virtual const std::vector<TByteRange>& UnreadRanges() const = 0;
};
