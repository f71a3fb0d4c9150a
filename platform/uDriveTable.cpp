#include "platform/uDriveTable.h"


#include <stdexcept>

namespace {

char16_t UpperAscii(char16_t AChar) {
  return (AChar >= u'a' && AChar <= u'z') ? static_cast<char16_t>(AChar - u'a' + u'A') : AChar;
}

bool IsLetterInRange(char16_t ALetter) {
  return ALetter >= TDriveTable::kFirstLetter && ALetter <= TDriveTable::kLastLetter;
}

} // namespace

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

void TDriveTable::Assign(char16_t ALetter, const TDriveSource& ASource) {
  FSources[Normalized(ALetter)] = ASource;
}

std::optional<char16_t> TDriveTable::Add(const TDriveSource& ASource) {
  const std::optional<char16_t> letter = NextFreeLetter();
  if (letter)
    FSources[*letter] = ASource;
  return letter;
}

void TDriveTable::Remove(char16_t ALetter) {
  FSources.erase(UpperAscii(ALetter));
}

void TDriveTable::Clear() {
  FSources.clear();
}

std::optional<char16_t> TDriveTable::NextFreeLetter() const {
  for (char16_t letter = kFirstLetter; letter <= kLastLetter; ++letter)
    if (!FSources.contains(letter))
      return letter;
  return std::nullopt;
}

std::optional<TDriveSource> TDriveTable::SourceOf(char16_t ALetter) const {
  const auto found = FSources.find(UpperAscii(ALetter));
  if (found == FSources.end())
    return std::nullopt;
  return found->second;
}

std::optional<std::string> TDriveTable::PathOf(char16_t ALetter) const {
  const std::optional<TDriveSource> source = SourceOf(ALetter);
  if (!source)
    return std::nullopt;
  return source->Path;
}

std::vector<char16_t> TDriveTable::Letters() const {
  std::vector<char16_t> letters;
  for (const auto& [letter, source] : FSources)
    letters.push_back(letter);
  return letters;
}

char16_t TDriveTable::Normalized(char16_t ALetter) {
  const char16_t letter = UpperAscii(ALetter);
  if (!IsLetterInRange(letter))
    throw std::out_of_range("Drive letters run from C to Z.");
  return letter;
}
