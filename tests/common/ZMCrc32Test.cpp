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

TEST(Crc32Core, TableIsTheReflectedPolynomialTable) {
  EXPECT_EQ(zm::Crc32Table[0], 0u);
  EXPECT_EQ(zm::Crc32Table[1], 0x77073096u);
  EXPECT_EQ(zm::Crc32Table[128], 0xEDB88320u);
  EXPECT_EQ(zm::Crc32Table[255], 0x2D02EF8Du);
}

}  // namespace
