// The inflate core's fast loop: match copies of every short period, literals whose codes
// need a second table level, and Deflate64 symbols that take the most bits at once.
#include "ZMInflateCore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestDeflate.h"

namespace {

using Bytes = std::vector<uint8_t>;
using zmtest::CanonicalCodes;
using zmtest::DeflateRaw;
using zmtest::TBitWriter;

// Decodes with the reader handing out at most maxChunk bytes at a time.
int Decode(const Bytes& comp, Bytes& out, zm::TInflateMode mode, size_t maxChunk = 1 << 16) {
  zm::TZMInflateCore core(mode);
  zm::TZMInflateCore::TReader reader = zmtest::ChunkReader(comp, maxChunk);
  zm::TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
    out.insert(out.end(), p, p + n);
    return true;
  };
  return core.Inflate(reader, sink);
}

// Every period from 1 to 40 repeated over many lengths: the copy takes the byte
// fill, the short-period, the 8-byte and the 16-byte paths.
TEST(InflateCoreFastPath, MatchCopiesOfEveryShortPeriod) {
  std::mt19937 rng(77);
  for (unsigned period = 1; period <= 40; ++period) {
    Bytes data;
    for (int run = 0; run < 60; ++run) {
      Bytes unit(period);
      for (auto& c : unit) c = uint8_t(rng());
      const size_t len = 3 + rng() % 600;
      for (size_t i = 0; i < len; ++i) data.push_back(unit[i % period]);
      for (int k = 0; k < 5; ++k) data.push_back(uint8_t(rng()));  // break the runs
    }
    for (int level : {1, 6, 9}) {
      Bytes out;
      ASSERT_EQ(Decode(DeflateRaw(data, level, Z_DEFAULT_STRATEGY, 9), out, zm::TInflateMode::Deflate),
                zm::irOk)
          << "period " << period << " level " << level;
      ASSERT_EQ(out, data) << "period " << period << " level " << level;
    }
  }
}

// Skewed byte frequencies give literal codes of up to 15 bits, which the fast loop
// decodes through second-level tables, also between two short literals.
TEST(InflateCoreFastPath, LiteralsWithLongCodes) {
  std::mt19937 rng(5);
  for (int round = 0; round < 4; ++round) {
    Bytes data;
    while (data.size() < 120000) {
      unsigned k = 0;
      while (k < 40 && (rng() & 1)) ++k;  // byte k with probability 2^-(k+1)
      data.push_back(uint8_t(k * 5 + round));
      if (rng() % 97 == 0) data.push_back(uint8_t(rng()));  // some rare bytes
    }
    for (int strategy : {Z_HUFFMAN_ONLY, Z_DEFAULT_STRATEGY}) {
      for (size_t chunk : {size_t(1) << 16, size_t(33), size_t(1)}) {
        if (chunk == 1 && round > 0) continue;  // byte by byte once is enough
        Bytes out;
        ASSERT_EQ(Decode(DeflateRaw(data, 9, strategy, 9), out, zm::TInflateMode::Deflate, chunk), zm::irOk);
        ASSERT_EQ(out, data) << "round " << round << " chunk " << chunk;
      }
    }
  }
}

// A dynamic Deflate64 block whose length code 285 and distance code 31 both have
// 15-bit codes: a match then takes 31 + 29 bits, more than one refill holds, and
// 14-bit literals sit between the matches.
TEST(InflateCoreFastPath, Deflate64SymbolsOfTheMostBits) {
  std::vector<unsigned> litLens(286, 0), distLens(32, 0);
  for (unsigned s = 0; s < 14; ++s) litLens[s] = s + 1;  // literals 0..13: 1..14 bits
  litLens[256] = 15;
  litLens[285] = 15;
  for (unsigned s = 0; s < 14; ++s) distLens[s] = s + 1;
  distLens[30] = 15;
  distLens[31] = 15;
  const auto litCodes = CanonicalCodes(litLens);
  const auto distCodes = CanonicalCodes(distLens);

  std::mt19937 rng(64);
  for (int round = 0; round < 6; ++round) {
    TBitWriter w;
    w.Put(1, 1);  // last block
    w.Put(2, 2);  // dynamic
    w.Put(286 - 257, 5);
    w.Put(32 - 1, 5);
    w.Put(19 - 4, 4);
    // Code-length code: symbols 0..15 of 4 bits each, 16..18 unused.
    static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<unsigned> clLens(19, 0);
    for (unsigned s = 0; s < 16; ++s) clLens[s] = 4;
    for (unsigned i = 0; i < 19; ++i) w.Put(clLens[order[i]], 3);
    const auto clCodes = CanonicalCodes(clLens);
    for (unsigned l : litLens) w.Code(clCodes[l], 4);
    for (unsigned l : distLens) w.Code(clCodes[l], 4);

    // Reference output: the window before the first byte reads zeros.
    Bytes want;
    auto at = [&](size_t back) -> uint8_t { return back > want.size() ? 0 : want[want.size() - back]; };
    for (int sym = 0; sym < 40; ++sym) {
      if (rng() % 3) {
        const unsigned lit = 13 - rng() % 3;  // the longest literal codes
        w.Code(litCodes[lit], litLens[lit]);
        want.push_back(uint8_t(lit));
      } else {
        const uint32_t lenExtra = rng() % 65536;
        const unsigned dcode = 30 + rng() % 2;
        const uint32_t distExtra = rng() % 16384;
        const size_t len = 3 + lenExtra;
        const size_t dist = (dcode == 30 ? 32769 : 49153) + distExtra;
        w.Code(litCodes[285], 15);
        w.Put(lenExtra, 16);
        w.Code(distCodes[dcode], 15);
        w.Put(distExtra, 14);
        for (size_t i = 0; i < len; ++i) want.push_back(at(dist));
      }
    }
    w.Code(litCodes[256], 15);
    const Bytes comp = w.Finish();
    for (size_t chunk : {size_t(1) << 16, size_t(7)}) {
      Bytes out;
      ASSERT_EQ(Decode(comp, out, zm::TInflateMode::Deflate64, chunk), zm::irOk) << round;
      ASSERT_EQ(out.size(), want.size()) << round;
      ASSERT_TRUE(out == want) << "round " << round << " chunk " << chunk;
    }
  }
}

}  // namespace
