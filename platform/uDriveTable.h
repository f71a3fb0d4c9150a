#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

// Drive letters C to Z handed out to the volumes the program can read: each
// letter names a block device or a volume image file. The drive enumeration
// fills the table; TPhysicalFile opens "D:" through it.
class TDriveTable {
public:
  static constexpr char16_t kFirstLetter = u'C';
  static constexpr char16_t kLastLetter = u'Z';

  TDriveTable() = default;
  ~TDriveTable();
  TDriveTable(const TDriveTable&) = delete;
  TDriveTable& operator=(const TDriveTable&) = delete;

  // "D:", "d:", "D:\" or "D:/" give 'D'; anything else is no drive name.
  static std::optional<char16_t> DriveLetter(const std::u16string& AName);
  static std::u16string DriveName(char16_t ALetter);

  // Gives ALetter (either case) to APath, replacing what it named before;
  // a letter outside C to Z raises std::out_of_range.
  void Assign(char16_t ALetter, const std::string& APath);
  // Gives the first free letter to APath; none when every letter is taken.
  std::optional<char16_t> Add(const std::string& APath);
  void Remove(char16_t ALetter);
  void Clear();

  std::optional<char16_t> NextFreeLetter() const;
  std::optional<std::string> PathOf(char16_t ALetter) const;
  std::vector<char16_t> Letters() const;

  // From now on TPhysicalFile resolves drive names through this table: a
  // letter in it opens its device or image, a letter not in it opens nothing,
  // any other name is opened as a path. Undone when the table goes.
  void InstallAsResolver();

private:
  static char16_t Normalized(char16_t ALetter);

  std::map<char16_t, std::string> FPaths;
};

// The process-wide table, installed as the resolver when first used.
TDriveTable& DriveTable();
