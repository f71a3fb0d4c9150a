#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
  // The lengths of every note added up, bytes noted twice counted twice:
  // it grows with each note, where the ranges may not.
  std::int64_t NotedBytes() const { return FNotedBytes; }

private:
  std::vector<TByteRange> FRanges;
  std::int64_t FNotedBytes = 0;
};

// Asked before each piece of a failing span is read again: false leaves the
// rest of the span unread, so that a cancel is not held up for as long as a
// failing disk takes to refuse every sector. Empty: always read again.
using TKeepRereading = std::function<bool()>;

// A stream that can tell which of its bytes the device did not deliver.
class IUnreadReporter {
public:
  virtual ~IUnreadReporter() = default;
  // Sparse and unmapped clusters are not listed: they hold zeros by right.
  virtual const std::vector<TByteRange>& UnreadRanges() const = 0;
  // Grows with every read that had to fill bytes with zeros, also one
  // whose bytes were noted before.
  virtual std::int64_t UnreadBytesNoted() const = 0;
};
