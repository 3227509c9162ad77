// Text conversions between UTF-8, UTF-16 and the ANSI and OEM code pages, and the
// process-wide UTF-8 mode.
#pragma once
#include <cstdint>
#include <string>

// The UTF-8 mode: when on, the component's 8-bit strings are UTF-8, else ANSI.
bool UTF8Mode();
// Sets the mode (where the platform honours it) and returns the previous value.
bool SetUTF8Mode(bool on);

// UTF-8 to UTF-16, falling back to the ANSI code page for invalid UTF-8.
std::u16string WideFromUtf8(const char* bytes, int length);
std::u16string WideFromUtf8String(const std::string& s, int length = -1);
// A component 8-bit string (UTF-8 or ANSI as the mode says) to UTF-16.
std::u16string WideFromModeString(const std::string& s);
// Upper-cases in place with the platform's full Unicode upper-casing.
void UpperWide(std::u16string& s);
