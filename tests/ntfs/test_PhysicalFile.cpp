#include "ntfs/uPhysicalFile.h"

#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
#include "tests/support/uMemoryDevice.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cinttypes>
#include <fstream>
#include <sstream>

namespace {

using ::testing::ElementsAre;
using ::testing::Pair;
using testfiles::PatternBytes;

constexpr std::int64_t kImageSize = 200000;
constexpr std::int64_t kWindow = TPhysicalFile::kCacheSize;

// An image opened for real, with every read of it written down.
class TRecordingSource final : public IVolumeSource {
public:
  explicit TRecordingSource(const std::string& APath) : FReal(TFileSource::Open(APath)) {}
  std::int64_t ReadAt(std::int64_t APos, void* ADest, std::int64_t ASize) override {
    Reads.emplace_back(APos, ASize);
    if (FailAfter >= 0 && static_cast<int>(Reads.size()) > FailAfter)
      return -1;
    if (APos + ASize > Bad.Offset && APos < Bad.Offset + Bad.Length) {
      if (FailWholeRead || APos >= Bad.Offset)
        return -1;
      ASize = Bad.Offset - APos;
    }
    return FReal->ReadAt(APos, ADest, ASize);
  }
  std::int64_t Size() override { return FReal->Size(); }
  std::vector<TSourcePiece> Pieces() const override { return FReal->Pieces(); }

  std::vector<std::pair<std::int64_t, std::int64_t>> Reads;
  int FailAfter = -1;  // reads beyond this many fail, when not negative
  // Reads that touch these bytes fail; one that starts before them
  // delivers the bytes up to them, unless FailWholeRead.
  TByteRange Bad;
  bool FailWholeRead = false;

private:
  IVolumeSourcePtr FReal;
};

class PhysicalFile : public ::testing::Test {
protected:
  void SetUp() override { testfiles::WriteFile(ImagePath(), PatternBytes(0, kImageSize)); }

  std::string ImagePath() const { return (FFolder / "volume.img").string(); }
  std::u16string ImageName() const { return FromNativePath(ImagePath()); }

  // Reads ASize bytes at AOffset and checks they are the image's own bytes.
  void ExpectRead(TPhysicalFile& AFile, std::int64_t AOffset, std::int64_t ASize, std::int64_t AExpectedCount) {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(ASize));
    ASSERT_EQ(AFile.Read(AOffset, ASize, buffer.data()), AExpectedCount) << "at " << AOffset;
    buffer.resize(static_cast<std::size_t>(AExpectedCount));
    EXPECT_EQ(buffer, PatternBytes(AOffset, AExpectedCount)) << "at " << AOffset;
  }

  // A file of the test, made before the source opens it.
  std::shared_ptr<TRecordingSource> Recorded() {
    if (!FIO)
      FIO = std::make_shared<TRecordingSource>(ImagePath());
    return FIO;
  }

  testfiles::TTempFolder FFolder;
  std::shared_ptr<TRecordingSource> FIO;
};

TEST_F(PhysicalFile, CreationReadsNothingAndTheFirstReadFillsTheCache) {
  TPhysicalFile file(ImageName(), Recorded());
  EXPECT_TRUE(FIO->Reads.empty());
  EXPECT_EQ(file.Name(), ImageName());
  ExpectRead(file, 0, 1024, 1024);
  ExpectRead(file, 1024, 1024, 1024);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow)));
}

TEST_F(PhysicalFile, FillsStartAtTheRequestedPositionAndAskForTheWholeBlock) {
  TPhysicalFile file(ImageName(), Recorded());
  ExpectRead(file, 0, 1024, 1024);
  ExpectRead(file, 70000, 512, 512);   // beyond the window
  ExpectRead(file, 70100, 100, 100);   // inside the new one
  ExpectRead(file, 1000, 24, 24);      // backwards
  ExpectRead(file, 1013, 3, 3);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow), Pair(70000, kWindow), Pair(1000, kWindow)));
}

