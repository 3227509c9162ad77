#include "WinNames.h"

#include <windows.h>

#include "PlatCodePage.h"

namespace plat::win {

std::wstring Wide(const std::string& name) {
  if (name.empty()) return {};
  const unsigned cp = AnsiCodePage();
  int n = ::MultiByteToWideChar(cp, 0, name.data(), int(name.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  ::MultiByteToWideChar(cp, 0, name.data(), int(name.size()), out.data(), n);
  return out;
}

std::wstring Wide(const std::u16string& name) { return std::wstring(name.begin(), name.end()); }

std::u16string U16(const wchar_t* s, size_t n) { return std::u16string(s, s + n); }

std::u16string U16(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(const std::wstring& name) {
  if (name.empty()) return {};
  const unsigned cp = AnsiCodePage();
  int n = ::WideCharToMultiByte(cp, 0, name.data(), int(name.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(size_t(n), '\0');
  ::WideCharToMultiByte(cp, 0, name.data(), int(name.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(size_t(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
  return out;
}

std::string Utf8FromWide(const wchar_t* text, size_t n) {
  if (n == 0) return {};
  const int len = ::WideCharToMultiByte(CP_UTF8, 0, text, int(n), nullptr, 0, nullptr, nullptr);
  if (len <= 0) return {};
  std::string out(size_t(len), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, int(n), out.data(), len, nullptr, nullptr);
  return out;
}

std::wstring SystemMessage(unsigned long code) {
  wchar_t* buf = nullptr;
  DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::wstring text;
  if (n && buf) text.assign(buf, n);
  if (buf) ::LocalFree(buf);
  while (!text.empty() && (text.back() <= L' ' || text.back() == L'.')) text.pop_back();
  return text;
}

}  // namespace plat::win
