// Command-line values shared by the build-time generators.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>

namespace zmgen {

// "0x" and one to eight hexadecimal digits (a CRC-32 or an attribute word) into v;
// false, v untouched, for anything else.
inline bool ParseHex32(const std::string& s, uint32_t& v) {
  if (s.size() < 3 || s.size() > 10 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
  char* end = nullptr;
  const unsigned long long x = std::strtoull(s.c_str() + 2, &end, 16);
  if (*end != '\0') return false;
  v = static_cast<uint32_t>(x);
  return true;
}

}  // namespace zmgen
