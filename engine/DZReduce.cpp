#include "DZReduce.h"

#include <bit>

#include "DZBitReader.h"

namespace dz {

namespace {

constexpr uint8_t kEscape = 144;

// Bits of an index into a follower set of n bytes (n >= 1).
unsigned IndexBits(unsigned n) { return n == 1 ? 1 : unsigned(std::bit_width(n - 1)); }

}  // namespace

int TDZReduceDecoder::Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) {
  if (en.UncompSize == 0) return zm::irOk;  // an empty file may come without sets
  TDZBitReader in(reader);
  FOut.Start(sink);
  // The follower sets come first, from that of byte 255 down to that of byte 0.
  for (unsigned s = 256; s-- > 0;) {
    FCount[s] = uint8_t(in.Take(6));
    if (FCount[s] > 32) return zm::irBadData;
    for (unsigned i = 0; i < FCount[s]; ++i) FFollowers[s][i] = uint8_t(in.Take(8));
    if (in.Status() != zm::irOk) return in.Status();
  }

  const uint32_t lengthMask = 0xFFu >> FFactor;
  uint8_t last = 0;
  // What the escape byte has begun: 0 none, 1 after the escape, 2 after a first byte
  // whose length part is full (a length byte follows), 3 before the distance byte.
  unsigned state = 0;
  uint32_t first = 0, length = 0;
  while (FOut.Count() < en.UncompSize) {
    uint8_t c;
    const unsigned n = FCount[last];
    if (n == 0 || in.Take(1)) {
      c = uint8_t(in.Take(8));
    } else {
      const unsigned i = in.Take(IndexBits(n));
      if (i >= n) return zm::irBadData;  // past the end of the set
      c = FFollowers[last][i];
    }
    if (in.Status() != zm::irOk) return in.Status();
    last = c;
    switch (state) {
      case 0:
        if (c == kEscape)
          state = 1;
        else
          FOut.Put(c);
        break;
      case 1:
        if (c == 0) {
          FOut.Put(kEscape);
          state = 0;
        } else {
          first = c;
          length = c & lengthMask;
          state = length == lengthMask ? 2 : 3;
        }
        break;
      case 2:
        length += c;
        state = 3;
        break;
      default:
        FOut.Copy(((first >> (8 - FFactor)) << 8) + c + 1, length + 3);
        state = 0;
        break;
    }
    if (FOut.Failed()) return zm::irWriteFailed;
  }
  return FOut.Flush() ? zm::irOk : zm::irWriteFailed;
}

}  // namespace dz
