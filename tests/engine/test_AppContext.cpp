// Settings, saved state, selection rules and the recovery's conflict rules,
// free-space questions and cancellation.

#include "EngineHarness.h"

#include "tests/support/FixtureVolumes.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <filesystem>

namespace {

using enginetest::EngineTest;
using testing::ElementsAre;

std::string Native(const std::u16string& AText) { return ToNativePath(AText); }

TEST_F(EngineTest, FreshContextHasTheDefaults) {
  EXPECT_EQ(Context.Mask(), u"*.*");
  EXPECT_EQ(Context.GetSourceDriveLetter(), u'\0');
  EXPECT_EQ(Context.GetRestoreMode(), rmTree);
  EXPECT_EQ(Context.GetResolveConflictMode(), rcmOvewrite);
  EXPECT_TRUE(Context.GetRestoreTimes());
  EXPECT_EQ(Context.TreeItems()->Count(), 0);
  Context.SetMask(u"");
  EXPECT_EQ(Context.Mask(), u"*.*");
}

TEST_F(EngineTest, SetTargetDirEndsTheFolderWithOneDelimiter) {
  const std::vector<std::pair<std::u16string, std::u16string>> cases = {
      {u"D:\\out", u"D:\\out\\"}, {u"D:\\out\\", u"D:\\out\\"}, {u"/media/usb/out", u"/media/usb/out/"},
      {u"/media/usb/out/", u"/media/usb/out/"}, {u"", u""}};
  for (const auto& [value, expected] : cases) {
    Context.SetTargetDir(value);
    EXPECT_EQ(Context.GetTargetDir(), expected) << Native(value);
  }
}

TEST(TargetDirIsValid, ComparesDriveParts) {
  // Letter paths give their letter; POSIX paths below /mnt/src lie on the
  // source volume C.
  auto drivePart = [](const std::string& APath) -> std::string {
    if (APath.size() >= 2 && APath[1] == ':')
      return std::string{APath[0], ':'};
    return APath.starts_with("/mnt/src") ? "C:" : "dev:8:1";
  };
  TNTFSRecoveryContext context(std::make_shared<TScriptedPrompt>(), nullptr, drivePart);
  context.SetSourceDrive(u"C:\\");
  const std::vector<std::pair<std::u16string, bool>> cases = {
      {u"c:\\restore", false}, {u"D:\\restore", true}, {u"/mnt/src/restore", false},
      {u"/home/user/restore", true}, {u"", false}};
  for (const auto& [value, valid] : cases)
    EXPECT_EQ(context.TargetDirIsValid(value), valid) << Native(value);
}

TEST_F(EngineTest, SavedStateKeepsPathsVerbatimAndModesAsTheirLowByte) {
  CSimpleIniA empty;
  Context.RestoreState(empty);
  EXPECT_EQ(Context.SourceDrive(), u"c:\\");
  EXPECT_EQ(Context.GetTargetDir(), u"");
  EXPECT_EQ(Context.GetRestoreMode(), rmTree);
  EXPECT_EQ(Context.GetResolveConflictMode(), rcmRename);
  EXPECT_TRUE(Context.GetRestoreTimes());
  EXPECT_TRUE(Context.GetRestoreStreams());

  Context.SetSourceDrive(u"c:\\");
  Context.SetTargetDir(u"D:\\out\\");
  Context.SetRestoreMode(rmFlat);
  Context.SetResolveConflictMode(rcmDontSave);
  Context.SetRestoreTimes(false);
  Context.SetRestoreStreams(false);
  CSimpleIniA ini;
  Context.StoreState(ini);
  std::string text;
  ini.Save(text);
  EXPECT_THAT(text, testing::HasSubstr("Drive = c:\\"));
  CSimpleIniA reread;
  ASSERT_EQ(reread.LoadData(text), SI_OK);
  TNTFSRecoveryContext restored(Prompt);
  restored.RestoreState(reread);
  EXPECT_EQ(restored.SourceDrive(), u"c:\\");
  EXPECT_EQ(restored.GetTargetDir(), u"D:\\out\\");
  EXPECT_EQ(restored.GetRestoreMode(), rmFlat);
  EXPECT_EQ(restored.GetResolveConflictMode(), rcmDontSave);
  EXPECT_FALSE(restored.GetRestoreTimes());
  EXPECT_THAT(text, testing::HasSubstr("RestoreTimes = false"));
  EXPECT_FALSE(restored.GetRestoreStreams());
  EXPECT_THAT(text, testing::HasSubstr("RestoreStreams = false"));

  CSimpleIniA odd;
  ASSERT_EQ(odd.LoadData("[Target]\nMode=257\nResolveConflict=7\n"), SI_OK);
  restored.RestoreState(odd);
  EXPECT_EQ(restored.GetRestoreMode(), 1);
  EXPECT_EQ(restored.GetResolveConflictMode(), 7);
}

TEST(GetFullName, JoinsTheNamesFromTheTopWithOrWithoutTheRoot) {
  auto item = [](const std::u16string& AName, std::int64_t AParent) {
    TItemInfo result;
    result.Name = AName;
    result.DirREF = MFT_REF::Build(AParent);
    return result;
  };
  auto node = [](PTreeItemInfo AParent, TItemInfo& AItem) {
    TTreeItemInfo result;
    result.Parent = AParent;
    result.Data = &AItem;
    return result;
  };
  TItemInfo drive = item(u"C:", 0), orphans = item(u"???", 0), docs = item(u"docs", 5), file = item(u"a.txt", 30);
  TTreeItemInfo driveNode = node(nullptr, drive), orphansNode = node(nullptr, orphans);
  TTreeItemInfo docsNode = node(&driveNode, docs), fileNode = node(&docsNode, file);
  TTreeItemInfo orphanNode = node(&orphansNode, file);
  const struct {
    PTreeItemInfo Node;
    bool IncludeRoot;
    std::u16string Expected;
  } cases[] = {{&fileNode, true, u"C:\\docs\\a.txt"}, {&fileNode, false, u"docs\\a.txt"},
               {&orphanNode, true, u"???\\a.txt"},   {&orphanNode, false, u"a.txt"},
               {&driveNode, true, u"C:"},            {&driveNode, false, u"C:"}};
  for (const auto& c : cases)
    EXPECT_EQ(TNTFSRecoveryContext::GetFullName(c.Node, c.IncludeRoot), c.Expected) << Native(c.Expected);
}

// The "deleted" fixture: /Work/intact.bin, /Work/half.bin, /Work/whole.bin
// and /Work/Old/... below a live folder.
class DeletedVolumeTest : public EngineTest {
protected:
  void SetUp() override {
    Manifest = testsupport::FixtureManifest("deleted");
    Scan(testsupport::FixtureImage("deleted"));
    Progress->Lines.clear();
    Context.SetTargetDir(FromNativePath(Target.Path().string()));
  }

