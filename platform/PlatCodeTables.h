// Generated tables of the platform layer: single-byte code pages and upper case.
#pragma once

namespace plat::detail {

struct TSingleBytePage {
  unsigned CodePage;
  const char16_t* ToWide;  // 256 entries, byte -> UTF-16
};
struct TCasePair {
  char16_t Lower;
  char16_t Upper;
};

extern const TSingleBytePage kSingleBytePages[];
extern const int kSingleBytePageCount;
// Sorted by Lower.
extern const TCasePair kUpperPairs[];
extern const int kUpperPairCount;
// Sorted by Lower: a character and the plain letter it falls back to.
extern const TCasePair kBestFitPairs[];
extern const int kBestFitPairCount;

}  // namespace plat::detail
