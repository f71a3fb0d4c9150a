#include "platform/uDriveList.h"

#include "foundation/uSysPath.h"
#include "ntfs/uFSError.h"
#include "ntfs/uPhysicalFile.h"
#include "platform/uSourceResolver.h"
#include "tests/support/uFakeBlockDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Hex(std::uint32_t AValue) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", AValue);
  return text;
}

// The drive table as one line per letter C to Z that names something:
// "letter: display name, type, serial, path".
std::vector<std::string> Table(TDriveList& ADrives) {
  std::vector<std::string> lines;
  for (const TDriveLetter letter : ADrives.Table().Letters()) {
    const TVolumeInformationRecord& record = ADrives.Record(letter);
    lines.push_back(ToNativePath(DriveDisplayName(record)) + " type=" + std::to_string(record.DriveType) +
                    " serial=" + Hex(record.SerialNumber) + " " +
                    fs::path(*ADrives.Table().PathOf(letter)).filename().string());
  }
  return lines;
}

std::vector<std::string> ListedNames(TDriveList& ADrives) {
  std::vector<std::string> names;
  for (const PVolumeInformationRecord record : ADrives.ListedSourceDrives())
    names.push_back(ToNativePath(DriveDisplayName(*record)));
  return names;
}

class DriveList : public ::testing::Test {
protected:
  void SetUp() override {
    Drives.DeviceRoots() = FDevices.Roots();
    Drives.Images().Clear();
  }

  void TearDown() override { unsetenv("TARNWICK_IMAGES"); }

  // What the letter stands for, opened as the front ends open it.
  IVolumeSourcePtr Opened(TDriveLetter ALetter) const {
    const std::optional<TSourceRequest> request = Drives.RequestOf(ALetter);
    if (!request)
      throw NoDriveException();
    return TSourceResolver().Open(*request)->Source();
  }

  fs::path NTFSImage(const std::string& AName, const std::string& ALabel = "") {
    const fs::path path = FDevices.Folder() / AName;
    testfiles::MakeNTFSImage(path, ALabel);
    return path;
  }

  testfiles::TFakeBlockDevices FDevices;
  TDriveList Drives;
};

TEST_F(DriveList, DevicesThenImagesGetTheLettersFromC) {
  testfiles::MakeNTFSImage(FDevices.AddPartition("sda", "sda1"), "System");
  testfiles::MakeNTFSImage(FDevices.AddPartition("sda", "sda2"));
  testfiles::MakeExt2Image(FDevices.AddPartition("sda", "sda3"), "Linux");
  FDevices.AddDisk("sda");
  testfiles::MakeNTFSImage(FDevices.AddDisk("sdb", true), "Stick");
  testfiles::MakeNTFSImage(FDevices.AddDisk("sr0", true), "Disc");
  testfiles::MakeNTFSImage(FDevices.AddDisk("zram0"), "Scratch");
  FDevices.AddDisk("sdc");  // no file system
  FDevices.AddDisk("sdd");
  fs::remove(FDevices.DevicePath("sdd"));  // cannot be opened
  const fs::path labelled = NTFSImage("labelled.img", "Evidence");
  const fs::path unlabelled = NTFSImage("unlabelled.img");
  Drives.Images().Merge({labelled.string(), unlabelled.string()});

  Drives.Refresh();

  const auto serial = [&](const std::string& ANode) { return Hex(testfiles::NTFSSerialOf(FDevices.DevicePath(ANode))); };
  EXPECT_THAT(Table(Drives), ElementsAre("System (C: [NTFS]) type=3 serial=" + serial("sda1") + " sda1",
                                   "Local Drive (D: [NTFS]) type=3 serial=" + serial("sda2") + " sda2",
                                   "Linux (E: [ext2]) type=3 serial=00000000 sda3",
                                   "Stick (F: [NTFS]) type=2 serial=" + serial("sdb") + " sdb",
                                   "Local Drive (G:) type=3 serial=00000000 sdc",
                                   "Local Drive (H:) type=3 serial=00000000 sdd",
                                   "Disc (I: [NTFS]) type=5 serial=" + serial("sr0") + " sr0",
                                   "Scratch (J: [NTFS]) type=6 serial=" + serial("zram0") + " zram0",
                                   "Evidence (K: [NTFS]) type=3 serial=" + Hex(testfiles::NTFSSerialOf(labelled)) +
                                       " labelled.img",
                                   "unlabelled.img (L: [NTFS]) type=3 serial=" +
                                       Hex(testfiles::NTFSSerialOf(unlabelled)) + " unlabelled.img"));
  EXPECT_THAT(ListedNames(Drives), ElementsAre("System (C: [NTFS])", "Local Drive (D: [NTFS])", "Stick (F: [NTFS])",
                                         "Disc (I: [NTFS])", "Scratch (J: [NTFS])", "Evidence (K: [NTFS])",
                                         "unlabelled.img (L: [NTFS])"));

  const TVolumeInformationRecord& system = Drives.Record(u'C');
  EXPECT_EQ(system.Letter, u'C');
  EXPECT_EQ(system.RootPathName, u"C:\\");
  EXPECT_EQ(system.MaximumComponentLength, 255u);
  for (const TDriveLetter letter : {u'A', u'B', u'M', u'Z'})
    EXPECT_EQ(Drives.Record(letter).DriveType, dtUnknown) << static_cast<char>(letter);
  EXPECT_THROW(Drives.Record(u'c'), std::out_of_range);
}

