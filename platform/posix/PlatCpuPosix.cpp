#include <unistd.h>

#ifdef __linux__
#include <sched.h>
#endif

#include "PlatCpu.h"

namespace plat {

unsigned UsableProcessors() {
#ifdef __linux__
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return unsigned(n);
  }
#endif
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? unsigned(n) : 1u;
}

}  // namespace plat
