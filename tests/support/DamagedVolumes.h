#pragma once

// Damaged and crafted volumes, one case each, with the outcome every reader
// of them must reach: a clear error, or what can still be found. The reader
// tests walk them record by record; the engine tests scan and recover them.

#include "ntfs/uMFTRunList.h"
#include "tests/support/uMemoryDevice.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace damaged {

using TBytes = std::vector<std::uint8_t>;

struct TDamageCase {
  const char* Name;
  std::function<std::shared_ptr<testsupport::TMemorySource>()> Device = {};
  // Part of the FSError raised on opening, or nullptr when the volume opens.
  const char* Error = nullptr;
  // Every deleted file still found, each with exactly these bytes (none
  // when its data is lost); a file not listed is no longer found at all.
  std::map<std::u16string, TBytes> Found = {};
  // Per file, the byte ranges the device could not deliver.
  std::map<std::u16string, std::vector<TByteRange>> Unread = {};
  // Per file, the byte ranges no data run reaches (read as zeros, as far
  // as the volume reaches), and the warnings the scan gives for them.
  std::map<std::u16string, std::vector<TByteRange>> NoRuns = {};
  std::vector<std::string> RunWarnings = {};
  // The number of records the volume reports; not checked when 0.
  std::int64_t RecordCount = 0;
  // The MFT records the device could not deliver, as runs of first and last
  // record; the scan names each run in the log.
  std::vector<std::pair<std::int64_t, std::int64_t>> UnreadRecords = {};
};

const std::vector<TDamageCase>& DamageCases();

} // namespace damaged
