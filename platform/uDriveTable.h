#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What a drive letter stands for: a block device or image file, or one
// partition of the disk it holds, or a volume no partition table lists.
struct TDriveSource {
  std::string Path;
  int Partition = 0;  // the number in the disk's partition table; 0 for the whole device or image
  std::int64_t Offset = 0;  // the byte a volume no table lists starts at; 0 for none

  bool operator==(const TDriveSource&) const = default;
  auto operator<=>(const TDriveSource&) const = default;
};

// Drive letters C to Z handed out to the volumes the program can read: each
// letter names a block device or a volume image file, or a partition of one.
// The drive list fills the table.
class TDriveTable {
public:
  static constexpr char16_t kFirstLetter = u'C';
  static constexpr char16_t kLastLetter = u'Z';

  TDriveTable() = default;
  TDriveTable(const TDriveTable&) = delete;
  TDriveTable& operator=(const TDriveTable&) = delete;

  // "D:", "d:", "D:\" or "D:/" give 'D'; anything else is no drive name.
  static std::optional<char16_t> DriveLetter(const std::u16string& AName);
  static std::u16string DriveName(char16_t ALetter);

  // Gives ALetter (either case) to ASource, replacing what it named before;
  // a letter outside C to Z raises std::out_of_range.
  void Assign(char16_t ALetter, const TDriveSource& ASource);
  void Assign(char16_t ALetter, const std::string& APath) { Assign(ALetter, TDriveSource{APath}); }
  // Gives the first free letter to ASource; none when every letter is taken.
  std::optional<char16_t> Add(const TDriveSource& ASource);
  std::optional<char16_t> Add(const std::string& APath) { return Add(TDriveSource{APath}); }
  void Remove(char16_t ALetter);
  void Clear();

  std::optional<char16_t> NextFreeLetter() const;
  std::optional<TDriveSource> SourceOf(char16_t ALetter) const;
  // The device or image file, also of a partition's letter.
  std::optional<std::string> PathOf(char16_t ALetter) const;
  std::vector<char16_t> Letters() const;

private:
  static char16_t Normalized(char16_t ALetter);

  std::map<char16_t, TDriveSource> FSources;
};