  PTreeItemInfo Node(const std::string& APath) const {
    return NodeOfRecord(static_cast<std::int64_t>(Manifest.Find(APath)->Record));
  }

  std::vector<std::string> WrittenFiles() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Target.Path()))
      if (entry.is_regular_file())
        files.push_back(std::filesystem::relative(entry.path(), Target.Path()).string());
    std::sort(files.begin(), files.end());
    return files;
  }

  std::string TargetPath(const std::string& ARelative) const { return (Target.Path() / ARelative).string(); }

  testsupport::Manifest Manifest;
  testfiles::TTempFolder Target;
};

TEST_F(DeletedVolumeTest, SmartCheckTicksExactlyTheFilesBelowTheThreshold) {
  const std::vector<std::pair<std::string, double>> shares = {
      {"/Work/intact.bin", 0}, {"/Work/half.bin", 4.99}, {"/Work/whole.bin", 5.0}, {"/Work/Old/a.txt", 100}};
  for (const auto& [path, share] : shares)
    Node(path)->Data->OverwritePercent = share;
  Tick(Node("/Work/whole.bin"));
  Context.SmartCheck(Context.TreeItems());
  for (const auto& [path, share] : shares)
    EXPECT_EQ(Node(path)->Data->Checked, share < GoodFileThreshold) << path;
}

TEST_F(DeletedVolumeTest, CheckAllLeavesAPartlyTickedNodeAndUnticksAWholeSubtree) {
  Tick(Node("/Work/intact.bin"));
  const PTreeItemInfo work = Node("/Work");
  EXPECT_EQ(GetCheckState(Context, work), csPartlyChecked);
  Context.CheckAll(Context.TreeItems(), true);
  EXPECT_EQ(GetCheckState(Context, work), csPartlyChecked);
  Context.CheckAll(Context.TreeItems(), false);
  EXPECT_FALSE(Context.HasChecked());
}

TEST_F(DeletedVolumeTest, TreeAndFlatModesPlaceTheFile) {
  Tick(Node("/Work/Old/Deeper/c.bin"));
  Context.ProcessRecover();
  Context.SetRestoreMode(rmFlat);
  Context.ProcessRecover();
  EXPECT_THAT(WrittenFiles(), ElementsAre("Work/Old/Deeper/c.bin", "c.bin"));
}

