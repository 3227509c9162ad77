// Crafted streams: invalid headers and code sets, truncation, distances before the
// start, Deflate64 codes and the bounded table pool.
#include "ZMInflateCore.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
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

void PutFixedDist(TBitWriter& w, unsigned sym) { w.Code(sym, 5); }

// A code-length code set that is complete: symbols 0-12 get 4 bits, 13-18 get 5 bits.
std::vector<uint8_t> StdClLens() {
  std::vector<uint8_t> l(19, 4);
  for (int s = 13; s < 19; ++s) l[s] = 5;
  return l;
}

struct TClItem {
  unsigned Sym;
  unsigned Extra;
};

std::vector<TClItem> Plain(const std::vector<uint8_t>& lens) {
  std::vector<TClItem> items;
  for (uint8_t l : lens) items.push_back({l, 0});
  return items;
}

// Writes a dynamic block header sending all 19 code-length code lengths.
void PutDynamic(TBitWriter& w, bool last, unsigned nlit, unsigned ndist, const std::vector<uint8_t>& clLens,
                const std::vector<TClItem>& items) {
  static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
  w.Put(last ? 1 : 0, 1);
  w.Put(2, 2);
  w.Put(nlit - 257, 5);
  w.Put(ndist - 1, 5);
  w.Put(15, 4);
  for (uint8_t s : order) w.Put(clLens[s], 3);
  std::vector<uint32_t> codes = CanonicalCodes(clLens);
  for (const TClItem& it : items) {
    w.Code(codes[it.Sym], clLens[it.Sym]);
    if (it.Sym == 16) w.Put(it.Extra, 2);
    if (it.Sym == 17) w.Put(it.Extra, 3);
    if (it.Sym == 18) w.Put(it.Extra, 7);
  }
}

// Decodes with one long-lived decoder per mode, as the engine reuses its decoders:
// through a reader and read in place, which must agree on the result and the output.
int Decode(const Bytes& in, Bytes* out = nullptr, zm::TInflateMode mode = zm::TInflateMode::Deflate) {
  static zm::TZMInflateCore deflate(zm::TInflateMode::Deflate);
  static zm::TZMInflateCore deflate64(zm::TInflateMode::Deflate64);
  zm::TZMInflateCore& core = mode == zm::TInflateMode::Deflate ? deflate : deflate64;
  Bytes read, inPlace;
  const auto into = [](Bytes& b) {
    return [&b](const uint8_t* p, size_t n) {
      b.insert(b.end(), p, p + n);
      return true;
    };
  };
  const int r = core.Inflate(zmtest::ChunkReader(in), into(read));
  EXPECT_EQ(core.Inflate(in.data(), in.size(), into(inPlace)), r);
  EXPECT_TRUE(inPlace == read) << "in place: " << inPlace.size()
                               << " bytes, through a reader: " << read.size();
  if (out) out->insert(out->end(), read.begin(), read.end());
  return r;
}

TEST(InflateCoreInvalid, HeaderLevelFaults) {
  EXPECT_EQ(Decode({}), zm::irBadData) << "empty input";

  TBitWriter reserved;
  reserved.Put(1, 1);
  reserved.Put(3, 2);
  EXPECT_EQ(Decode(reserved.Finish()), zm::irBadCodes) << "block type 3";

  Bytes stored = {0x01, 0x05, 0x00, 0xFA, 0xFF, 'h', 'e', 'l', 'l', 'o'};
  Bytes out;
  ASSERT_EQ(zm::InflateBuffer(stored.data(), stored.size(), out), zm::irOk);
  EXPECT_EQ(std::string(out.begin(), out.end()), "hello");
  stored[3] = 0xFB;
  EXPECT_EQ(Decode(stored), zm::irBadData) << "complement does not match";
  stored[3] = 0xFA;
  stored.pop_back();
  EXPECT_EQ(Decode(stored), zm::irBadData) << "stored data cut short";
}

