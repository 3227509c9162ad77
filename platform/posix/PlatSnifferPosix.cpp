// POSIX has no window messages: no monitor is ever found and nothing is sent.
#include <sys/syscall.h>
#include <unistd.h>

#include "PlatSniffer.h"

namespace plat {

namespace {

class TNoSnifferLink : public TSnifferLink {
 public:
  intptr_t FindMonitor() override { return 0; }
  int32_t Handshake(intptr_t, intptr_t, uint8_t) override { return -1; }
  bool SendLine(intptr_t, uint32_t, int32_t, const std::string&) override { return false; }
};

}  // namespace

TSnifferLink& SystemSnifferLink() {
  static TNoSnifferLink link;
  return link;
}

uint32_t CurrentThreadId() {
#ifdef SYS_gettid
  return uint32_t(::syscall(SYS_gettid));
#else
  return uint32_t(::getpid());
#endif
}

}  // namespace plat