TEST_F(PhysicalFile, AReadAcrossTheWindowsEndDeliversEveryByteOnceInOrder) {
  TPhysicalFile file(ImageName(), Recorded());
  ExpectRead(file, 0, 16, 16);
  ExpectRead(file, kWindow - 4096, 8192, 8192);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow), Pair(kWindow, kWindow)));
  // A read of a window or more goes to the source in one request, past the window.
  FIO->Reads.clear();
  ExpectRead(file, 3, 3 * kWindow, 3 * kWindow);
  ExpectRead(file, kWindow + 10, 10, 10);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(3, 3 * kWindow)));
}

TEST_F(PhysicalFile, ReadsPastTheEndGiveShortCounts) {
  TPhysicalFile file(ImageName(), Recorded());
  EXPECT_EQ(file.Size(), kImageSize);
  const struct {
    std::int64_t Offset, Size, Count;
  } cases[] = {
      {kImageSize - 5000, 10000, 5000},
      {kImageSize - 1, 1, 1},
      {kImageSize, 1, 0},
      {kImageSize + 70000, 512, 0},
      {0, 0, 0},
      {0, -8, 0},
      {-1024, 2048, 0},  // the platform refuses the position
  };
  for (const auto& c : cases)
    ExpectRead(file, c.Offset, std::max<std::int64_t>(c.Size, 0), c.Count);
}

TEST_F(PhysicalFile, AFailingDeviceReadEndsTheReadWithoutAnError) {
  TPhysicalFile file(ImageName(), Recorded());
  FIO->FailAfter = 1;
  ExpectRead(file, 0, 100, 100);
  ExpectRead(file, kWindow - 100, 200, 100);  // the fill after the window fails
  ExpectRead(file, 0, 10, 0);                 // and forgot the old window
  ExpectRead(file, 0, 2 * kWindow, 0);        // a read past the window fails the same
}

// Retrying is the caller's: the file asks the source for nothing twice,
// and a caller that asks again in pieces where a request failed gets one
// request to the source for each, not a block that is bound to fail too.
TEST_F(PhysicalFile, ACallerAskingAgainWhereARequestFailedCostsOneRequestAPiece) {
  constexpr std::int64_t kCluster = 4096;
  constexpr std::int64_t kBadSector = 3 * kCluster + 512;
  const struct {
    const char* Name;
    bool FailWholeRead;
    std::int64_t Delivered;        // by the read of four clusters
    std::int64_t LastDelivered;    // by the read of the fourth cluster alone
    std::vector<std::pair<std::int64_t, std::int64_t>> Requests;
  } cases[] = {
      // The block the cache asked for may have failed for bytes beyond
      // those wanted, which are then asked for alone; the clusters after
      // that go to the source as they are asked for.
      {"a bridge fails the whole request", true, 0, 0,
       {{0, kWindow}, {0, 4 * kCluster}, {0, kCluster}, {kCluster, kCluster}, {2 * kCluster, kCluster},
        {3 * kCluster, kCluster}}},
      // What a short fill did not deliver would fail: it is not asked for.
      {"a disk delivers up to the bad sector", false, kBadSector, 512, {{0, kWindow}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    FIO.reset();
    TPhysicalFile file(ImageName(), Recorded());
    FIO->Bad = {kBadSector, 512};
    FIO->FailWholeRead = c.FailWholeRead;
    ExpectRead(file, 0, 4 * kCluster, c.Delivered);
    // Cluster by cluster, as a restore reads a failed span again.
    for (std::int64_t cluster = 0; cluster < 4; ++cluster)
      ExpectRead(file, cluster * kCluster, kCluster, cluster < 3 ? kCluster : c.LastDelivered);
    EXPECT_EQ(FIO->Reads, c.Requests);
  }
}

// A path in the quotes the messages put around it.
std::string Quoted(const std::filesystem::path& APath) {
  std::string quoted(1, '"');
  quoted.append(APath.string()).push_back('"');
  return quoted;
}

TEST_F(PhysicalFile, ASourceThatCannotBeOpenedSaysWhy) {
  const struct {
    std::string Path;
    std::string Message;
  } cases[] = {
      {(FFolder / "missing.img").string(), Quoted(FFolder / "missing.img") + " does not exist."},
      {(FFolder / "missing" / "volume.img").string(), "does not exist."},
      {FFolder.Path().string(), Quoted(FFolder.Path()) + " is a folder, not a block device or a volume image file."},
      {"/dev/null", "\"/dev/null\" is not a block device or a volume image file."},
      {"", NoDriveException::kMessage},
  };
  for (const auto& c : cases) {
    try {
      TFileSource::Open(c.Path);
      ADD_FAILURE() << "opened " << c.Path;
    } catch (const NoDriveException& e) {
      EXPECT_THAT(e.what(), ::testing::EndsWith(c.Message)) << c.Path;
    }
  }
}

TEST_F(PhysicalFile, ASliceReadsOnlyInsideItsWindow) {
  const auto slice = std::make_shared<TSliceSource>(Recorded(), 4096, 10000);
  TPhysicalFile file(ImageName(), slice);
  EXPECT_EQ(file.Size(), 10000);
  std::vector<std::uint8_t> buffer(20000);
  ASSERT_EQ(file.Read(0, 20000, buffer.data()), 10000);
  buffer.resize(10000);
  EXPECT_EQ(buffer, PatternBytes(4096, 10000));
  EXPECT_EQ(file.Read(10000, 1, buffer.data()), 0);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(4096, 10000)));
  ASSERT_EQ(slice->Pieces().size(), 1u);
  EXPECT_EQ(slice->Pieces().front().Identity.st_ino, FIO->Pieces().front().Identity.st_ino);
}

