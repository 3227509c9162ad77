// Deflate64: long lengths, distance codes 30 and 31, and entries made by 7-Zip.
#include "ZMCrc32.h"
#include "ZMEndian.h"
#include "ZMInflateCore.h"
#include "TestPeers.h"
#include "TestDeflate.h"
#include "TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using zmtest::TBitWriter;

Bytes RandomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

TEST(InflateCoreDeflate64, LongLengthAndFarDistances) {
  const Bytes head = RandomBytes(50000, 64);
  TBitWriter w;
  w.StoredBlock(head);
  w.FixedBlockHeader();  // length 3 + 40000 at distance 49153 + 5
  w.FixedLit(285);
  w.Put(40000, 16);
  w.Code(31, 5);
  w.Put(5, 14);
  w.FixedLit(256);
  w.Align();

  Bytes want = head;
  for (size_t i = 0; i < 40003; ++i) want.push_back(want[want.size() - 49158]);
  Bytes out;
  ASSERT_EQ(zm::InflateBuffer(w.Out.data(), w.Out.size(), out, zm::TInflateMode::Deflate64), zm::irOk);
  EXPECT_TRUE(out == want);

  // As plain deflate, code 285 is length 258 without extra bits: another reading.
  out.clear();
  int r = zm::InflateBuffer(w.Out.data(), w.Out.size(), out, zm::TInflateMode::Deflate);
  EXPECT_TRUE(r != zm::irOk || out != want);
}

// The raw data of the first entry of a zip archive made by 7z with method 9.
bool SevenZipDeflate64(const Bytes& data, Bytes& raw, uint32_t& crc) {
  if (!zmtest::HaveTool("7z")) return false;
  zmtest::TTempDir tmp("zm-inflate64-");
  const std::string d = tmp.Path.string();
  {
    std::ofstream f(d + "/data.bin", std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
  std::string cmd = "cd " + d + " && 7z a -tzip -mm=Deflate64 -mx=9 a.zip data.bin >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  std::ifstream z(d + "/a.zip", std::ios::binary);
  Bytes zip((std::istreambuf_iterator<char>(z)), std::istreambuf_iterator<char>());
  if (rc != 0 || zip.size() < 30 || zm::GetLE32(zip.data()) != 0x04034b50u) return false;
  EXPECT_EQ(zm::GetLE16(zip.data() + 8), 9) << "method";
  crc = zm::GetLE32(zip.data() + 14);
  uint32_t csize = zm::GetLE32(zip.data() + 18);
  size_t start = 30 + zm::GetLE16(zip.data() + 26) + zm::GetLE16(zip.data() + 28);
  if (start + csize > zip.size()) return false;
  raw.assign(zip.begin() + ptrdiff_t(start), zip.begin() + ptrdiff_t(start + csize));
  return true;
}

TEST(InflateCoreDeflate64, DecodesSevenZipEntries) {
  // Text, then a random block repeated at distances beyond 32 KiB, then a long run.
  std::mt19937 rng(9);
  Bytes data;
  for (int i = 0; i < 20000; ++i) {
    std::string s = "rate " + std::to_string(rng() % 500) + " ";
    data.insert(data.end(), s.begin(), s.end());
  }
  Bytes block(45000);
  for (auto& b : block) b = uint8_t(rng());
  for (int r = 0; r < 4; ++r) data.insert(data.end(), block.begin(), block.end());
  data.insert(data.end(), 300000, 'z');
  Bytes raw;
  uint32_t crc = 0;
  if (!SevenZipDeflate64(data, raw, crc)) GTEST_SKIP() << "7z is not available";
  for (size_t chunk : {size_t(1) << 16, size_t(777)}) {
    zm::TZMInflateCore core(zm::TInflateMode::Deflate64);
    Bytes out;
    uint32_t c = 0xFFFFFFFFu;
    int r = core.Inflate(zmtest::ChunkReader(raw, chunk), [&](const uint8_t* p, size_t n) {
      out.insert(out.end(), p, p + n);
      c = zm::Crc32UpdateFast(c, p, n);
      return true;
    });
    ASSERT_EQ(r, zm::irOk) << chunk;
    EXPECT_TRUE(out == data);
    EXPECT_EQ(~c, crc);
    EXPECT_EQ(core.InConsumed(), raw.size());
  }
  EXPECT_LT(raw.size(), data.size() / 3) << "the repeats were found";
}

// Long matches decoded inside the fast loop with tiny output chunks: the copy flushes
// and slides the output, and decoding must carry on from the new position.
TEST(InflateCoreDeflate64, LongMatchesWithTinyOutputChunks) {
  Bytes want = RandomBytes(1000, 9);
  TBitWriter w;
  w.StoredBlock(want);
  w.FixedBlockHeader();                  // long matches at distance 997, each followed by literals
  for (int rep = 0; rep < 250; ++rep) {  // well past one output buffer, so it slides
    unsigned len = 3 + 1500 + unsigned(rep) * 37 % 500;
    w.FixedLit(285);
    w.Put(len - 3, 16);
    w.Code(19, 5);  // distances 769-1024
    w.Put(997 - 769, 8);
    for (size_t i = 0; i < len; ++i) want.push_back(want[want.size() - 997]);
    for (int k = 0; k < 40; ++k) {
      unsigned lit = 'a' + unsigned(k % 26);
      w.FixedLit(lit);
      want.push_back(uint8_t(lit));
    }
  }
  w.FixedLit(256);
  w.Align();

  for (size_t chunk : {size_t(1), size_t(7), size_t(300), size_t(4096), size_t(0)}) {
    zm::TZMInflateCore core(zm::TInflateMode::Deflate64);
    core.SetOutChunk(chunk);
    Bytes out;
    int r = core.Inflate(zmtest::ChunkReader(w.Out), [&](const uint8_t* p, size_t n) {
      out.insert(out.end(), p, p + n);
      return true;
    });
    ASSERT_EQ(r, zm::irOk) << "chunk " << chunk;
    EXPECT_TRUE(out == want) << "chunk " << chunk;
  }
}

}  // namespace
