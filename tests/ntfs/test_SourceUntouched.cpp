// The volume being read is never written: the device is opened read-only,
// and after every record and every file's data have been read, the image
// holds the same bytes and the same modification time as before.

#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"
#include "ntfs/uNTFSVolume.h"
#include "ntfs/uPhysicalFile.h"

#include "foundation/uSysPath.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The POSIX operations, keeping the open flags of every handle.
class TFlagRecordingDeviceIO final : public IDeviceIO {
public:
  int Open(const std::string& APath) override {
    const int handle = FReal->Open(APath);
    if (handle != kInvalidHandle)
      Flags.push_back(fcntl(handle, F_GETFL));
    return handle;
  }
  std::int64_t ReadAt(int AHandle, std::int64_t APos, void* ADest, std::int64_t ASize) override {
    return FReal->ReadAt(AHandle, APos, ADest, ASize);
  }
  std::int64_t SizeOf(int AHandle) override { return FReal->SizeOf(AHandle); }
  void Close(int AHandle) override { FReal->Close(AHandle); }

  std::vector<int> Flags;

private:
  IDeviceIOPtr FReal = PosixDeviceIO();
};

struct TFileState {
  std::string Sha256;
  timespec ModificationTime{};
};

TFileState StateOf(const std::string& APath) {
  std::ifstream in(APath, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  struct stat info {};
  EXPECT_EQ(stat(APath.c_str(), &info), 0);
  return {testsupport::Sha256Hex(bytes), info.st_mtim};
}

// Every record, every name and every file's data, as a scan and a recovery
// of everything read them.
void ReadEverything(PNTFSVolume AVolume) {
  std::vector<std::uint8_t> buffer(65536);
  for (std::int64_t number = 0; number < AVolume->MFTRecordCount; ++number) {
    const TNTFSNodeRef node(AVolume, MFT_REF::Build(number));
    if (!node->MFTRecordHeader.IsFileRecord())
      continue;
    TAttributeSearch search(node.Get());
    if (!search.FindFirst(AttributeType::Data))
      continue;
    const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
    for (std::int64_t pos = 0; stream->Read(pos, 65536, buffer.data()) > 0;)
      pos += 65536;
  }
}

TEST(SourceVolume, IsOpenedReadOnlyAndLeftAsItWas) {
  const fs::path image = fs::temp_directory_path() / ("tarnwick-untouched-" + std::to_string(getpid()) + ".img");
  fs::copy_file(testsupport::FixtureImage("deleted"), image, fs::copy_options::overwrite_existing);
  const TFileState before = StateOf(image.string());
  const auto device = std::make_shared<TFlagRecordingDeviceIO>();
  SetDeviceIO(device);
  {
    const TNTFSVolumeRef volume(NTFSVolumeInit(FromNativePath(image.string())));
    ASSERT_TRUE(volume->Initialized);
    ReadEverything(volume.Get());
  }
  SetDeviceIO(nullptr);

  ASSERT_FALSE(device->Flags.empty());
  for (int flags : device->Flags)
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
  const TFileState after = StateOf(image.string());
  EXPECT_EQ(after.Sha256, before.Sha256);
  EXPECT_EQ(after.ModificationTime.tv_sec, before.ModificationTime.tv_sec);
  EXPECT_EQ(after.ModificationTime.tv_nsec, before.ModificationTime.tv_nsec);
  fs::remove(image);
}

} // namespace
