// The inflate core's history: stored bytes that go straight to the sink and join the
// window later, matches that reach back into them, history before the start of a
// stream (zeros, also for a decoder that decoded other data before), and table
// building for random complete code sets of every shape.
#include "ZMInflateCore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "TestDeflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

using zm::kDistBase;
using zm::kDistExtra;
using zm::kLenBase;
using zm::kLenExtra;

struct TSymbol {
  unsigned Code;   // literal/length or distance symbol
  unsigned Extra;  // value of its extra bits
  unsigned Bits;   // number of extra bits
};

TSymbol LengthSymbol(unsigned len, bool d64) {
  if (d64 && len > 258) return {285, len - 3, 16};
  // Deflate64 keeps symbol 285 for its long lengths; 258 is then 284 plus 31.
  for (unsigned i = d64 ? 28 : 29; i-- > 0;)
    if (len >= kLenBase[i]) return {257 + i, len - kLenBase[i], kLenExtra[i]};
  return {257, 0, 0};
}

TSymbol DistSymbol(unsigned dist) {
  for (unsigned i = 32; i-- > 0;)
    if (dist >= kDistBase[i]) return {i, dist - kDistBase[i], kDistExtra[i]};
  return {0, 0, 0};
}

// Builds a deflate stream block by block next to the output it must decode to.
class TStreamWriter {
 public:
  explicit TStreamWriter(bool d64) : FD64(d64) {}

  void Stored(const Bytes& data, bool last = false) {
    FBits.StoredBlock(data, last);
    Want.insert(Want.end(), data.begin(), data.end());
  }

  // A fixed-code block of random literals and matches.
  void Fixed(std::mt19937& rng, unsigned symbols, bool last = false) {
    FBits.Put(last, 1);
    FBits.Put(1, 2);
    std::vector<unsigned> lit(288), dist(32, 5);
    std::fill(lit.begin(), lit.begin() + 144, 8);
    std::fill(lit.begin() + 144, lit.begin() + 256, 9);
    std::fill(lit.begin() + 256, lit.begin() + 280, 7);
    std::fill(lit.begin() + 280, lit.end(), 8);
    Body(rng, symbols, lit, dist);
  }

  // A dynamic block whose codes come from random complete sets over random symbols.
  void Dynamic(std::mt19937& rng, unsigned symbols, bool last = false) {
    std::vector<unsigned> pool;
    for (unsigned s = 0; s < 256; ++s) pool.push_back(s);
    for (unsigned s = 257; s < 286; ++s) pool.push_back(s);
    std::shuffle(pool.begin(), pool.end(), rng);
    pool.resize(1 + rng() % pool.size());
    pool.push_back(256);
    std::vector<unsigned> lit(288, 0), dist(32, 0);
    const std::vector<unsigned> litLens = RandomLengths(rng, unsigned(pool.size()));
    for (size_t i = 0; i < pool.size(); ++i) lit[pool[i]] = litLens[i];
    std::vector<unsigned> dpool;
    for (unsigned s = 0; s < (FD64 ? 32u : 30u); ++s) dpool.push_back(s);
    std::shuffle(dpool.begin(), dpool.end(), rng);
    dpool.resize(2 + rng() % (dpool.size() - 1));
    const std::vector<unsigned> distLens = RandomLengths(rng, unsigned(dpool.size()));
    for (size_t i = 0; i < dpool.size(); ++i) dist[dpool[i]] = distLens[i];

    unsigned nlit = 257, ndist = 1;
    for (unsigned s = 0; s < 288; ++s)
      if (lit[s]) nlit = std::max(nlit, s + 1);
    for (unsigned s = 0; s < 32; ++s)
      if (dist[s]) ndist = std::max(ndist, s + 1);
    FBits.Put(last, 1);
    FBits.Put(2, 2);
    FBits.Put(nlit - 257, 5);
    FBits.Put(ndist - 1, 5);
    FBits.Put(19 - 4, 4);
    // Code-length code: lengths 0-15 take 4 bits each, repeat codes are not used.
    static const unsigned order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (unsigned i = 0; i < 19; ++i) FBits.Put(order[i] < 16 ? 4 : 0, 3);
    for (unsigned s = 0; s < nlit; ++s) FBits.Code(lit[s], 4);
    for (unsigned s = 0; s < ndist; ++s) FBits.Code(dist[s], 4);
    Body(rng, symbols, lit, dist);
  }

  Bytes Finish() { return FBits.Finish(); }

  Bytes Want;

 private:
  // Code lengths of a random complete prefix code with n >= 1 codes (one code gets
  // length 1, as a lone code must): leaves split at random, at most 15 deep.
  static std::vector<unsigned> RandomLengths(std::mt19937& rng, unsigned n) {
    if (n == 1) return {1};
    std::vector<unsigned> lens = {1, 1};
    while (lens.size() < n) {
      size_t at = rng() % lens.size();
      if (rng() % 2) at = lens.size() - 1;  // deep chains as well as bushy trees
      if (lens[at] == 15) {
        at = std::min_element(lens.begin(), lens.end()) - lens.begin();
      }
      lens[at]++;
      lens.push_back(lens[at]);
    }
    std::shuffle(lens.begin(), lens.end(), rng);
    return lens;
  }

