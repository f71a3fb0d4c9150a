#pragma once

// The small volume the attribute-list fuzzer and its seeds share: a hand-made
// image whose records kBaseRecord to kBaseRecord + kRecords - 1 and clusters
// from kListLCN on come from the input, in this order.

#include "HandMadeRecords.h"

#include <cstdint>

namespace fuzz {

constexpr std::int64_t kBaseRecord = 24;
constexpr std::int64_t kRecords = 4;
constexpr std::uint32_t kRecordSize = 1024;
constexpr std::int64_t kListLCN = 64;
constexpr std::int64_t kClusterSize = 4096;
constexpr std::int64_t kMFTLCN = 4;
constexpr std::size_t kClusterBytes = 2 * 4096;

// The image around the input: record 0 and an otherwise empty 1 MiB volume
// with 4 KiB clusters and the MFT at LCN 4.
inline const handmade::TBytes& AttributeListVolume() {
  static const handmade::TBytes image = [] {
    handmade::TVolumeImage volume;
    volume.ClusterSize = kClusterSize;
    volume.RecordSize = kRecordSize;
    volume.MFTExtents = {{kMFTLCN, 16}};
    return volume.Bytes();
  }();
  return image;
}

inline std::int64_t RecordOffset(std::int64_t ARecord) {
  return kMFTLCN * kClusterSize + ARecord * kRecordSize;
}

inline std::int64_t ListClusterOffset() {
  return kListLCN * kClusterSize;
}

} // namespace fuzz
