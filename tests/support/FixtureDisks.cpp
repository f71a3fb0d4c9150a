#include "tests/support/FixtureDisks.h"

#include "tests/support/Command.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace testsupport {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kSector = 512;
constexpr std::uint64_t kAlignment = 2048;  // sectors: 1 MiB
constexpr std::size_t kFirstEntry = 0x1BE;
constexpr std::size_t kEntrySize = 16;
constexpr std::uint8_t kTypeNTFS = 0x07;
constexpr std::uint8_t kTypeExtended = 0x05;

using TSector = std::array<std::uint8_t, kSector>;

std::uint64_t SectorsOf(const std::string& AVolume) {
  return (fs::file_size(AVolume) + kSector - 1) / kSector;
}

std::uint64_t Aligned(std::uint64_t ASector) { return (ASector + kAlignment - 1) / kAlignment * kAlignment; }

// Only LBA fields: every reader of disks this size uses them, not CHS.
void PutEntry(TSector& ASector, int AIndex, std::uint8_t AType, std::uint64_t AStart, std::uint64_t ACount) {
  std::uint8_t* entry = ASector.data() + kFirstEntry + static_cast<std::size_t>(AIndex) * kEntrySize;
  entry[4] = AType;
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = static_cast<std::uint8_t>(AStart >> (8 * i));
    entry[12 + i] = static_cast<std::uint8_t>(ACount >> (8 * i));
  }
  ASector[510] = 0x55;
  ASector[511] = 0xAA;
}

void Copy(std::fstream& ADisk, std::uint64_t ASector, const std::string& AVolume) {
  std::ifstream in(AVolume, std::ios::binary);
  ADisk.seekp(static_cast<std::streamoff>(ASector * kSector));
  ADisk << in.rdbuf();
}

void PutSector(std::fstream& ADisk, std::uint64_t ASector, const TSector& ABytes) {
  ADisk.seekp(static_cast<std::streamoff>(ASector * kSector));
  ADisk.write(reinterpret_cast<const char*>(ABytes.data()), kSector);
}

std::fstream Created(const std::string& ADisk, std::uint64_t ASectors) {
  std::ofstream(ADisk, std::ios::binary | std::ios::trunc).close();
  fs::resize_file(ADisk, ASectors * kSector);
  std::fstream disk(ADisk, std::ios::in | std::ios::out | std::ios::binary);
  if (!disk)
    throw std::runtime_error("cannot write " + ADisk);
  return disk;
}

} // namespace

void MakeMbrDisk(const std::string& ADisk, const std::vector<std::string>& AVolumes) {
  if (AVolumes.empty())
    throw std::invalid_argument("a disk needs a volume");
  // Each logical partition sits one alignment step behind its EBR.
  std::vector<std::uint64_t> starts = {kAlignment};
  std::vector<std::uint64_t> records;
  std::uint64_t next = Aligned(kAlignment + SectorsOf(AVolumes[0]));
  const std::uint64_t extended = next;
  for (std::size_t i = 1; i < AVolumes.size(); ++i) {
    records.push_back(next);
    starts.push_back(next + kAlignment);
    next = Aligned(starts.back() + SectorsOf(AVolumes[i]));
  }
  std::fstream disk = Created(ADisk, next + kAlignment);
  TSector mbr{};
  PutEntry(mbr, 0, kTypeNTFS, starts[0], SectorsOf(AVolumes[0]));
  if (!records.empty())
    PutEntry(mbr, 1, kTypeExtended, extended, next - extended);
  PutSector(disk, 0, mbr);
  for (std::size_t i = 0; i < records.size(); ++i) {
    // An EBR gives its logical partition relative to itself and the next
    // EBR relative to the start of the extended partition.
    TSector ebr{};
    PutEntry(ebr, 0, kTypeNTFS, starts[i + 1] - records[i], SectorsOf(AVolumes[i + 1]));
    if (i + 1 < records.size())
      PutEntry(ebr, 1, kTypeExtended, records[i + 1] - extended, kAlignment + SectorsOf(AVolumes[i + 2]));
    PutSector(disk, records[i], ebr);
  }
  for (std::size_t i = 0; i < AVolumes.size(); ++i)
    Copy(disk, starts[i], AVolumes[i]);
}

bool MakeGptDisk(const std::string& ADisk, const std::vector<std::string>& AVolumes) {
  std::uint64_t end = kAlignment;
  std::vector<std::string> command = {"sgdisk", "-o"};
  std::vector<std::uint64_t> starts;
  for (std::size_t i = 0; i < AVolumes.size(); ++i) {
    starts.push_back(end);
    const std::uint64_t last = end + SectorsOf(AVolumes[i]) - 1;
    const std::string number = std::to_string(i + 1);
    command.insert(command.end(), {"-n", number + ":" + std::to_string(end) + ":" + std::to_string(last), "-t",
                                   number + ":0700"});
    end = Aligned(last + 1);
  }
  command.push_back(ADisk);
  // Room for the backup table at the end.
  Created(ADisk, end + kAlignment).close();
  if (RunCommand(command).ExitCode != 0)
    return false;
  std::fstream disk(ADisk, std::ios::in | std::ios::out | std::ios::binary);
  for (std::size_t i = 0; i < AVolumes.size(); ++i)
    Copy(disk, starts[i], AVolumes[i]);
  return true;
}

bool MakeManyVolumesDisk(const std::string& ADisk, int ACount, const std::string& ALast) {
  // Small enough to be quick, large enough for mkntfs.
  constexpr std::uintmax_t kVolumeBytes = 2 << 20;
  std::vector<std::string> volumes;
  bool made = true;
  for (int number = 1; made && number <= ACount; ++number) {
    if (number == ACount && !ALast.empty()) {
      volumes.push_back(ALast);
      break;
    }
    volumes.push_back(ADisk + ".part" + std::to_string(number));
    std::ofstream(volumes.back(), std::ios::binary | std::ios::trunc).close();
    fs::resize_file(volumes.back(), kVolumeBytes);
    const std::string label = "Part" + std::to_string(number);
    made = RunCommand({"mkntfs", "-F", "-f", "-q", "-L", label, volumes.back()}).ExitCode == 0;
  }
  made = made && MakeGptDisk(ADisk, volumes);
  for (const std::string& volume : volumes)
    if (volume != ALast)
      fs::remove(volume);
  return made;
}

} // namespace testsupport
