#include "ZMCrc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

namespace {

// Both update routines must agree with zlib for every length and split point.
TEST(Crc32Core, AgreesWithZlibOverRandomBuffersAndSplits) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> buf(rng() % 5000);
    for (auto& b : buf) b = uint8_t(rng());
    uLong want = crc32(0, buf.data(), uInt(buf.size()));
    size_t split = buf.empty() ? 0 : rng() % (buf.size() + 1);
    uint32_t slow = zm::Crc32UpdateBytewise(0xFFFFFFFFu, buf.data(), split);
    slow = zm::Crc32UpdateBytewise(slow, buf.data() + split, buf.size() - split);
    uint32_t fast = zm::Crc32UpdateFast(0xFFFFFFFFu, buf.data(), split);
    fast = zm::Crc32UpdateFast(fast, buf.data() + split, buf.size() - split);
    ASSERT_EQ(~slow, uint32_t(want)) << "size " << buf.size() << " split " << split;
    ASSERT_EQ(~fast, uint32_t(want)) << "size " << buf.size() << " split " << split;
  }
}

// Every length around the folding thresholds, from unaligned starts, through the fast
// routine (folding where available) and the portable slicing routine.
TEST(Crc32Core, FastAndSlicedAgreeAtEveryLengthAndAlignment) {
  std::mt19937 rng(99);
  std::vector<uint8_t> buf(1 << 20);
  for (auto& b : buf) b = uint8_t(rng());
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t len = 0; len <= 600; ++len) {
      const uint8_t* p = buf.data() + offset;
      const uint32_t reg = uint32_t(rng());
      const uint32_t want = zm::Crc32UpdateBytewise(reg, p, len);
      ASSERT_EQ(zm::Crc32UpdateFast(reg, p, len), want) << "offset " << offset << " len " << len;
      ASSERT_EQ(zm::Crc32UpdateSliced(reg, p, len), want) << "offset " << offset << " len " << len;
    }
  }
  // Large blocks, compared with zlib.
  for (size_t len : {size_t(4096), size_t(65536 + 48), buf.size() - 7}) {
    const uint32_t want = uint32_t(crc32(0, buf.data() + 7, uInt(len)));
    EXPECT_EQ(~zm::Crc32UpdateFast(0xFFFFFFFFu, buf.data() + 7, len), want) << len;
    EXPECT_EQ(~zm::Crc32UpdateSliced(0xFFFFFFFFu, buf.data() + 7, len), want) << len;
  }
}

TEST(Crc32Core, FastRegisterIsUsableMidStream) {
  // Registers of any value (not only the usual start) continue correctly.
  std::vector<uint8_t> zeros(1000, 0);
  for (uint32_t reg : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x12345678u})
    EXPECT_EQ(zm::Crc32UpdateFast(reg, zeros.data(), zeros.size()),
              zm::Crc32UpdateBytewise(reg, zeros.data(), zeros.size()));
}

TEST(Crc32Core, TableIsTheReflectedPolynomialTable) {
  EXPECT_EQ(zm::Crc32Table[0], 0u);
  EXPECT_EQ(zm::Crc32Table[1], 0x77073096u);
  EXPECT_EQ(zm::Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(zm::Crc32Table[255], 0x2D02EF8Du);
}

}  // namespace
