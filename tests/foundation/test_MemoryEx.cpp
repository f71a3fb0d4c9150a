#include "foundation/uMemoryEx.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

class MemoryExTest : public ::testing::Test {
protected:
  void SetUp() override { FBase = MemoryEx::AllocatedBytes(); }
  std::int64_t Delta() const { return MemoryEx::AllocatedBytes() - FBase; }
  std::int64_t FBase = 0;
};

TEST_F(MemoryExTest, ZeroSizeGivesNilAndFreeDoesNothing) {
  TMem mem = MemoryEx::AllocMem(0);
  EXPECT_EQ(mem.Ptr, nullptr);
  EXPECT_EQ(mem.Size, 0);
  MemoryEx::FreeMem(mem);
  EXPECT_EQ(Delta(), 0);
}

TEST_F(MemoryExTest, AllocIsZeroFilledAndCounted) {
  TMem mem = MemoryEx::AllocMem(64);
  ASSERT_NE(mem.Ptr, nullptr);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(mem.Ptr[i], 0) << i;
  EXPECT_EQ(Delta(), 64);
  MemoryEx::FreeMem(mem);
  EXPECT_EQ(Delta(), 0);
  MemoryEx::FreeMem(mem); // a second free finds Ptr nil
  EXPECT_EQ(Delta(), 0);
}

TEST_F(MemoryExTest, ResizeKeepsPrefixAndMovesCounter) {
  TMem mem = MemoryEx::AllocMem(100);
  for (int i = 0; i < 100; ++i)
    mem.Ptr[i] = static_cast<std::uint8_t>(i);
  MemoryEx::ResizeMem(mem, 300);
  EXPECT_EQ(Delta(), 300);
  EXPECT_EQ(mem.Size, 300);
  for (int i = 0; i < 100; ++i)
    EXPECT_EQ(mem.Ptr[i], i);
  MemoryEx::ResizeMem(mem, 0);
  EXPECT_EQ(mem.Ptr, nullptr);
  EXPECT_EQ(mem.Size, 0);
  EXPECT_EQ(Delta(), 0);
}

TEST_F(MemoryExTest, ResizeOfEmptyHandleAllocatesZeroFilled) {
  TMem mem;
  MemoryEx::ResizeMem(mem, 16);
  ASSERT_NE(mem.Ptr, nullptr);
  EXPECT_EQ(mem.Ptr[15], 0);
  EXPECT_EQ(Delta(), 16);
  MemoryEx::FreeMem(mem);
}

TEST_F(MemoryExTest, LeakCheckReportsCounterThroughReporter) {
  std::int64_t reported = -1;
  MemoryEx::SetLeakReporter([&](std::int64_t ABytes) { reported = ABytes; });
  {
    TMemHolder forgotten(65536);
    MemoryEx::CheckMemoryLeak();
    EXPECT_EQ(reported, FBase + 65536);
  }
  reported = -1;
  if (FBase == 0) {
    MemoryEx::CheckMemoryLeak();
    EXPECT_EQ(reported, -1);
  }
  MemoryEx::SetLeakReporter(nullptr);
}

} // namespace