// A partition of a disk image cut short: its bytes past the image's end are
// known unreadable before any read.
TEST(SliceSource, BytesPastTheEndOfItsSourceAreKnownUnreadable) {
  const auto disk = std::make_shared<testsupport::TMemorySource>(1000);
  const struct {
    std::int64_t Offset;
    std::int64_t Length;
    std::vector<TByteRange> Unreadable;
  } cases[] = {
      {100, 900, {}},
      {600, 1000, {{400, 600}}},
      {1200, 300, {{0, 300}}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TSliceSource(disk, c.Offset, c.Length).KnownUnreadable(), c.Unreadable) << c.Offset;
}

TEST_F(PhysicalFile, OpensReadOnlyAndLeavesTheImageUntouched) {
  ASSERT_EQ(chmod(ImagePath().c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(stat(ImagePath().c_str(), &before), 0);
  const std::int64_t allocated = MemoryEx::AllocatedBytes();
  {
    TPhysicalFile file(ImageName(), TFileSource::Open(ImagePath()));
    EXPECT_EQ(MemoryEx::AllocatedBytes() - allocated, kWindow);
    ExpectRead(file, 0, kImageSize, kImageSize);
    const std::vector<int> flags = testfiles::DescriptorFlagsOn(ImagePath());
    ASSERT_EQ(flags.size(), 1u);
    EXPECT_EQ(flags[0] & O_ACCMODE, O_RDONLY);
    struct stat identity {};
    ASSERT_EQ(stat(ImagePath().c_str(), &identity), 0);
    ASSERT_EQ(file.Source()->Pieces().size(), 1u);
    EXPECT_EQ(file.Source()->Pieces().front().Path, ImagePath());
    EXPECT_EQ(file.Source()->Pieces().front().Identity.st_dev, identity.st_dev);
    EXPECT_EQ(file.Source()->Pieces().front().Identity.st_ino, identity.st_ino);
    // Others stay free to write while the image is open.
    ASSERT_EQ(chmod(ImagePath().c_str(), 0644), 0);
    const int writer = open(ImagePath().c_str(), O_WRONLY);
    EXPECT_GE(writer, 0);
    close(writer);
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), allocated);
  EXPECT_TRUE(testfiles::DescriptorFlagsOn(ImagePath()).empty()) << "the image stayed open";
  struct stat after {};
  ASSERT_EQ(stat(ImagePath().c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(testfiles::ReadWholeFile(ImagePath()), PatternBytes(0, kImageSize));
}

// A real volume made by mkntfs, its boot sector compared with what The Sleuth
// Kit reports for it.
TEST(PhysicalFileOnNtfs, BootSectorMatchesTheSleuthKit) {
  testfiles::TTempFolder folder;
  const std::string image = (folder / "ntfs.img").string();
  testfiles::WriteFile(image, {});
  std::filesystem::resize_file(image, 8 << 20);
  if (std::system(("mkntfs -F -f -q -c 4096 '" + image + "' >/dev/null 2>&1").c_str()) != 0)
    GTEST_SKIP() << "mkntfs is not available";
  const std::string report = testfiles::CommandOutput("fsstat '" + image + "'");
  if (report.empty())
    GTEST_SKIP() << "fsstat is not available";

  TPhysicalFile file(FromNativePath(image), TFileSource::Open(image));
  EXPECT_EQ(file.Size(), 8 << 20);
  std::vector<std::uint8_t> boot(512);
  ASSERT_EQ(file.Read(0, 512, boot.data()), 512);
  EXPECT_EQ(std::string(boot.begin() + 3, boot.begin() + 11), "NTFS    ");
  std::uint64_t serial = 0;
  for (int i = 7; i >= 0; --i)
    serial = (serial << 8) | boot[0x48 + i];
  char serialText[17];
  std::snprintf(serialText, sizeof serialText, "%016" PRIX64, serial);
  EXPECT_NE(report.find(std::string("Volume Serial Number: ") + serialText), std::string::npos) << report;

  std::uint64_t mftCluster = 0;
  for (int i = 7; i >= 0; --i)
    mftCluster = (mftCluster << 8) | boot[0x30 + i];
  EXPECT_NE(report.find("First Cluster of MFT: " + std::to_string(mftCluster)), std::string::npos) << report;
  char signature[4];
  ASSERT_EQ(file.Read(static_cast<std::int64_t>(mftCluster) * 4096, 4, signature), 4);
  EXPECT_EQ(std::string(signature, 4), "FILE");
}

// A block device: a loop device over the image, attached read-only. Needs
// root and a free loop device; skipped otherwise.
class PhysicalFileOnBlockDevice : public PhysicalFile {
protected:
  void SetUp() override {
    PhysicalFile::SetUp();
    std::istringstream output(testfiles::CommandOutput("losetup -r -f --show '" + ImagePath() + "' 2>/dev/null"));
    std::getline(output, FDevice);
    if (FDevice.empty())
      GTEST_SKIP() << "no loop device can be attached here";
  }
  void TearDown() override {
    if (!FDevice.empty())
      testfiles::CommandOutput("losetup -d '" + FDevice + "'");
  }
  std::string FDevice;
};

TEST_F(PhysicalFileOnBlockDevice, SizeAndBytesAreTheDevicesAndItStaysShared) {
  // A loop device is as long as its file rounded down to whole sectors.
  const std::int64_t deviceSize = kImageSize / 512 * 512;
  TPhysicalFile file(FromNativePath(FDevice), TFileSource::Open(FDevice));
  EXPECT_EQ(file.Size(), deviceSize);
  ExpectRead(file, 0, 4096, 4096);
  ExpectRead(file, deviceSize - 1024, 4096, 1024);
  // Someone else may still claim the device exclusively, as mounting does.
  const int exclusive = open(FDevice.c_str(), O_RDONLY | O_EXCL);
  EXPECT_GE(exclusive, 0) << "the device is held exclusively";
  close(exclusive);
}

} // namespace
