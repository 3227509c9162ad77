// Deflate streams for the inflater's suites and fuzz targets: raw streams from zlib
// with a chosen level, strategy and memory level, and a bit writer for streams crafted
// symbol by symbol (valid ones zlib would not make, and broken ones).
#pragma once
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zmtest {

using TBytes = std::vector<uint8_t>;

// A raw deflate stream of the data; empty when zlib refuses.
inline TBytes DeflateRaw(const TBytes& in, int level = 6, int strategy = Z_DEFAULT_STRATEGY,
                         int memLevel = 8) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, memLevel, strategy) != Z_OK) return {};
  TBytes out(deflateBound(&zs, uLong(in.size())) + 64);
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  const bool ended = deflate(&zs, Z_FINISH) == Z_STREAM_END;
  out.resize(ended ? zs.total_out : 0);
  deflateEnd(&zs);
  return out;
}

// A reader for a decoder's input: hands out the bytes of in (which must outlive it) in
// pieces of at most maxChunk, then 0 at the end.
inline auto ChunkReader(const TBytes& in, size_t maxChunk = SIZE_MAX) {
  return [&in, maxChunk, pos = size_t(0)](uint8_t* buf, size_t max) mutable -> ptrdiff_t {
    const size_t n = std::min({max, in.size() - pos, maxChunk});
    if (n) std::memcpy(buf, in.data() + pos, n);
    pos += n;
    return ptrdiff_t(n);
  };
}

// Bits packed from the low bit of each byte up: values go low bit first, prefix codes
// their top bit first.
class TBitWriter {
 public:
  TBytes Out;  // the whole bytes written so far

  void Put(uint32_t v, unsigned bits) {
    FAcc |= (uint64_t(v) & ((uint64_t(1) << bits) - 1)) << FCount;
    FCount += bits;
    while (FCount >= 8) {
      Out.push_back(uint8_t(FAcc));
      FAcc >>= 8;
      FCount -= 8;
    }
  }
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) Put((code >> i) & 1, 1);
  }
  // A literal/length symbol in the fixed code.
  void FixedLit(unsigned sym) {
    if (sym < 144)
      Code(0x30 + sym, 8);
    else if (sym < 256)
      Code(0x190 + sym - 144, 9);
    else if (sym < 280)
      Code(sym - 256, 7);
    else
      Code(0xC0 + sym - 280, 8);
  }
  // The header of a block with the fixed codes (its symbols follow).
  void FixedBlockHeader(bool last = true) {
    Put(last ? 1 : 0, 1);
    Put(1, 2);
  }
  // A stored block of the bytes.
  void StoredBlock(const TBytes& data, bool last = false) {
    Put(last ? 1 : 0, 1);
    Put(0, 2);
    Align();
    Put(uint32_t(data.size()), 16);
    Put(uint32_t(~data.size() & 0xFFFF), 16);
    Out.insert(Out.end(), data.begin(), data.end());
  }
  // Bits waiting for the rest of their byte.
  unsigned Pending() const { return FCount; }
  // Zero bits up to the next byte.
  void Align() {
    if (FCount) Put(0, 8 - FCount);
  }
  TBytes Finish() {
    Align();
    return Out;
  }

 private:
  uint64_t FAcc = 0;
  unsigned FCount = 0;
};

// The canonical prefix codes of a set of code lengths (0: no code).
template <class TLen>
std::vector<uint32_t> CanonicalCodes(const std::vector<TLen>& lens) {
  unsigned count[16] = {0};
  for (TLen l : lens) count[l]++;
  count[0] = 0;
  uint32_t next[16] = {0}, code = 0;
  for (unsigned b = 1; b < 16; ++b) next[b] = code = (code + count[b - 1]) << 1;
  std::vector<uint32_t> codes(lens.size());
  for (size_t i = 0; i < lens.size(); ++i)
    if (lens[i]) codes[i] = next[lens[i]]++;
  return codes;
}

}  // namespace zmtest
