#include "DZImplode.h"

#include <algorithm>

#include "DZBitReader.h"

namespace dz {

namespace {
constexpr unsigned kMaxCodeBits = 16;
}

int TDZImplodeDecoder::ReadTree(TDZBitReader& in, unsigned n, TTree& tree) {
  // A count of bytes, then per byte a run: bits 4-7 hold the run length less one,
  // bits 0-3 the code length less one, for the next symbols in order.
  uint8_t lens[256];
  unsigned filled = 0;
  const unsigned bytes = in.Take(8) + 1;
  for (unsigned i = 0; i < bytes; ++i) {
    const unsigned b = in.Take(8);
    const unsigned run = (b >> 4) + 1;
    if (filled + run > n) return zm::irBadData;
    std::fill(lens + filled, lens + filled + run, uint8_t((b & 15) + 1));
    filled += run;
  }
  if (in.Status() != zm::irOk) return in.Status();
  if (filled != n) return zm::irBadData;

  // Codes are dealt out from the longest lengths to the shortest, and within one
  // length from the last symbol to the first: each code is the one before plus the
  // step of the length before, as 16 bits aligned at the top. They are read first
  // bit first, so the table is indexed by the reversed codes.
  const unsigned bits = *std::max_element(lens, lens + n);
  tree.Bits = bits;
  tree.Table.assign(size_t(1) << bits, 0);
  uint32_t code = 0, step = 0;
  unsigned prevLen = 0;
  for (unsigned len = kMaxCodeBits; len >= 1; --len) {
    for (unsigned s = n; s-- > 0;) {
      if (lens[s] != len) continue;
      code += step;
      if (len != prevLen) {
        prevLen = len;
        step = uint32_t(1) << (kMaxCodeBits - len);
      }
      if (code >= (uint32_t(1) << kMaxCodeBits)) return zm::irBadCodes;  // over-subscribed
      const uint32_t top = code >> (kMaxCodeBits - len);
      uint32_t rev = 0;
      for (unsigned k = 0; k < len; ++k) rev |= ((top >> k) & 1) << (len - 1 - k);
      for (uint32_t i = rev; i < tree.Table.size(); i += uint32_t(1) << len) {
        // Two codes where one begins the other: no prefix code, no decoding.
        if (tree.Table[i]) return zm::irBadCodes;
        tree.Table[i] = uint16_t(len << 8 | s);
      }
    }
  }
  return zm::irOk;
}

int TDZImplodeDecoder::Symbol(TDZBitReader& in, const TTree& tree) {
  const uint16_t e = tree.Table[in.Peek(tree.Bits)];
  if (!e) return -1;
  in.Drop(e >> 8);
  return e & 0xFF;
}

int TDZImplodeDecoder::Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) {
  if (en.UncompSize == 0) return zm::irOk;  // an empty file may come without trees
  TDZBitReader in(reader);
  FOut.Start(sink);
  const bool bigHistory = (en.Flags & 2) != 0, literalTree = (en.Flags & 4) != 0;
  int r = zm::irOk;
  if (literalTree) r = ReadTree(in, 256, FLiterals);
  if (r == zm::irOk) r = ReadTree(in, 64, FLengths);
  if (r == zm::irOk) r = ReadTree(in, 64, FDistances);
  if (r != zm::irOk) return r;

  const unsigned lowBits = bigHistory ? 7 : 6;
  const unsigned minLength = literalTree ? 3 : 2;
  while (FOut.Count() < en.UncompSize) {
    if (in.Take(1)) {
      const int c = literalTree ? Symbol(in, FLiterals) : int(in.Take(8));
      if (c < 0) return zm::irBadData;
      FOut.Put(uint8_t(c));
    } else {
      const uint32_t low = in.Take(lowBits);
      const int high = Symbol(in, FDistances);
      if (high < 0) return zm::irBadData;
      int length = Symbol(in, FLengths);
      if (length < 0) return zm::irBadData;
      if (length == 63) length += int(in.Take(8));
      if (in.Status() != zm::irOk) return in.Status();
      FOut.Copy((uint32_t(high) << lowBits | low) + 1, uint32_t(length) + minLength);
    }
    if (in.Status() != zm::irOk) return in.Status();
    if (FOut.Failed()) return zm::irWriteFailed;
  }
  return FOut.Flush() ? zm::irOk : zm::irWriteFailed;
}

}  // namespace dz
