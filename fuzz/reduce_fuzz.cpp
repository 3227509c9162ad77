// Fuzzes the Reduce decoder (methods 2 to 5); see OldMethodFuzz.h for the modes.
// Variant bits 0-1 give the factor (1 to 4), bits 2-6 the largest follower set (1 to 32).
#include "OldMethodFuzz.h"
#include "TestOldMethods.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const oldfuzz::TTarget target{
      [](unsigned v) { return uint16_t(2 + (v & 3)); }, [](unsigned) { return uint16_t(0); },
      [](const std::string& s, unsigned v) { return testzip::Reduce(s, 1 + (v & 3), 1 + (v >> 2)); }};
  return oldfuzz::FuzzOne(target, data, size);
}
