// Conversions between 8-bit code pages and UTF-16, shaped like the system calls of
// Windows: lengths in code units, -1 for zero-terminated input (the terminator is
// converted too), a destination capacity of 0 asks for the size, 0 means failure
// with the last error set.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

inline constexpr unsigned kCpAcp = 0;    // the ANSI code page
inline constexpr unsigned kCpOemCp = 1;  // the OEM code page
inline constexpr unsigned kCpUtf16Le = 1200;
inline constexpr unsigned kCpUtf8 = 65001;

// MultiByteToWide flag: fail on invalid input instead of substituting.
inline constexpr uint32_t kMbErrInvalidChars = 0x08;
// WideToMultiByte flags: fail on unpaired surrogates; refuse best-fit letters.
inline constexpr uint32_t kWcErrInvalidChars = 0x80;
inline constexpr uint32_t kWcNoBestFitChars = 0x400;

// The current ANSI code page (65001 on POSIX unless overridden).
unsigned AnsiCodePage();
// The current OEM code page (from the locale's language unless overridden).
unsigned OemCodePage();
// Overrides (0 = back to the system's choice); each returns the previous override.
unsigned SetAnsiCodePageOverride(unsigned cp);
unsigned SetOemCodePageOverride(unsigned cp);
// The OEM code page that goes with a locale name such as "pl_PL.UTF-8".
unsigned OemCodePageForLocale(const std::string& locale);

bool IsValidCodePage(unsigned cp);
// True for code pages whose characters are one byte each.
bool IsSingleByteCodePage(unsigned cp);

int MultiByteToWide(unsigned cp, uint32_t flags, const char* src, int srcLen, char16_t* dst, int dstLen);
// defaultChar (may be null): the byte used for unmappable characters ('?' if null);
// usedDefault (may be null) is set when it was used.
int WideToMultiByte(unsigned cp, uint32_t flags, const char16_t* src, int srcLen, char* dst, int dstLen,
                    const char* defaultChar, bool* usedDefault);

// Byte length (at least 1, at most len) of the character starting at p in that code page.
int CharLength(unsigned cp, const char* p, int len);

// Full upper-casing of each UTF-16 unit (locale-independent).
char16_t UpperChar(char16_t c);
void UpperCaseWide(std::u16string& s);

// The system counts as the NT family at this major version.
int OsMajorVersion();
bool IsNTFamily();

}  // namespace plat
