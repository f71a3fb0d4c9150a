#include "ntfs/uPhysicalFile.h"

#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
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

// The real platform calls, with every device read written down.
class TRecordingDeviceIO final : public IDeviceIO {
public:
  int Open(const std::string& APath) override { return FReal->Open(APath); }
  std::int64_t ReadAt(int AHandle, std::int64_t APos, void* ADest, std::int64_t ASize) override {
    Reads.emplace_back(APos, ASize);
    if (FailAfter >= 0 && static_cast<int>(Reads.size()) > FailAfter)
      return -1;
    return FReal->ReadAt(AHandle, APos, ADest, ASize);
  }
  std::int64_t SizeOf(int AHandle) override { return FReal->SizeOf(AHandle); }
  void Close(int AHandle) override { FReal->Close(AHandle); }

  std::vector<std::pair<std::int64_t, std::int64_t>> Reads;
  int FailAfter = -1;  // reads beyond this many fail, when not negative

private:
  IDeviceIOPtr FReal = PosixDeviceIO();
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

  testfiles::TTempFolder FFolder;
  std::shared_ptr<TRecordingDeviceIO> FIO = std::make_shared<TRecordingDeviceIO>();
};

TEST_F(PhysicalFile, CreationOpensNothingAndTheFirstReadFillsTheCache) {
  TPhysicalFile file(ImageName(), FIO);
  EXPECT_FALSE(file.Opened());
  EXPECT_EQ(file.Name(), ImageName());
  ExpectRead(file, 0, 1024, 1024);
  EXPECT_TRUE(file.Opened());
  ExpectRead(file, 1024, 1024, 1024);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow)));
}

TEST_F(PhysicalFile, FillsStartAtTheRequestedPositionAndAskForTheWholeBlock) {
  TPhysicalFile file(ImageName(), FIO);
  ExpectRead(file, 0, 1024, 1024);
  ExpectRead(file, 70000, 512, 512);   // beyond the window
  ExpectRead(file, 70100, 100, 100);   // inside the new one
  ExpectRead(file, 1000, 24, 24);      // backwards
  ExpectRead(file, 1013, 3, 3);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow), Pair(70000, kWindow), Pair(1000, kWindow)));
}

TEST_F(PhysicalFile, AReadAcrossTheWindowsEndDeliversEveryByteOnceInOrder) {
  TPhysicalFile file(ImageName(), FIO);
  ExpectRead(file, 0, 16, 16);
  ExpectRead(file, kWindow - 4096, 8192, 8192);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(0, kWindow), Pair(kWindow, kWindow)));
  // One read longer than two windows refills twice more.
  FIO->Reads.clear();
  ExpectRead(file, 3, 3 * kWindow, 3 * kWindow);
  EXPECT_THAT(FIO->Reads, ElementsAre(Pair(3, kWindow), Pair(3 + kWindow, kWindow), Pair(3 + 2 * kWindow, kWindow)));
}

TEST_F(PhysicalFile, ReadsPastTheEndGiveShortCounts) {
  TPhysicalFile file(ImageName(), FIO);
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
  TPhysicalFile file(ImageName(), FIO);
  FIO->FailAfter = 1;
  ExpectRead(file, 0, kWindow + 100, kWindow);
  ExpectRead(file, 0, 10, 0);  // the failed fill forgot the old window
}

TEST_F(PhysicalFile, AMissingImageRaisesNoDriveExceptionOnEveryTry) {
  const std::u16string missing = FromNativePath((FFolder / "missing.img").string());
  TPhysicalFile file(missing, FIO);
  EXPECT_FALSE(TPhysicalFile::Exists(missing));
  std::uint8_t byte = 0;
  for (const std::int64_t size : {std::int64_t{0}, std::int64_t{1}}) {
    try {
      file.Read(0, size, &byte);
      ADD_FAILURE() << "no error for a read of " << size;
    } catch (const NoDriveException& e) {
      EXPECT_STREQ(e.what(), "Drive is not available.");
    }
  }
  EXPECT_THROW(file.Size(), NoDriveException);
  EXPECT_FALSE(file.Opened());
  EXPECT_EQ(file.Handle(), IDeviceIO::kInvalidHandle);
  // A failed open is tried again once the image is there.
  std::filesystem::rename(ImagePath(), FFolder / "missing.img");
  EXPECT_TRUE(TPhysicalFile::Exists(missing));
  ExpectRead(file, 5, 10, 10);
}

TEST_F(PhysicalFile, FoldersAndCharacterDevicesAreNoDrives) {
  for (const std::string& path : {FFolder.Path().string(), std::string("/dev/null"), std::string()}) {
    TPhysicalFile file(FromNativePath(path));
    std::uint8_t byte = 0;
    EXPECT_THROW(file.Read(0, 1, &byte), NoDriveException) << path;
    EXPECT_FALSE(TPhysicalFile::Exists(FromNativePath(path))) << path;
  }
}

TEST_F(PhysicalFile, OpensReadOnlyAndLeavesTheImageUntouched) {
  ASSERT_EQ(chmod(ImagePath().c_str(), 0444), 0);
  struct stat before {};
  ASSERT_EQ(stat(ImagePath().c_str(), &before), 0);
  const std::int64_t allocated = MemoryEx::AllocatedBytes();
  int handle = IDeviceIO::kInvalidHandle;
  {
    TPhysicalFile file(ImageName());
    EXPECT_EQ(MemoryEx::AllocatedBytes() - allocated, kWindow);
    ExpectRead(file, 0, kImageSize, kImageSize);
    handle = file.Handle();
    const int flags = fcntl(handle, F_GETFL);
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
    EXPECT_NE(fcntl(handle, F_GETFD) & FD_CLOEXEC, 0);
    // Others stay free to write while the image is open.
    ASSERT_EQ(chmod(ImagePath().c_str(), 0644), 0);
    const int writer = open(ImagePath().c_str(), O_WRONLY);
    EXPECT_GE(writer, 0);
    close(writer);
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), allocated);
  EXPECT_EQ(fcntl(handle, F_GETFD), -1) << "the handle stayed open";
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

  TPhysicalFile file(FromNativePath(image));
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
  TPhysicalFile file(FromNativePath(FDevice));
  EXPECT_EQ(file.Size(), deviceSize);
  ExpectRead(file, 0, 4096, 4096);
  ExpectRead(file, deviceSize - 1024, 4096, 1024);
  // Someone else may still claim the device exclusively, as mounting does.
  const int exclusive = open(FDevice.c_str(), O_RDONLY | O_EXCL);
  EXPECT_GE(exclusive, 0) << "the device is held exclusively";
  close(exclusive);
}

} // namespace
