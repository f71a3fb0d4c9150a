// The scan, the tree and the recovery on hand-made volumes, for what a real
// volume cannot be forced into: names that try to climb out of the target,
// folders that name each other, a folder whose name lives only in an
// extension record.

#include "EngineHarness.h"

#include "HandMadeRecords.h"
#include "engine/uFileMask.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <functional>

#include <pthread.h>

namespace {

using enginetest::EngineTest;
using enginetest::TProgressLine;
using handmade::FileNameContent;
using handmade::TBytes;
using handmade::TRecordBuilder;
using testing::ElementsAre;

constexpr std::int64_t kRoot = 5;
constexpr std::uint8_t kWin32 = 1;
constexpr std::uint8_t kDos = 2;

TBytes Text(const std::string& AText) { return TBytes(AText.begin(), AText.end()); }

TBytes Folder(std::int64_t AParent, const std::u16string& AName, bool AInUse = true) {
  return TRecordBuilder().InUse(AInUse).Directory().Resident(0x30, FileNameContent(AParent, AName, kWin32), 1).Build();
}

TBytes DeletedFile(std::int64_t AParent, const std::u16string& AName, const std::string& AContent) {
  return TRecordBuilder()
      .InUse(false)
      .Resident(0x30, FileNameContent(AParent, AName, kWin32), 1)
      .Resident(0x80, Text(AContent), 2)
      .Build();
}

// The records of the volume every test here scans.
handmade::TVolumeImage CraftedVolume() {
  handmade::TVolumeImage image;
  auto& r = image.Records;
  r[kRoot] = Folder(kRoot, u".");
  r[30] = Folder(kRoot, u"docs");
  r[31] = TRecordBuilder()
              .InUse(false)
              .Resident(0x30, FileNameContent(30, u"a.txt", kWin32), 1)
              .NonResident(0x80, handmade::EncodeRuns({{2, 100}}), 0, 1, 5000, 2)
              .Build();
  image.Clusters[100] = TBytes(4096, 'A');
  image.Clusters[101] = TBytes(4096, 'B');
  // Names that would climb out of the target folder.
  r[32] = DeletedFile(33, u"..", "dots");
  r[33] = Folder(34, u"..", false);
  r[34] = Folder(kRoot, u"x/../..", false);
  // A live folder whose names live only in extension record 41: a DOS name
  // first, then the long one.
  r[40] = TRecordBuilder()
              .Directory()
              .Resident(0x20, handmade::AttributeListContent({{0x30, 0, 41, 0, u""}, {0x30, 0, 41, 1, u""}}), 1)
              .Build();
  r[41] = TRecordBuilder()
              .BaseRecord(40)
              .Resident(0x30, FileNameContent(kRoot, u"BIGFOL~1", kDos), 0)
              .Resident(0x30, FileNameContent(kRoot, u"Big Folder", kWin32), 1)
              .Build();
  r[42] = DeletedFile(40, u"inbig.txt", "hello");
  // Two deleted folders naming each other, a file below the first.
  r[50] = Folder(51, u"loopA", false);
  r[51] = Folder(50, u"loopB", false);
  r[52] = DeletedFile(50, u"inloop.txt", "loop");
  // A deleted file whose folder's record now holds a live file.
  r[53] = TRecordBuilder().Resident(0x30, FileNameContent(kRoot, u"now-a-file", kWin32), 1).Build();
  r[54] = DeletedFile(53, u"lost.txt", "lost");
  return image;
}

class CraftedVolumeTest : public EngineTest {
protected:
  void SetUp() override {
    FImage = std::make_unique<handmade::TTempFile>("tarnwick-crafted");
    CraftedVolume().WriteTo(FImage->Path());
  }

  void ScanCrafted(const std::u16string& AMask = u"*") { Scan(FImage->Path(), AMask); }

