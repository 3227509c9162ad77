#include "DZBitReader.h"

namespace dz {

namespace {
constexpr size_t kChunk = 64 * 1024;
}

void TDZBitReader::Fill(unsigned n) {
  while (FCount < n) {
    if (FPos == FLen && !FEnd) {
      if (!FBuf) FBuf.reset(new uint8_t[kChunk]);
      const ptrdiff_t got = FReader(FBuf.get(), kChunk);
      if (got < 0) FFailed = true;
      if (got <= 0) {
        FEnd = true;
      } else {
        FPos = 0;
        FLen = size_t(got);
      }
    }
    if (FPos == FLen) {
      FPadding += 8;  // zero bits past the end
      FCount += 8;
      continue;
    }
    while (FCount <= 56 && FPos < FLen) {
      FBits |= uint64_t(FBuf[FPos++]) << FCount;
      FCount += 8;
    }
  }
}

}  // namespace dz
