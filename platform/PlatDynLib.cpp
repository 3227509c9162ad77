// What every system shares of loading libraries: the record of the last failed load on
// each thread.
#include "PlatDynLib.h"

#include <utility>

#include "PlatDynLibSystem.h"

namespace plat {

namespace {
thread_local uint32_t tLibError = 0;
thread_local std::string tLibErrorText;
}  // namespace

uint32_t LastLibError() { return tLibError; }
std::string LastLibErrorText() { return tLibErrorText; }

namespace detail {

void RecordLibError(uint32_t code, std::string text) {
  tLibError = code;
  tLibErrorText = std::move(text);
}

}  // namespace detail

}  // namespace plat