  void Body(std::mt19937& rng, unsigned symbols, const std::vector<unsigned>& lit,
            const std::vector<unsigned>& dist) {
    const std::vector<uint32_t> litCodes = zmtest::CanonicalCodes(lit),
                                distCodes = zmtest::CanonicalCodes(dist);
    std::vector<unsigned> lits, lengths, dists;
    for (unsigned s = 0; s < 256; ++s)
      if (lit[s]) lits.push_back(s);
    for (unsigned s = 257; s < 286; ++s)
      if (lit[s]) lengths.push_back(s);
    for (unsigned s = 0; s < 32; ++s)
      if (dist[s] && (FD64 || s < 30)) dists.push_back(s);
    for (unsigned i = 0; i < symbols; ++i) {
      if (lengths.empty() || lits.empty() ? !lits.empty() : rng() % 3 == 0) {
        const unsigned s = lits[rng() % lits.size()];
        FBits.Code(litCodes[s], lit[s]);
        Want.push_back(uint8_t(s));
        continue;
      }
      if (lengths.empty()) break;
      const unsigned ls = lengths[rng() % lengths.size()];
      unsigned lenExtraBits = FD64 && ls == 285 ? 16 : kLenExtra[ls - 257];
      unsigned lenBase = FD64 && ls == 285 ? 3 : kLenBase[ls - 257];
      // Long Deflate64 lengths now and then, so that the output stays small.
      const unsigned lenExtra = lenExtraBits == 16 && rng() % 8 ? unsigned(rng() % 300)
                                : lenExtraBits                  ? unsigned(rng() % (1u << lenExtraBits))
                                                                : 0;
      const unsigned ds = dists[rng() % dists.size()];
      const unsigned distExtra = kDistExtra[ds] ? unsigned(rng() % (1u << kDistExtra[ds])) : 0;
      FBits.Code(litCodes[ls], lit[ls]);
      FBits.Put(lenExtra, lenExtraBits);
      FBits.Code(distCodes[ds], dist[ds]);
      FBits.Put(distExtra, kDistExtra[ds]);
      Match(lenBase + lenExtra, kDistBase[ds] + distExtra);
    }
    FBits.Code(litCodes[256], lit[256]);
  }

 public:
  // A match written with the fixed or the current codes is only modelled here.
  void Match(size_t len, size_t dist) {
    for (size_t i = 0; i < len; ++i) Want.push_back(dist > Want.size() ? 0 : Want[Want.size() - dist]);
  }
  // A fixed-code block of one match (and the end code).
  void FixedMatch(unsigned len, unsigned dist, bool last = false) {
    FBits.Put(last, 1);
    FBits.Put(1, 2);
    const TSymbol l = LengthSymbol(len, FD64), d = DistSymbol(dist);
    FBits.FixedLit(l.Code);
    FBits.Put(l.Extra, l.Bits);
    FBits.Code(d.Code, 5);
    FBits.Put(d.Extra, d.Bits);
    FBits.FixedLit(256);
    Match(len, dist);
  }

 private:
  bool FD64;
  zmtest::TBitWriter FBits;
};

// Decodes with reader chunks of at most inChunk bytes (0: the input read in place) and
// sink chunks of outChunk.
int Decode(zm::TZMInflateCore& core, const Bytes& comp, Bytes& out, size_t inChunk, size_t outChunk = 0) {
  out.clear();
  core.SetOutChunk(outChunk);
  bool chunksOk = true;
  const zm::TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
    if (outChunk && n > outChunk) chunksOk = false;
    out.insert(out.end(), p, p + n);
    return true;
  };
  const int r = inChunk ? core.Inflate(zmtest::ChunkReader(comp, inChunk), sink)
                        : core.Inflate(comp.data(), comp.size(), sink);
  EXPECT_TRUE(chunksOk) << "a sink chunk was longer than " << outChunk;
  return r;
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
  Bytes b(n);
  for (auto& c : b) c = uint8_t(rng());
  return b;
}

