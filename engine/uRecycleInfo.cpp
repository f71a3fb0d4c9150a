#include "engine/uRecycleInfo.h"

#include "ntfs/uNTFSBytes.h"

namespace {

// The layout both versions share, then each one's path.
constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kOriginalSizeOffset = 8;
constexpr std::size_t kDeletionTimeOffset = 16;
constexpr std::size_t kVersion1Size = 544;
constexpr std::size_t kVersion1PathOffset = 24;
constexpr std::size_t kVersion1PathUnits = 260;
constexpr std::size_t kVersion2CountOffset = 24;
constexpr std::size_t kVersion2PathOffset = 28;
constexpr std::uint32_t kMaxPathUnits = 32767;
// "$I" or "$R" and the six characters both names share.
constexpr std::size_t kRecycleStemLength = 8;

TRecycleInfoResult Rejected(std::string AProblem) { return {std::nullopt, std::move(AProblem)}; }

bool IsHighSurrogate(char16_t AUnit) { return AUnit >= 0xD800 && AUnit <= 0xDBFF; }
bool IsLowSurrogate(char16_t AUnit) { return AUnit >= 0xDC00 && AUnit <= 0xDFFF; }

bool IsValidUtf16(const std::u16string& AText) {
  for (std::size_t i = 0; i < AText.size(); ++i) {
    if (IsHighSurrogate(AText[i]) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1]))
      ++i;
    else if (IsHighSurrogate(AText[i]) || IsLowSurrogate(AText[i]))
      return false;
  }
  return true;
}

bool IsDriveLetter(char16_t AUnit) { return (AUnit >= u'A' && AUnit <= u'Z') || (AUnit >= u'a' && AUnit <= u'z'); }

// The path's folders and name below "X:\"; empty when it is not of that
// form or names a part that cannot be a file's ("", "." or "..").
std::vector<std::u16string> PartsBelowDrive(const std::u16string& APath) {
  if (APath.size() < 4 || !IsDriveLetter(APath[0]) || APath[1] != u':' || APath[2] != u'\\')
    return {};
  std::vector<std::u16string> parts;
  std::size_t start = 3;
  for (;;) {
    const std::size_t end = APath.find(u'\\', start);
    std::u16string part = APath.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    if (part.empty() || part == u"." || part == u"..")
      return {};
    parts.push_back(std::move(part));
    if (end == std::u16string::npos)
      return parts;
    start = end + 1;
  }
}

// The UTF-16 units from AOffset up to the NUL that must end them within
// AUnits units.
std::optional<std::u16string> TerminatedPath(TByteView ABytes, std::size_t AOffset, std::size_t AUnits) {
  std::u16string path;
  for (std::size_t i = 0; i < AUnits; ++i) {
    const auto unit = static_cast<char16_t>(ABytes.Get<std::uint16_t>(AOffset + 2 * i));
    if (unit == 0)
      return path;
    path += unit;
  }
  return std::nullopt;
}

} // namespace

TRecycleInfoResult ParseRecycleInfo(std::span<const std::uint8_t> AContent) {
  const TByteView bytes(AContent.data(), AContent.size());
  if (bytes.Size() < kVersion2PathOffset)
    return Rejected("it holds " + std::to_string(bytes.Size()) + " bytes, too few for its header");
  const auto version = bytes.Get<std::uint64_t>(kVersionOffset);
  std::optional<std::u16string> path;
  if (version == 1) {
    if (bytes.Size() != kVersion1Size)
      return Rejected("a version 1 record holds " + std::to_string(kVersion1Size) + " bytes, this one " +
                      std::to_string(bytes.Size()));
    path = TerminatedPath(bytes, kVersion1PathOffset, kVersion1PathUnits);
  } else if (version == 2) {
    const auto units = bytes.Get<std::uint32_t>(kVersion2CountOffset);
    if (units == 0 || units > kMaxPathUnits || !bytes.Contains(kVersion2PathOffset, 2 * std::size_t{units}))
      return Rejected("its path length of " + std::to_string(units) + " characters does not fit");
    path = TerminatedPath(bytes, kVersion2PathOffset, units);
    if (path && path->size() + 1 != units)
      return Rejected("its path ends before the length it gives");
  } else {
    return Rejected("its version " + std::to_string(version) + " is unknown");
  }
  if (!path)
    return Rejected("its path is not terminated");
  if (!IsValidUtf16(*path))
    return Rejected("its path is not valid UTF-16");
  TRecycleInfo info;
  info.PathParts = PartsBelowDrive(*path);
  if (info.PathParts.empty())
    return Rejected("its path is not of the form \"X:\\folder\\name\"");
  info.OriginalSize = bytes.Get<std::int64_t>(kOriginalSizeOffset);
  info.DeletionTime = bytes.Get<std::int64_t>(kDeletionTimeOffset);
  if (info.OriginalSize < 0)
    return Rejected("its original size is negative");
  return {std::move(info), {}};
}

bool IsRecycleName(const std::u16string& AName, char16_t AKind) {
  return AName.size() >= kRecycleStemLength && AName[0] == u'$' && AName[1] == AKind &&
         (AName.size() == kRecycleStemLength || AName[kRecycleStemLength] == u'.');
}
