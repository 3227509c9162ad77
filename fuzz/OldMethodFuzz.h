// The body shared by the fuzz targets of the old methods' decoders, run inside the
// engine's decoding loop (TDZDecoder) over an archive in memory. The first byte picks
// the mode and the variant of the method (its low bits, as the target maps them), the
// second how the reader splits the input:
//  - even mode byte: the rest is an entry's compressed data, with a declared size from
//    the next three bytes. Nothing beyond that size is ever handed on, and a stream
//    that decodes without error gives exactly that size.
//  - odd mode byte: the rest is content (its first 8 KiB, on a share of the inputs all
//    of it), compressed by the tests' own compressor; the engine must give back exactly
//    that content with its CRC.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include <zlib.h>

#include "DZDecode.h"
#include "FuzzSample.h"

namespace oldfuzz {

inline void Check(bool ok) {
  if (!ok) std::abort();
}

// An entry's data in memory, handed out in pieces of varying size.
class TMemSource : public dz::TDZSource {
 public:
  TMemSource(const std::string& data, uint8_t splitSeed) : FData(data), FSeed(splitSeed) {
    FSize = data.size();
  }
  int64_t ReadSome(uint64_t off, void* buf, size_t n) override {
    if (off >= FData.size()) return -1;
    n = std::min<size_t>(n, FData.size() - size_t(off));
    if (FSeed && n > 1) {
      FState = FState * 1103515245u + 12345u;
      n = 1 + (FState >> 16) % std::min<size_t>(n, size_t(FSeed) * 16);
    }
    std::memcpy(buf, FData.data() + off, n);
    return int64_t(n);
  }

 private:
  const std::string& FData;
  uint8_t FSeed;
  uint32_t FState = 1;
};

struct TOutcome {
  dz::TDZDecodeResult R;
  std::string Out;
};

// endMark: the method's data may end themselves (an end mark) before the size.
inline TOutcome Run(const std::string& packed, uint16_t method, uint16_t flags, uint64_t size,
                    uint8_t splitSeed, bool endMark = false) {
  static dz::TDZDecoder decoder;  // decoders are kept and reused, as in the engine
  TMemSource src(packed, splitSeed);
  dz::TDZEntry en;
  en.Method = method;
  en.Flags = flags;
  en.CompSize = packed.size();
  en.UncompSize = size;
  TOutcome o;
  o.R = decoder.Run(src, en, nullptr, [&](const uint8_t* p, size_t n) {
    o.Out.append(reinterpret_cast<const char*>(p), n);
    return true;
  });
  Check(o.Out.size() == o.R.Written && o.R.Written <= size);
  Check(!o.R.ReadFailed);
  if (o.R.Result == zm::irOk) Check((o.R.Written == size || endMark) && !o.R.TooLong);
  return o;
}

// variant: the mode byte's bits 1-7; encode: the compressed form of content for a
// variant; method and flags of a variant.
struct TTarget {
  std::function<uint16_t(unsigned variant)> Method;
  std::function<uint16_t(unsigned variant)> Flags;
  std::function<std::string(const std::string& content, unsigned variant)> Encode;
};

inline int FuzzOne(const TTarget& t, const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned variant = data[0] >> 1;
  const uint8_t splitSeed = data[1];
  const uint16_t method = t.Method(variant), flags = t.Flags(variant);
  if ((data[0] & 1) == 0) {
    if (size < 5) return 0;
    const uint64_t declared = (data[2] | data[3] << 8 | data[4] << 16) % (64 * 1024);
    Run(std::string(reinterpret_cast<const char*>(data + 5), size - 5), method, flags, declared, splitSeed);
    return 0;
  }
  // The tests' compressor is slow next to the decoders: contents of up to 8 KiB (and
  // whole ones on a share of the inputs) keep the target fast.
  const size_t take = fuzzkit::Sampled(data, size, 8) ? size - 2 : std::min<size_t>(size - 2, 8192);
  const std::string content(reinterpret_cast<const char*>(data + 2), take);
  const TOutcome o = Run(t.Encode(content, variant), method, flags, content.size(), splitSeed);
  Check(o.R.Result == zm::irOk);
  Check(o.Out == content);
  Check(o.R.Crc == crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())));
  return 0;
}

}  // namespace oldfuzz
