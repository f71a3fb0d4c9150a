#include "ntfs/uNTFSAttribute.h"
#include "ntfs/uNTFSNode.h"
#include "ntfs/uNTFSUtils.h"

#include "HandMadeVolumeTest.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

using handmade::TBytes;
using handmade::TRecordBuilder;
using handmade::TRun;

constexpr std::uint32_t ClusterSize = 4096;

TBytes Content(std::size_t ASize, std::uint8_t AFill) {
  return TBytes(ASize, AFill);
}

TByteView View(const TBytes& ABytes) {
  return TByteView(ABytes.data(), ABytes.size());
}

std::vector<ATTRIBUTE_TYPE_CODE> TypesFound(TByteView ARecord, ATTRIBUTE_TYPE_CODE AType) {
  std::vector<ATTRIBUTE_TYPE_CODE> types;
  PMFTAttributeRecord attribute;
  for (bool first = true; NTFSAttribute::FindInternal(first, ARecord, AType, 0, attribute); first = false)
    types.push_back(attribute.TypeCode());
  return types;
}

TBytes RawAttribute(std::uint32_t AType, std::uint32_t ALength, std::size_t ABytes) {
  TBytes attribute(ABytes, 0);
  handmade::PutLE(attribute, 0, AType, 4);
  handmade::PutLE(attribute, 4, ALength, 4);
  return attribute;
}

// A sound resident attribute with no content.
TBytes EmptyResident(std::uint32_t AType) {
  TBytes attribute = RawAttribute(AType, 24, 24);
  handmade::PutLE(attribute, 20, 24, 2); // ContentOffset
  return attribute;
}

struct TWalkCase {
  const char* Name;
  TBytes Bad;
  std::vector<ATTRIBUTE_TYPE_CODE> Expected;
};

class MalformedWalkTest : public ::testing::TestWithParam<TWalkCase> {};

