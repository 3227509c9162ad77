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
#include "ZMInflateCore.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMaxOut = 256u << 10;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct TRun {
  int Result = 0;
  Bytes Out;
};

TRun Decode(const uint8_t* data, size_t size, uint8_t chunkSeed, size_t outChunk) {
  static zm::TZMInflateCore core(zm::TInflateMode::Deflate64);
  core.SetOutChunk(outChunk);
  TRun r;
  size_t pos = 0;
  uint32_t state = chunkSeed;
  r.Result = core.Inflate(
      [&](uint8_t* buf, size_t max) -> ptrdiff_t {
        size_t n = std::min(max, size - pos);
        if (chunkSeed && n > 1) {
          state = state * 1103515245u + 12345u;
          n = 1 + (state >> 16) % std::min<size_t>(n, size_t(chunkSeed) * 8);
        }
        if (n) std::memcpy(buf, data + pos, n);
        pos += n;
        return ptrdiff_t(n);
      },
      [&](const uint8_t* p, size_t n) {
        if (r.Out.size() + n > kMaxOut) return false;
        r.Out.insert(r.Out.end(), p, p + n);
        return true;
      });
  return r;
}

// LSB-first bit writer of a deflate stream.
class TBitWriter {
 public:
  void Bits(uint32_t v, unsigned n) {
    for (unsigned i = 0; i < n; ++i) Bit((v >> i) & 1);
  }
  // Huffman codes go most significant bit first.
  void Code(uint32_t code, unsigned n) {
    for (unsigned i = n; i-- > 0;) Bit((code >> i) & 1);
  }
  void Align() {
    while (FCount) Bit(0);
  }
  void Byte(uint8_t b) { FOut.push_back(b); }
  Bytes& Out() { return FOut; }

 private:
  void Bit(unsigned b) {
    FAcc |= uint8_t(b << FCount);
    if (++FCount == 8) {
      FOut.push_back(FAcc);
      FAcc = 0;
      FCount = 0;
    }
  }
  Bytes FOut;
  uint8_t FAcc = 0;
  unsigned FCount = 0;
};

void FixedSymbol(TBitWriter& w, unsigned sym) {
  if (sym < 144)
    w.Code(0x30 + sym, 8);
  else if (sym < 256)
    w.Code(0x190 + sym - 144, 9);
  else if (sym < 280)
    w.Code(sym - 256, 7);
  else
    w.Code(0xC0 + sym - 280, 8);
}

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
    FixedSymbol(w, 285);
    w.Bits(len - 3, 16);
  } else {
    unsigned i = 27;
    while (kLenBase[i] > len) --i;
    FixedSymbol(w, 257 + i);
    w.Bits(len - kLenBase[i], kLenExtra[i]);
  }
  unsigned d = 31;
  while (kDistBase[d] > dist) --d;
  w.Code(d, 5);
  w.Bits(dist - kDistBase[d], kDistExtra[d]);
}

// Builds a stream from the program and its expected output.
void Compile(const uint8_t* p, size_t n, Bytes& stream, Bytes& expect) {
  TBitWriter w;
  size_t i = 0;
  bool open = false;  // inside a fixed-code block
  auto endBlock = [&] {
    if (open) FixedSymbol(w, 256);
    open = false;
  };
  auto openFixed = [&] {
    if (!open) {
      w.Bits(0, 1);  // not final
      w.Bits(1, 2);  // fixed codes
      open = true;
    }
  };
  while (i < n && expect.size() < kMaxOut / 2) {
    const uint8_t op = p[i++];
    const unsigned kind = op >> 6;
    if (kind == 0) {  // literals
      const size_t cnt = std::min<size_t>((op & 63) + 1, n - i);
      openFixed();
      for (size_t k = 0; k < cnt; ++k) {
        FixedSymbol(w, p[i + k]);
        expect.push_back(p[i + k]);
      }
      i += cnt;
    } else if (kind == 3 && (op & 32)) {  // a stored block of literals
      const size_t cnt = std::min<size_t>((op & 31) * 7 + 1, n - i);
      endBlock();
      w.Bits(0, 1);
      w.Bits(0, 2);
      w.Align();
      w.Byte(uint8_t(cnt));
      w.Byte(uint8_t(cnt >> 8));
      w.Byte(uint8_t(~cnt));
      w.Byte(uint8_t(~cnt >> 8));
      for (size_t k = 0; k < cnt; ++k) {
        w.Byte(p[i + k]);
        expect.push_back(p[i + k]);
      }
      i += cnt;
    } else {  // a match; needs two bytes of length and two of distance
      if (expect.empty() || n - i < 4) break;
      unsigned len = 3 + ((p[i] | p[i + 1] << 8) % (kind == 1 ? 256u : 65536u));
      if (expect.size() + len > kMaxOut / 2) break;
      const unsigned dist = 1 + (p[i + 2] | p[i + 3] << 8) % unsigned(std::min<size_t>(expect.size(), 65536));
      i += 4;
      openFixed();
      FixedMatch(w, len, dist);
      const size_t from = expect.size() - dist;
      for (unsigned k = 0; k < len; ++k) expect.push_back(expect[from + k]);
    }
  }
  endBlock();
  // The final block: empty, fixed codes.
  w.Bits(1, 1);
  w.Bits(1, 2);
  FixedSymbol(w, 256);
  w.Align();
  stream = std::move(w.Out());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t mode = data[0];
  const uint8_t chunkSeed = data[1];
  data += 2;
  size -= 2;
  const size_t smallChunk = 1 + chunkSeed * 5;
  if ((mode & 1) == 0) {
    TRun whole = Decode(data, size, 0, 0);
    if (!fuzzkit::Sampled(data, size, 8)) return 0;
    TRun split = Decode(data, size, chunkSeed, (mode & 2) ? smallChunk : 0);
    if (whole.Result != zm::irWriteFailed && split.Result != zm::irWriteFailed) {
      Check(whole.Result == split.Result);
      if (whole.Result == zm::irOk) Check(whole.Out == split.Out);
    }
    return 0;
  }
  Bytes stream, expect;
  Compile(data, size, stream, expect);
  // Small output chunks cost a call each: only on a share of the programs.
  const bool small = (mode & 2) && fuzzkit::Sampled(data, size, 4);
  TRun r = Decode(stream.data(), stream.size(), chunkSeed, small ? smallChunk : 0);
  Check(r.Result == zm::irOk);
  Check(r.Out == expect);
  return 0;
}
