// What each system's code page side gives the part every system shares.
#pragma once
#include <cstddef>

namespace plat::detail {

// The code page a pseudo code page (ANSI, OEM, the thread's, Macintosh) stands for;
// any other number as it is.
unsigned ResolveCodePage(unsigned cp);
// Byte length (1 to len, len at least 2) of the character at p in a resolved code page
// other than UTF-8 and UTF-16.
int SystemCharLength(unsigned cp, const char* p, int len);

// The UTF-16 units to convert: srcLen, or for -1 those up to and with the terminating
// zero.
size_t UnitsToConvert(const char16_t* src, int srcLen);

}  // namespace plat::detail