// A malformed attribute ends the walk: what lies before it is found, the
// $DATA behind it is not, and nothing outside the record is read.
TEST_P(MalformedWalkTest, StopsAtTheBadAttribute) {
  const TBytes record = TRecordBuilder()
                            .Resident(0x10, Content(48, 1), 0)
                            .Raw(GetParam().Bad)
                            .Resident(0x80, Content(8, 2), 1)
                            .BuildUnprotected();
  EXPECT_EQ(TypesFound(View(record), AttributeType::Any), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Records, MalformedWalkTest,
    ::testing::Values(TWalkCase{"ZeroLength", RawAttribute(0x40, 0, 16), {0x10}},
                      TWalkCase{"RunsPastTheRecord", RawAttribute(0x40, 0x10000, 16), {0x10}},
                      TWalkCase{"ShorterThanItsHeader", RawAttribute(0x40, 8, 16), {0x10}},
                      TWalkCase{"EndMarker", RawAttribute(0xFFFFFFFF, 16, 16), {0x10}},
                      TWalkCase{"WellFormed", EmptyResident(0x40), {0x10, 0x40, 0x80}}),
    [](const ::testing::TestParamInfo<TWalkCase>& AInfo) { return AInfo.param.Name; });

// One sound attribute of each form, and one field changed at a time: an
// attribute whose form does not hold together is passed over by every
// search (the walk goes on behind it) and named with what is wrong.
struct TFormCase {
  const char* Name;
  std::function<void(TBytes&)> Change;
  const char* Problem; // nullptr: sound
};

TBytes SoundAttribute(std::uint32_t AType, bool ANonResident) {
  const TBytes record =
      ANonResident ? TRecordBuilder().NonResident(AType, handmade::EncodeRuns({{2, 100}}), 0, 1, 8000, 1, u"s").BuildUnprotected()
                   : TRecordBuilder().Resident(AType, handmade::FileNameContent(5, u"name.txt", 1), 1).BuildUnprotected();
  const std::size_t start = 56;
  const std::uint32_t length = record[start + 4] | record[start + 5] << 8;
  return TBytes(record.begin() + start, record.begin() + start + length);
}

class AttributeFormTest : public ::testing::TestWithParam<std::tuple<bool, TFormCase>> {};

TEST_P(AttributeFormTest, UnsoundFormsAreNamedAndPassedOver) {
  const auto& [nonResident, c] = GetParam();
  TBytes attribute = SoundAttribute(nonResident ? 0x80 : 0x30, nonResident);
  c.Change(attribute);
  const TBytes record = TRecordBuilder()
                            .Resident(0x10, Content(48, 1), 0)
                            .Raw(attribute)
                            .Resident(0x40, Content(8, 2), 2)
                            .BuildUnprotected();
  const std::vector<TAttributeDamage> damaged = NTFSAttribute::DamagedAttributes(View(record));
  if (c.Problem == nullptr) {
    EXPECT_TRUE(damaged.empty());
    EXPECT_EQ(TypesFound(View(record), AttributeType::Any).size(), 3u);
    return;
  }
  ASSERT_EQ(damaged.size(), 1u);
  EXPECT_EQ(damaged[0].Offset, 56u + 72u);
  EXPECT_EQ(damaged[0].TypeCode, nonResident ? 0x80u : 0x30u);
  EXPECT_STREQ(damaged[0].Problem, c.Problem);
  EXPECT_EQ(TypesFound(View(record), AttributeType::Any), (std::vector<ATTRIBUTE_TYPE_CODE>{0x10, 0x40}));
}

const char kName[] = "its name lies outside it";
const std::vector<TFormCase> ResidentForms = {
    {"Sound", [](TBytes&) {}, nullptr},
    {"ContentPastTheEnd", [](TBytes& A) { handmade::PutLE(A, 16, A.size(), 4); }, "its resident content lies outside it"},
    {"ContentInTheHeader", [](TBytes& A) { handmade::PutLE(A, 20, 8, 2); }, "its resident content lies outside it"},
    {"NameLengthPastTheEnd", [](TBytes& A) { A[9] = 200; }, kName},
    {"FileNameWithoutItsName", [](TBytes& A) { A[24 + 64] = 100; },
     "its file name content is shorter than 66 bytes and the name"},
    {"FileNameShorterThan66",
     [](TBytes& A) {
       handmade::PutLE(A, 16, 60, 4);
     },
     "its file name content is shorter than 66 bytes and the name"},
};
const std::vector<TFormCase> NonResidentForms = {
    {"Sound", [](TBytes&) {}, nullptr},
    {"RunListInTheHeader", [](TBytes& A) { handmade::PutLE(A, 32, 40, 2); }, "its run list lies outside it"},
    {"RunListPastTheEnd", [](TBytes& A) { handmade::PutLE(A, 32, A.size() + 8, 2); }, "its run list lies outside it"},
    {"NamePastTheEnd", [](TBytes& A) { handmade::PutLE(A, 10, A.size() - 1, 2); }, kName},
};

std::string FormCaseName(const ::testing::TestParamInfo<std::tuple<bool, TFormCase>>& AInfo) {
  return std::string(std::get<0>(AInfo.param) ? "NonResident" : "Resident") + std::get<1>(AInfo.param).Name;
}

INSTANTIATE_TEST_SUITE_P(Resident, AttributeFormTest,
                         ::testing::Combine(::testing::Values(false), ::testing::ValuesIn(ResidentForms)), FormCaseName);
INSTANTIATE_TEST_SUITE_P(NonResident, AttributeFormTest,
                         ::testing::Combine(::testing::Values(true), ::testing::ValuesIn(NonResidentForms)),
                         FormCaseName);

TEST(AttributeForm, ShortHeadersAndNonResidentNames) {
  // A non-resident header cut after its run-list offset, and a $FILE_NAME
  // that claims to live in clusters.
  TBytes shortHeader = RawAttribute(0x80, 48, 48);
  shortHeader[8] = 1;
  EXPECT_STREQ(NTFSAttribute::FormProblem(PMFTAttributeRecord(View(shortHeader))),
               "its non-resident header does not fit in it");
  TBytes nonResidentName = RawAttribute(0x30, 72, 72);
  nonResidentName[8] = 1;
  handmade::PutLE(nonResidentName, 32, 64, 2);
  EXPECT_STREQ(NTFSAttribute::FormProblem(PMFTAttributeRecord(View(nonResidentName))),
               "a file name is never stored outside the record");
  EXPECT_STREQ(NTFSAttribute::FormProblem(PMFTAttributeRecord(View(RawAttribute(0x80, 16, 16)))),
               "its resident header does not fit in it");
}

TEST(AttributeWalk, AnAttributeEndingAtTheRecordEndIsTheLast) {
  // 56 bytes of header and array, 968 bytes of attribute: no room for an end marker.
  const TBytes record = TRecordBuilder().NoEndMarker().Resident(0x80, Content(944, 7), 1).BuildUnprotected();
  EXPECT_EQ(TypesFound(View(record), AttributeType::Data), std::vector<ATTRIBUTE_TYPE_CODE>{0x80});
  // Cut short, the same attribute runs past the record.
  EXPECT_TRUE(TypesFound(TByteView(record.data(), record.size() - 8), AttributeType::Any).empty());
}

TEST(AttributeWalk, ResidentContentStaysInsideItsAttribute) {
  TBytes attribute = RawAttribute(0x80, 40, 40);
  handmade::PutLE(attribute, 16, 1000, 4); // ContentLength
  handmade::PutLE(attribute, 20, 24, 2);   // ContentOffset
  const PMFTAttributeRecord record(View(attribute));
  EXPECT_EQ(NTFSAttribute::GetResidentData(record).Size(), 16u);
  handmade::PutLE(attribute, 20, 400, 2);
  EXPECT_TRUE(NTFSAttribute::GetResidentData(PMFTAttributeRecord(View(attribute))).Empty());
}

struct TNameCase {
  const char* Name;
  std::vector<std::pair<std::u16string, std::uint8_t>> Names;
  std::u16string Expected;
};

class FileNameChoiceTest : public ::testing::TestWithParam<TNameCase> {};

TEST_P(FileNameChoiceTest, PrefersTheFirstWin32Name) {
  TRecordBuilder builder;
  builder.Resident(0x10, Content(72, 0), 0);
  std::uint16_t id = 1;
  for (const auto& [name, type] : GetParam().Names)
    builder.Resident(0x30, handmade::FileNameContent(5, name, type), id++);
  const TBytes record = builder.BuildUnprotected();
  const PMFTFilenameAttribute found =
      NTFSAttribute::GetFileNameAttribute(record.data(), static_cast<std::uint32_t>(record.size()), FILE_NAME_WIN32);
  if (GetParam().Expected.empty()) {
    EXPECT_FALSE(found);
  } else {
    ASSERT_TRUE(found);
    EXPECT_EQ(NTFSUtils::GetFileName(found), GetParam().Expected);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Records, FileNameChoiceTest,
    ::testing::Values(TNameCase{"DosThenWin32", {{u"LONGNA~1.TXT", 2}, {u"long name.txt", 1}}, u"long name.txt"},
                      TNameCase{"Win32AndDosThenDos", {{u"both.txt", 3}, {u"BOTH.TXT", 2}}, u"both.txt"},
                      TNameCase{"PosixThenDosGivesTheLast", {{u"posix", 0}, {u"DOS", 2}}, u"DOS"},
                      TNameCase{"None", {}, u""}),
    [](const ::testing::TestParamInfo<TNameCase>& AInfo) { return AInfo.param.Name; });

TEST(AttributeSearch, MustBeInitializedFirst) {
  TAttributeSearchRec rec;
  for (auto step : {+[](TAttributeSearchRec& R) { NTFSAttribute::FindFirst(0x80, 0, R); },
                    +[](TAttributeSearchRec& R) { NTFSAttribute::FindNext(R); },
                    +[](TAttributeSearchRec& R) { NTFSAttribute::FindInAttributeList(true, R); }}) {
    try {
      step(rec);
      ADD_FAILURE() << "no exception";
    } catch (const std::exception& e) {
      EXPECT_STREQ(e.what(), "Attribute search must be initialized first.");
    }
  }
}

// Every byte of a cluster tells its VCN, so that a stream read shows which
// cluster each part came from.
TBytes ClusterOf(NTFS_VCN AVCN) {
  TBytes cluster(ClusterSize);
  for (std::size_t i = 0; i < cluster.size(); ++i)
    cluster[i] = static_cast<std::uint8_t>(AVCN * 13 + static_cast<NTFS_VCN>(i / 512));
  return cluster;
}

struct TExtent {
  NTFS_VCN LowVCN;
  NTFS_VCN HighVCN;
  std::vector<TRun> Runs;
};

// Data of 280 clusters in three extents: VCN 0-99, 100-249 (two runs) and
// 250-279 (10 sparse clusters first).
const std::vector<TExtent> Extents = {
    {0, 99, {{100, 300}}}, {100, 249, {{75, 50}, {75, 200}}}, {250, 279, {{10, std::nullopt}, {20, 420}}}};
constexpr std::int64_t ExtentsDataSize = 280 * ClusterSize - 1000;

void PutClusters(handmade::TVolumeImage& AImage, const TExtent& AExtent) {
  NTFS_VCN vcn = AExtent.LowVCN;
  for (const TRun& run : AExtent.Runs)
    for (std::int64_t i = 0; i < run.Length; ++i, ++vcn)
      if (run.LCN)
        AImage.Clusters[*run.LCN + i] = ClusterOf(vcn);
}

TBytes ExpectedExtentsData() {
  TBytes data;
  for (NTFS_VCN vcn = 0; vcn < 280; ++vcn) {
    const TBytes cluster = vcn >= 250 && vcn < 260 ? TBytes(ClusterSize, 0) : ClusterOf(vcn);
    data.insert(data.end(), cluster.begin(), cluster.end());
  }
  data.resize(ExtentsDataSize);
  return data;
}

struct TExtentsCase {
  const char* Name;
  std::vector<std::uint16_t> Ids; // attribute id of each extent
  bool FirstInBase;               // the first extent lives in the base record
};

class ExtentsTest : public HandMadeVolumeTest, public ::testing::WithParamInterface<TExtentsCase> {
protected:
  static constexpr std::int64_t Base = 30;

  void SetUp() override {
    const TExtentsCase& c = GetParam();
    handmade::TVolumeImage image;
    image.TotalClusters = 600;
    std::vector<handmade::TListEntry> entries = {{0x10, 0, Base, 0, u""}, {0x30, 0, Base, 1, u""}};
    TRecordBuilder base;
    base.Resident(0x10, handmade::StandardInformationContent(100, 0x20), 0)
        .Resident(0x30, handmade::FileNameContent(5, u"extents.bin", 3), 1);
    for (std::size_t i = 0; i < Extents.size(); ++i) {
      const TExtent& extent = Extents[i];
      const bool inBase = i == 0 && c.FirstInBase;
      const std::int64_t holder = inBase ? Base : 40 + static_cast<std::int64_t>(i);
      entries.push_back({0x80, extent.LowVCN, holder, c.Ids[i], u""});
      const std::int64_t dataSize = extent.LowVCN == 0 ? ExtentsDataSize : 0;
      if (inBase) {
        base.NonResident(0x80, handmade::EncodeRuns(extent.Runs), 0, extent.HighVCN, dataSize, c.Ids[i]);
      } else {
        image.Records[holder] = TRecordBuilder()
                                    .BaseRecord(Base)
                                    .NonResident(0x80, handmade::EncodeRuns(extent.Runs), extent.LowVCN,
                                                 extent.HighVCN, dataSize, c.Ids[i])
                                    .Build();
      }
      PutClusters(image, extent);
    }
    // A named stream's extent at VCN 100 is listed before the unnamed one's
    // and must not join the unnamed data.
    entries.insert(entries.begin() + 3, {0x80, 100, 43, c.Ids[1], u"ads"});
    image.Records[43] = TRecordBuilder()
                            .BaseRecord(Base)
                            .NonResident(0x80, handmade::EncodeRuns({{10, 500}}), 100, 109, 0, c.Ids[1], u"ads")
                            .Build();
    image.Clusters[500] = TBytes(ClusterSize, 0xEE);
    base.Resident(0x20, handmade::AttributeListContent(entries), 7);
    image.Records[Base] = base.Build();
    Open(image);
  }
};

TEST_P(ExtentsTest, ChainsEveryExtentOfTheUnnamedData) {
  const TNTFSNodeRef node(FVolume, MFT_REF::Build(Base));
  EXPECT_EQ(node->DataSize, ExtentsDataSize);
  TAttributeSearch search(node.Get());
  ASSERT_TRUE(search.FindFirst(AttributeType::Data));
  EXPECT_EQ(search.Rec().SearchMode, GetParam().FirstInBase ? asmInternal : asmAttributeList);

  const IMFTRunListPtr runs = MFTRunList::New();
  NTFSAttribute::RunListBuild(search.Rec(), runs);
  std::vector<RunListElement> items;
  for (std::int32_t i = 0; i < runs->ItemCount(); ++i)
    items.push_back(runs->Item(i));
  EXPECT_EQ(items, (std::vector<RunListElement>{
                       {0, 300, 100}, {100, 50, 75}, {175, 200, 75}, {250, 0, 10}, {260, 420, 20}}));

  const IStreamExPtr stream = NTFSAttribute::GetDataStream(search.Rec());
  ASSERT_EQ(stream->Size(), ExtentsDataSize);
  TBytes data(ExtentsDataSize);
  EXPECT_EQ(stream->Read(0, ExtentsDataSize, data.data()), ExtentsDataSize);
  EXPECT_TRUE(data == ExpectedExtentsData());
}

INSTANTIATE_TEST_SUITE_P(Writers, ExtentsTest,
                         ::testing::Values(TExtentsCase{"WindowsSameIds", {1, 1, 1}, false},
                                           TExtentsCase{"Ntfs3gIds", {2, 0, 0}, false},
                                           TExtentsCase{"FirstExtentInBase", {2, 0, 0}, true}),
                         [](const ::testing::TestParamInfo<TExtentsCase>& AInfo) { return AInfo.param.Name; });

class AttributeListTest : public HandMadeVolumeTest {
protected:
  // Record ABase lists its $DATA in AHolder, whose own base is AHolderBase.
  static void AddListedData(handmade::TVolumeImage& AImage, std::int64_t ABase, std::int64_t AHolder,
                            std::int64_t AHolderBase, NTFS_VCN AStartVCN) {
    AImage.Records[ABase] =
        TRecordBuilder()
            .Resident(0x10, handmade::StandardInformationContent(7, 0x20), 0)
            .Resident(0x20, handmade::AttributeListContent({{0x80, AStartVCN, AHolder, 0, u""}}), 1)
            .Build();
    AImage.Records[AHolder] = TRecordBuilder()
                                  .BaseRecord(AHolderBase)
                                  .NonResident(0x80, handmade::EncodeRuns({{2, 100}}), AStartVCN, AStartVCN + 1,
                                               5000, 0)
                                  .Build();
  }
};

TEST_F(AttributeListTest, DataOnlyInAnExtensionRecord) {
  handmade::TVolumeImage image;
  AddListedData(image, 30, 40, 30, 0);
  Open(image);
  const TNTFSNodeRef node(FVolume, MFT_REF::Build(30));
  EXPECT_EQ(node->DataSize, 5000);
  TAttributeSearchRec rec;
  NTFSAttribute::InitSearch(node.Get(), rec);
  ASSERT_TRUE(NTFSAttribute::FindFirst(AttributeType::Data, 0, rec));
  EXPECT_EQ(rec.SearchMode, asmAttributeList);
  ASSERT_NE(rec.ExternalNode, nullptr);
  EXPECT_EQ(rec.ExternalNode->MFTNumber.Address(), 40);
  EXPECT_EQ(rec.AttributeRecord.DataSize(), 5000);
  const PNTFSNode external = rec.ExternalNode;
  EXPECT_EQ(external->RefCount, 1);
  EXPECT_FALSE(NTFSAttribute::FindNext(rec));
  NTFSAttribute::CloseSearch(rec);
  EXPECT_EQ(external->RefCount, 0);
}

TEST_F(AttributeListTest, EntriesThatCannotBeFirstExtentsAreSkipped) {
  handmade::TVolumeImage image;
  AddListedData(image, 30, 40, 31, 0);  // the holder belongs to another base record
  AddListedData(image, 32, 41, 32, 200); // only an extent from VCN 200 on
  Open(image);
  for (std::int64_t base : {30, 32}) {
    const TNTFSNodeRef node(FVolume, MFT_REF::Build(base));
    TAttributeSearch search(node.Get());
    EXPECT_FALSE(search.FindFirst(AttributeType::Data)) << base;
    EXPECT_EQ(node->DataSize, 0) << base;
  }
}

TEST_F(AttributeListTest, SearchesByTypeThroughTheRecordThenTheList) {
  handmade::TVolumeImage image;
  image.Records[33] = TRecordBuilder()
                          .Resident(0x10, handmade::StandardInformationContent(7, 0x20), 0)
                          .Resident(0x20,
                                    handmade::AttributeListContent({{0x10, 0, 33, 0, u""},
                                                                    {0x80, 0, 42, 3, u"b"},
                                                                    {0x30, 0, 42, 4, u""},
                                                                    {0x80, 2, 42, 5, u"c"}}),
                                    1)
                          .Resident(0x30, handmade::FileNameContent(5, u"x", 1), 2)
                          .Resident(0x30, handmade::FileNameContent(5, u"X", 2), 3)
                          .Resident(0x80, Content(10, 1), 4)
                          .Resident(0x80, Content(20, 2), 5, u"a")
                          .Build();
  image.Records[42] = TRecordBuilder()
                          .BaseRecord(33)
                          .Resident(0x80, Content(30, 3), 3, u"b")
                          .Resident(0x30, handmade::FileNameContent(5, u"long name", 1), 4)
                          .NonResident(0x80, handmade::EncodeRuns({{2, 100}}), 2, 3, 0, 5, u"c")
                          .Build();
  Open(image);
  const TNTFSNodeRef node(FVolume, MFT_REF::Build(33));
  {
    TAttributeSearch search(node.Get());
    std::vector<std::int64_t> sizes;
    for (bool found = search.FindFirst(AttributeType::Data); found; found = search.FindNext())
      sizes.push_back(NTFSAttribute::GetDataSize(search.Rec()));
    EXPECT_EQ(sizes, (std::vector<std::int64_t>{10, 20, 30}));
  }
  {
    // Type 0 visits the record's own attributes, the list among them, then
    // the first extents the list keeps in extension records, each once:
    // the entry naming the base record and the later extent are passed over.
    TAttributeSearch search(node.Get());
    std::vector<std::pair<ATTRIBUTE_TYPE_CODE, std::int64_t>> found;
    for (bool more = search.FindFirst(AttributeType::Any); more; more = search.FindNext()) {
      const PNTFSNode holder = search.Rec().SearchMode == asmAttributeList ? search.Rec().ExternalNode : node.Get();
      found.emplace_back(search.Rec().AttributeRecord.TypeCode(), holder->MFTNumber.Address());
    }
    EXPECT_EQ(found, (std::vector<std::pair<ATTRIBUTE_TYPE_CODE, std::int64_t>>{
                         {0x10, 33}, {0x20, 33}, {0x30, 33}, {0x30, 33}, {0x80, 33}, {0x80, 33}, {0x80, 42}, {0x30, 42}}));
  }
  TAttributeSearch search(node.Get());
  ASSERT_TRUE(search.FindFirst(AttributeType::Data, 5));
  TBytes data(20);
  NTFSAttribute::ReadData(search.Rec(), 20, data.data());
  EXPECT_EQ(data, Content(20, 2));
}

} // namespace
