#pragma once

// Reads a zip archive back with libzip, so tests check what another zip
// reader sees rather than what the writer believes it wrote.

#include <zip.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace testfiles {

struct TZipEntry {
  std::string Name;
  std::string Data;
  bool operator==(const TZipEntry&) const = default;
};

// The entries in archive order; empty when the file is not a readable archive.
inline std::vector<TZipEntry> ReadZipEntries(const std::string& APath) {
  std::vector<TZipEntry> Entries;
  int Error = 0;
  zip_t* Archive = zip_open(APath.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &Error);
  if (Archive == nullptr)
    return Entries;
  const zip_int64_t Count = zip_get_num_entries(Archive, 0);
  for (zip_int64_t i = 0; i < Count; ++i) {
    zip_stat_t Stat;
    zip_stat_index(Archive, static_cast<zip_uint64_t>(i), 0, &Stat);
    std::string Data(Stat.size, '\0');
    zip_file_t* File = zip_fopen_index(Archive, static_cast<zip_uint64_t>(i), 0);
    if (File != nullptr) {
      Data.resize(static_cast<std::size_t>(std::max<zip_int64_t>(0, zip_fread(File, Data.data(), Data.size()))));
      zip_fclose(File);
    }
    Entries.push_back({Stat.name, std::move(Data)});
  }
  zip_close(Archive);
  return Entries;
}

} // namespace testfiles
