// The built-in English message table. The block is generated at build time from
// assets/messages/US.txt.
#include "ZMDefMsgs.h"

namespace {

const uint8_t kDefaultMessages[] = {
#include "ZMDefMsgsData.inc"
};

}  // namespace

std::span<const uint8_t> DefaultMessageBlock() { return {kDefaultMessages, sizeof(kDefaultMessages)}; }
