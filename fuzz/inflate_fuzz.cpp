// Fuzzes the inflate core (deflate and Deflate64, chunking taken from the input) and
// InflateStream: the two entry points must agree, and on a share of the inputs (the
// expensive checks) results and output must not depend on how the input is split and
// zlib's compression of the bytes must decode back.
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSample.h"
#include "ZMCrc32.h"
#include "ZMInflateCore.h"
#include "ZMInflt.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMaxOut = 256u << 10;  // bounds decompression bombs

struct TRun {
  int Result;
  Bytes Out;
};

TRun Decode(const uint8_t* data, size_t size, zm::TInflateMode mode, uint8_t chunkSeed, size_t outChunk) {
  TRun r;
  // Long-lived decoders, as the engine keeps them: reuse after failures is exercised too.
  static zm::TZMInflateCore deflate(zm::TInflateMode::Deflate);
  static zm::TZMInflateCore deflate64(zm::TInflateMode::Deflate64);
  zm::TZMInflateCore& core = mode == zm::TInflateMode::Deflate ? deflate : deflate64;
  core.SetOutChunk(outChunk);
  size_t pos = 0;
  uint32_t state = chunkSeed;
  r.Result = core.Inflate(
      [&](uint8_t* buf, size_t max) -> ptrdiff_t {
        size_t n = std::min(max, size - pos);
        if (chunkSeed && n > 1) {
          state = state * 1103515245u + 12345u;
          n = 1 + (state >> 16) % std::min<size_t>(n, size_t(chunkSeed) * 4);
        }
        std::memcpy(buf, data + pos, n);
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

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t chunkSeed = data[0];
  const uint8_t flags = data[1];
  data += 2;
  size -= 2;
  const zm::TInflateMode mode = (flags & 1) ? zm::TInflateMode::Deflate64 : zm::TInflateMode::Deflate;

  const bool expensive = fuzzkit::Sampled(data, size, 8);
  // The same stream read whole and read in pieces, with large and small output chunks.
  TRun whole = Decode(data, size, mode, 0, 0);
  if (expensive) {
    TRun split = Decode(data, size, mode, chunkSeed, (flags & 2) ? 1 + chunkSeed * 3 : 0);
    if (whole.Result != zm::irWriteFailed && split.Result != zm::irWriteFailed) {
      Check(whole.Result == split.Result);
      if (whole.Result == zm::irOk) Check(whole.Out == split.Out);
    }
  }

  // The component's entry point gives the same result and, with the CRC, success.
  if (mode == zm::TInflateMode::Deflate && whole.Result != zm::irWriteFailed) {
    TReadOnlyMemoryStream in(data, size);
    TMemoryStream out;
    uint32_t crc = ~zm::Crc32UpdateBytewise(0xFFFFFFFFu, whole.Out.data(), whole.Out.size());
    int32_t r = InflateStream(&out, &in, 8, crc, int64_t(size));
    Check(r == whole.Result);
    if (r == 0) Check(out.Bytes() == whole.Out);
  }

  // zlib's raw deflate of the bytes decodes back to them (plain deflate only: Deflate64
  // reads length code 285 differently).
  if (expensive && size <= 65536) {
    int level = flags >> 4 > 9 ? 6 : flags >> 4;
    int strategy = (flags >> 2) % 5;
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, strategy) != Z_OK) return 0;
    Bytes comp(deflateBound(&zs, uLong(size)) + 16);
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = uInt(size);
    zs.next_out = comp.data();
    zs.avail_out = uInt(comp.size());
    int zr = deflate(&zs, Z_FINISH);
    comp.resize(zs.total_out);
    deflateEnd(&zs);
    Check(zr == Z_STREAM_END);
    TRun back = Decode(comp.data(), comp.size(), zm::TInflateMode::Deflate, chunkSeed,
                       (flags & 2) ? 1 + chunkSeed : 0);
    Check(back.Result == zm::irOk);
    Check(back.Out.size() == size && std::equal(back.Out.begin(), back.Out.end(), data));
  }
  return 0;
}
