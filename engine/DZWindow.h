// The output side of the old methods' decoders: the bytes decoded so far, kept as a
// history for back references, and handed to the sink in chunks. The history starts
// zero-filled, so a reference before the first byte copies zeros, as in the inflate
// core.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DZMethod.h"

namespace dz {

class TDZWindow {
 public:
  // Holds the last kSize bytes: more than the farthest reference of any method here.
  static constexpr size_t kSize = 64 * 1024;

  // Begins an entry: an empty, zero-filled history whose bytes go to sink.
  void Start(const TDZMethodDecoder::TSink& sink);
  void Put(uint8_t b) {
    FBuf[FPos] = b;
    if (++FPos == kSize) Wrap();
  }
  // Appends len bytes copied from dist bytes back (1 <= dist <= kSize); the copy may
  // overlap the bytes it makes.
  void Copy(uint32_t dist, uint32_t len);
  // Hands on what is waiting; false once the sink refused.
  bool Flush();
  bool Failed() const { return FFailed; }
  // Bytes decoded in this entry.
  uint64_t Count() const { return FBase + FPos; }

 private:
  void Wrap();

  std::vector<uint8_t> FBuf;
  const TDZMethodDecoder::TSink* FSink = nullptr;
  size_t FPos = 0, FDone = 0;  // next byte; first byte not yet handed on
  uint64_t FBase = 0;          // bytes before FBuf[0]
  bool FFailed = false;
};

}  // namespace dz