  std::unique_ptr<handmade::TTempFile> FImage;
};

TEST_F(CraftedVolumeTest, TreeHangsItemsUnderTheirFoldersAndSendsTheRestToTheOrphans) {
  ScanCrafted();
  EXPECT_THAT(TreeLines(), ElementsAre("K:/", "K:/docs/", "K:/docs/a.txt", "K:/x/../../", "K:/x/../../../",
                                       "K:/x/../../../..", "K:/Big Folder/", "K:/Big Folder/inbig.txt", "?\?\?/",
                                       "?\?\?/loopB/", "?\?\?/loopB/loopA/", "?\?\?/loopB/loopA/inloop.txt",
                                       "?\?\?/lost.txt"));
  // Placed under the orphans folder, an item names it as its parent.
  EXPECT_EQ(ItemOfRecord(51)->DirREF.Address(), 1);
  EXPECT_EQ(ItemOfRecord(54)->DirREF.Address(), 1);
  // The size of the $DATA attribute wins over the one $FILE_NAME stores.
  EXPECT_EQ(ItemOfRecord(31)->DataSize, 5000);
  EXPECT_THAT(Progress->Details(), ElementsAre("Scanning completed."));
}

TEST_F(CraftedVolumeTest, MaskLeavesOutFilesAndTheFoldersLeftEmpty) {
  ScanCrafted(u"*.*");
  // ".." has a dot, "lost.txt" too; the folders on the way stay.
  EXPECT_THAT(TreeLines(), ElementsAre("K:/", "K:/docs/", "K:/docs/a.txt", "K:/x/../../", "K:/x/../../../",
                                       "K:/x/../../../..", "K:/Big Folder/", "K:/Big Folder/inbig.txt", "?\?\?/",
                                       "?\?\?/loopB/", "?\?\?/loopB/loopA/", "?\?\?/loopB/loopA/inloop.txt",
                                       "?\?\?/lost.txt"));
  Context.SetMask(u"in*");
  Context.Search();
  EXPECT_THAT(TreeLines(), ElementsAre("K:/", "K:/Big Folder/", "K:/Big Folder/inbig.txt", "?\?\?/", "?\?\?/loopB/",
                                       "?\?\?/loopB/loopA/", "?\?\?/loopB/loopA/inloop.txt"));
}

TEST_F(CraftedVolumeTest, AnInvalidMaskFailsTheScanWithItsMessageAndLeavesNothing) {
  ScanCrafted(u"[abc");
  EXPECT_THAT(Prompt->Shown(), ElementsAre(TPromptRecord{pkMessage, "'[abc' is an invalid mask at (5)"}));
  EXPECT_EQ(Context.TreeItems()->Count(), 0);
  EXPECT_EQ(Context.Items()->Count(), 0);
  EXPECT_THAT(Progress->Details(), ElementsAre("Scanning completed."));
}

TEST_F(CraftedVolumeTest, SearchWithAnInvalidMaskRaisesAndKeepsTheUnlinkedNodes) {
  ScanCrafted();
  Context.SetMask(u"[abc");
  EXPECT_THROW(Context.Search(), InvalidMaskError);
  // The two synthetic folders and the folder docs came before the first file.
  EXPECT_THAT(TreeLines(), ElementsAre("K:/", "?\?\?/", "docs/"));
}

TEST_F(CraftedVolumeTest, RecoveryWritesNothingOutsideTheTargetFolder) {
  ScanCrafted();
  Context.CheckAll(Context.TreeItems(), true);
  testfiles::TTempFolder outer;
  const std::filesystem::path target = outer / "target";
  Context.SetTargetDir(FromNativePath(target.string()));
  Context.ProcessRecover();

  std::vector<std::string> written;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(outer.Path()))
    if (entry.is_regular_file())
      written.push_back(std::filesystem::relative(entry.path(), outer.Path()).string());
  std::sort(written.begin(), written.end());
  EXPECT_THAT(written, ElementsAre("target/Big Folder/inbig.txt", "target/docs/a.txt", "target/loopB/loopA/inloop.txt",
                                   "target/lost.txt", "target/x_.._../__/__"));
  EXPECT_EQ(testfiles::ReadWholeFile(target / "x_.._../__/__"), Text("dots"));
  const std::vector<std::uint8_t> a = testfiles::ReadWholeFile(target / "docs/a.txt");
  EXPECT_EQ(a.size(), 5000u);
  EXPECT_EQ(a[4095], 'A');
  EXPECT_EQ(a[4096], 'B');
}

TEST_F(CraftedVolumeTest, GetCheckedListGivesTheTickedNodesInTreeOrderWithTheirSizes) {
  ScanCrafted();
  Tick(NodeOfRecord(31));
  Tick(NodeOfRecord(32));
  std::int64_t size = 0;
  const IExListPtr checked = Context.GetCheckedList(size);
  std::vector<std::string> names;
  for (auto [bookmark, node] : ListItems<PTreeItemInfo>(*checked))
    names.push_back(ToNativePath(node->Data->Name));
  EXPECT_THAT(names, ElementsAre("K:", "docs", "a.txt", "x/../..", "..", ".."));
  EXPECT_EQ(size, 5000 + 4);
  EXPECT_TRUE(Context.HasChecked());

  // A mask that leaves the ticked files out: still ticked, no longer listed.
  Context.SetMask(u"in*");
  Context.Search();
  EXPECT_TRUE(Context.HasChecked());
  EXPECT_EQ(Context.GetCheckedList(size)->Count(), 0);
  EXPECT_EQ(size, 0);
}

// Volumes of their own, for the cases that would crowd the shared one.
class OwnVolumeTest : public EngineTest {
protected:
  void ScanVolume(const handmade::TVolumeImage& AImage) {
    FImage = std::make_unique<handmade::TTempFile>("tarnwick-own");
    AImage.WriteTo(FImage->Path());
    Scan(FImage->Path());
  }

