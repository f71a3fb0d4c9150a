#pragma once

// A target file system held in memory, for recoveries that must not touch
// the disk (fuzzing) or whose writes a test wants to break: files are kept
// by path, free space is what the test says, and creating or writing a
// chosen file can be made to fail.

#include "platform/uFileSystem.h"

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class TMemoryFileSystem : public IFileSystem {
public:
  std::optional<std::int64_t> FreeBytesForUser(const std::string&) const override { return FreeBytes; }
  std::size_t MaxNameBytes(const std::string&) const override { return 255; }
  bool FileExists(const std::string& APath) const override { return Files.count(APath) != 0; }
  bool DirectoryExists(const std::string& APath) const override { return Folders.count(APath) != 0; }
  void ForceDirectories(const std::string& APath) const override {
    for (std::size_t end = APath.find('/', 1); ; end = APath.find('/', end + 1)) {
      Folders.insert(APath.substr(0, end));
      if (end == std::string::npos)
        break;
    }
  }
  IOutputFilePtr CreateOutputFile(const std::string& APath) const override {
    Created.push_back(APath);
    if (FailCreate && FailCreate(APath))
      throw std::runtime_error("Cannot create file " + APath + ".");
    Files[APath].clear();
    Times.erase(APath);
    Skipped.erase(APath);
    return std::make_unique<TFile>(*this, APath);
  }
  void SetFolderTimes(const std::string& APath, const TFileTimes& ATimes) const override {
    FolderTimes.emplace_back(APath, ATimes);
  }

  std::optional<std::int64_t> FreeBytes = std::int64_t{1} << 40;
  // Answers true for a path whose creation fails.
  std::function<bool(const std::string&)> FailCreate;
  // Answers true for a write (path, bytes written before it) that fails.
  std::function<bool(const std::string&, std::size_t)> FailWrite;

  mutable std::map<std::string, std::vector<std::uint8_t>> Files;
  mutable std::set<std::string> Folders;
  mutable std::vector<std::string> Created;
  mutable std::map<std::string, TFileTimes> Times;
  // In the order they were set.
  mutable std::vector<std::pair<std::string, TFileTimes>> FolderTimes;
  // Bytes skipped as holes, per file.
  mutable std::map<std::string, std::size_t> Skipped;

private:
  class TFile final : public IOutputFile {
  public:
    TFile(const TMemoryFileSystem& AOwner, std::string APath) : FOwner(AOwner), FPath(std::move(APath)) {}
    void Write(const void* AData, std::size_t ASize) override {
      std::vector<std::uint8_t>& bytes = FOwner.Files[FPath];
      if (FOwner.FailWrite && FOwner.FailWrite(FPath, bytes.size()))
        throw std::runtime_error("Cannot write file " + FPath + ".");
      const auto* data = static_cast<const std::uint8_t*>(AData);
      bytes.insert(bytes.end(), data, data + ASize);
    }
    void Skip(std::size_t ASize) override {
      FOwner.Files[FPath].resize(FOwner.Files[FPath].size() + ASize);
      FOwner.Skipped[FPath] += ASize;
    }
    void SetTimes(const TFileTimes& ATimes) override { FOwner.Times[FPath] = ATimes; }
    void Close() override {}

  private:
    const TMemoryFileSystem& FOwner;
    std::string FPath;
  };
};

} // namespace testsupport
