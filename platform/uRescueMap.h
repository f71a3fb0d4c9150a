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

private:
  std::vector<TByteRange> FFinished;
};

// An image read through its mapfile: bytes outside the finished areas fail
// as a bad sector does, so they become unread ranges and never data.
class TRescuedSource final : public IVolumeSource {
public:
  TRescuedSource(IVolumeSourcePtr AImage, TRescueMap AMap);

  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override;
  std::int64_t Size() override { return FImage->Size(); }
  const struct stat& UnderlyingFileIdentity() const override { return FImage->UnderlyingFileIdentity(); }
  // Everything between and after the finished areas.
  std::vector<TByteRange> KnownUnreadable() const override;
  void ExpectSequentialReads() override { FImage->ExpectSequentialReads(); }

private:
  IVolumeSourcePtr FImage;
  TRescueMap FMap;
};

// The mapfile to read an image with: the one chosen for it (--map, or with
// the image in the wizard), else IMAGE.map, IMAGE.mapfile or IMAGE.log
// beside it. None for an image without one.
std::optional<std::string> RescueMapOf(const std::string& AImage);
// Chooses AMap for the image AImage from now on; an empty AMap takes the
// choice back.
void ChooseRescueMap(const std::string& AImage, const std::string& AMap);
