// Methods 2 to 5, Reduce with compression factors 1 to 4: each byte is coded against
// a set of up to 32 likely followers of the byte before it, and the bytes so decoded
// carry literals and back references behind the escape byte 144. The factor splits a
// reference's first byte between its length and the high bits of its distance. The
// entry's size ends the data.
#pragma once
#include <cstdint>

#include "DZMethod.h"
#include "DZWindow.h"

namespace dz {

class TDZReduceDecoder : public TDZMethodDecoder {
 public:
  // factor: 1 to 4 (methods 2 to 5).
  explicit TDZReduceDecoder(unsigned factor) : FFactor(factor) {}
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override;

 private:
  unsigned FFactor;
  uint8_t FCount[256];
  uint8_t FFollowers[256][32];
  TDZWindow FOut;
};

}  // namespace dz
