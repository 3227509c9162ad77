// The process-wide choice of the monitor link.
#include "PlatSniffer.h"

#include <utility>

namespace plat {

TSnifferLink& SystemSnifferLink();  // per platform

namespace {
TSnifferLink* gLink = nullptr;
}

TSnifferLink& SnifferLink() { return gLink ? *gLink : SystemSnifferLink(); }

TSnifferLink* SetSnifferLink(TSnifferLink* link) { return std::exchange(gLink, link); }

}  // namespace plat
