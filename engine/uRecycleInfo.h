#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What Explorer keeps of a file it moved into the Recycle Bin, in the "$I"
// file beside the renamed "$R" one: both formats, the one of Vista to 8.1
// (version 1, a fixed 520-byte path) and the one of Windows 10 on
// (version 2, a counted path).
struct TRecycleInfo {
  std::int64_t OriginalSize = 0;
  std::int64_t DeletionTime = 0; // NTFS time, UTC
  // The folders below the drive's root, top first, then the name: "C:\a\b.txt"
  // gives {"a", "b.txt"}.
  std::vector<std::u16string> PathParts;
};

// The bytes of a "$I" file read as what it says, or the reason it cannot be
// trusted: an unknown version, a path that is cut off, not UTF-16, longer
// than the file or not of the form "X:\...".
struct TRecycleInfoResult {
  std::optional<TRecycleInfo> Info;
  std::string Problem;
};
TRecycleInfoResult ParseRecycleInfo(std::span<const std::uint8_t> ABytes);

// The most a "$I" file can take: version 2 with the longest path Windows
// can name (32767 UTF-16 units).
constexpr std::size_t kRecycleInfoMaxBytes = 28 + 2 * 32767;

// Whether AName is a Recycle Bin name of the kind AKind ('I' or 'R'):
// "$" AKind and six characters, then the original extension if any.
bool IsRecycleName(const std::u16string& AName, char16_t AKind);
