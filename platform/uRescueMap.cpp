#include "platform/uRescueMap.h"

#include "foundation/uDescriptor.h"
#include "ntfs/uFSError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <sstream>

namespace fs = std::filesystem;

namespace {

// ddrescue's block states: only "+" holds what was read from the disk;
// "?" non-tried, "*" non-trimmed, "/" non-scraped and "-" bad sector are
// zeros in the image.
constexpr char kFinished = '+';
constexpr char kStates[] = "?*/-+";
// The names ddrescue's users give a mapfile beside its image; ".log" is
// what ddrescue called it before version 1.20.
constexpr const char* kBesideSuffixes[] = {".map", ".mapfile", ".log"};
// A mapfile line takes about 40 bytes: this allows over a million areas,
// far more than ddrescue leaves on a failing disk.
constexpr std::int64_t kMaxMapfileBytes = 64 * 1024 * 1024;

[[noreturn]] void Malformed(const std::string& AName, int ALine, const std::string& AWhy) {
  throw NoDriveException("The mapfile \"" + AName + "\" is malformed at line " + std::to_string(ALine) + ": " +
                         AWhy + ".");
}

[[noreturn]] void Unreadable(const std::string& APath) {
  throw NoDriveException("The mapfile \"" + APath + "\" cannot be read: " + std::strerror(errno) + ".");
}

// A position or size as ddrescue writes them: "0x" hexadecimal, or decimal.
std::optional<std::int64_t> Number(const std::string& AText) {
  if (AText.empty() || AText[0] == '-' || AText[0] == '+')
    return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(AText.c_str(), &end, 0);
  if (errno != 0 || end != AText.c_str() + AText.size())
    return std::nullopt;
  return value;
}

} // namespace

TRescueMap TRescueMap::Load(const std::string& APath) {
  // Non-blocking, so that a named pipe given as the mapfile is refused
  // below instead of waiting for a writer.
  const TDescriptor file(::open(APath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (file.Get() < 0)
    Unreadable(APath);
  TSourcePiece piece{APath, {}};
  if (::fstat(file.Get(), &piece.Identity) != 0)
    Unreadable(APath);
  if (!S_ISREG(piece.Identity.st_mode))
    throw NoDriveException("The mapfile \"" + APath + "\" is not a file: a mapfile is the text file ddrescue writes.");
  if (piece.Identity.st_size > kMaxMapfileBytes)
    throw NoDriveException("The mapfile \"" + APath + "\" holds " + std::to_string(piece.Identity.st_size) +
                           " bytes, more than a mapfile of any disk does (at most " +
                           std::to_string(kMaxMapfileBytes) + ").");
  std::string text(static_cast<std::size_t>(piece.Identity.st_size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const ssize_t read = ::read(file.Get(), text.data() + got, text.size() - got);
    if (read < 0 && errno == EINTR)
      continue;
    if (read < 0)
      Unreadable(APath);
    if (read == 0)
      break;
    got += static_cast<std::size_t>(read);
  }
  text.resize(got);
  TRescueMap map = Parse(text, APath);
  map.FFile = std::move(piece);
  return map;
}

TRescueMap TRescueMap::Parse(const std::string& AText, const std::string& AName) {
  TRescueMap map;
  std::istringstream lines(AText);
  bool statusSeen = false;
  std::int64_t end = 0;
  int number = 0;
  for (std::string line; std::getline(lines, line);) {
    ++number;
    std::istringstream words(line.substr(0, line.find('#')));
    std::vector<std::string> fields{std::istream_iterator<std::string>(words), {}};
    if (fields.empty())
      continue;
    // The first line gives where ddrescue stood: position, state and, since
    // version 1.21, the pass.
    if (!statusSeen) {
      if (fields.size() < 2 || fields.size() > 3 || !Number(fields[0]))
        Malformed(AName, number, "expected the current position and status");
      statusSeen = true;
      continue;
    }
    if (fields.size() != 3)
      Malformed(AName, number, "expected a position, a size and a status");
    const std::optional<std::int64_t> pos = Number(fields[0]);
    const std::optional<std::int64_t> size = Number(fields[1]);
    if (!pos || !size || *size <= 0)
      Malformed(AName, number, "\"" + fields[0] + " " + fields[1] + "\" is no position and size");
    if (fields[2].size() != 1 || std::strchr(kStates, fields[2][0]) == nullptr)
      Malformed(AName, number, "\"" + fields[2] + "\" is no block status");
    if (*pos < end)
      Malformed(AName, number, "the block starts before the end of the one above it");
    if (*size > std::numeric_limits<std::int64_t>::max() - *pos)
      Malformed(AName, number, "the block ends beyond the largest position");
    end = *pos + *size;
    if (fields[2][0] != kFinished)
      continue;
    if (!map.FFinished.empty() && map.FFinished.back().Offset + map.FFinished.back().Length == *pos)
      map.FFinished.back().Length += *size;
    else
      map.FFinished.push_back({*pos, *size});
  }
  if (!statusSeen)
    Malformed(AName, number, "no status line; this is not a ddrescue mapfile");
  return map;
}

TRescuedSource::TRescuedSource(IVolumeSourcePtr AImage, TRescueMap AMap)
    : FImage(std::move(AImage)), FMap(std::move(AMap)) {}

std::vector<TByteRange> TRescuedSource::KnownUnreadable() const {
  std::vector<TByteRange> gaps;
  std::int64_t position = 0;
  for (const TByteRange& area : FMap.Finished()) {
    if (area.Offset > position)
      gaps.push_back({position, area.Offset - position});
    position = area.Offset + area.Length;
  }
  if (const std::int64_t size = FImage->Size(); size > position)
    gaps.push_back({position, size - position});
  return gaps;
}

std::int64_t TRescuedSource::ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) {
  const std::vector<TByteRange>& finished = FMap.Finished();
  // The first finished area that ends after APos.
  const auto area = std::upper_bound(finished.begin(), finished.end(), APos,
                                     [](std::int64_t APosition, const TByteRange& ARange) {
                                       return APosition < ARange.Offset + ARange.Length;
                                     });
  if (area == finished.end() || APos < area->Offset)
    return -1;
  return FImage->ReadAt(APos, ADest, std::min(ASize, area->Offset + area->Length - APos));
}

std::vector<TSourcePiece> TRescuedSource::Pieces() const {
  std::vector<TSourcePiece> pieces = FImage->Pieces();
  if (FMap.File())
    pieces.push_back(*FMap.File());
  return pieces;
}

std::optional<TRescueMap> RescueMapBeside(const std::string& AImage, std::vector<std::string>& AIgnored) {
  for (const char* suffix : kBesideSuffixes) {
    const std::string candidate = AImage + suffix;
    std::error_code error;
    if (!fs::is_regular_file(candidate, error))
      continue;
    try {
      return TRescueMap::Load(candidate);
    } catch (const NoDriveException& notAMap) {
      AIgnored.push_back("The file \"" + candidate + "\" beside the image is not read as its mapfile. " +
                         notAMap.what());
    }
  }
  return std::nullopt;
}
