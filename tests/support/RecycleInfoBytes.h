#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace testsupport {

// A Recycle Bin "$I" file as Explorer writes it: version 1 keeps the path
// in 544 bytes in all (NUL-padded, or cut where the path is too long for
// them), version 2 counts its UTF-16 units, the NUL included, unless
// AUnitCount gives another count. The path is taken unit by unit, so it
// may be one that is not valid UTF-16.
std::string RecycleInfoBytes(std::uint64_t AVersion, std::uint64_t AOriginalSize, std::uint64_t ADeletionTime,
                             const std::u16string& APath, std::optional<std::uint32_t> AUnitCount = std::nullopt);

} // namespace testsupport
