#include "DZShrink.h"

#include <algorithm>
#include <bit>

#include "DZBitReader.h"

namespace dz {

namespace {
constexpr unsigned kControl = 256, kFirstFree = 257;
constexpr unsigned kMinBits = 9, kMaxBits = 13;
}  // namespace

void TDZShrinkDecoder::Reset() {
  // Codes 257 and up get their last byte when they are given out.
  std::fill_n(FParent, kCodes, kFree);
  std::fill_n(FParent, kFirstFree, 0);
  for (unsigned c = 0; c < 256; ++c) FLast[c] = uint8_t(c);
  std::fill_n(FChildren, kCodes, 0);
  std::fill_n(FFreeSet, kCodes / 64, ~uint64_t(0));
  std::fill_n(FFreeSet, kFirstFree / 64, 0);
  FFreeSet[kFirstFree / 64] &= ~((uint64_t(1) << (kFirstFree % 64)) - 1);
  FHint = kFirstFree;
  FLeaves.clear();
}

unsigned TDZShrinkDecoder::LowestFree() {
  for (unsigned w = FHint / 64; w < kCodes / 64; ++w) {
    const uint64_t bits = FFreeSet[w] & (~uint64_t(0) << (w == FHint / 64 ? FHint % 64 : 0));
    if (bits) return FHint = w * 64 + unsigned(std::countr_zero(bits));
  }
  return FHint = kCodes;
}

void TDZShrinkDecoder::Add(unsigned prefix, uint8_t last) {
  const unsigned code = LowestFree();
  if (code == kCodes) return;
  FFreeSet[code / 64] &= ~(uint64_t(1) << (code % 64));
  FParent[code] = uint16_t(prefix);
  FLast[code] = last;
  if (prefix >= kFirstFree) ++FChildren[prefix];
  FLeaves.push_back(uint16_t(code));
}

void TDZShrinkDecoder::FreeLeaves() {
  // The leaves are those of the moment: a prefix bared by this clearing stays for
  // the next one.
  FPicked.clear();
  for (uint16_t c : FLeaves)
    if (FParent[c] != kFree && FChildren[c] == 0) FPicked.push_back(c);
  FLeaves.clear();
  for (uint16_t c : FPicked) {
    const unsigned prefix = FParent[c];
    if (prefix == kFree) continue;  // listed twice
    FParent[c] = kFree;
    FFreeSet[c / 64] |= uint64_t(1) << (c % 64);
    if (prefix >= kFirstFree && --FChildren[prefix] == 0) FLeaves.push_back(uint16_t(prefix));
  }
  FHint = kFirstFree;
}

int TDZShrinkDecoder::FirstByte(unsigned code, unsigned pending, uint8_t pendingFirst) const {
  for (unsigned steps = 0; code >= kFirstFree; ++steps) {
    if (code == pending) return pendingFirst;
    if (FParent[code] == kFree || steps == kCodes) return -1;
    code = FParent[code];
  }
  return int(code);
}

bool TDZShrinkDecoder::Emit(unsigned code) {
  size_t n = 0;
  while (code >= kFirstFree) {
    if (FParent[code] == kFree || n == kCodes - 1) return false;
    FStack[kCodes - 1 - n++] = FLast[code];
    code = FParent[code];
  }
  FStack[kCodes - 1 - n++] = uint8_t(code);
  for (const uint8_t* p = FStack + kCodes - n; p < FStack + kCodes; ++p) FOut.Put(*p);
  return true;
}

int TDZShrinkDecoder::Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) {
  TDZBitReader in(reader);
  FOut.Start(sink);
  Reset();
  unsigned bits = kMinBits;
  unsigned prev = kCodes;  // none yet
  uint8_t prevFirst = 0;
  while (FOut.Count() < en.UncompSize) {
    const unsigned code = in.Take(bits);
    if (in.Status() != zm::irOk) return in.Status();
    if (code == kControl) {
      const unsigned sub = in.Take(bits);
      if (in.Status() != zm::irOk) return in.Status();
      if (sub == 1 && bits < kMaxBits)
        ++bits;
      else if (sub == 2)
        FreeLeaves();
      else
        return zm::irBadData;
      continue;
    }
    // The string of a code may run through the code this very step defines (the
    // previous string and the first byte of this one): its first byte is then that
    // of the previous string.
    const unsigned pending = prev == kCodes ? kCodes : LowestFree();
    const int first = FirstByte(code, pending, prevFirst);
    if (first < 0) return zm::irBadData;
    if (prev != kCodes) Add(prev, uint8_t(first));
    if (!Emit(code)) return zm::irBadData;
    if (FOut.Failed()) return zm::irWriteFailed;
    prev = code;
    prevFirst = uint8_t(first);
  }
  return FOut.Flush() ? zm::irOk : zm::irWriteFailed;
}

}  // namespace dz
