// The helpers every fixture test leans on: a wrong hash or a misread
// manifest would make all of them lie.
#include "tests/support/Content.h"
#include "tests/support/Manifest.h"
#include "tests/support/Sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace {

using namespace testsupport;

TEST(Sha256, KnownDigests) {
  struct Case {
    std::string Input;
    const char* Digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the padding needs a second block.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Sha256Hex(c.Input), c.Digest) << c.Input.size() << " bytes";
}

TEST(Sha256, PiecewiseEqualsWhole) {
  const std::string data = GenerateContent(RandomBytes(1000), 7);
  Sha256 hash;
  for (std::size_t at = 0; at < data.size(); at += 37)
    hash.Update(std::string_view(data).substr(at, 37));
  EXPECT_EQ(hash.HexDigest(), Sha256Hex(data));
}

TEST(ContentLayout, FormatsAndParsesBack) {
  const ContentLayout layout = ContentLayout::Parse("text:300,hole:65536,rand:4097,zero:0");
  EXPECT_EQ(layout.Format(), "text:300,hole:65536,rand:4097,zero:0");
  EXPECT_EQ(layout.TotalSize(), 300u + 65536 + 4097);
  EXPECT_TRUE(layout.HasHoles());
  EXPECT_TRUE(ContentLayout::Parse("").Segments.empty());
}

TEST(ContentLayout, RejectsMalformedSegments) {
  for (const char* bad : {"text", "text:", "text:12x", "blob:4", "rand:-1", "rand:4,,zero:1", ":5"})
    EXPECT_THROW(ContentLayout::Parse(bad), std::invalid_argument) << bad;
}

TEST(GenerateContent, DeterministicAndShaped) {
  const ContentLayout layout = ContentLayout::Parse("text:100,zero:50,hole:50,rand:64");
  const std::string a = GenerateContent(layout, 42);
  EXPECT_EQ(a, GenerateContent(layout, 42));
  EXPECT_NE(a, GenerateContent(layout, 43));
  ASSERT_EQ(a.size(), 264u);
  EXPECT_EQ(a.substr(100, 100), std::string(100, '\0'));
  EXPECT_EQ(a.substr(0, 100).find('\0'), std::string::npos);
}

class ManifestFile : public ::testing::Test {
protected:
  void TearDown() override { std::remove(FPath.c_str()); }
  void WriteText(const std::string& AText) { std::ofstream(FPath, std::ios::binary) << AText; }
  const std::string FPath = ::testing::TempDir() + "manifest-test.tsv";
};

TEST_F(ManifestFile, RoundTripsEveryField) {
  Manifest manifest;
  manifest.Volume = {"demo", 512, 4096, 1024, 3071, 2};
  ManifestEntry entry;
  entry.Path = "/Ünï/ñandú.bin";
  entry.Record = 76;
  entry.Sequence = 3;
  entry.ParentRecord = 67;
  entry.Deleted = true;
  entry.Size = 12288;
  entry.Kinds = {"nonresident", "unicode"};
  entry.Seed = 9;
  entry.Layout = "rand:12288";
  entry.Sha256 = "3c5e";
  entry.Runs = {{2652, 2}, {std::nullopt, 4}, {9, 1}};
  entry.Clusters = 3;
  entry.TakenClusters = 1;
  entry.Overwritten = Overwrite::Partly;
  entry.RecordReused = true;
  ManifestEntry folder;
  folder.Path = "/Ünï";
  folder.IsFolder = true;
  manifest.Entries = {folder, entry};
  WriteManifest(manifest, FPath);

  const Manifest back = ReadManifest(FPath);
  EXPECT_EQ(back.Volume.Recipe, "demo");
  EXPECT_EQ(back.Volume.MftExtents, 2u);
  EXPECT_EQ(back.Volume.TotalClusters, 3071u);
  ASSERT_EQ(back.Entries.size(), 2u);
  EXPECT_TRUE(back.Entries[0].IsFolder);
  EXPECT_TRUE(back.Entries[0].Runs.empty());
  const ManifestEntry& e = back.Entries[1];
  EXPECT_EQ(e.Path, entry.Path);
  EXPECT_EQ(e.Name(), "ñandú.bin");
  EXPECT_EQ(e.Record, 76u);
  EXPECT_EQ(e.Sequence, 3);
  EXPECT_EQ(e.ParentRecord, 67u);
  EXPECT_TRUE(e.Deleted);
  EXPECT_EQ(e.Kinds, entry.Kinds);
  EXPECT_EQ(e.Runs, entry.Runs);
  EXPECT_EQ(e.Overwritten, Overwrite::Partly);
  EXPECT_TRUE(e.RecordReused);
  EXPECT_EQ(back.Find("/Ünï/ñandú.bin"), &back.Entries[1]);
  EXPECT_EQ(back.Find("/missing"), nullptr);
}

TEST_F(ManifestFile, MalformedInputNamesTheLine) {
  struct Case {
    const char* Text;
    const char* LineTag;
  };
  const Case cases[] = {
      {"not a manifest\n", ":1:"},
      {"# tarnwick fixture manifest 1\npath\trecord\n/a\t12x\n", ":3:"},
      {"# tarnwick fixture manifest 1\npath\trecord\n/a\n", ":3:"},
      {"# tarnwick fixture manifest 1\npath\truns\n/a\t5+2;hole\n", ":3:"},
  };
  for (const Case& c : cases) {
    WriteText(c.Text);
    try {
      ReadManifest(FPath);
      ADD_FAILURE() << "accepted: " << c.Text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.LineTag), std::string::npos) << e.what();
    }
  }
}

TEST_F(ManifestFile, UnknownColumnsAreIgnored) {
  WriteText("# tarnwick fixture manifest 1\n# recipe\tx\npath\tnew_column\trecord\n/a\tanything\t70\n");
  const Manifest manifest = ReadManifest(FPath);
  ASSERT_EQ(manifest.Entries.size(), 1u);
  EXPECT_EQ(manifest.Entries[0].Record, 70u);
  EXPECT_EQ(manifest.Volume.Recipe, "x");
}

} // namespace
