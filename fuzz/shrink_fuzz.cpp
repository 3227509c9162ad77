// Fuzzes the Shrink decoder (method 1); see OldMethodFuzz.h for the modes. Variants
// of the round trip free the table's leaves every 4 to 130 codes (0: only when full).
#include "OldMethodFuzz.h"
#include "TestOldMethods.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const oldfuzz::TTarget target{
      [](unsigned) { return uint16_t(1); }, [](unsigned) { return uint16_t(0); },
      [](const std::string& s, unsigned v) { return testzip::Shrink(s, v ? v + 3 : 0); }};
  return oldfuzz::FuzzOne(target, data, size);
}
