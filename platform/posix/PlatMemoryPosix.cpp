#include <sys/mman.h>

#include <cstdint>

#include "PlatMemory.h"

namespace plat {

namespace {
// The transparent huge page size of x86-64 and arm64 with 4 KiB pages.
constexpr size_t kLargePage = size_t(2) << 20;
}  // namespace

void* AllocBulk(size_t& size) {
  if (size == 0) size = 1;
  if (size > SIZE_MAX - 2 * kLargePage) return nullptr;
  const size_t rounded = (size + kLargePage - 1) & ~(kLargePage - 1);
  // Over-reserve by one large page so that the range can start on a large-page boundary.
  const size_t span = rounded + kLargePage;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = uintptr_t(raw);
  const uintptr_t aligned = (start + kLargePage - 1) & ~uintptr_t(kLargePage - 1);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + span;
  if (end > aligned + rounded) munmap(reinterpret_cast<void*>(aligned + rounded), end - (aligned + rounded));
#ifdef MADV_HUGEPAGE
  // Only advice: without large pages the range works the same.
  madvise(reinterpret_cast<void*>(aligned), rounded, MADV_HUGEPAGE);
#endif
  size = rounded;
  return reinterpret_cast<void*>(aligned);
}

void FreeBulk(void* p, size_t size) {
  if (p && size) munmap(p, size);
}

}  // namespace plat
