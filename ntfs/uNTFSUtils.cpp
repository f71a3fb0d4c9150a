#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <ctime>

namespace {

constexpr std::size_t UsaWordSize = 2;

// What NTFS itself writes over a record whose multi-sector check failed;
// readers take it as "not a FILE record".
constexpr char BadRecordIdentifier[4] = {'B', 'A', 'A', 'D'};

constexpr double SecondsPerDay = 86400.0;

constexpr std::int64_t NanosecondsPerFileTimeTick = 1000000000 / FileTimeTicksPerSecond;
static_assert(sizeof(std::time_t) >= 8, "file times up to the year 30828 need a 64-bit time_t");

struct TAttributeCode {
  std::uint32_t Bit;
  const char16_t* Code;
};

constexpr TAttributeCode AttributeCodes[] = {
    {0x0001, u"RO "},   {0x0002, u"HI "},   {0x0004, u"SYS "},  {0x0010, u"DIR "},
    {0x0020, u"ARC "},  {0x0040, u"DEV "},  {0x0080, u"NORM "}, {0x0100, u"TMP "},
    {0x0200, u"SPS "},  {0x0400, u"RPS "},  {0x0800, u"COMP "}, {0x1000, u"OFF "},
    {0x2000, u"NIDX "}, {0x4000, u"ENC "},
};

// Days from 1 January 1970 to the given date of the proleptic Gregorian
// calendar.
std::int64_t DaysFromCivil(std::int64_t AYear, unsigned AMonth, unsigned ADay) {
  AYear -= AMonth <= 2 ? 1 : 0;
  const std::int64_t era = (AYear >= 0 ? AYear : AYear - 399) / 400;
  const auto yearOfEra = static_cast<unsigned>(AYear - era * 400);
  const unsigned dayOfYear = (153 * (AMonth > 2 ? AMonth - 3 : AMonth + 9) + 2) / 5 + ADay - 1;
  const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

} // namespace

std::uint32_t NTFSUtils::GetMFTRecord(PNTFSVolume AVolume, MFT_REF AMFTNumber, void* ADest,
                                      std::vector<std::uint32_t>* ATornSectors) {
  auto* dest = static_cast<std::uint8_t*>(ADest);
  const std::uint32_t size = AVolume->MFTRecordSize;
  std::int64_t delivered = 0;
  const auto pos = CheckedMul<std::int64_t>(AMFTNumber.Address(), size);
  if (pos && AVolume->MFTDataStream)
    delivered = std::max<std::int64_t>(0, AVolume->MFTDataStream->Read(*pos, size, dest));
  // A record the stream does not deliver must not keep a previous record's bytes.
  if (delivered < size)
    std::memset(dest + delivered, 0, size - static_cast<std::size_t>(delivered));
  FixupRecord(dest, size, ATornSectors);
  return size;
}

void NTFSUtils::FixupRecord(void* ARecord, std::uint32_t ASize, std::vector<std::uint32_t>* ATornSectors) {
  auto* record = static_cast<std::uint8_t*>(ARecord);
  const std::uint16_t usaOffset = PMFTRecord(TByteView(record, ASize)).UsaOffset();
  if (!FixupSectorEnds(record, ASize, usaOffset, ATornSectors) && ASize >= sizeof(BadRecordIdentifier))
    std::memcpy(record + MFTRecordField::Identifier, BadRecordIdentifier, sizeof(BadRecordIdentifier));
}

bool NTFSUtils::FixupSectorEnds(void* AData, std::uint32_t ADataSize, std::uint16_t AUsaOffset,
                                std::vector<std::uint32_t>* ATornSectors) {
  auto* data = static_cast<std::uint8_t*>(AData);
  const std::uint32_t blocks = ADataSize / FixupStride;
  if (ATornSectors != nullptr)
    ATornSectors->clear();
  // The update sequence number, then one word per block.
  if (!TByteView(data, ADataSize).Contains(AUsaOffset, UsaWordSize * (1 + std::size_t{blocks})))
    return false;
  for (std::uint32_t i = 1; i <= blocks; ++i) {
    std::uint8_t* sectorEnd = data + i * FixupStride - UsaWordSize;
    if (ATornSectors != nullptr && std::memcmp(sectorEnd, data + AUsaOffset, UsaWordSize) != 0)
      ATornSectors->push_back(i - 1);
    std::memmove(sectorEnd, data + AUsaOffset + i * UsaWordSize, UsaWordSize);
  }
  return true;
}

std::uint8_t NTFSUtils::GetSizeBits(std::int64_t ASize) {
  if (ASize == 0)
    return 0;
  return static_cast<std::uint8_t>(std::countr_zero(static_cast<std::uint64_t>(ASize)));
}

std::u16string NTFSUtils::GetFileName(const PMFTFilenameAttribute& AFileNameAttribute) {
  const TByteView name =
      AFileNameAttribute.Bytes().Sub(FileNameField::Name, std::size_t{AFileNameAttribute.NameLength()} * 2);
  std::u16string result(name.Size() / 2, u'\0');
  for (std::size_t i = 0; i < result.size(); ++i)
    result[i] = static_cast<char16_t>(name.Get<std::uint16_t>(2 * i));
  return result;
}

// The integer part counts days from 30 December 1899 and the fraction is the
// time of day; before that date the fraction is subtracted, so that the
// integer part is still the date.
TDateTime NTFSUtils::Int64TimeToDateTime(std::int64_t AFileTime) {
  const std::int64_t fileTime = std::max<std::int64_t>(AFileTime, 0);
  const std::time_t utcSeconds =
      static_cast<std::time_t>(fileTime / FileTimeTicksPerSecond - SecondsFrom1601To1970);
  std::tm local{};
  if (localtime_r(&utcSeconds, &local) == nullptr)
    return 0.0;
  const std::int64_t days = DaysFromCivil(std::int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday)) -
                            DaysFromCivil(1899, 12, 30);
  const double seconds = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec +
                         static_cast<double>(fileTime % FileTimeTicksPerSecond) / FileTimeTicksPerSecond;
  const double dayFraction = seconds / SecondsPerDay;
  return days >= 0 ? static_cast<double>(days) + dayFraction : static_cast<double>(days) - dayFraction;
}

std::optional<std::timespec> NTFSUtils::Int64TimeToUnixTime(std::int64_t AFileTime) {
  if (AFileTime <= 0)
    return std::nullopt;
  // Seconds and ticks apart: the whole span in nanoseconds would overflow
  // 64 bits before 1678 and after 2262. Both operands are positive, so the
  // difference cannot overflow.
  const std::int64_t ticks = AFileTime - FileTimeOfUnixEpoch;
  std::int64_t seconds = ticks / FileTimeTicksPerSecond;
  std::int64_t rest = ticks % FileTimeTicksPerSecond;
  if (rest < 0) {
    --seconds;
    rest += FileTimeTicksPerSecond;
  }
  return std::timespec{static_cast<std::time_t>(seconds), static_cast<long>(rest * NanosecondsPerFileTimeTick)};
}

std::u16string NTFSUtils::FileAttributesToString(std::uint32_t AAttributes) {
  std::u16string result;
  for (const TAttributeCode& code : AttributeCodes)
    if ((AAttributes & code.Bit) != 0)
      result += code.Code;
  return result;
}
