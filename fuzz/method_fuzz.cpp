// Fuzzes the decoders that wrap libbz2, liblzma and libzstd, with the LZMA entry's own
// head: the first byte picks the method (bits 0-1: bzip2, LZMA, XZ, Zstandard) and, for
// LZMA, the end-marker flag (bit 2); the next 4 bytes give the stated size (below
// 1 MiB); the rest is the entry's data, read in chunks whose size comes from the first
// byte too (bits 3-7). The decoding loop may hand on at most the stated size, and the
// decoder must end with one of its results.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "DZDecode.h"

namespace {

class TMemorySource : public dz::TDZSource {
 public:
  TMemorySource(const uint8_t* data, size_t size, size_t chunk) : FData(data), FChunk(chunk) { FSize = size; }
  int64_t ReadSome(uint64_t off, void* buf, size_t n) override {
    if (off > FSize) return -1;
    n = std::min({n, size_t(FSize - off), FChunk});
    std::memcpy(buf, FData + off, n);
    return int64_t(n);
  }

 private:
  const uint8_t* FData;
  size_t FChunk;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5 || size > (1u << 20)) return 0;
  static const uint16_t kMethods[] = {12, 14, 95, 93};
  static dz::TDZDecoder decoder;  // kept, as the engine keeps it between entries
  dz::TDZEntry en;
  en.Method = kMethods[data[0] & 3];
  en.Flags = (data[0] & 4) ? 2 : 0;
  uint32_t usize;
  std::memcpy(&usize, data + 1, 4);
  en.UncompSize = usize % (1u << 20);
  en.DataOffset = 5;
  en.CompSize = size - 5;
  TMemorySource src(data, size, 1 + size_t(data[0] >> 3) * 997);
  uint64_t got = 0;
  const dz::TDZDecodeResult r = decoder.Run(src, en, nullptr, [&](const uint8_t*, size_t n) {
    got += n;
    return true;
  });
  if (got != r.Written || got > en.UncompSize) std::abort();
  if (r.Result != zm::irOk && r.Result != zm::irBadData && r.Result != zm::irWriteFailed &&
      r.Result != dz::mrMemoryLimit)
    std::abort();
  return 0;
}
