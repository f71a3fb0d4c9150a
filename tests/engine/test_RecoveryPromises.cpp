// What a recovery promises whatever the volume: the source is opened for
// reading only and left exactly as it was, and a restore that fails half-way
// keeps the files already written and names the one that failed.

#include "EngineHarness.h"
#include "ntfs/uFSError.h"

#include "HandMadeRecords.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/uMemoryDevice.h"
#include "tests/support/uMemoryFileSystem.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>

namespace {

using enginetest::EngineTest;
using handmade::TBytes;
using ::testing::Contains;
using ::testing::HasSubstr;

struct TFileState {
  std::string Sha256;
  std::int64_t ModifiedSeconds = 0;
  std::int64_t ModifiedNanoseconds = 0;
  bool operator==(const TFileState&) const = default;
};

TFileState StateOf(const std::filesystem::path& APath) {
  const std::vector<std::uint8_t> bytes = testfiles::ReadWholeFile(APath);
  struct stat info {};
  EXPECT_EQ(stat(APath.c_str(), &info), 0);
  return {testsupport::Sha256Hex(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
          info.st_mtim.tv_sec, info.st_mtim.tv_nsec};
}

TEST_F(EngineTest, ScanPreviewsAndRecoveryReadTheSourceOpenedOnceReadOnlyAndLeaveItAsItWas) {
  testfiles::TTempFolder folder;
  const std::filesystem::path image = folder.Path() / "source.img";
  std::filesystem::copy_file(testsupport::FixtureImage("deleted"), image);
  const TFileState before = StateOf(image);
  // Every open of the image, and the flags of every descriptor held on it
  // each time it has just been opened.
  int opens = 0;
  std::vector<int> flags;
  const TSourceResolver resolver([&](const std::string& APath) {
    IVolumeSourcePtr source = TFileSource::Open(APath);
    ++opens;
    for (const int held : testfiles::DescriptorFlagsOn(image))
      flags.push_back(held);
    return source;
  });
  UseSource(resolver.Open({image.string()}));
  Context.SetMask(u"*");
  Context.ProcessScan();
  std::vector<PTreeItemInfo> files;
  Walk([&files](PTreeItemInfo ANode, int) {
    if (!ANode->Data->IsDirectory && ANode->Data->DataSize > 0)
      files.push_back(ANode);
  });
  ASSERT_GE(files.size(), 3u);
  for (int preview = 0; preview < 3; ++preview)
    EXPECT_FALSE(Context.ReadFileStart(files[static_cast<std::size_t>(preview)], 4096).empty());
  Context.CheckAll(Context.TreeItems(), true);
  Context.SetTargetDir(FromNativePath((folder.Path() / "restored").string()));
  Context.ProcessRecover();
  ASSERT_FALSE(std::filesystem::is_empty(folder.Path() / "restored"));
  EXPECT_EQ(opens, 1);
  ASSERT_EQ(flags.size(), 1u);
  EXPECT_EQ(flags.front() & O_ACCMODE, O_RDONLY);
  EXPECT_EQ(StateOf(image), before);
}

// The image replaced under its name after the scan: written over in place
// with another volume, the preview and the restore stop and say so; put
// there by a rename, they read on from the volume that was scanned.
TEST_F(EngineTest, APreviewAfterTheSourceWasReplacedReadsOnlyTheVolumeThatWasScanned) {
  testfiles::TTempFolder folder;
  const std::filesystem::path image = folder.Path() / "source.img";
  std::filesystem::copy_file(testsupport::FixtureImage("deleted"), image);
  Scan(image.string());
  PTreeItemInfo file = nullptr;
  Walk([&file](PTreeItemInfo ANode, int) {
    if (!ANode->Data->IsDirectory && ANode->Data->DataSize > 0 && !file)
      file = ANode;
  });
  ASSERT_NE(file, nullptr);
  const std::string scanned = Context.ReadFileStart(file, 1 << 20);

  const std::filesystem::path other = folder.Path() / "other.img";
  std::filesystem::copy_file(testsupport::FixtureImage("demo"), other);
  std::filesystem::rename(other, image);
  EXPECT_EQ(Context.ReadFileStart(file, 1 << 20), scanned) << "the scanned volume is still open";

  std::filesystem::copy_file(testsupport::FixtureImage("deleted"), other);
  UseVolume(other.string());
  Context.ProcessScan();
  file = nullptr;
  Walk([&file](PTreeItemInfo ANode, int) {
    if (!ANode->Data->IsDirectory && ANode->Data->DataSize > 0 && !file)
      file = ANode;
  });
  ASSERT_NE(file, nullptr);
  std::filesystem::copy_file(testsupport::FixtureImage("demo"), other, std::filesystem::copy_options::overwrite_existing);
  try {
    Context.ReadFileStart(file, 1 << 20);
    ADD_FAILURE() << "the preview read another volume";
  } catch (const NoDriveException& error) {
    EXPECT_THAT(error.what(), ::testing::HasSubstr("no longer holds the volume that was scanned"));
  }
  Context.CheckAll(Context.TreeItems(), true);
  Context.SetTargetDir(FromNativePath((folder.Path() / "restored").string()));
  EXPECT_THROW(Context.ProcessRecover(), NoDriveException);
  EXPECT_FALSE(std::filesystem::exists(folder.Path() / "restored"));
}

constexpr std::int64_t kClusterSize = 4096;
// More than one 64 KiB copy block, so a write can fail in the middle.
constexpr std::int64_t kLargeClusters = 20;

TBytes Pattern(std::size_t ASize) {
  TBytes bytes(ASize);
  for (std::size_t i = 0; i < ASize; ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 31 + 3);
  return bytes;
}

// a.txt, large.bin (80 KiB at LCN 40), refused.txt and d.txt, deleted in
// the root folder in this order.
std::shared_ptr<testsupport::TMemorySource> FourFiles() {
  handmade::TVolumeImage image;
  auto file = [](const std::u16string& AName) {
    return handmade::TRecordBuilder().InUse(false).Resident(0x30, handmade::FileNameContent(5, AName, 1), 1);
  };
  image.Records[24] = file(u"a.txt").Resident(0x80, TBytes{'a'}, 2).Build();
  image.Records[25] = file(u"large.bin")
                          .NonResident(0x80, handmade::EncodeRuns({{kLargeClusters, 40}}), 0, kLargeClusters - 1,
                                       kLargeClusters * kClusterSize, 2)
                          .Build();
  image.Clusters[40] = Pattern(kLargeClusters * kClusterSize);
  image.Records[26] = file(u"refused.txt").Resident(0x80, TBytes{'r'}, 2).Build();
  image.Records[27] = file(u"d.txt").Resident(0x80, TBytes{'d'}, 2).Build();
  const TBytes bytes = image.Bytes();
  auto device = std::make_shared<testsupport::TMemorySource>(static_cast<std::int64_t>(bytes.size()));
  device->Put(0, bytes);
  return device;
}

TEST_F(EngineTest, ARestoreThatFailsHalfWayKeepsWhatWasWrittenAndNamesTheFailedFiles) {
  const auto target = std::make_shared<testsupport::TMemoryFileSystem>();
  target->FailWrite = [](const std::string& APath, std::size_t AWritten) {
    return APath == "/restored/large.bin" && AWritten > 0;
  };
  target->FailCreate = [](const std::string& APath) { return APath == "/restored/refused.txt"; };
  TNTFSRecoveryContext context(Prompt, target);
  context.SetSource(std::make_shared<const TOpenedSource>(TSourceRequest{}, FourFiles()));
  context.SetSourceDrive(u"K:\\");
  context.ProcessScan();
  context.CheckAll(context.TreeItems(), true);
  context.SetTargetDir(u"/restored");
  context.ProcessRecover();

  EXPECT_EQ(target->Files.at("/restored/a.txt"), TBytes{'a'});
  EXPECT_EQ(target->Files.at("/restored/d.txt"), TBytes{'d'});
  // The first 64 KiB block was written before the disk refused the second.
  const TBytes large = Pattern(kLargeClusters * kClusterSize);
  EXPECT_EQ(target->Files.at("/restored/large.bin"), TBytes(large.begin(), large.begin() + 65536));
  EXPECT_EQ(target->Files.count("/restored/refused.txt"), 0u);
  std::vector<std::string> errors;
  for (const enginetest::TProgressLine& line : Progress->Lines)
    if (line.Kind == enginetest::TProgressLine::plDetail && line.Status == pdsError)
      errors.push_back(line.Text);
  EXPECT_THAT(errors, ::testing::ElementsAre(HasSubstr("/restored/large.bin"),
                                             "File /restored/large.bin is partial: 65536 of 81920 bytes were written.",
                                             HasSubstr("/restored/refused.txt")));
  EXPECT_THAT(Progress->Details(), Contains("Recovering completed."));
  context.Clear();
}

// A cancel in the middle of a file (the second Ctrl-C) keeps what was
// written and says the file is partial.
TEST_F(EngineTest, ACancelInsideAFileNamesItPartialAndCountsTheRest) {
  const std::string image = testsupport::FixtureImage("clusters4k");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("clusters4k");
  Scan(image);
  testfiles::TTempFolder target;
  Context.CheckAll(Context.TreeItems(), true);
  Context.SetRestoreMode(rmFlat);
  Context.SetTargetDir(FromNativePath(target.Path().string()));
  Progress->CancelWhen = [](IProgressExInfo& AInfo) { return AInfo.GetTitle().ends_with("/large.raw"); };
  Context.ProcessRecover();

  const std::uintmax_t size = manifest.Find("/Pictures/large.raw")->Size;
  const std::uintmax_t written = std::filesystem::file_size(target / "large.raw");
  EXPECT_LT(written, size);
  EXPECT_THAT(Progress->Details(), Contains("File " + (target / "large.raw").string() + " is partial: " +
                                            std::to_string(written) + " of " + std::to_string(size) +
                                            " bytes were written."));
}

} // namespace