TEST(InflateCoreInvalid, CodeSets) {
  std::vector<uint8_t> cl = StdClLens();
  auto lit = [](std::initializer_list<std::pair<unsigned, uint8_t>> codes) {
    std::vector<uint8_t> l(257, 0);
    for (auto [s, len] : codes) l[s] = len;
    return l;
  };
  auto run = [&](const std::vector<uint8_t>& clLens, const std::vector<uint8_t>& litLens,
                 const std::vector<uint8_t>& distLens, Bytes* out = nullptr) {
    TBitWriter w;
    std::vector<uint8_t> all = litLens;
    all.insert(all.end(), distLens.begin(), distLens.end());
    PutDynamic(w, true, unsigned(litLens.size()), unsigned(distLens.size()), clLens, Plain(all));
    std::vector<uint32_t> codes = CanonicalCodes(litLens);
    if (litLens['A']) w.Code(codes['A'], litLens['A']);
    w.Code(codes[256], litLens[256]);
    return Decode(w.Finish(), out);
  };
  Bytes out;
  ASSERT_EQ(run(cl, lit({{'A', 1}, {256, 1}}), {0}, &out), zm::irOk) << "literals, no distances";
  EXPECT_EQ(out, Bytes{'A'});

  std::vector<uint8_t> clOver(19, 1);
  EXPECT_EQ(run(clOver, lit({{'A', 1}, {256, 1}}), {0}), zm::irBadCodes);
  std::vector<uint8_t> clIncomplete(19, 0);
  clIncomplete[1] = 1;
  clIncomplete[0] = 2;
  EXPECT_EQ(run(clIncomplete, lit({{'A', 1}, {256, 1}}), {0}), zm::irBadData);
  EXPECT_EQ(run(std::vector<uint8_t>(19, 0), lit({{'A', 1}, {256, 1}}), {0}), zm::irBadData);

  EXPECT_EQ(run(cl, lit({{'A', 1}, {'B', 1}, {256, 1}}), {0}), zm::irBadCodes);
  EXPECT_EQ(run(cl, lit({{'A', 2}, {256, 2}}), {0}), zm::irBadData) << "incomplete";
  EXPECT_EQ(run(cl, lit({}), {0}), zm::irBadData) << "no literal/length codes";
  EXPECT_EQ(run(cl, lit({{'A', 1}, {256, 1}}), {1, 1, 1}), zm::irBadCodes);
  EXPECT_EQ(run(cl, lit({{'A', 1}, {256, 1}}), {2, 2, 0, 0}), zm::irBadData);
  out.clear();
  EXPECT_EQ(run(cl, lit({{256, 1}}), {1}, &out), zm::irOk) << "one code of one bit";
  EXPECT_TRUE(out.empty());
}

TEST(InflateCoreInvalid, RepeatsRunningPastTheCount) {
  std::vector<uint8_t> cl = StdClLens();
  std::vector<uint8_t> lens(258, 0);
  lens['A'] = 1;
  lens[256] = 1;
  std::vector<TClItem> items = Plain(lens);
  items.back() = {18, 127};  // 138 zeros where one length is left
  TBitWriter w;
  PutDynamic(w, true, 257, 1, cl, items);
  EXPECT_EQ(Decode(w.Finish()), zm::irBadData);

  items = Plain(lens);
  items.pop_back();
  items.back() = {1, 0};
  items.push_back({16, 3});  // six more ones where one length is left
  TBitWriter w2;
  PutDynamic(w2, true, 257, 1, cl, items);
  EXPECT_EQ(Decode(w2.Finish()), zm::irBadData);
}

TEST(InflateCoreInvalid, DistanceCodeSets) {
  std::vector<uint8_t> cl = StdClLens();
  std::vector<uint8_t> lens(257 + 3, 0);
  lens['A'] = 2;
  lens[256] = 2;
  lens[257] = 1;  // length 3
  auto block = [&](const std::vector<uint8_t>& dist, unsigned distCode) {
    std::vector<uint8_t> l = lens;
    std::vector<uint8_t> all = l;
    all.insert(all.end(), dist.begin(), dist.end());
    TBitWriter w;
    PutDynamic(w, true, unsigned(l.size()), unsigned(dist.size()), cl, Plain(all));
    std::vector<uint32_t> lc = CanonicalCodes(l);
    std::vector<uint32_t> dc = CanonicalCodes(dist);
    w.Code(lc['A'], 2);
    w.Code(lc[257], 1);
    w.Code(distCode < dist.size() && dist[distCode] ? dc[distCode] : 1, 1);
    w.Code(lc[256], 2);
    Bytes out;
    int r = Decode(w.Finish(), &out);
    return std::make_pair(r, out);
  };
  // One distance code of one bit: the used code works, the unused one is invalid.
  auto ok = block({1}, 0);
  ASSERT_EQ(ok.first, zm::irOk);
  EXPECT_EQ(ok.second, (Bytes{'A', 'A', 'A', 'A'}));
  EXPECT_EQ(block({1}, 1).first, zm::irBadData);
  // No distance codes at all: any match is invalid.
  EXPECT_EQ(block({0}, 0).first, zm::irBadData);
}

