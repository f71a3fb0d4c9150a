// The scan, the analysis and the recovery end to end on volumes built with
// mkntfs and the ntfs-3g library, compared with what the builder recorded and
// with The Sleuth Kit.

#include "EngineHarness.h"

#include "tests/support/Content.h"
#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

namespace {

using enginetest::EngineTest;
using testsupport::ManifestEntry;
using testsupport::Overwrite;

// mkntfs leaves records 16 to 23 unused; The Sleuth Kit lists them as
// orphan files.
bool IsUnusedReservedRecord(std::uint64_t ARecord) { return ARecord >= 16 && ARecord <= 23; }

// Whether a record still holds a $FILE_NAME anywhere, by The Sleuth Kit.
// ntfs-3g wipes the extension records of a file it deletes, so a deleted
// file whose name had moved into one keeps no name at all.
bool HasFileName(const std::string& AImage, std::uint64_t ARecord) {
  return testsupport::Istat(AImage, ARecord).Find(0x30).has_value();
}

// A deleted file that kept no name: listed below "???" by its record number.
bool LostItsName(const std::string& AImage, const ManifestEntry& AEntry) {
  return AEntry.HasKind("attrlist") && !HasFileName(AImage, AEntry.Record);
}

// What the volume still tells of the builder's deletions: its deleted
// entries whose record nothing has taken since.
std::vector<const ManifestEntry*> StillDeleted(const testsupport::Manifest& AManifest) {
  std::vector<const ManifestEntry*> entries;
  for (const ManifestEntry& entry : AManifest.Entries)
    if (entry.Deleted && !entry.RecordReused)
      entries.push_back(&entry);
  return entries;
}

std::set<std::uint64_t> RecordsOf(const std::vector<const ManifestEntry*>& AEntries) {
  std::set<std::uint64_t> records;
  for (const ManifestEntry* entry : AEntries)
    records.insert(entry->Record);
  return records;
}

std::string FileSha256(const std::filesystem::path& APath) {
  std::ifstream in(APath, std::ios::binary);
  testsupport::Sha256 hash;
  std::vector<char> block(1 << 16);
  while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
    hash.Update(std::string_view(block.data(), static_cast<std::size_t>(in.gcount())));
  return hash.HexDigest();
}

// Where the tree puts a deleted file: below the drive folder by its path,
// or below "???" from the highest entry on its way (itself included) whose
// folder's record now holds something else.
std::string ExpectedTreePath(const testsupport::Manifest& AManifest, const ManifestEntry& AEntry) {
  for (std::size_t slash = AEntry.Path.find('/', 1); slash != std::string::npos;
       slash = AEntry.Path.find('/', slash + 1)) {
    const ManifestEntry* folder = AManifest.Find(AEntry.Path.substr(0, slash));
    if (folder != nullptr && folder->Deleted && folder->HasKind("parent-reused"))
      return "?\?\?" + AEntry.Path.substr(AEntry.Path.rfind('/', slash - 1));
  }
  if (AEntry.HasKind("parent-reused"))
    return "?\?\?/" + AEntry.Name();
  return "K:" + AEntry.Path;
}

// A "$R" file or folder of a Recycle Bin, or something in such a folder:
// the tree shows it where its "$I" file says it came from, which the
// Recycle Bin's own tests check (test_CliRecycleBin.cpp).
bool IsRecycled(const ManifestEntry& AEntry) {
  static constexpr std::string_view kBin = "/$RECYCLE.BIN/";
  const std::size_t bin = AEntry.Path.find(kBin);
  if (bin == std::string::npos)
    return false;
  const std::size_t user = AEntry.Path.find('/', bin + kBin.size());
  return user != std::string::npos && AEntry.Path.compare(user + 1, 2, "$R") == 0;
}

// Where a tree-mode restore into ATarget writes the entry.
std::filesystem::path RestoredPath(const std::filesystem::path& ATarget, const testsupport::Manifest& AManifest,
                                   const ManifestEntry& AEntry) {
  const std::string tree = ExpectedTreePath(AManifest, AEntry);
  return ATarget / tree.substr(tree.find('/') + 1);
}

// The share is taken of all the file's clusters, holes included: those a
// compressed or sparse file keeps without a place on disk.
std::uint64_t VcnCount(const ManifestEntry& AEntry) {
  std::uint64_t clusters = 0;
  for (const testsupport::ManifestRun& run : AEntry.Runs)
    clusters += static_cast<std::uint64_t>(run.Length);
  return clusters;
}

class RealVolumeTest : public EngineTest {
protected:
  // Each file the builder left deleted, with the item the scan made of it;
  // a file the scan did not list fails the test.
  template <class TCheck>
  void ForEachDeletedFile(const testsupport::Manifest& AManifest, TCheck ACheck) {
    for (const ManifestEntry* entry : StillDeleted(AManifest)) {
      if (entry->IsFolder)
        continue;
      SCOPED_TRACE(entry->Path);
      const PItemInfo item = ItemOfRecord(static_cast<std::int64_t>(entry->Record));
      ASSERT_NE(item, nullptr);
      ACheck(*entry, item);
    }
  }

