#include <windows.h>

#include <bit>
#include <cstdint>

#include "PlatCpu.h"

namespace plat {

unsigned UsableProcessors() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process)
    return unsigned(std::popcount(uint64_t(process)));
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? unsigned(info.dwNumberOfProcessors) : 1u;
}

}  // namespace plat
