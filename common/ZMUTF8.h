// Text conversions between UTF-8, UTF-16 and the ANSI and OEM code pages, and the
// process-wide UTF-8 mode.
#pragma once
#include <cstdint>
#include <string>

// The UTF-8 mode: when on, the component's 8-bit strings are UTF-8, else ANSI.
bool UTF8Mode();
// Sets the mode (where the platform honours it) and returns the previous value.
bool SetUTF8Mode(bool on);
// The code page of the component's 8-bit strings: UTF-8 in UTF-8 mode, else ANSI.
unsigned ModeCodePage();

// UTF-8 to UTF-16, falling back to the ANSI code page for invalid UTF-8.
// length -1: up to the first zero byte.
std::u16string WideFromUtf8(const char* bytes, int length);
std::u16string WideFromUtf8String(const std::string& s, int length = -1);
// A component 8-bit string (UTF-8 or ANSI as the mode says) to UTF-16.
std::u16string WideFromModeString(const std::string& s);
// UTF-16 to a component 8-bit string (UTF-8 or ANSI as the mode says).
std::string ModeStringFromWide(const std::u16string& s);
// Upper-cases in place with the platform's full Unicode upper-casing.
void UpperWide(std::u16string& s);

// UTF-8 (invalid: ANSI) bytes to the ANSI code page.
std::string AnsiFromUtf8(const char* bytes, int length);
// UTF-16 to the ANSI code page ('?' for characters it lacks).
std::string AnsiFromWide(const std::u16string& s);
// UTF-16 to UTF-8; length -1: up to the terminating zero. Raises plat::EPlatError
// when the result cannot even be sized; an empty result when the conversion fails.
std::string Utf8FromWide(const char16_t* chars, int length);
std::string Utf8FromWideString(const std::u16string& s, int length = -1);
// ANSI to UTF-8.
std::string Utf8FromAnsi(const std::string& s);
// Text in the given code page to UTF-16 (length -1: whole); text the code page
// cannot size is read as ANSI instead.
std::u16string WideFromCodePage(const std::string& s, unsigned codePage, int length = -1);
// Text in the given code page to UTF-8 by way of the ANSI code page.
std::string Utf8FromCodePage(const std::string& s, unsigned codePage, int length = -1);

// Length (1 to 6) of the UTF-8 sequence that starts with this byte, or -1.
int Utf8SequenceLength(uint8_t first);
// Number of multi-byte UTF-8 sequences (0 for 7-bit text), -1 when not valid UTF-8.
int CountUtf8Sequences(const std::string& s, int length = -1);
int CountUtf8SequencesRaw(const char* bytes, int length);
// The text when it is valid UTF-8, else its ANSI reading converted to UTF-8.
std::string EnsureUtf8(const std::string& s);

// UTF-16 to the OEM (oem true) or ANSI code page; every character the code page lacks
// becomes "#$" and its four upper-case hexadecimal digits.
std::string NarrowWithEscapes(const std::u16string& s, bool oem);
std::string Utf8ToNarrowWithEscapes(const std::string& utf8, bool oem);
// ANSI to OEM, cut at the first zero byte.
std::string ToOemString(const std::string& s);
