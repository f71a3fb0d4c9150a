#include "foundation/uSizeText.h"

#include <array>
#include <charconv>

std::string SizeText(std::int64_t ASize) {
  constexpr double kKiB = 1024.0;
  if (ASize < 1024)
    return std::to_string(ASize) + " B";
  static constexpr std::array<const char*, 5> units = {"KiB", "MiB", "GiB", "TiB", "PiB"};
  double value = static_cast<double>(ASize) / kKiB;
  std::size_t unit = 0;
  for (; value >= kKiB && unit + 1 < units.size(); ++unit)
    value /= kKiB;
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value, std::chars_format::fixed, 1);
  return std::string(buffer.data(), result.ptr) + ' ' + units[unit];
}
