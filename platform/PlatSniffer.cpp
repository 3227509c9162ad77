// The process-wide choice of the monitor link.
#include "PlatSniffer.h"

namespace plat {

TSnifferLink& SystemSnifferLink();  // per platform

namespace {
TSnifferLink* gLink = nullptr;
}

TSnifferLink& SnifferLink() { return gLink ? *gLink : SystemSnifferLink(); }

TSnifferLink* SetSnifferLink(TSnifferLink* link) {
  TSnifferLink* prev = gLink;
  gLink = link;
  return prev;
}

}  // namespace plat
