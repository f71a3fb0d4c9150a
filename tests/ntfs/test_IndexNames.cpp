// Index blocks made by hand: the entries in use, then what the unused tail
// still holds, whole or torn, of this folder or another.
#include "ntfs/uIndexNames.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kBlockSize = 4096;
constexpr std::size_t kNodeHeader = 0x18;
constexpr std::size_t kFirstEntry = 0x40;
constexpr std::int64_t kFolder = 64;

void Put16(std::vector<std::uint8_t>& ABytes, std::size_t AAt, std::uint16_t AValue) {
  std::memcpy(ABytes.data() + AAt, &AValue, sizeof AValue);
}
void Put32(std::vector<std::uint8_t>& ABytes, std::size_t AAt, std::uint32_t AValue) {
  std::memcpy(ABytes.data() + AAt, &AValue, sizeof AValue);
}
void Put64(std::vector<std::uint8_t>& ABytes, std::size_t AAt, std::uint64_t AValue) {
  std::memcpy(ABytes.data() + AAt, &AValue, sizeof AValue);
}

// An index entry naming AName in AParent, pointing at record ARecord with
// sequence number 3; its length rounded up to 8.
std::vector<std::uint8_t> Entry(const std::u16string& AName, std::uint64_t ARecord, std::int64_t AParent = kFolder) {
  const std::size_t keyLength = 0x42 + AName.size() * 2;
  std::vector<std::uint8_t> entry((0x10 + keyLength + 7) / 8 * 8);
  Put64(entry, 0x00, ARecord | (std::uint64_t{3} << 48));
  Put16(entry, 0x08, static_cast<std::uint16_t>(entry.size()));
  Put16(entry, 0x0A, static_cast<std::uint16_t>(keyLength));
  Put64(entry, 0x10, static_cast<std::uint64_t>(AParent) | (std::uint64_t{1} << 48));
  Put64(entry, 0x18, 1111);                 // created
  Put64(entry, 0x20, 2222);                 // written
  Put64(entry, 0x40, 100 + ARecord);        // data size
  Put32(entry, 0x48, 0x20);                 // archive
  entry[0x50] = static_cast<std::uint8_t>(AName.size());
  entry[0x51] = 1;                          // Win32
  for (std::size_t i = 0; i < AName.size(); ++i)
    Put16(entry, 0x52 + i * 2, AName[i]);
  return entry;
}

// A fixed-up block: AUsed entries, the end entry, then ASlack as it lies.
std::vector<std::uint8_t> Block(const std::vector<std::vector<std::uint8_t>>& AUsed,
                                const std::vector<std::uint8_t>& ASlack) {
  std::vector<std::uint8_t> block(kBlockSize);
  std::memcpy(block.data(), "INDX", 4);
  std::size_t at = kFirstEntry;
  for (const std::vector<std::uint8_t>& entry : AUsed) {
    std::copy(entry.begin(), entry.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
    at += entry.size();
  }
  Put16(block, at + 0x08, 0x10);
  Put32(block, at + 0x0C, 0x02); // the last entry, without a key
  at += 0x10;
  std::copy(ASlack.begin(), ASlack.end(), block.begin() + static_cast<std::ptrdiff_t>(at));
  Put32(block, kNodeHeader + 0x00, static_cast<std::uint32_t>(kFirstEntry - kNodeHeader));
  Put32(block, kNodeHeader + 0x04, static_cast<std::uint32_t>(at - kNodeHeader));
  Put32(block, kNodeHeader + 0x08, static_cast<std::uint32_t>(kBlockSize - kNodeHeader));
  return block;
}

std::vector<std::uint8_t> Joined(std::initializer_list<std::vector<std::uint8_t>> AParts) {
  std::vector<std::uint8_t> bytes;
  for (const std::vector<std::uint8_t>& part : AParts)
    bytes.insert(bytes.end(), part.begin(), part.end());
  return bytes;
}

struct TShown {
  std::u16string Name;
  std::int64_t Record;
  bool InSlack;
  bool operator==(const TShown&) const = default;
};

std::vector<TShown> Names(const std::vector<std::uint8_t>& ABlock) {
  std::vector<TShown> shown;
  for (const TIndexName& name : IndexBlockNames(TByteView(ABlock.data(), ABlock.size()), kFolder))
    shown.push_back({name.Name, name.File.Address(), name.InSlack});
  return shown;
}

TEST(IndexBlockNames, UsedEntriesThenWhatTheSlackHoldsWholeOfThisFolder) {
  std::vector<std::uint8_t> torn = Entry(u"torn.txt", 80);
  Put16(torn, 0x0A, 0x400); // its key runs past its own length
  std::vector<std::uint8_t> withNul = Entry(std::u16string(u"a\0b", 3), 81);
  struct TCase {
    const char* What;
    std::vector<std::uint8_t> Block;
    std::vector<TShown> Expected;
  };
  const TCase cases[] = {
      {"entries in use", Block({Entry(u"a.txt", 70), Entry(u"b.txt", 71)}, {}),
       {{u"a.txt", 70, false}, {u"b.txt", 71, false}}},
      {"a whole entry in the slack", Block({Entry(u"a.txt", 70)}, Entry(u"gone.doc", 75)),
       {{u"a.txt", 70, false}, {u"gone.doc", 75, true}}},
      {"another folder's entry", Block({}, Entry(u"elsewhere.txt", 76, kFolder + 1)), {}},
      {"a torn entry, then a whole one", Block({}, Joined({torn, Entry(u"kept.txt", 77)})), {{u"kept.txt", 77, true}}},
      {"a name holding NUL", Block({}, withNul), {}},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.What);
    EXPECT_EQ(Names(test.Block), test.Expected);
  }
}

TEST(IndexBlockNames, SizesPastTheBlockReadNothingBeyondIt) {
  std::vector<std::uint8_t> block = Block({Entry(u"a.txt", 70)}, Entry(u"gone.doc", 75));
  Put32(block, kNodeHeader + 0x04, 0xFFFFFF00);
  Put32(block, kNodeHeader + 0x08, 0xFFFFFF00);
  const std::vector<TIndexName> names = IndexBlockNames(TByteView(block.data(), block.size()), kFolder);
  ASSERT_EQ(names.size(), 1u); // the used part now reaches the end: no slack
  EXPECT_EQ(names[0].Name, u"a.txt");
  EXPECT_EQ(names[0].DataSize, 170);
  EXPECT_EQ(names[0].ChangeTime, 2222);
}

TEST(FixupIndexBlock, PutsTheSectorEndsBackAndRefusesWhatIsNoIndexBlock) {
  std::vector<std::uint8_t> block = Block({Entry(u"a.txt", 70)}, {});
  Put16(block, 0x04, 0x28); // update sequence at 0x28: the number, then 8 words
  Put16(block, 0x06, 9);
  Put16(block, 0x28, 0x0707);
  for (std::size_t sector = 0; sector < 8; ++sector) {
    const std::size_t end = sector * 512 + 510;
    Put16(block, 0x2A + sector * 2, static_cast<std::uint16_t>(0x1000 + sector));
    Put16(block, end, 0x0707);
  }
  ASSERT_TRUE(FixupIndexBlock(block.data(), static_cast<std::uint32_t>(block.size())));
  EXPECT_EQ(block[1022], 0x01);
  EXPECT_EQ(block[1023], 0x10);
  std::memcpy(block.data(), "FILE", 4);
  EXPECT_FALSE(FixupIndexBlock(block.data(), static_cast<std::uint32_t>(block.size())));
}

} // namespace
