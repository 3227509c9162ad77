// Name and text conversions shared by the Windows platform layer.
#pragma once
#include <cstdint>
#include <string>

#include "PlatFile.h"

namespace plat::win {

// The platform's 8-bit names are in the ANSI code page (AnsiCodePage(), which follows
// the override); the system calls take wide names.
std::wstring Wide(const std::string& name);
std::wstring Wide(const std::u16string& name);
std::u16string U16(const wchar_t* s, size_t n);
std::u16string U16(const std::wstring& s);
std::string Narrow(const std::wstring& name);
// UTF-8 text to wide and back, whatever the ANSI code page.
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const wchar_t* text, size_t n);
// The system's text of an error number, without trailing blanks, line breaks or period.
std::wstring SystemMessage(unsigned long code);

// Opening and creating by wide name (FileOpen and FileCreate semantics).
THandle OpenWide(const std::wstring& name, uint32_t mode);
// Creates or truncates the file; with only_new, fails on any existing name.
THandle CreateWide(const std::wstring& name, bool only_new = false);

}  // namespace plat::win
