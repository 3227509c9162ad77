// Fuzzes the Implode decoder (method 6); see OldMethodFuzz.h for the modes. Variant
// bits 0-1 are the entry's flag bits 1 (8 KiB history) and 2 (literal tree).
#include "OldMethodFuzz.h"
#include "TestOldMethods.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const oldfuzz::TTarget target{
      [](unsigned) { return uint16_t(6); }, [](unsigned v) { return uint16_t((v & 3) << 1); },
      [](const std::string& s, unsigned v) { return testzip::Implode(s, v & 1, v & 2); }};
  return oldfuzz::FuzzOne(target, data, size);
}
