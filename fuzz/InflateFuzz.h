// What the inflate core's fuzz targets share: a decode through the long-lived decoder
// of the mode (one per program, as the engine reuses its decoders, so that reuse after
// a failure is exercised too), the input handed out in pieces and the output bounded.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ZMInflateCore.h"

namespace fuzzkit {

constexpr size_t kMaxInflateOut = 256u << 10;  // bounds decompression bombs

struct TInflateRun {
  int Result = 0;
  std::vector<uint8_t> Out;
};

// Takes the two settings bytes in front of an inflate target's input off it; false when
// the input is shorter.
inline bool TakeSettings(const uint8_t*& data, size_t& size, uint8_t& first, uint8_t& second) {
  if (size < 2) return false;
  first = data[0];
  second = data[1];
  data += 2;
  size -= 2;
  return true;
}

// The decoder of the mode, one per program.
inline zm::TZMInflateCore& CoreFor(zm::TInflateMode mode) {
  static zm::TZMInflateCore deflate(zm::TInflateMode::Deflate);
  static zm::TZMInflateCore deflate64(zm::TInflateMode::Deflate64);
  return mode == zm::TInflateMode::Deflate ? deflate : deflate64;
}

// A sink that keeps the output in r, up to the bound.
inline zm::TZMInflateCore::TSink BoundedSink(TInflateRun& r) {
  return [&r](const uint8_t* p, size_t n) {
    if (r.Out.size() + n > kMaxInflateOut) return false;
    r.Out.insert(r.Out.end(), p, p + n);
    return true;
  };
}

// Decodes data read in place (held whole in memory, no reader).
inline TInflateRun DecodeInPlace(const uint8_t* data, size_t size, zm::TInflateMode mode, size_t outChunk) {
  zm::TZMInflateCore& core = CoreFor(mode);
  core.SetOutChunk(outChunk);
  TInflateRun r;
  r.Result = core.Inflate(data, size, BoundedSink(r));
  return r;
}

// Decodes data; with a chunk seed the reads are cut to pseudo-random pieces of at most
// seed * pieceScale bytes; outChunk is the decoder's output chunk.
inline TInflateRun DecodeInPieces(const uint8_t* data, size_t size, zm::TInflateMode mode, uint8_t chunkSeed,
                                  size_t pieceScale, size_t outChunk) {
  zm::TZMInflateCore& core = CoreFor(mode);
  core.SetOutChunk(outChunk);
  TInflateRun r;
  size_t pos = 0;
  uint32_t state = chunkSeed;
  r.Result = core.Inflate(
      [&](uint8_t* buf, size_t max) -> ptrdiff_t {
        size_t n = std::min(max, size - pos);
        if (chunkSeed && n > 1) {
          state = state * 1103515245u + 12345u;
          n = 1 + (state >> 16) % std::min<size_t>(n, size_t(chunkSeed) * pieceScale);
        }
        if (n) std::memcpy(buf, data + pos, n);
        pos += n;
        return ptrdiff_t(n);
      },
      BoundedSink(r));
  return r;
}

// Whether a read in pieces agrees with the whole read: the same result and, on success,
// the same output (a run cut short by the output bound proves nothing).
inline bool SameInPieces(const TInflateRun& whole, const TInflateRun& split) {
  if (whole.Result == zm::irWriteFailed || split.Result == zm::irWriteFailed) return true;
  return whole.Result == split.Result && (whole.Result != zm::irOk || whole.Out == split.Out);
}

}  // namespace fuzzkit
