// Fuzzes the PPMd decoder (method 98). The first byte gives the model's settings
// (bits 0-3: order less one; bits 4-5: a heap of 1 to 4 MiB less one; bit 6: cut off
// rather than start afresh when the heap is full; bit 7: see below), the second how
// the reader splits the data, the next two the declared size (up to 4 KiB); the rest
// is the range-coded stream.
//  - bit 7 clear: decoded inside the engine's decoding loop. Nothing beyond the
//    declared size is handed on, a stream that decodes without error gives that size
//    or ends at its end mark, and on a share of the inputs a second decoding, on the
//    heap the first one left behind, gives the same bytes and the same result.
//  - bit 7 set: the model alone on a heap of 16 to 128 KiB (bits 4-5), which a few
//    thousand bytes fill, so that every way of going on with a full heap runs often.
#include "DZPpmdModel.h"
#include "OldMethodFuzz.h"

namespace {

void SmallHeap(unsigned settings, const uint8_t* data, size_t size, uint64_t declared) {
  static dz::TDZPpmdModel model;
  const uint32_t heap = (16u * 1024) << ((settings >> 4) & 3);
  oldfuzz::Check(model.Reserve(heap));
  size_t pos = 0;
  const dz::TDZMethodDecoder::TReader reader = [&](uint8_t* buf, size_t max) -> ptrdiff_t {
    const size_t n = std::min(max, size - pos);
    std::memcpy(buf, data + pos, n);
    pos += n;
    return ptrdiff_t(n);
  };
  dz::TDZPpmdRange rc;
  rc.Start(reader);
  if (!rc.Init()) return;
  model.Start(std::max(2u, (settings & 0x0F) + 1), (settings >> 6) & 1);
  for (uint64_t i = 0; i < declared; ++i)
    if (model.DecodeSymbol(rc) < 0 || rc.Bad()) return;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const unsigned settings = data[0];
  const uint64_t declared = (data[2] | data[3] << 8) % (4 * 1024 + 1);
  if (settings & 0x80) {
    SmallHeap(settings, data + 4, size - 4, declared);
    return 0;
  }
  const uint16_t word =
      uint16_t((settings & 0x0F) | ((settings >> 4) & 3) << 4 | ((settings >> 6) & 1) << 12);
  std::string packed;
  packed += char(word & 0xFF);
  packed += char(word >> 8);
  packed.append(reinterpret_cast<const char*>(data + 4), size - 4);
  const oldfuzz::TOutcome first = oldfuzz::Run(packed, 98, 0, declared, data[1], true);
  if (fuzzkit::Sampled(data, size, 8)) {
    const oldfuzz::TOutcome again = oldfuzz::Run(packed, 98, 0, declared, uint8_t(data[1] + 1), true);
    oldfuzz::Check(again.Out == first.Out && again.R.Result == first.R.Result);
  }
  return 0;
}