TEST(InflateCoreInvalid, FixedBlockCodes) {
  // Literal/length codes 286 and 287 do not exist.
  for (unsigned sym : {286u, 287u}) {
    TBitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLit(sym);
    w.FixedLit(256);
    EXPECT_EQ(Decode(w.Finish()), zm::irBadData) << sym;
  }
  // Distance codes 30 and 31 exist only in Deflate64.
  for (unsigned code : {30u, 31u}) {
    TBitWriter w;
    w.Put(1, 1);
    w.Put(1, 2);
    w.FixedLit('x');
    w.FixedLit(257);
    PutFixedDist(w, code);
    w.Put(0, 14);
    w.FixedLit(256);
    Bytes s = w.Finish();
    EXPECT_EQ(Decode(s), zm::irBadData) << code;
    Bytes out;
    EXPECT_EQ(Decode(s, &out, zm::TInflateMode::Deflate64), zm::irOk) << code;
    EXPECT_EQ(out.size(), 4u);
  }
}

TEST(InflateCoreInvalid, DistancesBeforeTheStartReadZeros) {
  TBitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  w.FixedLit(257);  // length 3, distance 5
  PutFixedDist(w, 4);
  w.Put(0, 1);
  w.FixedLit('x');
  w.FixedLit(285);  // length 258, distance 32768
  PutFixedDist(w, 29);
  w.Put(8191, 13);
  w.FixedLit(256);
  Bytes out;
  ASSERT_EQ(Decode(w.Finish(), &out), zm::irOk);
  Bytes want(3 + 1 + 258, 0);
  want[3] = 'x';
  EXPECT_EQ(out, want);
}

TEST(InflateCoreInvalid, EndingExactlyAfterTheLastCode) {
  // Header 3 bits, six 9-bit literals, end code 7 bits: exactly 8 bytes. The end code
  // is decoded although the table would like 9 bits.
  TBitWriter w;
  w.Put(1, 1);
  w.Put(1, 2);
  for (int i = 0; i < 6; ++i) w.FixedLit(200);
  w.FixedLit(256);
  ASSERT_EQ(w.Pending(), 0u);
  Bytes s = w.Finish();
  ASSERT_EQ(s.size(), 8u);
  Bytes out;
  ASSERT_EQ(Decode(s, &out), zm::irOk);
  EXPECT_EQ(out, Bytes(6, 200));
  // Without its last byte the end code (all zero bits) is missing, not implied.
  s.pop_back();
  EXPECT_EQ(Decode(s), zm::irBadData);
}

TEST(InflateCoreInvalid, TruncationAtEveryBytePosition) {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i * 37 % 101) + " of the rate table\n";
  Bytes data(text.begin(), text.end());
  struct TCase {
    int Level, Strategy;
  };
  for (TCase c : {TCase{6, Z_DEFAULT_STRATEGY}, TCase{1, Z_HUFFMAN_ONLY}, TCase{0, Z_DEFAULT_STRATEGY},
                  TCase{9, Z_FIXED}, TCase{6, Z_RLE}}) {
    Bytes comp = DeflateRaw(data, c.Level, c.Strategy);
    Bytes out;
    ASSERT_EQ(Decode(comp, &out), zm::irOk);
    ASSERT_EQ(out, data);
    for (size_t k = 0; k < comp.size(); ++k) {
      Bytes cut(comp.begin(), comp.begin() + ptrdiff_t(k));
      ASSERT_EQ(Decode(cut), zm::irBadData) << "level " << c.Level << " cut at " << k;
    }
  }
}

// Arbitrary bytes end in one of the defined results, never in a crash.
TEST(InflateCoreInvalid, RandomBytesGiveDefinedResults) {
  std::mt19937 rng(31337);
  Bytes base = DeflateRaw(Bytes(3000, 'q'), 6, Z_DEFAULT_STRATEGY);
  for (int i = 0; i < 3000; ++i) {
    Bytes s;
    if (i % 2) {
      s.resize(rng() % 300);
      for (auto& b : s) b = uint8_t(rng());
    } else {
      s = base;
      for (int f = 0; f < 3; ++f) s[rng() % s.size()] ^= uint8_t(1u << (rng() % 8));
    }
    for (auto mode : {zm::TInflateMode::Deflate, zm::TInflateMode::Deflate64}) {
      int r = Decode(s, nullptr, mode);
      ASSERT_TRUE(r == zm::irOk || r == zm::irBadData || r == zm::irBadCodes) << r;
    }
  }
}

TEST(InflateCoreInvalid, TablePoolIsBounded) {
  Bytes data;
  for (int i = 0; i < 20000; ++i) data.push_back(uint8_t((i * i) >> 3));
  Bytes comp = DeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
  zm::TZMInflateCore small(zm::TInflateMode::Deflate, 700);
  EXPECT_EQ(small.Inflate(zmtest::ChunkReader(comp), nullptr), zm::irNoTableSpace);
  EXPECT_LE(small.PoolUsed(), small.PoolCapacity());

  zm::TZMInflateCore full;
  EXPECT_EQ(full.Inflate(zmtest::ChunkReader(comp), nullptr), zm::irOk);
  EXPECT_EQ(full.OutCount(), data.size());
}

}  // namespace