TEST(InflateCoreHistory, MatchesReachIntoStoredRunsAcrossInputChunks) {
  for (bool d64 : {false, true}) {
    const size_t history = d64 ? 65536 : 32768;
    std::mt19937 rng(d64 ? 91 : 19);
    TStreamWriter w(d64);
    // Long stored runs, then matches at the far end of the window.
    w.Stored(RandomBytes(rng, 65535));
    w.Stored(RandomBytes(rng, 40000));
    w.FixedMatch(258, unsigned(history));
    w.FixedMatch(100, unsigned(history - 1));
    // Many tiny stored blocks (more runs than are kept apart), then short distances.
    for (int i = 0; i < 30; ++i) w.Stored(RandomBytes(rng, rng() % 5));
    w.FixedMatch(200, 77);
    w.Fixed(rng, 300);
    // Stored right after a compressed block: its first bytes may be in the bit buffer.
    for (int i = 0; i < 6; ++i) {
      w.Stored(RandomBytes(rng, 1 + rng() % 3000));
      w.Fixed(rng, 50);
    }
    w.Stored(RandomBytes(rng, 20000));
    w.Stored(RandomBytes(rng, 20000));
    w.FixedMatch(258, 30000);  // into the first of the two runs
    w.Stored(Bytes(), true);
    const Bytes comp = w.Finish();
    zm::TZMInflateCore core(d64 ? zm::TInflateMode::Deflate64 : zm::TInflateMode::Deflate);
    for (size_t inChunk : {size_t(0), size_t(1) << 30, size_t(70000), size_t(4093), size_t(1)})
      for (size_t outChunk : {size_t(0), size_t(7), size_t(50000)}) {
        if (inChunk == 1 && outChunk != 7) continue;  // slow; one pairing is enough
        Bytes out;
        ASSERT_EQ(Decode(core, comp, out, inChunk, outChunk), zm::irOk) << d64 << " " << inChunk;
        ASSERT_EQ(out.size(), w.Want.size());
        ASSERT_TRUE(out == w.Want) << "mode " << d64 << " in " << inChunk << " out " << outChunk;
        EXPECT_EQ(core.OutCount(), out.size());
        EXPECT_EQ(core.InConsumed(), comp.size());
      }
  }
}

TEST(InflateCoreHistory, BeforeTheStartIsZeroForAReusedDecoder) {
  for (bool d64 : {false, true}) {
    const unsigned history = d64 ? 65536 : 32768;
    zm::TZMInflateCore core(d64 ? zm::TInflateMode::Deflate64 : zm::TInflateMode::Deflate);
    std::mt19937 rng(5);
    // First a stream that leaves non-zero bytes all over the decoder's buffer.
    TStreamWriter first(d64);
    first.Stored(Bytes(65535, 0xAA));
    first.Stored(Bytes(65535, 0xBB));
    first.FixedMatch(258, 1);
    first.Fixed(rng, 2000, true);
    Bytes out;
    ASSERT_EQ(Decode(core, first.Finish(), out, 1 << 30), zm::irOk);
    ASSERT_TRUE(out == first.Want);

    // Matches reaching before the start: from the very first byte, after a few
    // literals, after stored bytes (partly zeros, partly the stored bytes), and the
    // same again once the window has been zeroed.
    TStreamWriter w(d64);
    w.FixedMatch(10, history);
    w.Stored(Bytes{1, 2, 3, 4, 5});
    w.FixedMatch(30, 20);
    w.Stored(RandomBytes(rng, 100));
    w.FixedMatch(258, 400);
    w.FixedMatch(258, history);
    w.Fixed(rng, 400, true);
    for (size_t inChunk : {size_t(0), size_t(1) << 30, size_t(3)}) {
      ASSERT_EQ(Decode(core, w.Finish(), out, inChunk), zm::irOk);
      ASSERT_TRUE(out == w.Want) << "mode " << d64 << " in " << inChunk;
      ASSERT_EQ(Decode(core, first.Finish(), out, inChunk), zm::irOk);
      ASSERT_TRUE(out == first.Want);
    }
  }
}

TEST(InflateCoreHistory, RandomCompleteCodeSetsAndMixedBlocks) {
  for (bool d64 : {false, true}) {
    zm::TZMInflateCore core(d64 ? zm::TInflateMode::Deflate64 : zm::TInflateMode::Deflate);
    for (uint32_t seed = 0; seed < 40; ++seed) {
      std::mt19937 rng(seed * 2 + d64);
      TStreamWriter w(d64);
      const int blocks = 1 + int(rng() % 8);
      for (int b = 0; b < blocks; ++b) {
        const bool last = b == blocks - 1;
        switch (rng() % 4) {
          case 0: w.Stored(RandomBytes(rng, rng() % 2 ? rng() % 16 : rng() % 70000 % 65536), last); break;
          case 1: w.Fixed(rng, rng() % 3000, last); break;
          default: w.Dynamic(rng, rng() % 5000, last); break;
        }
      }
      const Bytes comp = w.Finish();
      Bytes out;
      const size_t inChunk = seed % 3 == 0 ? 5 : seed % 3 == 1 ? 0 : size_t(1) << 30;
      ASSERT_EQ(Decode(core, comp, out, inChunk, seed % 4 == 1 ? 333 : 0), zm::irOk)
          << "mode " << d64 << " seed " << seed;
      ASSERT_TRUE(out == w.Want) << "mode " << d64 << " seed " << seed;
    }
  }
}

}  // namespace
