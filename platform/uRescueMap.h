#pragma once

#include "ntfs/uUnreadRanges.h"
#include "ntfs/uVolumeSource.h"

#include <optional>
#include <string>
#include <vector>

// GNU ddrescue's mapfile: which areas of a rescued image hold the disk's
// bytes ("+", finished) and which ddrescue could not read or never tried
// (zeros in the image, not data).
class TRescueMap {
public:
  // Reads the mapfile at APath. Raises NoDriveException naming the file and
  // the line when it cannot be read or is not a mapfile.
  static TRescueMap Load(const std::string& APath);
  // The same from a mapfile's text; AName names it in messages.
  static TRescueMap Parse(const std::string& AText, const std::string& AName);

  // The finished areas, in order, none touching another.
  const std::vector<TByteRange>& Finished() const { return FFinished; }
  // The mapfile it was loaded from; none for one parsed from a text.
  const std::optional<TSourcePiece>& File() const { return FFile; }

private:
  std::vector<TByteRange> FFinished;
  std::optional<TSourcePiece> FFile;
};

// An image read through its mapfile: bytes outside the finished areas fail
// as a bad sector does, so they become unread ranges and never data.
class TRescuedSource final : public IVolumeSource {
public:
  TRescuedSource(IVolumeSourcePtr AImage, TRescueMap AMap);

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override;
  std::int64_t Size() override { return FImage->Size(); }
  // The image's and the mapfile's.
  std::vector<TSourcePiece> Pieces() const override;
  // Everything between and after the finished areas.
  std::vector<TByteRange> KnownUnreadable() const override;
  void ExpectSequentialReads() override { FImage->ExpectSequentialReads(); }

private:
  IVolumeSourcePtr FImage;
  TRescueMap FMap;
};

// The mapfile beside the image AImage (IMAGE.map, IMAGE.mapfile or
// IMAGE.log) that reads as one. A file of those names that does not (a log
// of anything) is named in AIgnored with the reason, and passed over.
std::optional<TRescueMap> RescueMapBeside(const std::string& AImage, std::vector<std::string>& AIgnored);
