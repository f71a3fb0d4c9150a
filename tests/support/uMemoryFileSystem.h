#pragma once

// A target file system held in memory, for recoveries that must not touch
// the disk (fuzzing) or whose writes a test wants to break: files are kept
// by full path, free space is what the test says, and creating or writing a
// chosen file can be made to fail.

#include "platform/uFileSystem.h"

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
  ITargetFolderPtr OpenTargetFolder(const std::string& APath, const TSourceIdentity&) const override {
    std::string root = APath;
    while (root.size() > 1 && root.ends_with('/'))
      root.pop_back();
    Folders.insert(root);
    return std::make_unique<TFolder>(*this, APath, root);
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
  // Extended attributes by name, per file.
  mutable std::map<std::string, std::map<std::string, std::string>> Xattrs;

private:
  // Paths below the root are kept whole; an entry's inode is its place in
  // a list of every path ever made, so each file and folder is one of its own.
  class TFolder final : public ITargetFolder {
  public:
    TFolder(const TMemoryFileSystem& AOwner, std::string APath, std::string ARoot)
        : FOwner(AOwner), FPath(std::move(APath)), FRoot(std::move(ARoot)) {}
    const std::string& Path() const override { return FPath; }
    TTargetEntry Entry(const std::string& ARelative) const override {
      const std::string path = FullPath(ARelative);
      if (FOwner.Files.contains(path))
        return {TEntryKind::ekFile, 1, InodeOf(path)};
      if (FOwner.Folders.contains(path))
        return {TEntryKind::ekFolder, 1, InodeOf(path)};
      return {};
    }
    TTargetEntry CreateFolder(const std::string& ARelative) override {
      const std::string path = FullPath(ARelative);
      if (FOwner.Files.contains(path))
        throw std::runtime_error("Cannot create folder " + path + ".");
      FOwner.Folders.insert(path);
      return {TEntryKind::ekFolder, 1, InodeOf(path)};
    }
    IOutputFilePtr CreateFile(const std::string& ARelative, bool AReplace, TTargetEntry& ACreated) override {
      const std::string path = FullPath(ARelative);
      FOwner.Created.push_back(path);
      if ((FOwner.FailCreate && FOwner.FailCreate(path)) || FOwner.Folders.contains(path) ||
          (!AReplace && FOwner.Files.contains(path)))
        throw std::runtime_error("Cannot create file " + path + ".");
      FOwner.Files[path].clear();
      FOwner.Times.erase(path);
      FOwner.Skipped.erase(path);
      ACreated = {TEntryKind::ekFile, 1, InodeOf(path)};
      return std::make_unique<TFile>(FOwner, path);
    }
    bool SetFolderTimes(const std::string& ARelative, const TFileTimes& ATimes) override {
      FOwner.FolderTimes.emplace_back(FullPath(ARelative), ATimes);
      return true;
    }

  private:
    std::string FullPath(const std::string& ARelative) const { return FRoot + '/' + ARelative; }
    ino_t InodeOf(const std::string& APath) const {
      const auto [place, added] = FInodes.emplace(APath, FInodes.size() + 1);
      return place->second;
    }

    const TMemoryFileSystem& FOwner;
    std::string FPath;
    std::string FRoot;
    mutable std::map<std::string, ino_t> FInodes;
  };

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
    bool SetTimes(const TFileTimes& ATimes) override {
      FOwner.Times[FPath] = ATimes;
      return true;
    }
    TXattrOutcome SetExtendedAttribute(const std::string& AName, std::string_view AValue) override {
      FOwner.Xattrs[FPath][AName] = std::string(AValue);
      return TXattrOutcome::xoSet;
    }
    void Close() override {}

  private:
    const TMemoryFileSystem& FOwner;
    std::string FPath;
  };
};

} // namespace testsupport
