#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Where a restored file goes below the target folder. The names come from a
// volume that anyone may have crafted, so each one is made a plain, single
// file name before it touches the target: it can never climb out of the
// target folder, start at the root, or be longer than the target allows.

// The longest name most Linux file systems take, in bytes.
inline constexpr std::size_t DefaultMaxNameBytes = 255;

// The extension of a file name: from its last "." on, the dot included;
// empty when the name has none.
std::string_view FileNameExtension(std::string_view AName);

// Cuts a UTF-8 name to at most AMaxNameBytes bytes on a character border,
// keeping its extension when that takes no more than half of the limit.
std::string ShortenFileName(std::string_view AName, std::size_t AMaxNameBytes);

// The name given to the ANumber-th copy on a name conflict, "report[2].txt",
// with the part before the extension cut so the whole still fits.
std::string NumberedFileName(std::string_view AName, std::int32_t ANumber,
                             std::size_t AMaxNameBytes);

// One name of the volume as a name that is safe below the target folder:
// converted to UTF-8 (unpaired surrogates become U+FFFD), "/", "\" and NUL
// become "_", an empty name "_", "." and ".." become "_" and
// "__", and an over-long name is shortened.
std::string SafeFileName(std::u16string_view AName, std::size_t AMaxNameBytes);

// The target folder followed by the safe form of each name, joined with "/".
// ANames runs from the topmost folder below the target to the file itself.
std::string RestoredFilePath(std::string_view ATargetDir,
                             const std::vector<std::u16string>& ANames,
                             std::size_t AMaxNameBytes);