// A desktop user may not open the devices: udev's database, which anyone may
// read, still names the NTFS volumes on them, and opening one says why not.
TEST_F(DriveList, DevicesTheProcessMayNotOpenAreListedFromUdev) {
  FDevices.AddDisk("sda");
  FDevices.SetUdevProperties("sda", "8:0",
                             {"ID_FS_TYPE=ntfs", "ID_FS_LABEL=My_Files", "ID_FS_LABEL_ENC=My\\x20Files",
                              "ID_FS_UUID=0123456789ABCDEF"});
  FDevices.AddDisk("sdb");
  FDevices.SetUdevProperties("sdb", "8:16", {"ID_FS_TYPE=ntfs", "ID_FS_LABEL=Backup"});
  FDevices.AddDisk("sdc");
  FDevices.SetUdevProperties("sdc", "8:32", {"ID_PART_TABLE_TYPE=gpt"});
  for (const std::string node : {"sda", "sdb", "sdc"})
    fs::remove(FDevices.DevicePath(node));  // cannot be opened

  Drives.Refresh();

  EXPECT_THAT(Table(Drives), ElementsAre("My Files (C: [NTFS]) type=3 serial=89ABCDEF sda",
                                   "Backup (D: [NTFS]) type=3 serial=00000000 sdb",
                                   "Local Drive (E:) type=3 serial=00000000 sdc"));
  EXPECT_THAT(ListedNames(Drives), ElementsAre("My Files (C: [NTFS])", "Backup (D: [NTFS])"));
  EXPECT_THROW(Opened(u'C'), NoDriveException);
}

// Partitions without a label are told apart by their table entries: the GPT
// entry's name where there is one, and always the number and the disk.
TEST_F(DriveList, UnlabelledPartitionsTheProcessMayNotOpenAreNamedByTheirEntries) {
  FDevices.AddDisk("sdb");
  FDevices.AddPartition("sdb", "sdb1");
  FDevices.SetUdevProperties("sdb1", "8:17",
                             {"ID_FS_TYPE=ntfs", "ID_FS_LABEL=Windows", "ID_PART_ENTRY_SCHEME=dos",
                              "ID_PART_ENTRY_NUMBER=1", "ID_PART_ENTRY_TYPE=0x7"});
  FDevices.AddPartition("sdb", "sdb5");
  FDevices.SetUdevProperties("sdb5", "8:21",
                             {"ID_FS_TYPE=ntfs", "ID_PART_ENTRY_SCHEME=dos", "ID_PART_ENTRY_NUMBER=5",
                              "ID_PART_ENTRY_TYPE=0x7"});
  FDevices.AddDisk("sdc");
  FDevices.AddPartition("sdc", "sdc2");
  FDevices.SetUdevProperties("sdc2", "8:34",
                             {"ID_FS_TYPE=ntfs", "ID_PART_ENTRY_SCHEME=gpt", "ID_PART_ENTRY_NAME=Old\\x20photos",
                              "ID_PART_ENTRY_NUMBER=2", "ID_PART_ENTRY_TYPE=ebd0a0a2-b9e5-4433-87c0-68b6b72699c7"});
  // A whole disk has no entry, and an entry udev numbers oddly is ignored.
  FDevices.AddDisk("sdd");
  FDevices.SetUdevProperties("sdd", "8:48", {"ID_FS_TYPE=ntfs"});
  FDevices.AddPartition("sdc", "sdc3");
  FDevices.SetUdevProperties("sdc3", "8:35", {"ID_FS_TYPE=ntfs", "ID_PART_ENTRY_NUMBER=x3"});
  for (const std::string node : {"sdb1", "sdb5", "sdc2", "sdc3", "sdd"})
    fs::remove(FDevices.DevicePath(node));

  Drives.Refresh();

  const std::string sdb = FDevices.DevicePath("sdb").string();
  const std::string sdc = FDevices.DevicePath("sdc").string();
  EXPECT_THAT(ListedNames(Drives),
              ElementsAre("Windows (C: [NTFS])", "partition 5 of " + sdb + " (D: [NTFS])",
                          "Old photos, partition 2 of " + sdc + " (E: [NTFS])", "Local Drive (F: [NTFS])",
                          "Local Drive (G: [NTFS])"));
}

