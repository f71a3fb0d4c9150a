#include "tests/support/RecycleInfoBytes.h"

namespace testsupport {

namespace {

constexpr std::size_t kVersion1Size = 544;

void AppendLittleEndian(std::string& AOut, std::uint64_t AValue, int ABytes) {
  for (int i = 0; i < ABytes; ++i, AValue >>= 8)
    AOut += static_cast<char>(AValue & 0xFF);
}

} // namespace

std::string RecycleInfoBytes(std::uint64_t AVersion, std::uint64_t AOriginalSize, std::uint64_t ADeletionTime,
                             const std::u16string& APath, std::optional<std::uint32_t> AUnitCount) {
  std::string bytes;
  AppendLittleEndian(bytes, AVersion, 8);
  AppendLittleEndian(bytes, AOriginalSize, 8);
  AppendLittleEndian(bytes, ADeletionTime, 8);
  if (AVersion != 1)
    AppendLittleEndian(bytes, AUnitCount.value_or(static_cast<std::uint32_t>(APath.size() + 1)), 4);
  for (const char16_t unit : APath + u'\0')
    AppendLittleEndian(bytes, unit, 2);
  if (AVersion == 1)
    bytes.resize(kVersion1Size, '\0');
  return bytes;
}

} // namespace testsupport
