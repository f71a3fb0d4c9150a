#include "platform/uDriveTable.h"

#include "foundation/uSysPath.h"
#include "ntfs/uPhysicalFile.h"

#include <stdexcept>

namespace {

char16_t UpperAscii(char16_t AChar) {
  return (AChar >= u'a' && AChar <= u'z') ? static_cast<char16_t>(AChar - u'a' + u'A') : AChar;
}

bool IsLetterInRange(char16_t ALetter) {
  return ALetter >= TDriveTable::kFirstLetter && ALetter <= TDriveTable::kLastLetter;
}

// The table TPhysicalFile resolves through, so that only it undoes that.
const TDriveTable* InstalledTable = nullptr;

// Installs itself while being built, so the resolver it sets is complete
// before the table and outlives it at process end.
class TProcessDriveTable final : public TDriveTable {
public:
  TProcessDriveTable() { InstallAsResolver(); }
};

} // namespace

TDriveTable::~TDriveTable() {
  if (InstalledTable == this) {
    SetDevicePathResolver(nullptr);
    InstalledTable = nullptr;
  }
}

std::optional<char16_t> TDriveTable::DriveLetter(const std::u16string& AName) {
  const bool separated = AName.size() == 3 && (AName[2] == u'\\' || AName[2] == u'/');
  if ((AName.size() != 2 && !separated) || AName[1] != u':')
    return std::nullopt;
  const char16_t letter = UpperAscii(AName[0]);
  if (!IsLetterInRange(letter))
    return std::nullopt;
  return letter;
}

std::u16string TDriveTable::DriveName(char16_t ALetter) {
  return std::u16string{UpperAscii(ALetter), u':'};
}

void TDriveTable::Assign(char16_t ALetter, const std::string& APath) {
  FPaths[Normalized(ALetter)] = APath;
}

std::optional<char16_t> TDriveTable::Add(const std::string& APath) {
  const std::optional<char16_t> letter = NextFreeLetter();
  if (letter)
    FPaths[*letter] = APath;
  return letter;
}

void TDriveTable::Remove(char16_t ALetter) {
  FPaths.erase(UpperAscii(ALetter));
}

void TDriveTable::Clear() {
  FPaths.clear();
}

std::optional<char16_t> TDriveTable::NextFreeLetter() const {
  for (char16_t letter = kFirstLetter; letter <= kLastLetter; ++letter)
    if (!FPaths.contains(letter))
      return letter;
  return std::nullopt;
}

std::optional<std::string> TDriveTable::PathOf(char16_t ALetter) const {
  const auto found = FPaths.find(UpperAscii(ALetter));
  if (found == FPaths.end())
    return std::nullopt;
  return found->second;
}

std::vector<char16_t> TDriveTable::Letters() const {
  std::vector<char16_t> letters;
  for (const auto& [letter, path] : FPaths)
    letters.push_back(letter);
  return letters;
}

void TDriveTable::InstallAsResolver() {
  SetDevicePathResolver([this](const std::u16string& AName) {
    const std::optional<char16_t> letter = DriveLetter(AName);
    if (!letter)
      return ToNativePath(AName);
    return PathOf(*letter).value_or(std::string());
  });
  InstalledTable = this;
}

char16_t TDriveTable::Normalized(char16_t ALetter) {
  const char16_t letter = UpperAscii(ALetter);
  if (!IsLetterInRange(letter))
    throw std::out_of_range("Drive letters run from C to Z.");
  return letter;
}

TDriveTable& DriveTable() {
  static TProcessDriveTable table;
  return table;
}
