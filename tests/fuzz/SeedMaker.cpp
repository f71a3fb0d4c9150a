// Builds the fuzzers' seed corpora from the fixture volumes:
//   fuzz-seeds CORPUS_DIR IMAGE...
// writes one folder per fuzz target into CORPUS_DIR: fuzz_RecordWalk
// (records as they lie on disk), fuzz_RunList (the data runs of every
// non-resident attribute), fuzz_AttributeList (files with an attribute list,
// renumbered into that fuzzer's small volume) and fuzz_Volume (each image of
// at most 16 MiB in the sparse form, cut down to its boot sector, its first
// records and the first clusters of their attributes) and
// fuzz_CompressedStream (the first units of every compressed attribute).

#include "AttributeListVolume.h"
#include "SparseImage.h"

#include "foundation/uSysPath.h"
#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using TBytes = std::vector<std::uint8_t>;

// Enough records for every fixture's files; a seed stays a few hundred KiB.
constexpr std::int64_t kMaxRecords = 160;
constexpr std::int64_t kAttributeBytes = 8192;
constexpr std::int64_t kBootBytes = 8192;
// Three units of 64 KiB: below what fuzz_CompressedStream takes as a data size.
constexpr std::int64_t kCompressedSeedBytes = 3 * 65536;

void WriteSeed(const fs::path& APath, const TBytes& ABytes) {
  fs::create_directories(APath.parent_path());
  std::ofstream out(APath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(ABytes.data()), static_cast<std::streamsize>(ABytes.size()));
  if (!out)
    throw std::runtime_error("cannot write " + APath.string());
}

// Puts the sequence number back over the last word of every 512 bytes, as
// the record lies on disk.
void Protect(TBytes& ARecord) {
  const TByteView view(ARecord.data(), ARecord.size());
  const std::uint16_t usa = PMFTRecord(view).UsaOffset();
  const std::size_t blocks = ARecord.size() / 512;
  if (!view.Contains(usa, 2 * (blocks + 1)))
    return;
  for (std::size_t i = 1; i <= blocks; ++i) {
    std::copy_n(&ARecord[i * 512 - 2], 2, &ARecord[usa + 2 * i]);
    std::copy_n(&ARecord[usa], 2, &ARecord[i * 512 - 2]);
  }
}

void SetRecordNumber(std::uint8_t* AField, std::int64_t ANumber) {
  for (int i = 0; i < 6; ++i)
    AField[i] = static_cast<std::uint8_t>(ANumber >> (8 * i));
}

class TSeedMaker {
public:
  TSeedMaker(const fs::path& ACorpus, const std::string& AImage)
      : FCorpus(ACorpus), FStem(fs::path(AImage).stem().string()),
        FVolume(NTFSVolumeInit(FromNativePath(AImage), TFileSource::Open(AImage))) {}

  void Make() {
    AddRange(0, kBootBytes);
    const std::int64_t records = std::min(FVolume->MFTRecordCount, kMaxRecords);
    for (std::int64_t number = 0; number < records; ++number)
      AddRecord(number);
    const std::int64_t size = FVolume->Device->Size();
    if (size <= fuzz::kMaxSparseImageSize)
      WriteSeed(FCorpus / "fuzz_Volume" / FStem, SparseImage(size));
  }

private:
  TBytes Fixed(std::int64_t ANumber) {
    TBytes record(FVolume->MFTRecordSize);
    NTFSUtils::GetMFTRecord(FVolume.Get(), MFT_REF::Build(ANumber), record.data());
    return record;
  }

  // Where the bytes of AStream's positions lie on the device, cluster by cluster.
  void AddStreamRange(const IMFTRunListPtr& ARuns, std::int64_t AOffset, std::int64_t ALength) {
    const std::int64_t cluster = FVolume->ClusterSize;
    for (std::int64_t pos = AOffset; pos < AOffset + ALength;) {
      const std::int64_t inCluster = pos % cluster;
      const std::int64_t n = std::min(cluster - inCluster, AOffset + ALength - pos);
      const NTFS_LCN lcn = ARuns->VCN2LCN(pos / cluster);
      if (lcn != 0)
        AddRange(lcn * cluster + inCluster, n);
      pos += n;
    }
  }

  void AddRange(std::int64_t AOffset, std::int64_t ALength) { FRanges[AOffset] = std::max(FRanges[AOffset], ALength); }

