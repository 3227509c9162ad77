// The range decoder of method 98: a carry-less coder of 32 bits (low end, range and
// code), renormalised a byte at a time while the top byte of the interval is settled,
// and cut down to the next 32 KiB boundary when the range shrinks below it without the
// top byte settling. Bad data never fault it: a split it cannot make, or a byte wanted
// past the end of the entry's data, marks the stream bad (zeros are fed from there on)
// and the caller stops at the next symbol.
#pragma once
#include <cstddef>
#include <cstdint>

#include "DZMethod.h"

namespace dz {

class TDZPpmdRange {
 public:
  // Begins an entry's data, pulled through reader in pieces of up to kInSize bytes.
  void Start(const TDZMethodDecoder::TReader& reader) {
    FIn.Reserve(kInSize);
    FReader = &reader;
    FCur = FEnd = FIn.data();
    FBad = FReadFailed = false;
  }
  // Loads the code; false when its first four bytes cannot start a stream.
  bool Init() {
    FLow = 0;
    FRange = 0xFFFFFFFFu;
    FCode = 0;
    for (int i = 0; i < 4; ++i) FCode = FCode << 8 | Next();
    return !FBad && FCode != 0xFFFFFFFFu;
  }
  uint8_t Next() { return FCur != FEnd ? *FCur++ : Refill(); }

  // The count, out of total, that the code stands for.
  uint32_t Threshold(uint32_t total) {
    FRange /= total;
    if (FRange == 0) Spoil();
    return (FCode - FLow) / FRange;
  }
  // The same for a total of 2^14.
  uint32_t BinThreshold() {
    FRange >>= 14;
    return (FCode - FLow) / FRange;  // the range is never below 2^15 here
  }
  // Takes the symbol of counts [start, start + size) of the total last asked for.
  void Decode(uint32_t start, uint32_t size) {
    FLow += start * FRange;
    FRange *= size;
    if (FRange == 0) Spoil();  // a count of nothing: never in sound data
    for (;;) {
      if ((FLow ^ (FLow + FRange)) >= kTop) {
        if (FRange >= kBot) break;
        FRange = (0u - FLow) & (kBot - 1);
      }
      FCode = FCode << 8 | Next();
      FRange <<= 8;
      FLow <<= 8;
    }
  }

  // The stream went wrong: data ended early or are not sound.
  bool Bad() const { return FBad; }
  // Of that, the reader failed.
  bool ReadFailed() const { return FReadFailed; }
  // Marks the data not sound, with a range that keeps every later step defined.
  void Spoil() {
    FBad = true;
    FRange = 0xFFFFFFFFu;
  }

 private:
  static constexpr uint32_t kTop = 1u << 24, kBot = 1u << 15;
  static constexpr size_t kInSize = 64 * 1024;

  uint8_t Refill() {
    if (!FBad) {
      const ptrdiff_t got = (*FReader)(FIn.data(), FIn.size());
      if (got > 0) {
        FCur = FIn.data();
        FEnd = FCur + got;
        return *FCur++;
      }
      FReadFailed = got < 0;
    }
    FBad = true;
    return 0;
  }

  TDZBuffer FIn;
  const TDZMethodDecoder::TReader* FReader = nullptr;
  const uint8_t *FCur = nullptr, *FEnd = nullptr;
  uint32_t FLow = 0, FRange = 0, FCode = 0;
  bool FBad = false, FReadFailed = false;
};

}  // namespace dz
