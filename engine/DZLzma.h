// Method 14, LZMA, and the liblzma streaming shared with method 95 (XZ). The data of
// an LZMA entry begin with a head of their own: the encoder's version (2 bytes), the
// size of the properties (2 bytes, 5) and the properties: lc, lp and pb in one byte,
// then the dictionary size. General-purpose bit 1 says an end marker follows the
// data; without it the stated size ends them.
#pragma once
#include <lzma.h>

#include <cstdint>
#include <memory>

#include "DZMethod.h"

namespace dz {

struct TDZLzmaHeader {
  static constexpr size_t kSize = 9;
  uint8_t Version[2] = {};
  uint8_t Lc = 0, Lp = 0, Pb = 0;
  uint32_t DictSize = 0;
};

// Reads the head from its kSize bytes; false when it is not sound (properties of
// another size, lc, lp or pb out of range).
bool ParseLzmaHeader(const uint8_t* p, TDZLzmaHeader& h);

std::unique_ptr<TDZMethodDecoder> MakeLzmaDecoder();

// A decoder driving a liblzma stream; the stream is kept for the next entry.
class TDZLiblzmaDecoder : public TDZBufferedDecoder {
 public:
  ~TDZLiblzmaDecoder() override { lzma_end(&FStream); }

 protected:
  // The decoding result for a liblzma result (irOk for LZMA_OK).
  static int ResultOf(lzma_ret rc);
  // Feeds FIn from FInUsed on, and the rest of the data, through FStream.
  int Run(const TReader& reader, const TSink& sink);

  lzma_stream FStream = LZMA_STREAM_INIT;
};

}  // namespace dz
