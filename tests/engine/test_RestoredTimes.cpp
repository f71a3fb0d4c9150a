// Restored files and folders take the modification and access times of
// their records, each one when it was set, over the whole NTFS range
// (1601 to 30828) where the target's file system holds it; a time it cannot
// hold is counted once for the whole restore. Hand-made records, as no tool
// writes such times on a real volume; real targets, some mounted for the
// test (root only), as only a real file system shows what it keeps.

#include "EngineHarness.h"

#include "HandMadeRecords.h"
#include "tests/support/Command.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using enginetest::EngineTest;
using handmade::FileNameContent;
using handmade::TBytes;
using handmade::TRecordBuilder;

constexpr std::int64_t kRoot = 5;
constexpr std::int64_t kFolder = 30;
constexpr std::uint8_t kWin32 = 1;

// A file time with the Unix time it stands for.
struct TTime {
  std::int64_t FileTime;
  std::int64_t Seconds;
  long Nanoseconds;
};
constexpr TTime kNever = {0, 0, 0};
constexpr TTime k1601 = {1, -11644473600, 100};
constexpr TTime k1969 = {116302906600000005, -14182940, 500};
constexpr TTime k1975 = {118022400000000000, 157766400, 0};
constexpr TTime k2021 = {132670224000000000, 1622548800, 0};
constexpr TTime k2262 = {208678464000000000, 9223372800, 0};
constexpr TTime k30828 = {0x7FFFFFFFFFFFFFFF, 910692730085, 477580700};

struct TDatedFile {
  std::string Name;
  TTime Modified;
  TTime Accessed;
};

// Times every Linux file system tests run on holds (ext4, tmpfs, btrfs and
// XFS all reach back to 1901).
const std::vector<TDatedFile> kCommonTimes = {
    {"both.txt", k1975, k2021},
    {"modified-only.txt", k2021, kNever},
    {"accessed-only.txt", kNever, k1975},
    {"before-1970.txt", k1969, k1969},
};
// Times beyond what many file systems hold.
const std::vector<TDatedFile> kRareTimes = {
    {"1601.txt", k1601, k1601},
    {"2262.txt", k2262, k2262},
    {"30828.txt", k30828, k30828},
};

TBytes StandardInformation(std::int64_t AModified, std::int64_t AAccessed, std::uint32_t AAttributes) {
  TBytes content = handmade::StandardInformationContent(k1975.FileTime, AAttributes);
  handmade::PutLE(content, 8, static_cast<std::uint64_t>(AModified), 8);
  handmade::PutLE(content, 24, static_cast<std::uint64_t>(AAccessed), 8);
  return content;
}

handmade::TVolumeImage DatedVolume() {
  handmade::TVolumeImage image;
  auto folder = [](std::int64_t AParent, const std::u16string& AName) {
    return TRecordBuilder()
        .Directory()
        .Resident(0x10, StandardInformation(k1975.FileTime, k1975.FileTime, 0x10), 0)
        .Resident(0x30, FileNameContent(AParent, AName, kWin32), 1)
        .Build();
  };
  image.Records[kRoot] = folder(kRoot, u".");
  image.Records[kFolder] = folder(kRoot, u"dated");
  std::int64_t record = kFolder + 1;
  for (const std::vector<TDatedFile>* files : {&kCommonTimes, &kRareTimes})
    for (const TDatedFile& file : *files)
      image.Records[record++] =
          TRecordBuilder()
              .InUse(false)
              .Resident(0x10, StandardInformation(file.Modified.FileTime, file.Accessed.FileTime, 0x20), 0)
              .Resident(0x30, FileNameContent(kFolder, std::u16string(file.Name.begin(), file.Name.end()), kWin32), 1)
              .Resident(0x80, TBytes{'x'}, 2)
              .Build();
  return image;
}

// What the target keeps of a time: ext4 with 128-byte inodes keeps whole
// seconds only.
enum class TGrain { Nanoseconds, Seconds };

bool Holds(const timespec& AStored, const TTime& AGiven, TGrain AGrain = TGrain::Nanoseconds) {
  return AStored.tv_sec == AGiven.Seconds && (AGrain == TGrain::Seconds || AStored.tv_nsec == AGiven.Nanoseconds);
}

class RestoredTimesTest : public EngineTest {
protected:
  void SetUp() override {
    FImage = std::make_unique<handmade::TTempFile>("tarnwick-times");
    DatedVolume().WriteTo(FImage->Path());
  }

  // Restores everything into ATarget; the time the restore began.
  std::int64_t RestoreInto(const fs::path& ATarget) {
    Scan(FImage->Path());
    Context.CheckAll(Context.TreeItems(), true);
    Context.SetTargetDir(FromNativePath(ATarget.string()));
    const std::int64_t began = ::time(nullptr);
    Context.ProcessRecover();
    return began;
  }

  static struct stat StatOf(const fs::path& APath) {
    struct stat info {};
    EXPECT_EQ(::stat(APath.c_str(), &info), 0) << APath;
    return info;
  }

  // A time not set on the source leaves the time the file was written.
  static void ExpectTime(const timespec& AStored, const TTime& AGiven, std::int64_t ABegan, TGrain AGrain,
                         const std::string& AWhat) {
    if (AGiven.FileTime == 0)
      EXPECT_GE(AStored.tv_sec, ABegan) << AWhat;
    else
      EXPECT_TRUE(Holds(AStored, AGiven, AGrain))
          << AWhat << ": " << AStored.tv_sec << "." << AStored.tv_nsec << " instead of " << AGiven.Seconds;
  }

