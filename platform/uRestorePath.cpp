#include "platform/uRestorePath.h"

#include "foundation/uSysPath.h"

#include <algorithm>
#include <stdexcept>

namespace {

// Shorter limits leave no room for a numbered name; no file system that
// could hold restored files has one.
constexpr std::size_t kMinNameBytes = 16;

bool IsContinuationByte(char AByte) { return (static_cast<unsigned char>(AByte) & 0xC0) == 0x80; }

// The longest prefix of AText of at most AMaxBytes bytes that ends on a
// character border.
std::string_view Utf8Prefix(std::string_view AText, std::size_t AMaxBytes) {
  if (AText.size() <= AMaxBytes)
    return AText;
  std::size_t length = AMaxBytes;
  while (length > 0 && IsContinuationByte(AText[length]))
    --length;
  return AText.substr(0, length);
}

std::size_t EffectiveLimit(std::size_t AMaxNameBytes) { return std::max(AMaxNameBytes, kMinNameBytes); }

// Puts ASuffix between a name and its extension, cutting the name before
// the extension when the whole would not fit. An "extension" longer than
// half of the limit is just part of a long name and is cut with it.
std::string FitName(std::string_view AName, std::string_view ASuffix, std::size_t AMaxNameBytes) {
  const std::size_t limit = EffectiveLimit(AMaxNameBytes);
  std::string_view ext = FileNameExtension(AName);
  if (AName.size() + ASuffix.size() > limit && ext.size() > limit / 2)
    ext = {};
  const std::string_view stem = AName.substr(0, AName.size() - ext.size());
  const std::size_t room = limit - ext.size() - std::min(ASuffix.size(), limit - ext.size());
  std::string result(Utf8Prefix(stem, room));
  result += ASuffix;
  result += ext;
  return result;
}

}  // namespace

std::string_view FileNameExtension(std::string_view AName) {
  const std::size_t dot = AName.rfind('.');
  return dot == std::string_view::npos ? std::string_view() : AName.substr(dot);
}

std::string ShortenFileName(std::string_view AName, std::size_t AMaxNameBytes) {
  return FitName(AName, {}, AMaxNameBytes);
}

std::string NumberedFileName(std::string_view AName, std::int32_t ANumber,
                             std::size_t AMaxNameBytes) {
  std::string suffix(1, '[');
  suffix += std::to_string(ANumber);
  suffix += ']';
  return FitName(AName, suffix, AMaxNameBytes);
}

std::string SafeFileName(std::u16string_view AName, std::size_t AMaxNameBytes) {
  std::string name = ToNativePath(std::u16string(AName));
  // "/" would open a folder below the target, "\" does on the Windows
  // machine the files may be copied to next, and NUL would end the name early.
  std::replace_if(name.begin(), name.end(),
                  [](char c) { return c == '/' || c == '\\' || c == '\0'; }, '_');
  name = ShortenFileName(name, AMaxNameBytes);
  if (name.empty() || name == ".")
    return "_";
  if (name == "..")
    return "__";
  return name;
}

std::string RestoredFilePath(std::string_view ATargetDir,
                             const std::vector<std::u16string>& ANames,
                             std::size_t AMaxNameBytes) {
  if (ANames.empty())
    throw std::invalid_argument("RestoredFilePath: the file has no name");
  std::string path(ATargetDir);
  for (const std::u16string& name : ANames) {
    if (!path.empty() && path.back() != '/')
      path += '/';
    path += SafeFileName(name, AMaxNameBytes);
  }
  return path;
}
