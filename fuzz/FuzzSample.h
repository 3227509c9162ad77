// Expensive checks of a fuzz target (compressing the input again, decoding it in tiny
// pieces, looking up every message) run on a fixed share of the inputs, so that the
// target keeps its speed. The choice depends only on the input: a crash found on a
// sampled input reproduces with that input alone.
#pragma once
#include <cstddef>
#include <cstdint>

namespace fuzzkit {

// True for about one input in oneIn.
inline bool Sampled(const uint8_t* data, size_t size, unsigned oneIn) {
  uint32_t h = 2166136261u ^ uint32_t(size);
  const size_t head = size < 32 ? size : 32;
  for (size_t i = 0; i < head; ++i) h = (h ^ data[i]) * 16777619u;
  for (size_t i = size - (size < 64 ? size - head : 32); i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h % oneIn == 0;
}

}  // namespace fuzzkit