  std::set<std::uint64_t> DeletedItemRecords() const {
    std::set<std::uint64_t> records;
    // Folders made for files from the Recycle Bin have no record.
    for (auto [bookmark, item] : ListItems<PItemInfo>(*Context.Items()))
      if (item->IsDeleted && !item->FromRecycleBin)
        records.insert(static_cast<std::uint64_t>(item->MFTNumber.Address()));
    return records;
  }

  std::string TreePathOf(std::uint64_t ARecord) const {
    const PTreeItemInfo node = NodeOfRecord(static_cast<std::int64_t>(ARecord));
    if (node == nullptr)
      return "(not in the tree)";
    // Joined here: a name may hold the "\\" that GetFullName joins with.
    std::string path;
    for (const PItemInfo item : PathItems(node, true)) {
      if (!path.empty())
        path += '/';
      path += ToNativePath(item->Name);
    }
    return path;
  }
};

TEST_F(RealVolumeTest, ScanCollectsExactlyTheDeletedRecordsTheSleuthKitAndTheBuilderKnow) {
  for (const std::string& recipe : testsupport::FixtureRecipes()) {
    SCOPED_TRACE(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    Scan(image);

    const std::set<std::uint64_t> found = DeletedItemRecords();
    const std::set<std::uint64_t> builder = RecordsOf(StillDeleted(manifest));
    EXPECT_EQ(found, builder);

    std::set<std::uint64_t> sleuthKit;
    for (const testsupport::FlsEntry& entry : testsupport::Fls(image, testsupport::FlsFilter::DeletedOnly))
      if (!entry.Reallocated && !IsUnusedReservedRecord(entry.Record))
        sleuthKit.insert(entry.Record);
    // Where The Sleuth Kit disagrees, the builder must know why: a record it
    // missed is one the builder deleted, a record it wrongly lists (a stale
    // index entry) is one the builder left alive or one without any name.
    for (std::uint64_t record : sleuthKit) {
      if (!found.contains(record)) {
        EXPECT_FALSE(builder.contains(record) && HasFileName(image, record)) << "record " << record;
      }
    }
    for (std::uint64_t record : found) {
      if (!sleuthKit.contains(record)) {
        EXPECT_TRUE(builder.contains(record)) << "record " << record;
      }
    }
    Context.Clear();
  }
}

// Byte-level changes to a copy of a fixture volume, for states ntfs-3g
// cannot be asked to leave behind. Only fields in a record's first sector
// are changed, away from its update sequence words.
class TRecordPatcher {
public:
  TRecordPatcher(const std::string& AImage, const testsupport::ManifestVolume& AVolume)
      : FFile(AImage, std::ios::binary | std::ios::in | std::ios::out), FRecordSize(AVolume.RecordSize) {
    // The MFT's first cluster, from the boot sector; one extent only.
    EXPECT_EQ(AVolume.MftExtents, 1u);
    FMftOffset = Get(0x30, 8) * AVolume.ClusterSize;
  }

  void SetFlags(std::uint64_t ARecord, std::uint16_t AFlags) { Put(ARecord, kFlagsOffset, AFlags, 2); }
  void SetSequence(std::uint64_t ARecord, std::uint16_t ASequence) { Put(ARecord, kSequenceOffset, ASequence, 2); }

  // The offset of the record's own first attribute of AType, if it has one.
  std::optional<std::uint64_t> OwnAttribute(std::uint64_t ARecord, std::uint32_t AType) {
    const std::uint64_t record = RecordOffset(ARecord);
    for (std::uint64_t attribute = Get(record + kAttributesOffset, 2); attribute < FRecordSize;) {
      const std::uint64_t type = Get(record + attribute, 4);
      const std::uint64_t length = Get(record + attribute + 4, 4);
      if (type == kEndType || length == 0)
        break;
      if (type == AType)
        return attribute;
      attribute += length;
    }
    return std::nullopt;
  }

  // Points the record's own first $FILE_NAME at another parent.
  void SetParent(std::uint64_t ARecord, std::uint64_t AParentRef) {
    const std::optional<std::uint64_t> attribute = OwnAttribute(ARecord, kFileNameType);
    ASSERT_TRUE(attribute.has_value());
    Put(ARecord, *attribute + Get(RecordOffset(ARecord) + *attribute + kContentOffset, 2), AParentRef, 8);
  }

  static constexpr std::uint32_t kFileNameType = 0x30;

private:
  static constexpr std::uint64_t kSequenceOffset = 0x10;
  static constexpr std::uint64_t kAttributesOffset = 0x14;
  static constexpr std::uint64_t kFlagsOffset = 0x16;
  static constexpr std::uint64_t kContentOffset = 0x14;
  static constexpr std::uint64_t kEndType = 0xFFFFFFFF;
  static constexpr std::uint64_t kFirstSectorEnd = 510;

  std::uint64_t RecordOffset(std::uint64_t ARecord) const { return FMftOffset + ARecord * FRecordSize; }

  std::uint64_t Get(std::uint64_t AOffset, int ASize) {
    unsigned char bytes[8] = {};
    FFile.seekg(static_cast<std::streamoff>(AOffset));
    FFile.read(reinterpret_cast<char*>(bytes), ASize);
    std::uint64_t value = 0;
    for (int i = ASize - 1; i >= 0; --i)
      value = value << 8 | bytes[i];
    return value;
  }

  void Put(std::uint64_t ARecord, std::uint64_t AOffset, std::uint64_t AValue, int ASize) {
    ASSERT_LE(AOffset + static_cast<std::uint64_t>(ASize), kFirstSectorEnd);
    char bytes[8];
    for (int i = 0; i < ASize; ++i)
      bytes[i] = static_cast<char>(AValue >> (8 * i));
    FFile.seekp(static_cast<std::streamoff>(RecordOffset(ARecord) + AOffset));
    FFile.write(bytes, ASize);
    ASSERT_TRUE(FFile.good());
  }

  std::fstream FFile;
  std::uint64_t FRecordSize;
  std::uint64_t FMftOffset = 0;
};

// ntfs-3g moves a file's $FILE_NAME into an extension record when its
// attribute list forms. Such a base record, marked as a deleted folder, must
// still be found by its name in its place, and a file below it keep its path.
TEST_F(RealVolumeTest, DeletedFolderWhoseNameLivesInAnExtensionRecordKeepsItsNameAndPath) {
  const testsupport::Manifest manifest = testsupport::FixtureManifest("attrlist");
  const ManifestEntry* listed = manifest.Find("/Lists/many-runs-a.bin");
  const ManifestEntry* plain = manifest.Find("/Lists/plain.txt");
  ASSERT_TRUE(listed && plain);
  ASSERT_TRUE(listed->HasKind("attrlist"));
  testfiles::TTempFolder scratch;
  const std::filesystem::path image = scratch / "attrlist-patched.img";
  std::filesystem::copy_file(testsupport::FixtureImage("attrlist"), image);
  {
    TRecordPatcher patcher(image.string(), manifest.Volume);
    ASSERT_FALSE(patcher.OwnAttribute(listed->Record, TRecordPatcher::kFileNameType));
    // Freed as a deletion frees it: its sequence number raised past the
    // one its names, and its extension records, were made with.
    patcher.SetFlags(listed->Record, MFT_RECORD_IS_DIRECTORY);
    patcher.SetSequence(listed->Record, SequenceAfterFreeing(listed->Sequence));
    patcher.SetFlags(plain->Record, 0);
    patcher.SetParent(plain->Record, listed->Record | std::uint64_t{listed->Sequence} << 48);
  }
  Scan(image.string());

  const PItemInfo folder = ItemOfRecord(static_cast<std::int64_t>(listed->Record));
  ASSERT_NE(folder, nullptr);
  EXPECT_TRUE(folder->IsDirectory);
  EXPECT_TRUE(folder->IsDeleted);
  EXPECT_EQ(TreePathOf(listed->Record), "K:/Lists/many-runs-a.bin");
  EXPECT_EQ(TreePathOf(plain->Record), "K:/Lists/many-runs-a.bin/plain.txt");
}

// ntfs-3g moves a file's name into an extension record when its attribute
// list forms, and frees that record with the file, overwriting the start of
// the name's attribute. The rest is still there and passes every check.
TEST_F(RealVolumeTest, ADeletedFileTakesItsNameBackFromItsFreedExtensionRecord) {
  const std::string image = testsupport::FixtureImage("attrlist");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("attrlist");
  const ManifestEntry* gone = manifest.Find("/Lists/many-runs-gone.bin");
  ASSERT_TRUE(gone != nullptr && gone->Deleted);
  ASSERT_FALSE(HasFileName(image, gone->Record)) << "The Sleuth Kit sees no name";
  const std::vector<std::uint64_t> listed = testsupport::Istat(image, gone->Record).ListedRecords;
  const auto extension = std::find_if(listed.begin(), listed.end(), [&](std::uint64_t A) { return A != gone->Record; });
  ASSERT_NE(extension, listed.end());
  Scan(image);
  EXPECT_EQ(TreePathOf(gone->Record), "K:/Lists/many-runs-gone.bin");
  EXPECT_THAT(Progress->Details(),
              testing::Contains("MFT record " + std::to_string(gone->Record) +
                                " takes its name \"many-runs-gone.bin\" from the freed extension record " +
                                std::to_string(*extension) + "."));
}

// The Sleuth Kit checks a name's folder by its sequence number too: the
// names it can place only among its orphan files, the tree puts below "???".
TEST_F(RealVolumeTest, FilesOfAFolderWhoseRecordANewFolderTookGoWhereTheSleuthKitPutsThem) {
  const std::string image = testsupport::FixtureImage("refolder");
  Scan(image);
  const std::string orphanFiles = "$OrphanFiles/";
  int orphans = 0;
  for (const testsupport::FlsEntry& entry : testsupport::Fls(image, testsupport::FlsFilter::DeletedOnly)) {
    if (entry.Reallocated || entry.IsFolder() || IsUnusedReservedRecord(entry.Record))
      continue;
    SCOPED_TRACE(entry.Path);
    const bool orphan = entry.Path.starts_with(orphanFiles);
    orphans += orphan ? 1 : 0;
    EXPECT_EQ(TreePathOf(entry.Record),
              orphan ? "?\?\?/" + entry.Path.substr(orphanFiles.size()) : "K:/" + entry.Path);
  }
  EXPECT_EQ(orphans, 3);
  EXPECT_EQ(TreePathOf(testsupport::FixtureManifest("refolder").Find("/Stays/dropped.txt")->Record),
            "K:/Stays/dropped.txt");
}

TEST_F(RealVolumeTest, DeletedFilesHangBelowTheirRealFolderAndCarryTheirOverwriteShare) {
  for (const std::string& recipe : testsupport::FixtureRecipes()) {
    SCOPED_TRACE(recipe);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    Scan(image);
    ForEachDeletedFile(manifest, [&](const ManifestEntry& entry, PItemInfo item) {
      if (IsRecycled(entry))
        return;
      // A name ntfs-3g freed with its extension record is taken back from
      // there where it can be, else the file is listed by its record
      // number. Either way its later extents are taken back from the freed
      // extension records that hold them.
      const bool nameless = LostItsName(image, entry);
      const std::string path = TreePathOf(entry.Record);
      const std::string numbered = "?\?\?/record-" + std::to_string(entry.Record);
      if (!nameless || path.find("/record-") == std::string::npos) {
        EXPECT_EQ(path, ExpectedTreePath(manifest, entry));
      } else {
        EXPECT_TRUE(path.starts_with(numbered) && (path.size() == numbered.size() || path[numbered.size()] == '.'))
            << path;
      }
      EXPECT_EQ(item->DataSize, static_cast<std::int64_t>(entry.Size));
      switch (entry.Overwritten) {
      case Overwrite::Entirely:
        EXPECT_EQ(item->OverwritePercent, 100.0);
        break;
      case Overwrite::Partly:
        EXPECT_NEAR(item->OverwritePercent, 100.0 * entry.TakenClusters / VcnCount(entry), 1e-9);
        break;
      default:
        EXPECT_EQ(item->OverwritePercent, 0.0);
      }
    });
    Context.Clear();
  }
}

// Large files made first and grown last into the holes of deleted small
// files, then deleted: they took those small files' clusters, and nothing
// took theirs. "Good files only" must tick the large ones and leave the
// taken small ones.
TEST_F(RealVolumeTest, FilesGrownLateIntoDeletedFilesOverwriteThemWhateverTheirNamesSay) {
  const testsupport::Manifest manifest = testsupport::FixtureManifest("grownlater");
  Scan(testsupport::FixtureImage("grownlater"));
  Context.SmartCheck(Context.TreeItems());
  int large = 0, taken = 0;
  ForEachDeletedFile(manifest, [&](const ManifestEntry& entry, PItemInfo item) {
    if (entry.Path.starts_with("/Large/")) {
      ++large;
      EXPECT_EQ(entry.Overwritten, Overwrite::None);
      EXPECT_EQ(item->OverwritePercent, 0.0);
      EXPECT_TRUE(item->Checked);
    } else if (entry.Overwritten == Overwrite::Entirely) {
      ++taken;
      EXPECT_EQ(item->OverwritePercent, 100.0);
      EXPECT_FALSE(item->Checked);
    }
  });
  EXPECT_EQ(large, 4);
  EXPECT_GT(taken, 100);
}

// Its names are made to meet on the target and hold "\\", so they are not
// restored at the paths the builder gave them; test_RestoreTargets checks it.
bool NamesMeetOnTheTarget(const std::string& ARecipe) { return ARecipe == "collisions"; }

// Compressed files included: the reader expands their units. So are files
// whose later extents only freed extension records still hold.
bool CanBeRestoredIntact(const ManifestEntry& AEntry) {
  return !AEntry.IsFolder && AEntry.Overwritten == Overwrite::None;
}

TEST_F(RealVolumeTest, RecoveryWritesTheOriginalBytesOfEveryIntactFileAndLeavesTheSourceAlone) {
  for (const std::string& recipe : testsupport::FixtureRecipes()) {
    if (NamesMeetOnTheTarget(recipe))
      continue;
    SCOPED_TRACE(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    const std::string imageHash = FileSha256(image);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    Scan(image);

    std::vector<const ManifestEntry*> restorable;
    for (const ManifestEntry* entry : StillDeleted(manifest)) {
      if (!CanBeRestoredIntact(*entry) || IsRecycled(*entry))
        continue;
      restorable.push_back(entry);
      Tick(NodeOfRecord(static_cast<std::int64_t>(entry->Record)));
    }
    testfiles::TTempFolder target;
    Context.SetTargetDir(FromNativePath(target.Path().string()));
    Context.ProcessRecover();

    for (const ManifestEntry* entry : restorable) {
      SCOPED_TRACE(entry->Path);
      const std::filesystem::path restored = RestoredPath(target.Path(), manifest, *entry);
      ASSERT_TRUE(std::filesystem::is_regular_file(restored)) << restored;
      EXPECT_EQ(std::filesystem::file_size(restored), entry->Size);
      EXPECT_EQ(FileSha256(restored), entry->Sha256);
    }
    EXPECT_EQ(Progress->Details().back(), "Recovering completed.");
    EXPECT_EQ(FileSha256(image), imageHash);
    Context.Clear();
  }
}

// The preview reads a file's first bytes the way the recovery reads them:
// resident, non-resident, fragmented and compressed data alike.
TEST_F(RealVolumeTest, ReadFileStartGivesTheFirstBytesOfADeletedFileUpToTheLimit) {
  for (const std::string recipe : {"deleted", "compressed", "demo"}) {
    SCOPED_TRACE(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    Scan(image);
    for (const ManifestEntry* entry : StillDeleted(manifest)) {
      if (entry->IsFolder || !CanBeRestoredIntact(*entry))
        continue;
      SCOPED_TRACE(entry->Path);
      const std::string content =
          testsupport::GenerateContent(testsupport::ContentLayout::Parse(entry->Layout), entry->Seed);
      const PTreeItemInfo node = NodeOfRecord(static_cast<std::int64_t>(entry->Record));
      ASSERT_NE(node, nullptr);
      for (const std::int64_t limit : {std::int64_t{0}, std::int64_t{100}, std::int64_t{70000}, std::int64_t{1} << 30})
        EXPECT_EQ(Context.ReadFileStart(node, limit), content.substr(0, static_cast<std::size_t>(limit))) << limit;
    }
    Context.Clear();
  }
}

TEST_F(RealVolumeTest, ACancelledReadFileStartKeepsWhatWasRead) {
  const std::string image = testsupport::FixtureImage("demo");
  Scan(image);
  PTreeItemInfo photo = nullptr;
  Walk([&](PTreeItemInfo ANode, int) {
    if (ANode->Data->Name == u"hotel.jpg")
      photo = ANode;
  });
  ASSERT_NE(photo, nullptr);
  Progress->CancelWhen = [](IProgressExInfo& AItem) {
    return AItem.GetTitle() == "Reading..." && AItem.GetProgress() > 0;
  };
  const std::string bytes = Context.ReadFileStart(photo, 4 << 20);
  EXPECT_GE(bytes.size(), 65536u);
  EXPECT_LT(bytes.size(), static_cast<std::size_t>(photo->Data->DataSize));
  EXPECT_EQ(Context.ReadFileStart(nullptr, 100), "");
}

// A restored file carries its record's modification time, as The Sleuth
// Kit reads it from the standard information.
TEST_F(RealVolumeTest, RestoredFilesCarryTheModificationTimeTheSleuthKitReads) {
  const std::string image = testsupport::FixtureImage("deleted");
  const testsupport::Manifest manifest = testsupport::FixtureManifest("deleted");
  Scan(image);
  std::vector<const ManifestEntry*> restorable;
  for (const ManifestEntry* entry : StillDeleted(manifest)) {
    if (CanBeRestoredIntact(*entry)) {
      restorable.push_back(entry);
      Tick(NodeOfRecord(static_cast<std::int64_t>(entry->Record)));
    }
  }
  ASSERT_FALSE(restorable.empty());
  testfiles::TTempFolder target;
  Context.SetTargetDir(FromNativePath(target.Path().string()));
  Context.ProcessRecover();

  for (const ManifestEntry* entry : restorable) {
    SCOPED_TRACE(entry->Path);
    struct stat info {};
    ASSERT_EQ(::stat(RestoredPath(target.Path(), manifest, *entry).c_str(), &info), 0);
    std::tm utc{};
    ASSERT_NE(gmtime_r(&info.st_mtim.tv_sec, &utc), nullptr);
    char text[32];
    ASSERT_GT(std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc), 0u);
    EXPECT_EQ(text, testsupport::Istat(image, entry->Record).Modified.substr(0, 19));
  }
}

} // namespace