TEST_F(DeletedVolumeTest, ConflictRulesRenameSkipOrOverwrite) {
  Context.SetRestoreMode(rmFlat);
  Tick(Node("/Work/Old/a.txt"));
  testfiles::WriteFile(Target / "a.txt", {'o', 'l', 'd'});
  testfiles::WriteFile(Target / "a[1].txt", {'o', 'l', 'd'});

  Context.SetResolveConflictMode(rcmRename);
  Context.ProcessRecover();
  Context.SetResolveConflictMode(rcmDontSave);
  Context.ProcessRecover();
  Context.SetResolveConflictMode(rcmOvewrite);
  Context.ProcessRecover();

  const std::string path = TargetPath("a.txt");
  EXPECT_THAT(Progress->Details(),
              ElementsAre("Recovering completed.", "Skip file " + path + ". (Already exists)", "Recovering completed.",
                          "Recovering completed."));
  EXPECT_THAT(Progress->Lines, testing::Contains(enginetest::TProgressLine{
                                   enginetest::TProgressLine::plStart, "Create file " + TargetPath("a[2].txt")}));
  EXPECT_THAT(Progress->Lines, testing::Contains(enginetest::TProgressLine{enginetest::TProgressLine::plStart,
                                                                           "Overwrite file " + path}));
  EXPECT_EQ(std::filesystem::file_size(path), 900u);
  EXPECT_EQ(std::filesystem::file_size(TargetPath("a[1].txt")), 3u);
  EXPECT_EQ(std::filesystem::file_size(TargetPath("a[2].txt")), 900u);
}

TEST_F(DeletedVolumeTest, TooLittleSpaceForTheSelectionAsksFirst) {
  Tick(Node("/Work/intact.bin"));
  // Exactly the selection plus the margin is not enough.
  FileSystem->FreeBytes = [](int) { return std::optional<std::int64_t>(32768 + 1000000); };
  Context.ProcessRecover();
  EXPECT_THAT(Prompt->Shown(),
              ElementsAre(TPromptRecord{pkWarningYesNo, "Insufficient free space on target drive. 32768 bytes "
                                                        "required. Do you want to continue?"}));
  EXPECT_TRUE(WrittenFiles().empty());
  EXPECT_TRUE(Progress->Lines.empty());
}

TEST_F(DeletedVolumeTest, RunningOutOfSpaceStopsAfterTheFile) {
  Tick(Node("/Work/intact.bin"));
  Tick(Node("/Work/Old/a.txt"));
  Prompt->QueueAnswer(true);
  // Enough for the question's "yes" and the first file, then no more.
  FileSystem->FreeBytes = [](int AQuery) { return std::optional<std::int64_t>(AQuery <= 2 ? 1LL << 40 : 0); };
  Context.ProcessRecover();
  EXPECT_THAT(Progress->Details(), ElementsAre("Insufficient free space on target drive. 32768 bytes required.",
                                               "Ticked files not restored: 1 of 2."));
  EXPECT_THAT(WrittenFiles(), ElementsAre("Work/Old/a.txt"));
}

TEST_F(DeletedVolumeTest, CancelInsideAFileKeepsItsBytesAndStopsTheWalk) {
  Tick(Node("/Work/intact.bin"));
  Tick(Node("/Work/Old/b.bin"));
  Progress->CancelWhen = [](IProgressExInfo& AInfo) { return AInfo.GetTitle().starts_with("Create file "); };
  Context.ProcessRecover();
  EXPECT_THAT(WrittenFiles(), ElementsAre("Work/Old/b.bin"));
  EXPECT_GT(std::filesystem::file_size(TargetPath("Work/Old/b.bin")), 0u);
  EXPECT_THAT(Progress->Details(), ElementsAre("Ticked files not restored: 1 of 2."));
}

TEST_F(EngineTest, CancelDuringTheRecordPassKeepsWhatWasFound) {
  Progress->CancelWhen = [](IProgressExInfo& AInfo) {
    return AInfo.GetTitle() == "Scanning drive..." && AInfo.GetProgress() > 30;
  };
  Scan(testsupport::FixtureImage("scan"));
  const std::int64_t found = Context.Items()->Count();
  EXPECT_GT(found, 0);
  EXPECT_LT(found, 630);
  // The tree is still built over what was found: the drive folder holds
  // the folders of the deleted files read so far.
  ASSERT_GT(Context.TreeItems()->Count(), 0);
  EXPECT_EQ(TreeLines().front(), "K:/");
}

} // namespace