  void AddRecord(std::int64_t ANumber) {
    AddStreamRange(MFTRuns(), ANumber * FVolume->MFTRecordSize, FVolume->MFTRecordSize);
    const TBytes record = Fixed(ANumber);
    const TByteView view(record.data(), record.size());
    if (!PMFTRecord(view).IsFileRecord())
      return;
    TBytes onDisk(record.size());
    FVolume->MFTDataStream->Read(ANumber * FVolume->MFTRecordSize, static_cast<std::int64_t>(onDisk.size()),
                                 onDisk.data());
    WriteSeed(FCorpus / "fuzz_RecordWalk" / (FStem + "-" + std::to_string(ANumber)), onDisk);

    PMFTAttributeRecord attribute;
    int index = 0;
    for (bool first = true; NTFSAttribute::FindInternal(first, view, AttributeType::Any, 0, attribute);
         first = false, ++index) {
      if (NTFSAttribute::IsResident(attribute)) {
        if (attribute.TypeCode() == AttributeType::AttributeList)
          AttributeListSeed(ANumber, record, *view.OffsetOf(NTFSAttribute::GetResidentData(attribute)),
                            NTFSAttribute::GetResidentData(attribute).Size());
        continue;
      }
      const TByteView runBytes = attribute.Bytes().From(attribute.RunListOffset());
      WriteSeed(FCorpus / "fuzz_RunList" / (FStem + "-" + std::to_string(ANumber) + "-" + std::to_string(index)),
                TBytes(runBytes.Data(), runBytes.Data() + runBytes.Size()));
      const IMFTRunListPtr runs = MFTRunList::New();
      NTFSAttribute::RunListAddNonResidentPart(attribute, runs);
      AddStreamRange(runs, 0, std::clamp<std::int64_t>(attribute.DataSize(), 0, kAttributeBytes));
      if (NTFSAttribute::IsCompressed(attribute) && attribute.LowVCN() == 0)
        CompressedSeed(FStem + "-" + std::to_string(ANumber) + "-" + std::to_string(index), attribute, runs);
    }
  }

  // The first units of a compressed attribute moved into a volume of their
  // own, in fuzz_CompressedStream's input form: the clusters on disk one
  // after another from cluster 1 on (cluster 0 would read as sparse), the
  // sparse runs kept.
  void CompressedSeed(const std::string& AName, const PMFTAttributeRecord& AAttribute, const IMFTRunListPtr& ARuns) {
    const std::int64_t cluster = FVolume->ClusterSize;
    const int clusterBits = std::countr_zero(static_cast<std::uint64_t>(cluster));
    if (clusterBits < 9 || clusterBits > 12)
      return;
    const std::int64_t dataSize = std::clamp<std::int64_t>(AAttribute.DataSize(), 0, kCompressedSeedBytes);
    const std::int64_t clusters = std::min((dataSize + cluster - 1) / cluster, ARuns->VCNCount());
    std::vector<handmade::TRun> runs;
    TBytes volume(static_cast<std::size_t>(cluster), 0);
    for (NTFS_VCN vcn = 0; vcn < clusters; ++vcn) {
      std::optional<std::int64_t> lcn;
      if (const NTFS_LCN onDisk = ARuns->VCN2LCN(vcn); onDisk != 0) {
        lcn = static_cast<std::int64_t>(volume.size()) / cluster;
        volume.resize(volume.size() + static_cast<std::size_t>(cluster));
        FVolume->Device->Read(onDisk * cluster, cluster, volume.data() + volume.size() - cluster);
      }
      handmade::TRun* last = runs.empty() ? nullptr : &runs.back();
      if (last != nullptr && last->LCN.has_value() == lcn.has_value() && (!lcn || *last->LCN + last->Length == *lcn))
        ++last->Length;
      else
        runs.push_back({1, lcn});
    }
    const TBytes encoded = handmade::EncodeRuns(runs);
    TBytes input = {static_cast<std::uint8_t>(clusterBits - 9), static_cast<std::uint8_t>(AAttribute.CompressionUnitSize())};
    fuzz::AppendLE(input, static_cast<std::uint64_t>(dataSize), 4);
    fuzz::AppendLE(input, encoded.size(), 2);
    input.insert(input.end(), encoded.begin(), encoded.end());
    input.insert(input.end(), volume.begin(), volume.end());
    WriteSeed(FCorpus / "fuzz_CompressedStream" / AName, input);
  }

  const IMFTRunListPtr& MFTRuns() {
    if (!FMFTRuns) {
      FMFTRuns = MFTRunList::New();
      const TNTFSNodeRef node(FVolume.Get(), MFT_REF::Build(0));
      TAttributeSearch search(node.Get());
      if (search.FindFirst(AttributeType::Data))
        NTFSAttribute::RunListBuild(search.Rec(), FMFTRuns);
    }
    return FMFTRuns;
  }