  void RecoverInto(const std::filesystem::path& ATarget) {
    Context.SetTargetDir(FromNativePath(ATarget.string()));
    Context.ProcessRecover();
  }

  std::unique_ptr<handmade::TTempFile> FImage;
};

TEST_F(OwnVolumeTest, EncryptedFileIsRestoredAsItsCipherTextWithAWarningInsideItsLine) {
  constexpr std::uint16_t kEncrypted = 0x4000;
  handmade::TVolumeImage image;
  image.Records[kRoot] = Folder(kRoot, u".");
  image.Records[30] = TRecordBuilder()
                          .InUse(false)
                          .Resident(0x30, FileNameContent(kRoot, u"secret.doc", kWin32), 1)
                          .NonResident(0x80, handmade::EncodeRuns({{1, 100}}), 0, 0, 3000, 2, u"", kEncrypted)
                          .Build();
  TBytes cipher(4096);
  for (std::size_t i = 0; i < cipher.size(); ++i)
    cipher[i] = static_cast<std::uint8_t>(i * 7 + 3);
  image.Clusters[100] = cipher;
  ScanVolume(image);
  Tick(NodeOfRecord(30));
  testfiles::TTempFolder target;
  RecoverInto(target.Path());

  EXPECT_EQ(testfiles::ReadWholeFile(target / "secret.doc"), TBytes(cipher.begin(), cipher.begin() + 3000));
  const std::string path = (target / "secret.doc").string();
  const std::vector<TProgressLine> lines(Progress->Lines.end() - 5, Progress->Lines.end() - 1);
  EXPECT_THAT(lines, ElementsAre(TProgressLine{TProgressLine::plStart, "Create file " + path},
                                 TProgressLine{TProgressLine::plDetail,
                                               "File " + path + " was encrypted; its content is restored in encrypted form.",
                                               pdsWarning},
                                 TProgressLine{TProgressLine::plClose, "Create file " + path},
                                 TProgressLine{TProgressLine::plDetail, "Recovering completed.", pdsInformation}));
}

// Runs AWork on a thread with a small stack, so that anything recursing
// once per folder of a deep chain runs out of it.
void OnSmallStack(std::function<void()> AWork) {
  constexpr std::size_t kStackSize = 256 * 1024;
  pthread_attr_t attributes;
  ASSERT_EQ(pthread_attr_init(&attributes), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attributes, kStackSize), 0);
  pthread_t thread;
  const int created = pthread_create(
      &thread, &attributes,
      [](void* AWorkPtr) -> void* {
        (*static_cast<std::function<void()>*>(AWorkPtr))();
        return nullptr;
      },
      &AWork);
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(created, 0);
  ASSERT_EQ(pthread_join(thread, nullptr), 0);
}

TEST_F(OwnVolumeTest, ChainOfThousandsOfDeletedFoldersIsScannedTickedAndRestoredWithoutRecursion) {
  constexpr std::int64_t kDepth = 3000;
  constexpr std::int64_t kFirst = 30;
  constexpr std::int64_t kFile = kFirst + kDepth;
  handmade::TVolumeImage image;
  // Room for every record: four 1 KiB records a cluster.
  image.MFTExtents = {{4, (kFile + 1 + 3) / 4}};
  image.TotalClusters = 4 + image.MFTExtents.front().second + 16;
  image.Records[kRoot] = Folder(kRoot, u".");
  for (std::int64_t i = 0; i < kDepth; ++i)
    image.Records[kFirst + i] = Folder(i == 0 ? kRoot : kFirst + i - 1, u"d", false);
  image.Records[kFile] = DeletedFile(kFile - 1, u"bottom.txt", "deep");

  testfiles::TTempFolder outer;
  const std::filesystem::path target = outer / "target";
  std::int64_t size = 0;
  OnSmallStack([&] {
    ScanVolume(image);
    Tick(NodeOfRecord(kFile));
    EXPECT_EQ(Context.GetCheckedList(size)->Count(), kDepth + 2); // the drive folder, the chain, the file
    RecoverInto(target);
  });
  EXPECT_EQ(size, 4);
  // Its folder path is far longer than the system takes: one error line,
  // and nothing written, not even the target folder.
  const std::vector<std::string> details = Progress->Details();
  ASSERT_EQ(details.size(), 3u);
  EXPECT_EQ(details[0], "Scanning completed.");
  EXPECT_THAT(details[1], testing::StartsWith("Cannot create folder"));
  EXPECT_EQ(details[2], "Recovering completed.");
  EXPECT_TRUE(std::filesystem::is_empty(outer.Path()));
}

} // namespace
