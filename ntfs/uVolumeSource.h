#pragma once

#include "foundation/uDescriptor.h"
#include "ntfs/uUnreadRanges.h"

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One file or block device a source reads its bytes from, as it was when
// the source opened it.
struct TSourcePiece {
  std::string Path;
  struct stat Identity {}; // st_dev/st_ino of a file, st_rdev of a device
};

// Where a volume's bytes come from, read-only: a block device or image file
// opened here, a partition inside one, a container read through its library.
// The volume is handed its source; nothing in the process decides it behind
// the volume's back.
class IVolumeSource {
public:
  virtual ~IVolumeSource() = default;
  // Up to ASize bytes at APos: 0 at the end, -1 where the source cannot
  // deliver them (a bad sector, an area a rescue never read). A count below
  // ASize means the bytes after it would fail or lie past the end.
  virtual std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) = 0;
  // Length in bytes; 0 when the source cannot tell.
  virtual std::int64_t Size() = 0;
  // Every file and block device the bytes come from (the image or device,
  // a container's segment and extent files, a rescue's mapfile), so that a
  // restore can refuse to write into any of them by another path.
  virtual std::vector<TSourcePiece> Pieces() const = 0;
  // The byte ranges known before any read to be undeliverable (the areas a
  // rescue never read), in order; none for a source that cannot tell.
  virtual std::vector<TByteRange> KnownUnreadable() const { return {}; }
  // Says that a long run of reads in order of position comes, so that the
  // system may read further ahead. ReadAt may be called from two threads
  // at once: the MFT's reader and the one that parses it.
  virtual void ExpectSequentialReads() {}
};
using IVolumeSourcePtr = std::shared_ptr<IVolumeSource>;

// A block device or image file, opened read-only and shared: other programs
// stay free to read and write it (no O_EXCL, which would lock out a mounted
// file system).
class TFileSource final : public IVolumeSource {
public:
  // Raises NoDriveException saying in one line why APath cannot be read: it
  // does not exist, permission is denied (with the ways out), it is a folder
  // or some other thing than a file or a block device.
  static IVolumeSourcePtr Open(const std::string& APath);
  // Takes over AHandle, opened read-only by someone else for APath (udisks2
  // for a desktop user); closes it and raises NoDriveException when it is
  // no file or block device.
  static IVolumeSourcePtr Adopt(int AHandle, const std::string& APath);
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override;
  std::int64_t Size() override;
  std::vector<TSourcePiece> Pieces() const override { return {FPiece}; }
  void ExpectSequentialReads() override;
  // The open descriptor, for probes that read through one.
  int Descriptor() const { return FHandle.Get(); }

private:
  TFileSource(TDescriptor AHandle, TSourcePiece APiece) : FHandle(std::move(AHandle)), FPiece(std::move(APiece)) {}

  TDescriptor FHandle;
  TSourcePiece FPiece;
};

// The bytes [AOffset, AOffset + ALength) of another source, seen as a source
// that starts at 0: a partition. Nothing outside the window is ever read.
class TSliceSource final : public IVolumeSource {
public:
  TSliceSource(IVolumeSourcePtr ASource, std::int64_t AOffset, std::int64_t ALength);

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override;
  std::int64_t Size() override { return FLength; }
  std::vector<TSourcePiece> Pieces() const override { return FSource->Pieces(); }
  // The underlying source's ranges that fall into the slice, as the slice
  // counts its bytes, and the slice's bytes past the source's end.
  std::vector<TByteRange> KnownUnreadable() const override;
  void ExpectSequentialReads() override { FSource->ExpectSequentialReads(); }

private:
  IVolumeSourcePtr FSource;
  std::int64_t FOffset;
  std::int64_t FLength;
};
