// Bit input of the methods whose codes are packed from the low bit of each byte up
// (Shrink, Reduce, Implode). Their data have no end marker, so past the end of the
// entry's bytes the reader yields zero bits and remembers that it had to: a decoder
// checks Status after each code and learns whether that code lay inside the data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

#include "DZMethod.h"

namespace dz {

class TDZBitReader {
 public:
  explicit TDZBitReader(const TDZMethodDecoder::TReader& reader) : FReader(reader) {}

  // The next n bits (n at most 32), the first bit read in bit 0, without taking them.
  uint32_t Peek(unsigned n) {
    if (FCount < n) Fill(n);
    return uint32_t(FBits & ((uint64_t(1) << n) - 1));
  }
  void Drop(unsigned n) {
    FBits >>= n;
    FCount -= n;
  }
  uint32_t Take(unsigned n) {
    const uint32_t v = Peek(n);
    Drop(n);
    return v;
  }
  // zm::irOk while every bit taken came from the data; irBadData once a code ran past
  // their end; irReadFailed after a read failure.
  int Status() const {
    if (FFailed) return zm::irReadFailed;
    return FCount < FPadding ? zm::irBadData : zm::irOk;
  }

 private:
  void Fill(unsigned n);

  const TDZMethodDecoder::TReader& FReader;
  std::unique_ptr<uint8_t[]> FBuf;
  size_t FPos = 0, FLen = 0;
  uint64_t FBits = 0;
  unsigned FCount = 0;    // bits in FBits
  unsigned FPadding = 0;  // of them, zero bits added past the end (the top ones)
  bool FEnd = false, FFailed = false;
};

}  // namespace dz