TEST_F(DriveList, TheLetterOpensItsVolume) {
  testfiles::MakeNTFSImage(FDevices.AddDisk("sda"), "System");
  Drives.Images().Merge({NTFSImage("evidence.img", "Evidence").string()});
  Drives.Refresh();

  for (const TDriveLetter letter : {u'C', u'D'}) {
    const std::u16string name{letter, u':'};
    TPhysicalFile volume(name, Opened(letter));
    char oemName[8];
    ASSERT_EQ(volume.Read(3, sizeof oemName, oemName), 8) << ToNativePath(name);
    EXPECT_EQ(std::string(oemName, 8), "NTFS    ");
  }
  EXPECT_EQ(Drives.Table().PathOf(u'D'), (FDevices.Folder() / "evidence.img").string());
}

TEST_F(DriveList, DrivesKeepTheirLettersWhenOthersComeAndGo) {
  testfiles::MakeNTFSImage(FDevices.AddDisk("sda"), "System");
  testfiles::MakeNTFSImage(FDevices.AddDisk("sdb", true), "Stick");
  Drives.Images().Merge({NTFSImage("evidence.img", "Evidence").string()});
  Drives.Refresh();
  ASSERT_THAT(ListedNames(Drives), ElementsAre("System (C: [NTFS])", "Stick (D: [NTFS])", "Evidence (E: [NTFS])"));

  FDevices.Remove("sdb");
  Drives.Refresh();
  EXPECT_THAT(ListedNames(Drives), ElementsAre("System (C: [NTFS])", "Evidence (E: [NTFS])"));
  EXPECT_EQ(Drives.Record(u'D').DriveType, dtUnknown);
  EXPECT_EQ(Drives.Table().PathOf(u'D'), std::nullopt);

  // A newcomer takes the first free letter, even one before the images.
  testfiles::MakeNTFSImage(FDevices.AddDisk("sdc", true), "Other");
  Drives.Refresh();
  EXPECT_THAT(ListedNames(Drives), ElementsAre("System (C: [NTFS])", "Other (D: [NTFS])", "Evidence (E: [NTFS])"));
}

TEST_F(DriveList, ImagesComeFromTheEnvironmentVariable) {
  const fs::path first = NTFSImage("first.img", "First");
  const fs::path second = NTFSImage("second.img");
  setenv("TARNWICK_IMAGES", (":" + first.string() + "::" + second.string() + ":").c_str(), 1);
  EXPECT_THAT(ImagePathsFromEnvironment(), ElementsAre(first.string(), second.string()));

  Drives.Images().Merge(ImagePathsFromEnvironment());
  Drives.Images().Merge({first.string()});
  EXPECT_THAT(Drives.Images().Paths(), ElementsAre(first.string(), second.string()));
  Drives.Refresh();
  EXPECT_THAT(ListedNames(Drives), ElementsAre("First (C: [NTFS])", "second.img (D: [NTFS])"));

  unsetenv("TARNWICK_IMAGES");
  EXPECT_THAT(ImagePathsFromEnvironment(), IsEmpty());
}

TEST_F(DriveList, RelativeImagePathsAreKeptAbsolute) {
  const fs::path image = NTFSImage("relative.img");
  const fs::path previous = fs::current_path();
  fs::current_path(FDevices.Folder());
  Drives.Images().Merge({"./relative.img"});
  fs::current_path(previous);

  EXPECT_THAT(Drives.Images().Paths(), ElementsAre(image.string()));
  EXPECT_TRUE(Drives.Images().Contains(image.string()));
}

TEST_F(DriveList, ImagesThatNoLongerHoldNTFSAreDroppedSilently) {
  const fs::path vanishing = NTFSImage("vanishing.img", "Vanishing");
  const fs::path wiped = NTFSImage("wiped.img", "Wiped");
  const fs::path staying = NTFSImage("staying.img", "Staying");
  Drives.Images().Merge({vanishing.string(), wiped.string(), staying.string()});
  Drives.Refresh();
  ASSERT_THAT(ListedNames(Drives), ElementsAre("Vanishing (C: [NTFS])", "Wiped (D: [NTFS])", "Staying (E: [NTFS])"));

  fs::remove(vanishing);
  testfiles::MakeBlankImage(wiped);
  Drives.Refresh();

  EXPECT_THAT(ListedNames(Drives), ElementsAre("Staying (E: [NTFS])"));
  EXPECT_THAT(Drives.Images().Paths(), ElementsAre(staying.string()));
  EXPECT_THAT(Drives.Table().Letters(), ElementsAre(u'E'));
}

