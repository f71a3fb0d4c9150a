#include "foundation/uStreamEx.h"

#include "foundation/uMemoryEx.h"
#include "foundation/uSysPath.h"
#include "tests/support/uTestFiles.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <limits>
#include <system_error>

namespace {

using ::testing::ElementsAreArray;
using testfiles::PatternBytes;
using testfiles::TTempFolder;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

const std::array<std::uint8_t, 10> kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// Reads into a buffer pre-filled with 0xEE, so bytes a read must not touch
// stay visible.
std::vector<std::uint8_t> ReadBytes(IStreamEx& AStream, std::int64_t APos, std::int64_t ASize,
                                    std::int64_t& ACount) {
  std::vector<std::uint8_t> buffer(16, 0xEE);
  ACount = AStream.Read(APos, ASize, buffer.data());
  buffer.resize(static_cast<std::size_t>(std::max<std::int64_t>(ACount, 0)));
  return buffer;
}

std::string ErrorOf(const std::function<void()>& AAction) {
  try {
    AAction();
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

struct TReadCase {
  std::int64_t Pos;
  std::int64_t Size;
  std::vector<std::uint8_t> Expected;
};

// Shared by the memory stream and the file stream over the same ten bytes.
const TReadCase kReadCases[] = {
    {0, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {8, 5, {8, 9}},
    {3, 2, {3, 4}},
    {10, 1, {}},
    {12, 1, {}},
    {0, 0, {}},
    {2, -4, {}},
    {-1, 3, {}},
    {-kMax, 5, {}},
    {kMax, 1, {}},
    {2, kMax, {2, 3, 4, 5, 6, 7, 8, 9}},
};

void ExpectReads(IStreamEx& AStream) {
  for (const TReadCase& c : kReadCases) {
    std::int64_t count = -1;
    const auto bytes = ReadBytes(AStream, c.Pos, c.Size, count);
    EXPECT_EQ(count, static_cast<std::int64_t>(c.Expected.size())) << "pos " << c.Pos << " size " << c.Size;
    EXPECT_THAT(bytes, ElementsAreArray(c.Expected)) << "pos " << c.Pos << " size " << c.Size;
  }
}

TEST(MemoryStream, ReadsClipToTheStreamAndNeverReachOutside) {
  const IStreamExPtr stream = StreamEx::GetMemoryStream(kTen.data(), 10);
  EXPECT_EQ(stream->Size(), 10);
  ExpectReads(*stream);
}

TEST(MemoryStream, KeepsATrackedCopyOfTheCallersBytes) {
  const std::int64_t before = MemoryEx::AllocatedBytes();
  {
    std::vector<std::uint8_t> source(kTen.begin(), kTen.end());
    const IStreamExPtr stream = StreamEx::GetMemoryStream(source.data(), 10);
    EXPECT_EQ(MemoryEx::AllocatedBytes() - before, 10);
    source.assign(10, 0xFF);
    source.clear();
    source.shrink_to_fit();
    std::int64_t count = 0;
    EXPECT_THAT(ReadBytes(*stream, 0, 10, count), ElementsAreArray(kTen));
  }
  EXPECT_EQ(MemoryEx::AllocatedBytes(), before);
}

TEST(MemoryStream, OfSizeZeroIsEmpty) {
  const IStreamExPtr stream = StreamEx::GetMemoryStream(nullptr, 0);
  EXPECT_EQ(stream->Size(), 0);
  std::int64_t count = -1;
  EXPECT_TRUE(ReadBytes(*stream, 0, 4, count).empty());
  EXPECT_EQ(count, 0);
}

TEST(MemoryStream, FactoryRejectsANegativeSizeAndMissingBytes) {
  EXPECT_EQ(ErrorOf([] { StreamEx::GetMemoryStream(kTen.data(), -1); }),
            "GetMemoryStream: Incorrect data size.");
  EXPECT_EQ(ErrorOf([] { StreamEx::GetMemoryStream(nullptr, 4); }),
            "GetMemoryStream: Source data cannot be null.");
}

TEST(NullStream, IsOneSharedEmptyStream) {
  const IStreamExPtr first = StreamEx::Null();
  EXPECT_EQ(first, StreamEx::Null());
  EXPECT_EQ(first->Size(), 0);
  std::uint8_t untouched = 0xEE;
  EXPECT_EQ(first->Read(0, 1, &untouched), 0);
  EXPECT_EQ(untouched, 0xEE);
}

TEST(ProxyStream, ShowsTheSourceFromItsOffset) {
  const IStreamExPtr source = StreamEx::GetMemoryStream(kTen.data(), 10);
  const IStreamExPtr proxy = StreamEx::GetProxyStream(source, 4);
  EXPECT_EQ(proxy->Size(), 6);
  const struct {
    std::int64_t Pos, Size;
    std::vector<std::uint8_t> Expected;
  } cases[] = {
      {0, 3, {4, 5, 6}},
      {5, 5, {9}},
      {6, 1, {}},
      {-1, 3, {}},  // never the source's bytes before the window
      {-4, 4, {}},
      {kMax, 1, {}},
  };
  for (const auto& c : cases) {
    std::int64_t count = -1;
    EXPECT_THAT(ReadBytes(*proxy, c.Pos, c.Size, count), ElementsAreArray(c.Expected)) << c.Pos;
    EXPECT_EQ(count, static_cast<std::int64_t>(c.Expected.size())) << c.Pos;
  }
}

TEST(ProxyStream, FactoryChecksSourceThenOffset) {
  const IStreamExPtr source = StreamEx::GetMemoryStream(kTen.data(), 10);
  for (std::int64_t offset = 0; offset <= 10; ++offset)
    EXPECT_EQ(StreamEx::GetProxyStream(source, offset)->Size(), 10 - offset);
  for (const std::int64_t offset : {std::int64_t{-1}, std::int64_t{11}, kMax})
    EXPECT_EQ(ErrorOf([&] { StreamEx::GetProxyStream(source, offset); }), "GetProxyStream: Incorrect offset value.")
        << offset;
  EXPECT_EQ(ErrorOf([] { StreamEx::GetProxyStream(nullptr, -1); }), "GetProxyStream: Source stream cannot be null.");
}

TEST(ProxyStream, KeepsItsSourceAlive) {
  IStreamExPtr source = StreamEx::GetMemoryStream(kTen.data(), 10);
  const std::weak_ptr<IStreamEx> watch = source;
  IStreamExPtr proxy = StreamEx::GetProxyStream(source, 2);
  source.reset();
  ASSERT_FALSE(watch.expired());
  std::uint8_t byte = 0;
  EXPECT_EQ(proxy->Read(0, 1, &byte), 1);
  EXPECT_EQ(byte, 2);
  proxy.reset();
  EXPECT_TRUE(watch.expired());
}

class FileStream : public ::testing::Test {
protected:
  std::u16string Name(const std::string& AName) const {
    return FromNativePath((FFolder / AName).string());
  }
  TTempFolder FFolder;
};

TEST_F(FileStream, ReadsLikeAMemoryStream) {
  testfiles::WriteFile(FFolder / "ten.bin", {kTen.begin(), kTen.end()});
  const IStreamExPtr stream = StreamEx::GetFileStream(Name("ten.bin"));
  EXPECT_EQ(stream->Size(), 10);
  ExpectReads(*stream);
}

TEST_F(FileStream, SizeFollowsTheFileAndLinksAreFollowed) {
  testfiles::WriteFile(FFolder / "grows.bin", PatternBytes(0, 100));
  std::filesystem::create_symlink(FFolder / "grows.bin", FFolder / "link.bin");
  const IStreamExPtr stream = StreamEx::GetFileStream(Name("link.bin"));
  EXPECT_EQ(stream->Size(), 100);
  testfiles::WriteFile(FFolder / "grows.bin", PatternBytes(0, 300));
  EXPECT_EQ(stream->Size(), 300);
}

TEST_F(FileStream, OpensNamesOutsideAscii) {
  const std::u16string name = Name("") + u"Bericht-\u00FC\u4E2D.bin";
  testfiles::WriteFile(FFolder / "Bericht-\xC3\xBC\xE4\xB8\xAD.bin", PatternBytes(0, 5));
  EXPECT_EQ(StreamEx::GetFileStream(name)->Size(), 5);
}

TEST_F(FileStream, MissingFilesAndFoldersDoNotExist) {
  std::filesystem::create_directory(FFolder / "folder");
  std::filesystem::create_symlink(FFolder / "gone.bin", FFolder / "dangling.bin");
  for (const char* name : {"missing.bin", "folder", "dangling.bin"})
    EXPECT_EQ(ErrorOf([&] { StreamEx::GetFileStream(Name(name)); }), "GetFileStream: File does not exist.") << name;
}

// A socket exists but cannot be opened, even by root.
TEST_F(FileStream, AFileThatCannotBeOpenedRaisesTheOpenError) {
  const std::string path = (FFolder / "socket").string();
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(path.size(), sizeof address.sun_path);
  path.copy(address.sun_path, path.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  try {
    StreamEx::GetFileStream(Name("socket"));
    ADD_FAILURE() << "no error";
  } catch (const std::system_error& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot open file"), std::string::npos) << e.what();
  }
  close(listener);
}

} // namespace
