#pragma once

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSVolume.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

// Days since 30 December 1899 with the time of day as the fraction.
using TDateTime = double;

// NTFS file times count 100-nanosecond ticks from 1 January 1601, UTC.
constexpr std::int64_t FileTimeTicksPerSecond = 10000000;
// Unix time starts on 1 January 1970: 369 years, 89 of them leap years,
// after the first file time.
constexpr std::int64_t SecondsFrom1601To1970 = 11644473600;
constexpr std::int64_t FileTimeOfUnixEpoch = SecondsFrom1601To1970 * FileTimeTicksPerSecond;

class NTFSUtils {
public:
  NTFSUtils() = delete;

  // Reads record AMFTNumber of the MFT into ADest (MFTRecordSize bytes) and
  // applies the update-sequence fix-up; returns MFTRecordSize. Bytes the MFT
  // stream does not deliver read as zeros, and a record whose fix-up does
  // not fit in it reads as not a FILE record. ATornSectors, when given,
  // receives the torn sectors FixupSectorEnds found.
  static std::uint32_t GetMFTRecord(PNTFSVolume AVolume, MFT_REF AMFTNumber, void* ADest,
                                    std::vector<std::uint32_t>* ATornSectors = nullptr);

  // Applies the fix-up to a record of ASize bytes as read from the MFT; a
  // record whose fix-up does not fit in it becomes not a FILE record.
  // ATornSectors as for FixupSectorEnds.
  static void FixupRecord(void* ARecord, std::uint32_t ASize, std::vector<std::uint32_t>* ATornSectors = nullptr);
  // Puts the true values from the update sequence array at AUsaOffset back
  // into the last word of every 512-byte sector of the record. Returns False
  // and changes nothing when the array does not fit in the record. A sector
  // whose last word is not the update sequence number was not written
  // together with the others (the write was torn): its number, from 0, goes
  // to ATornSectors when given, and its word is put back all the same.
  static bool FixupSectorEnds(void* AData, std::uint32_t ADataSize, std::uint16_t AUsaOffset,
                              std::vector<std::uint32_t>* ATornSectors = nullptr);
  // The bytes each update sequence word protects: Windows and ntfs-3g put
  // one word on every 512 bytes of a record, whatever the sector size, so
  // a 4,096-byte record on 4,096-byte sectors carries nine words, not two.
  static constexpr std::uint32_t FixupStride = 512;

  // The number of zero bits below the lowest set bit; 0 for 0.
  static std::uint8_t GetSizeBits(std::int64_t ASize);

  // The stored name, exactly its UTF-16 code units, unconverted.
  static std::u16string GetFileName(const PMFTFilenameAttribute& AFileNameAttribute);
  // A file time as local date and time, with the daylight saving rules of
  // that date. Times the calendar cannot hold (negative values) give the
  // date of file time 0.
  static TDateTime Int64TimeToDateTime(std::int64_t AFileTime);
  // A file time as seconds and nanoseconds since 1 January 1970, UTC: the
  // seconds negative before it, the nanoseconds from 0 to 999,999,999.
  // Nothing for 0, a time never set, and for negative values, which no
  // NTFS writer stores. Every other file time fits: the last one, in the
  // year 30828, lies about 9.1e11 seconds after 1970.
  static std::optional<std::timespec> Int64TimeToUnixTime(std::int64_t AFileTime);
  // The short codes of the attribute bits set, each followed by one blank.
  static std::u16string FileAttributesToString(std::uint32_t AAttributes);
};