  // The base record becomes record 24 of the fuzzer's volume and the first
  // three records its list names become 25 to 27.
  void AttributeListSeed(std::int64_t ANumber, TBytes ABase, std::size_t AListStart, std::size_t AListSize) {
    if (ABase.size() != fuzz::kRecordSize || PMFTRecord(TByteView(ABase.data(), ABase.size())).BaseMFTRecord().Value != 0)
      return;
    const std::size_t listStart = AListStart;
    const TByteView content(ABase.data() + AListStart, AListSize);
    std::map<std::int64_t, std::int64_t> renumbered{{ANumber, fuzz::kBaseRecord}};
    std::vector<std::int64_t> extensions;
    for (std::size_t at = 0; content.Contains(at, 26);) {
      const std::uint16_t length = content.Get<std::uint16_t>(at + 4);
      const std::int64_t record = MFT_REF::Build(content.Get<std::int64_t>(at + 16)).Address();
      if (!renumbered.count(record) && extensions.size() + 1 < fuzz::kRecords) {
        extensions.push_back(record);
        renumbered[record] = fuzz::kBaseRecord + static_cast<std::int64_t>(extensions.size());
      }
      if (renumbered.count(record))
        SetRecordNumber(&ABase[listStart + at + 16], renumbered[record]);
      if (length == 0)
        break;
      at += length;
    }
    TBytes input;
    Protect(ABase);
    input.insert(input.end(), ABase.begin(), ABase.end());
    for (std::int64_t extension : extensions) {
      TBytes record = Fixed(extension);
      SetRecordNumber(&record[MFTRecordField::BaseMFTRecord], fuzz::kBaseRecord);
      Protect(record);
      input.insert(input.end(), record.begin(), record.end());
    }
    WriteSeed(FCorpus / "fuzz_AttributeList" / (FStem + "-" + std::to_string(ANumber)), input);
  }

  TBytes SparseImage(std::int64_t ASize) {
    std::vector<std::pair<std::int64_t, std::int64_t>> merged;
    for (const auto& [offset, length] : FRanges) {
      if (!merged.empty() && offset <= merged.back().first + merged.back().second)
        merged.back().second = std::max(merged.back().second, offset + length - merged.back().first);
      else
        merged.emplace_back(offset, length);
    }
    TBytes out;
    fuzz::AppendLE(out, static_cast<std::uint64_t>(ASize), 8);
    for (auto [offset, length] : merged) {
      length = std::min(length, ASize - offset);
      if (length <= 0)
        continue;
      TBytes bytes(static_cast<std::size_t>(length));
      FVolume->Device->Read(offset, length, bytes.data());
      fuzz::AppendLE(out, static_cast<std::uint64_t>(offset), 8);
      fuzz::AppendLE(out, static_cast<std::uint64_t>(length), 4);
      out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
  }

  fs::path FCorpus;
  std::string FStem;
  TNTFSVolumeRef FVolume;
  IMFTRunListPtr FMFTRuns;
  std::map<std::int64_t, std::int64_t> FRanges;
};

// A base record whose attribute list is non-resident, in the cluster after
// the records, naming a $FILE_NAME and a $DATA in two extents in records 25
// and 26: the shape no fixture volume has.
void HandMadeNonResidentList(const fs::path& ACorpus) {
  using namespace handmade;
  const TBytes list = AttributeListContent({{0x10, 0, fuzz::kBaseRecord, 0, u""},
                                            {0x20, 0, fuzz::kBaseRecord, 1, u""},
                                            {0x30, 0, fuzz::kBaseRecord + 1, 0, u""},
                                            {0x80, 0, fuzz::kBaseRecord + 1, 1, u""},
                                            {0x80, 2, fuzz::kBaseRecord + 2, 0, u""}});
  const std::int64_t dataSize = 3 * 4096;
  TBytes input = TRecordBuilder(fuzz::kRecordSize)
                     .Resident(0x10, StandardInformationContent(7, 0x20), 0)
                     .NonResident(0x20, EncodeRuns({{1, fuzz::kListLCN}}), 0, 0,
                                  static_cast<std::int64_t>(list.size()), 1)
                     .Build();
  const TBytes first = TRecordBuilder(fuzz::kRecordSize)
                           .BaseRecord(fuzz::kBaseRecord)
                           .Resident(0x30, FileNameContent(5, u"spread.bin", 1, dataSize), 0)
                           .NonResident(0x80, EncodeRuns({{2, 80}}), 0, 1, dataSize, 1)
                           .Build();
  const TBytes second = TRecordBuilder(fuzz::kRecordSize)
                            .BaseRecord(fuzz::kBaseRecord)
                            .NonResident(0x80, EncodeRuns({{1, 90}}), 2, 2, dataSize, 0)
                            .Build();
  input.insert(input.end(), first.begin(), first.end());
  input.insert(input.end(), second.begin(), second.end());
  input.resize(fuzz::kRecords * fuzz::kRecordSize, 0);
  input.insert(input.end(), list.begin(), list.end());
  WriteSeed(ACorpus / "fuzz_AttributeList" / "handmade-nonresident-list", input);
}

} // namespace

int main(int AArgc, char** AArgv) {
  if (AArgc < 2) {
    std::fprintf(stderr, "usage: fuzz-seeds CORPUS_DIR IMAGE...\n");
    return 2;
  }
  try {
    const fs::path corpus = AArgv[1];
    HandMadeNonResidentList(corpus);
    for (int i = 2; i < AArgc; ++i)
      TSeedMaker(corpus, AArgv[i]).Make();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "fuzz-seeds: %s\n", error.what());
    return 1;
  }
  return 0;
}
