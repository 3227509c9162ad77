// Method 1, Shrink: LZW with codes of 9 to 13 bits whose size the compressor raises
// (code 256, then 1) and whose table it thins by freeing every leaf (code 256, then
// 2); freed codes are used again lowest first. The entry's size ends the data.
#pragma once
#include <cstdint>
#include <vector>

#include "DZMethod.h"
#include "DZWindow.h"

namespace dz {

class TDZShrinkDecoder : public TDZMethodDecoder {
 public:
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override;

 private:
  static constexpr unsigned kCodes = 8192;
  static constexpr uint16_t kFree = 0xFFFF;  // parent of a code not in use

  void Reset();
  // Gives the lowest free code the string of prefix followed by last; no-op when the
  // table is full.
  void Add(unsigned prefix, uint8_t last);
  void FreeLeaves();
  // The first byte of the string of code, where the string of the code pending
  // begins with pendingFirst; -1 when it has none (a free code on its way, a loop).
  int FirstByte(unsigned code, unsigned pending, uint8_t pendingFirst) const;
  // Appends the string of code to the output; false when it has none.
  bool Emit(unsigned code);
  unsigned LowestFree();

  uint16_t FParent[kCodes];
  uint8_t FLast[kCodes];           // last byte of the code's string
  uint16_t FChildren[kCodes];      // codes in use whose prefix is this one
  uint64_t FFreeSet[kCodes / 64];  // bit set: the code is free
  unsigned FHint = 0;              // no free code below this one
  std::vector<uint16_t> FLeaves;   // codes that may be leaves: new ones, bared ones
  std::vector<uint16_t> FPicked;
  uint8_t FStack[kCodes];
  TDZWindow FOut;
};

}  // namespace dz
