// The scan, the analysis and the recovery end to end on volumes built with
// mkntfs and the ntfs-3g library, compared with what the builder recorded and
// with The Sleuth Kit.

#include "EngineHarness.h"

#include "tests/support/FixtureVolumes.h"
#include "tests/support/Sha256.h"
#include "tests/support/SleuthKit.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

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

// What the volume still tells of the builder's deletions: its deleted
// entries whose record nothing has taken since and still holds a name.
std::vector<const ManifestEntry*> StillDeleted(const std::string& AImage, const testsupport::Manifest& AManifest) {
  std::vector<const ManifestEntry*> entries;
  for (const ManifestEntry& entry : AManifest.Entries)
    if (entry.Deleted && !entry.RecordReused && (!entry.HasKind("attrlist") || HasFileName(AImage, entry.Record)))
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

// Where the tree puts a deleted file: below the drive folder by its path, or
// below "???" when its folder's record now holds a file.
std::string ExpectedTreePath(const ManifestEntry& AEntry) {
  if (AEntry.HasKind("parent-reused"))
    return "?\?\?/" + AEntry.Name();
  return "K:" + AEntry.Path;
}

class RealVolumeTest : public EngineTest {
protected:
  std::set<std::uint64_t> DeletedItemRecords() const {
    std::set<std::uint64_t> records;
    for (auto [bookmark, item] : ListItems<PItemInfo>(*Context.Items()))
      if (item->IsDeleted)
        records.insert(static_cast<std::uint64_t>(item->MFTNumber.Address()));
    return records;
  }

  std::string TreePathOf(std::uint64_t ARecord) const {
    const PTreeItemInfo node = NodeOfRecord(static_cast<std::int64_t>(ARecord));
    if (node == nullptr)
      return "(not in the tree)";
    std::string path = ToNativePath(TNTFSRecoveryContext::GetFullName(node, true));
    std::replace(path.begin(), path.end(), '\\', '/');
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
    const std::set<std::uint64_t> builder = RecordsOf(StillDeleted(image, manifest));
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

TEST_F(RealVolumeTest, DeletedFilesHangBelowTheirRealFolderAndCarryTheirOverwriteShare) {
  for (const std::string& recipe : testsupport::FixtureRecipes()) {
    SCOPED_TRACE(recipe);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    Scan(image);
    for (const ManifestEntry* entry : StillDeleted(image, manifest)) {
      if (entry->IsFolder)
        continue;
      SCOPED_TRACE(entry->Path);
      EXPECT_EQ(TreePathOf(entry->Record), ExpectedTreePath(*entry));
      const PItemInfo item = ItemOfRecord(static_cast<std::int64_t>(entry->Record));
      ASSERT_NE(item, nullptr);
      EXPECT_EQ(item->DataSize, static_cast<std::int64_t>(entry->Size));
      switch (entry->Overwritten) {
      case Overwrite::Entirely:
        EXPECT_EQ(item->OverwritePercent, 100.0);
        break;
      case Overwrite::Partly:
        EXPECT_NEAR(item->OverwritePercent, 100.0 * entry->TakenClusters / entry->Clusters, 1e-9);
        break;
      default:
        EXPECT_EQ(item->OverwritePercent, 0.0);
      }
    }
    Context.Clear();
  }
}

// The reader does not expand LZNT1 units: a compressed file comes back as
// its stored clusters.
bool CanBeRestoredIntact(const ManifestEntry& AEntry) {
  return !AEntry.IsFolder && AEntry.Overwritten == Overwrite::None && !AEntry.HasKind("compressed");
}

TEST_F(RealVolumeTest, RecoveryWritesTheOriginalBytesOfEveryIntactFileAndLeavesTheSourceAlone) {
  for (const std::string& recipe : testsupport::FixtureRecipes()) {
    SCOPED_TRACE(recipe);
    const std::string image = testsupport::FixtureImage(recipe);
    const std::string imageHash = FileSha256(image);
    const testsupport::Manifest manifest = testsupport::FixtureManifest(recipe);
    Scan(image);

    std::vector<const ManifestEntry*> restorable;
    for (const ManifestEntry* entry : StillDeleted(image, manifest)) {
      if (!CanBeRestoredIntact(*entry))
        continue;
      restorable.push_back(entry);
      Tick(NodeOfRecord(static_cast<std::int64_t>(entry->Record)));
    }
    testfiles::TTempFolder target;
    Context.SetTargetDir(FromNativePath(target.Path().string()));
    Context.ProcessRecover();

    for (const ManifestEntry* entry : restorable) {
      SCOPED_TRACE(entry->Path);
      const std::string tree = ExpectedTreePath(*entry);
      const std::filesystem::path restored = target.Path() / tree.substr(tree.find('/') + 1);
      ASSERT_TRUE(std::filesystem::is_regular_file(restored)) << restored;
      EXPECT_EQ(std::filesystem::file_size(restored), entry->Size);
      EXPECT_EQ(FileSha256(restored), entry->Sha256);
    }
    EXPECT_EQ(Progress->Details().back(), "Recovering completed.");
    EXPECT_EQ(FileSha256(image), imageHash);
    Context.Clear();
  }
}

} // namespace