  void ExpectCommonTimes(const fs::path& ATarget, std::int64_t ABegan, TGrain AGrain = TGrain::Nanoseconds) {
    for (const TDatedFile& file : kCommonTimes) {
      const struct stat info = StatOf(ATarget / "dated" / file.Name);
      ExpectTime(info.st_mtim, file.Modified, ABegan, AGrain, file.Name + " modified");
      ExpectTime(info.st_atim, file.Accessed, ABegan, AGrain, file.Name + " accessed");
    }
    // The folder after its files were written into it.
    EXPECT_TRUE(Holds(StatOf(ATarget / "dated").st_mtim, k1975));
  }

  // The one line that counts the times the target could not hold, if any.
  std::vector<std::string> TimesWarnings() const {
    std::vector<std::string> lines;
    for (const std::string& line : Progress->Details())
      if (line.starts_with("Times that the target"))
        lines.push_back(line);
    return lines;
  }

  static std::vector<std::string> CountLine(int ACount) {
    if (ACount == 0)
      return {};
    return {"Times that the target folder's file system cannot hold were not restored: " + std::to_string(ACount) +
            " files and folders."};
  }

  std::unique_ptr<handmade::TTempFile> FImage;
  testfiles::TTempFolder FTarget;
};

// Whatever the file system of the test's temp folder holds of the rare
// times, the count names exactly the files that read back otherwise.
TEST_F(RestoredTimesTest, EachValidTimeIsSetOnItsOwnAndTheRestAreCounted) {
  const fs::path target = FTarget / "out";
  const std::int64_t began = RestoreInto(target);
  ExpectCommonTimes(target, began);
  int notHeld = 0;
  for (const TDatedFile& file : kRareTimes) {
    const struct stat info = StatOf(target / "dated" / file.Name);
    notHeld += !Holds(info.st_mtim, file.Modified) || !Holds(info.st_atim, file.Accessed);
  }
  EXPECT_EQ(TimesWarnings(), CountLine(notHeld));
}

TEST_F(RestoredTimesTest, WithoutTimesNothingIsSetOrCounted) {
  Context.SetRestoreTimes(false);
  const fs::path target = FTarget / "out";
  const std::int64_t began = RestoreInto(target);
  for (const TDatedFile& file : kRareTimes)
    EXPECT_GE(StatOf(target / "dated" / file.Name).st_mtim.tv_sec, began) << file.Name;
  EXPECT_THAT(TimesWarnings(), ::testing::IsEmpty());
}

// A file system made and mounted for the test, below its temp folder.
class MountedTargetTest : public RestoredTimesTest {
protected:
  void SetUp() override {
    if (::geteuid() != 0)
      GTEST_SKIP() << "mounting a file system for the target needs root";
    RestoredTimesTest::SetUp();
    fs::create_directories(FMount);
  }
  void TearDown() override {
    if (FMounted)
      testsupport::RunCommand({"umount", FMount.string()});
    if (!IsSkipped())
      RestoredTimesTest::TearDown();
  }

  bool Mount(const std::vector<std::string>& AMountCommand) {
    FMounted = testsupport::RunCommand(AMountCommand).ExitCode == 0;
    return FMounted;
  }

  fs::path FMount = FTarget / "mnt";
  bool FMounted = false;
};

// tmpfs keeps 64-bit seconds and nanoseconds: every NTFS time fits.
TEST_F(MountedTargetTest, AFileSystemWithSixtyFourBitTimesTakesTheWholeRange) {
  if (!Mount({"mount", "-t", "tmpfs", "tarnwick-times", FMount.string()}))
    GTEST_SKIP() << "tmpfs cannot be mounted here";
  const std::int64_t began = RestoreInto(FMount);
  ExpectCommonTimes(FMount, began);
  for (const TDatedFile& file : kRareTimes) {
    const struct stat info = StatOf(FMount / "dated" / file.Name);
    EXPECT_TRUE(Holds(info.st_mtim, file.Modified)) << file.Name;
    EXPECT_TRUE(Holds(info.st_atim, file.Accessed)) << file.Name;
  }
  EXPECT_THAT(TimesWarnings(), ::testing::IsEmpty());
}

// ext4 with 128-byte inodes holds 1901 to 2038 in whole seconds and stores
// any other time as the nearest it can hold, without an error.
TEST_F(MountedTargetTest, TimesAFileSystemMovesIntoItsRangeAreCountedOnce) {
  const fs::path image = FTarget / "ext4.img";
  std::ofstream(image).close();
  fs::resize_file(image, 8 << 20);
  if (testsupport::RunCommand({"mkfs.ext4", "-q", "-F", "-I", "128", image.string()}).ExitCode != 0 ||
      !Mount({"mount", "-o", "loop", image.string(), FMount.string()}))
    GTEST_SKIP() << "no ext4 with 128-byte inodes on a loop device here";
  const std::int64_t began = RestoreInto(FMount);
  ExpectCommonTimes(FMount, began, TGrain::Seconds);
  for (const TDatedFile& file : kRareTimes)
    EXPECT_FALSE(Holds(StatOf(FMount / "dated" / file.Name).st_mtim, file.Modified, TGrain::Seconds)) << file.Name;
  EXPECT_EQ(TimesWarnings(), CountLine(static_cast<int>(kRareTimes.size())));
}

} // namespace
