// Fuzzes the Deflate64 decoder. The first byte picks the mode:
//  - even: the rest is decoded as it stands, whole, and on a share of the inputs also in
//    pieces with large and small output chunks; results and output must agree;
//  - odd: the rest is a program of literals and matches (lengths up to 65538,
//    distances up to 65536, the reach of Deflate64 alone), written as fixed-code and
//    stored blocks; the decoder must give back exactly the program's output.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSample.h"
#include "InflateFuzz.h"
#include "TestDeflate.h"
#include "ZMInflateCore.h"
#include "FuzzCheck.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fuzzkit::DecodeInPieces;
using fuzzkit::SameInPieces;
using fuzzkit::TInflateRun;
using zmtest::TBitWriter;

const uint16_t kLenBase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11, 13,  15,  17,  19,  23,
                             27, 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227};
const uint8_t kLenExtra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                             2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t kDistBase[] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                              49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                              2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
const uint8_t kDistExtra[] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                              7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

void FixedMatch(TBitWriter& w, unsigned len, unsigned dist) {
  if (len > 258) {
    // Deflate64's code 285: 16 extra bits above a base of 3.
    w.FixedLit(285);
    w.Put(len - 3, 16);
  } else {
    unsigned i = 27;
    while (kLenBase[i] > len) --i;
    w.FixedLit(257 + i);
    w.Put(len - kLenBase[i], kLenExtra[i]);
  }
  unsigned d = 31;
  while (kDistBase[d] > dist) --d;
  w.Code(d, 5);
  w.Put(dist - kDistBase[d], kDistExtra[d]);
}

// Builds a stream from the program and its expected output.
void Compile(const uint8_t* p, size_t n, Bytes& stream, Bytes& expect) {
  TBitWriter w;
  size_t i = 0;
  bool open = false;  // inside a fixed-code block
  auto endBlock = [&] {
    if (open) w.FixedLit(256);
    open = false;
  };
  auto openFixed = [&] {
    if (!open) {
      w.FixedBlockHeader(false);
      open = true;
    }
  };
  while (i < n && expect.size() < fuzzkit::kMaxInflateOut / 2) {
    const uint8_t op = p[i++];
    const unsigned kind = op >> 6;
    if (kind == 0) {  // literals
      const size_t cnt = std::min<size_t>((op & 63) + 1, n - i);
      openFixed();
      for (size_t k = 0; k < cnt; ++k) {
        w.FixedLit(p[i + k]);
        expect.push_back(p[i + k]);
      }
      i += cnt;
    } else if (kind == 3 && (op & 32)) {  // a stored block of literals
      const size_t cnt = std::min<size_t>((op & 31) * 7 + 1, n - i);
      endBlock();
      w.Put(0, 1);
      w.Put(0, 2);
      w.Align();
      w.Out.push_back(uint8_t(cnt));
      w.Out.push_back(uint8_t(cnt >> 8));
      w.Out.push_back(uint8_t(~cnt));
      w.Out.push_back(uint8_t(~cnt >> 8));
      for (size_t k = 0; k < cnt; ++k) {
        w.Out.push_back(p[i + k]);
        expect.push_back(p[i + k]);
      }
      i += cnt;
    } else {  // a match; needs two bytes of length and two of distance
      if (expect.empty() || n - i < 4) break;
      unsigned len = 3 + ((p[i] | p[i + 1] << 8) % (kind == 1 ? 256u : 65536u));
      if (expect.size() + len > fuzzkit::kMaxInflateOut / 2) break;
      const unsigned dist = 1 + (p[i + 2] | p[i + 3] << 8) % unsigned(std::min<size_t>(expect.size(), 65536));
      i += 4;
      openFixed();
      FixedMatch(w, len, dist);
      const size_t from = expect.size() - dist;
      for (unsigned k = 0; k < len; ++k) expect.push_back(expect[from + k]);
    }
  }
  endBlock();
  w.FixedBlockHeader();  // the final block: empty, fixed codes
  w.FixedLit(256);
  w.Align();
  stream = std::move(w.Out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t mode, chunkSeed;
  if (!fuzzkit::TakeSettings(data, size, mode, chunkSeed)) return 0;
  const size_t smallChunk = 1 + chunkSeed * 5;
  if ((mode & 1) == 0) {
    const TInflateRun whole = DecodeInPieces(data, size, zm::TInflateMode::Deflate64, 0, 8, 0);
    if (!fuzzkit::Sampled(data, size, 8)) return 0;
    Check(SameInPieces(whole, DecodeInPieces(data, size, zm::TInflateMode::Deflate64, chunkSeed, 8,
                                             (mode & 2) ? smallChunk : 0)));
    return 0;
  }
  Bytes stream, expect;
  Compile(data, size, stream, expect);
  // Small output chunks cost a call each: only on a share of the programs.
  const bool small = (mode & 2) && fuzzkit::Sampled(data, size, 4);
  const TInflateRun r = DecodeInPieces(stream.data(), stream.size(), zm::TInflateMode::Deflate64, chunkSeed,
                                       8, small ? smallChunk : 0);
  Check(r.Result == zm::irOk);
  Check(r.Out == expect);
  return 0;
}
