#pragma once

// Small helpers for tests that need real files: a private temporary folder
// and files with bytes that tell their own offset.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace testfiles {

// A fresh folder under the system's temporary folder, or under AParent,
// removed with everything in it when the object goes.
class TTempFolder {
public:
  TTempFolder() : TTempFolder(std::filesystem::temp_directory_path()) {}
  explicit TTempFolder(const std::filesystem::path& AParent) {
    std::string pattern = (AParent / "tarnwick-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
      throw std::runtime_error("cannot create a temporary folder");
    FPath = pattern;
  }
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(const std::string& AName) const { return FPath / AName; }

private:
  std::filesystem::path FPath;
};

// Byte i of a pattern file: mixes in the 256-byte block number so that reads
// from the wrong offset show up.
inline std::uint8_t PatternByte(std::int64_t AOffset) {
  return static_cast<std::uint8_t>(AOffset * 7 + AOffset / 256);
}

inline std::vector<std::uint8_t> PatternBytes(std::int64_t AFrom, std::int64_t ACount) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(ACount));
  for (std::int64_t i = 0; i < ACount; ++i)
    bytes[static_cast<std::size_t>(i)] = PatternByte(AFrom + i);
  return bytes;
}

inline void WriteFile(const std::filesystem::path& APath, const std::vector<std::uint8_t>& ABytes) {
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ABytes.data()), static_cast<std::streamsize>(ABytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + APath.string());
}

inline std::vector<std::uint8_t> ReadWholeFile(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Standard output of a shell command, or nothing when it fails.
inline std::string CommandOutput(const std::string& ACommand) {
  std::string output;
  FILE* pipe = popen(ACommand.c_str(), "r");
  if (pipe == nullptr)
    return output;
  char buffer[4096];
  std::size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, got);
  return pclose(pipe) == 0 ? output : std::string();
}

// The status flags (F_GETFL) of every descriptor this process holds open on
// APath, found through /proc/self/fd.
inline std::vector<int> DescriptorFlagsOn(const std::filesystem::path& APath) {
  std::vector<int> flags;
  std::error_code error;
  const std::filesystem::path wanted = std::filesystem::canonical(APath, error);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code unreadable;
    if (std::filesystem::read_symlink(entry.path(), unreadable) == wanted)
      flags.push_back(fcntl(std::stoi(entry.path().filename().string()), F_GETFL));
  }
  return flags;
}

} // namespace testfiles
