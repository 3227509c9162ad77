// A byte buffer that decoders fill before they read it: never cleared, and only as
// large as asked (stored data ask for ChunkFor their size), so that a small entry
// touches and maps only the memory it uses.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace dz {

class TDZBuffer {
 public:
  // Makes the buffer at least n bytes long; what it held is lost when it grows.
  void Reserve(size_t n) {
    if (n <= FSize) return;
    FBuf = std::make_unique_for_overwrite<uint8_t[]>(n);
    FSize = n;
  }
  size_t size() const { return FSize; }
  uint8_t* data() { return FBuf.get(); }
  uint8_t& operator[](size_t i) { return FBuf[i]; }

 private:
  std::unique_ptr<uint8_t[]> FBuf;
  size_t FSize = 0;
};

// A buffer size for data of about dataSize bytes: whole pages, from one page to most.
inline size_t ChunkFor(uint64_t dataSize, size_t most) {
  constexpr size_t kPage = 4096;
  const uint64_t pages = std::max<uint64_t>(1, (std::min<uint64_t>(dataSize, most) + kPage - 1) / kPage);
  return std::min(most, size_t(pages) * kPage);
}

}  // namespace dz