TEST_F(DriveList, AddingAnImageListsItUnderTheNextFreeLetter) {
  testfiles::MakeNTFSImage(FDevices.AddDisk("sda"), "System");
  Drives.Refresh();
  const fs::path image = NTFSImage("evidence.img", "Evidence");

  EXPECT_EQ(Drives.AddVolumeImage(image.string()).Letter, u'D');
  EXPECT_THAT(ListedNames(Drives), ElementsAre("System (C: [NTFS])", "Evidence (D: [NTFS])"));
  EXPECT_EQ(Drives.AddVolumeImage(image.string()).Letter, u'D');
  EXPECT_THAT(Drives.Images().Paths(), ElementsAre(image.string()));
}

TEST_F(DriveList, AddingSomethingElseThanAnNTFSImageIsRefused) {
  testfiles::MakeBlankImage(FDevices.Folder() / "blank.img");
  testfiles::MakeExt2Image(FDevices.Folder() / "linux.img", "Linux");
  const struct {
    std::string Name;
    std::string Message;
  } cases[] = {
      {"missing.img", "does not exist."},
      {"blank.img", "holds no NTFS boot sector: it is not an NTFS volume image"},
      {"linux.img", "holds no NTFS boot sector: it is not an NTFS volume image"},
      {"", "is a folder, not a block device or a volume image file."},  // the folder itself
  };
  for (const auto& c : cases) {
    const std::string path = (FDevices.Folder() / c.Name).string();
    try {
      Drives.AddVolumeImage(path);
      ADD_FAILURE() << path << " was added";
    } catch (const VolumeImageError& E) {
      EXPECT_THAT(E.what(), HasSubstr(c.Message)) << path;
      EXPECT_THAT(E.what(), HasSubstr(fs::path(path).lexically_normal().string())) << path;
    }
  }
  EXPECT_THAT(Drives.Images().Paths(), IsEmpty());
  EXPECT_THAT(Drives.Table().Letters(), IsEmpty());
}

// Past Z a drive is listed without a letter, named by where it lies, and
// opened by what it is read from; it takes a letter once one is free.
TEST_F(DriveList, DrivesBeyondZAreListedWithoutALetter) {
  for (char disk = 'a'; disk < 'a' + 24; ++disk)
    FDevices.AddDisk(std::string("sd") + disk);
  Drives.Refresh();
  ASSERT_EQ(Drives.Table().Letters().size(), 24u);

  const fs::path labelled = NTFSImage("evidence.img", "Evidence");
  const fs::path unlabelled = NTFSImage("unlabelled.img");
  const TVolumeInformationRecord& evidence = Drives.AddVolumeImage(labelled.string());
  EXPECT_EQ(evidence.Letter, 0);
  EXPECT_EQ(evidence.RootPathName, u"evidence.img\\");
  EXPECT_EQ(DriveName(evidence), u"evidence.img");
  Drives.AddVolumeImage(unlabelled.string());
  EXPECT_THAT(ListedNames(Drives), ElementsAre("Evidence (evidence.img [NTFS])", "unlabelled.img [NTFS]"));
  EXPECT_THAT(Drives.DrivesOf(labelled.string()), ElementsAre(&evidence));
  TPhysicalFile volume(u"evidence.img", TSourceResolver().Open(Drives.RequestOf(evidence.Source))->Source());
  char oemName[8];
  ASSERT_EQ(volume.Read(3, sizeof oemName, oemName), 8);
  EXPECT_EQ(std::string(oemName, 8), "NTFS    ");

  FDevices.Remove("sda");
  Drives.Refresh();
  EXPECT_THAT(ListedNames(Drives), ElementsAre("Evidence (C: [NTFS])", "unlabelled.img [NTFS]"));
  // The record it had stays at its place, naming nothing now.
  EXPECT_EQ(evidence.DriveType, dtUnknown);
}

TEST(DriveRecords, ListsKnownKindsHoldingNTFS) {
  const struct {
    TDriveType DriveType;
    std::u16string FileSystemName;
    bool Listed;
  } cases[] = {
      {dtFixed, u"NTFS", true},     {dtFloppy, u"NTFS", true},   {dtCDROM, u"NTFS", true},
      {dtRAM, u"NTFS", true},       {dtUnknown, u"NTFS", false}, {dtNoDrive, u"NTFS", false},
      {dtFixed, u"ntfs", false},    {dtFixed, u"FAT", false},    {dtFixed, u"", false},
  };
  for (const auto& c : cases) {
    TVolumeInformationRecord record;
    record.DriveType = c.DriveType;
    record.FileSystemName = c.FileSystemName;
    EXPECT_EQ(IsListedSourceDrive(record), c.Listed) << int(c.DriveType) << " " << ToNativePath(c.FileSystemName);
  }
}

} // namespace
