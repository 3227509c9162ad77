// Method 6, Implode: literals and back references over a 4 KiB or 8 KiB history,
// coded with two or three Shannon-Fano trees stored at the start of the data (flag
// bit 1: the 8 KiB history; flag bit 2: a tree for the literals, which are plain
// bytes without it). The entry's size ends the data.
#pragma once
#include <cstdint>
#include <vector>

#include "DZMethod.h"
#include "DZWindow.h"

namespace dz {

class TDZBitReader;

class TDZImplodeDecoder : public TDZMethodDecoder {
 public:
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override;

 private:
  // A lookup table on the next Bits input bits: code length << 8 | symbol, 0 where no
  // code begins so.
  struct TTree {
    std::vector<uint16_t> Table;
    unsigned Bits = 0;
  };
  // Reads a tree of n symbols; irOk, or why it cannot be used.
  static int ReadTree(TDZBitReader& in, unsigned n, TTree& tree);
  // The next symbol; -1 where the input starts no code of the tree.
  static int Symbol(TDZBitReader& in, const TTree& tree);

  TTree FLiterals, FLengths, FDistances;
  TDZWindow FOut;
};

}  // namespace dz
