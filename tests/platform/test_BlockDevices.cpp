#include "platform/uBlockDevices.h"

#include "tests/support/uFakeBlockDevices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string KindName(TBlockDeviceKind AKind) {
  switch (AKind) {
  case TBlockDeviceKind::bdkFixed:
    return "fixed";
  case TBlockDeviceKind::bdkRemovable:
    return "removable";
  case TBlockDeviceKind::bdkOptical:
    return "optical";
  case TBlockDeviceKind::bdkRAM:
    return "ram";
  }
  return "?";
}

// "name kind node", with the node relative to the fake /dev.
std::vector<std::string> Describe(const std::vector<TBlockDevice>& ADevices, const TBlockDeviceRoots& ARoots) {
  std::vector<std::string> lines;
  for (const TBlockDevice& device : ADevices)
    lines.push_back(device.Name + " " + KindName(device.Kind) + " " +
                    std::filesystem::path(device.DevicePath).lexically_relative(ARoots.Dev).string());
  return lines;
}

TEST(BlockDevices, ListsVolumeHoldersInLetterOrderWithTheirKind) {
  testfiles::TFakeBlockDevices fake;
  fake.AddLoop("loop0", true);
  fake.AddLoop("loop1", false);
  fake.AddDisk("sda");
  fake.AddPartition("sda", "sda10");
  fake.AddPartition("sda", "sda2");
  fake.AddPartition("sda", "sda1");
  fake.AddDisk("sdb", true);         // a stick formatted without partitions
  fake.AddDisk("sdc", true);         // a card reader: its partitions are removable too
  fake.AddPartition("sdc", "sdc1");
  fake.AddDisk("sdd", true);         // an empty card reader
  fake.SetSectors("sdd", 0);
  fake.AddDisk("sr0", true);
  fake.AddDisk("zram0");
  fake.AddDisk("ram0");
  fake.AddDisk("nbd0");              // not connected
  fake.SetSectors("nbd0", 0);
  fake.AddDisk("cciss!c0d0");
  fake.SetNodeName("cciss!c0d0", "cciss/c0d0");

  EXPECT_THAT(Describe(ListBlockDevices(fake.Roots()), fake.Roots()),
              ElementsAre("cciss!c0d0 fixed cciss/c0d0", "ram0 ram ram0", "sda1 fixed sda1", "sda2 fixed sda2",
                          "sda10 fixed sda10", "sdb removable sdb", "sdc1 removable sdc1", "sr0 optical sr0",
                          "zram0 ram zram0", "loop0 fixed loop0"));
}

TEST(BlockDevices, NoSysfsMeansNoDevices) {
  testfiles::TTempFolder folder;
  EXPECT_THAT(ListBlockDevices({(folder / "no-sys").string(), "/dev"}), IsEmpty());
}

TEST(BlockDevices, NamesCompareWithTheirNumbersAsNumbers) {
  const struct {
    std::string Left, Right;
    bool Less;
  } cases[] = {
      {"sda2", "sda10", true}, {"sda10", "sda2", false}, {"sda", "sda1", true},  {"sda1", "sda", false},
      {"sda9", "sdb1", true},  {"nvme0n1p2", "nvme0n1p10", true}, {"sda01", "sda1", false}, {"sda1", "sda01", false},
      {"md127", "md2", false}, {"", "a", true},          {"a", "a", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(NaturalNameLess(c.Left, c.Right), c.Less) << c.Left << " < " << c.Right;
}

} // namespace
