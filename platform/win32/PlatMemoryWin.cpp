// Large pages need a privilege that ordinary users lack; committed pages are used.
#include <windows.h>

#include "PlatMemory.h"

namespace plat {

void* AllocBulk(size_t& size) {
  if (size == 0) size = 1;
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t grain = info.dwAllocationGranularity ? info.dwAllocationGranularity : 65536;
  if (size > ~size_t(0) - grain) return nullptr;
  const size_t rounded = (size + grain - 1) / grain * grain;
  void* p = VirtualAlloc(nullptr, rounded, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!p) return nullptr;
  size = rounded;
  return p;
}

void FreeBulk(void* p, size_t) {
  if (p) VirtualFree(p, 0, MEM_RELEASE);
}

}  // namespace plat
