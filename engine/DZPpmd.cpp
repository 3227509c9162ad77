#include "DZPpmd.h"

#include <algorithm>

namespace dz {

bool ParsePpmdHeader(uint16_t word, TDZPpmdHeader& h) {
  h.Order = (word & 0xF) + 1u;
  h.MemSize = (((word >> 4) & 0xFFu) + 1u) << 20;
  h.Restore = word >> 12;
  return h.Order >= TDZPpmdModel::kMinOrder && h.Restore <= TDZPpmdModel::kCutOff;
}

int TDZPpmdDecoder::Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) {
  FRange.Start(reader);
  const uint8_t lo = FRange.Next(), hi = FRange.Next();
  if (FRange.Bad()) return FRange.ReadFailed() ? zm::irReadFailed : zm::irBadData;
  TDZPpmdHeader h;
  if (!ParsePpmdHeader(uint16_t(lo | hi << 8), h)) return zm::irBadData;
  if (en.UncompSize == 0) return zm::irOk;  // nothing to decode, no heap needed
  // The field holds 256 MiB at most: within the limit wherever the engine runs.
  if (h.MemSize > kMethodMemoryLimit || !FModel.Reserve(h.MemSize)) return mrMemoryLimit;
  if (!FRange.Init()) return FRange.ReadFailed() ? zm::irReadFailed : zm::irBadData;
  FModel.Start(h.Order, h.Restore);
  FOut.Reserve(kOutSize);
  for (uint64_t left = en.UncompSize; left != 0;) {
    const size_t want = size_t(std::min<uint64_t>(left, FOut.size()));
    size_t n = 0;
    int sym = 0;
    while (n < want) {
      sym = FModel.DecodeSymbol(FRange);
      if (sym < 0 || FRange.Bad()) break;
      FOut[n++] = uint8_t(sym);
    }
    if (FRange.Bad()) return FRange.ReadFailed() ? zm::irReadFailed : zm::irBadData;
    if (n && !sink(FOut.data(), n)) return zm::irWriteFailed;
    if (sym == TDZPpmdModel::kBadData) return zm::irBadData;
    if (sym == TDZPpmdModel::kEndMark) return zm::irOk;  // ended before the stated size
    left -= n;
  }
  return zm::irOk;
}

}  // namespace dz
