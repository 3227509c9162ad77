// Fuzzes the inflate core (deflate and Deflate64, chunking taken from the input) and
// InflateStream: the two entry points must agree, and on a share of the inputs (the
// expensive checks) results and output must not depend on how the input is split and
// zlib's compression of the bytes must decode back.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "FuzzSample.h"
#include "InflateFuzz.h"
#include "TestDeflate.h"
#include "ZMCrc32.h"
#include "ZMInflateCore.h"
#include "ZMInflt.h"
#include "FuzzCheck.h"

namespace {

using Bytes = std::vector<uint8_t>;
using fuzzkit::DecodeInPieces;
using fuzzkit::SameInPieces;
using fuzzkit::TInflateRun;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint8_t chunkSeed, flags;
  if (!fuzzkit::TakeSettings(data, size, chunkSeed, flags)) return 0;
  const zm::TInflateMode mode = (flags & 1) ? zm::TInflateMode::Deflate64 : zm::TInflateMode::Deflate;

  const bool expensive = fuzzkit::Sampled(data, size, 8);
  // The same stream read whole and read in pieces, with large and small output chunks.
  const TInflateRun whole = DecodeInPieces(data, size, mode, 0, 4, 0);
  // Read in place, where stored bytes come straight from the caller's memory.
  Check(SameInPieces(whole, fuzzkit::DecodeInPlace(data, size, mode, (flags & 2) ? 1 + chunkSeed : 0)));
  if (expensive) {
    Check(SameInPieces(whole,
                       DecodeInPieces(data, size, mode, chunkSeed, 4, (flags & 2) ? 1 + chunkSeed * 3 : 0)));
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
    const Bytes comp = zmtest::DeflateRaw(Bytes(data, data + size), level, strategy);
    Check(!comp.empty());  // every level and strategy here is one zlib takes
    const TInflateRun back = DecodeInPieces(comp.data(), comp.size(), zm::TInflateMode::Deflate, chunkSeed, 4,
                                            (flags & 2) ? 1 + chunkSeed : 0);
    Check(back.Result == zm::irOk);
    Check(back.Out.size() == size && std::equal(back.Out.begin(), back.Out.end(), data));
  }
  return 0;
}
