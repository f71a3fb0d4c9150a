#include "platform/uDriveTable.h"

#include "foundation/uUnicode.h"


#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;

TEST(DriveTable, DriveNamesParseToTheirLetter) {
  const struct {
    std::u16string Name;
    std::optional<char16_t> Letter;
  } cases[] = {
      {u"D:", u'D'},  {u"d:", u'D'},        {u"Z:\\", u'Z'},      {u"c:/", u'C'},
      {u"D", {}},     {u"D:x", {}},         {u"D:\\x", {}},       {u"A:", {}},
      {u"B:", {}},    {u"1:", {}},          {u"/dev/sda1", {}},   {u"", {}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(TDriveTable::DriveLetter(c.Name), c.Letter) << ToNativePath(c.Name);
  EXPECT_EQ(TDriveTable::DriveName(u'e'), u"E:");
}

TEST(DriveTable, LettersAreHandedOutFromCToZ) {
  TDriveTable table;
  EXPECT_EQ(table.Add("/dev/sda1"), u'C');
  EXPECT_EQ(table.Add("/dev/sda2"), u'D');
  table.Assign(u'f', "/images/f.img");
  EXPECT_EQ(table.Add("/dev/sdb1"), u'E');
  EXPECT_EQ(table.Add("/dev/sdb2"), u'G');
  table.Remove(u'd');
  EXPECT_EQ(table.NextFreeLetter(), u'D');
  EXPECT_THAT(table.Letters(), ElementsAre(u'C', u'E', u'F', u'G'));
  EXPECT_EQ(table.PathOf(u'F'), "/images/f.img");
  EXPECT_EQ(table.PathOf(u'D'), std::nullopt);

  table.Assign(u'F', "/images/other.img");
  EXPECT_EQ(table.PathOf(u'f'), "/images/other.img");
  EXPECT_THROW(table.Assign(u'B', "/dev/fd0"), std::out_of_range);
  EXPECT_THROW(table.Assign(u'[', "/dev/x"), std::out_of_range);

  while (table.Add("/dev/more"))
    ;
  EXPECT_EQ(table.Letters().size(), 24u);
  EXPECT_EQ(table.NextFreeLetter(), std::nullopt);
  table.Clear();
  EXPECT_TRUE(table.Letters().empty());
}

} // namespace
