// Method 98, PPMd variant I revision 1. The data begin with a little-endian word:
// the model's order less one (bits 0-3, order 2 to 16), the size of its heap in MiB
// less one (bits 4-11, 1 to 256 MiB) and what the model does once the heap is full
// (bits 12-15: 0 starts afresh, 1 cuts the deep contexts off). The range-coded
// symbols follow; the entry's size ends them (the compressor may close the data with
// an end mark, an escape past the shortest context, which ends them early).
//
// The heap is allocated before the first symbol, at the declared size (which the
// model's every step depends on), and kept for later entries of the same size.
#pragma once
#include <cstdint>

#include "DZMethod.h"
#include "DZPpmdModel.h"
#include "DZPpmdRange.h"

namespace dz {

struct TDZPpmdHeader {
  unsigned Order = 0;
  uint32_t MemSize = 0;  // bytes
  unsigned Restore = 0;
};

// The head word's settings; false for an order below 2 or a way of going on when the
// heap is full that the compressors do not write (2 to 15).
bool ParsePpmdHeader(uint16_t word, TDZPpmdHeader& h);

class TDZPpmdDecoder : public TDZMethodDecoder {
 public:
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override;

 private:
  static constexpr size_t kOutSize = 64 * 1024;
  TDZPpmdRange FRange;
  TDZPpmdModel FModel;
  TDZBuffer FOut;
};

}  // namespace dz
