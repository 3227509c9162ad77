// Code pages through the system's conversions.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstring>

#include "PlatCodePage.h"
#include "PlatCodePageSystem.h"
#include "PlatCodeTables.h"
#include "PlatError.h"

namespace plat {

namespace {

std::atomic<unsigned> gAnsiOverride{0};
std::atomic<unsigned> gOemOverride{0};

unsigned Resolve(unsigned cp) {
  switch (cp) {
    case kCpAcp: return AnsiCodePage();
    case kCpOemCp: return OemCodePage();
    case 3: return gAnsiOverride.load() ? gAnsiOverride.load() : ::GetACP();  // the thread's
    case 2: return 10000;                                                     // the Macintosh code page
    default: return cp;
  }
}

// Code pages that take no flags and no default character.
bool IsFlagless(unsigned cp) {
  return cp == 42 || cp == 65000 || cp == 54936 || (cp >= 50220 && cp <= 50229) ||
         (cp >= 57002 && cp <= 57011);
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

bool BadArgs(const void* src, int srcLen, const void* dst, int dstLen) {
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return true;
  }
  return false;
}

}  // namespace

unsigned AnsiCodePage() {
  unsigned o = gAnsiOverride.load();
  return o ? o : ::GetACP();
}

unsigned OemCodePage() {
  unsigned o = gOemOverride.load();
  return o ? o : ::GetOEMCP();
}

unsigned SetAnsiCodePageOverride(unsigned cp) { return gAnsiOverride.exchange(cp); }
unsigned SetOemCodePageOverride(unsigned cp) { return gOemOverride.exchange(cp); }

bool IsValidCodePage(unsigned cp) {
  cp = Resolve(cp);
  return cp == kCpUtf16Le || ::IsValidCodePage(cp) != 0;
}

bool IsSingleByteCodePage(unsigned cp) {
  cp = Resolve(cp);
  CPINFO info;
  return cp != kCpUtf16Le && ::GetCPInfo(cp, &info) && info.MaxCharSize == 1;
}

int MultiByteToWide(unsigned cp, uint32_t flags, const char* src, int srcLen, char16_t* dst, int dstLen) {
  if (BadArgs(src, srcLen, dst, dstLen)) return 0;
  cp = Resolve(cp);
  if (cp == kCpUtf16Le) {
    // Little-endian UTF-16 bytes: the system has no conversion for them.
    size_t n = srcLen < 0 ? 0 : size_t(srcLen);
    if (srcLen < 0)
      while (src[n] || src[n + 1]) n += 2;
    if (srcLen < 0) n += 2;
    if ((n % 2) && (flags & kMbErrInvalidChars)) {
      ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    int units = int(n / 2);
    if (units == 0) {
      ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
    if (dstLen == 0) return units;
    if (units > dstLen) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (int i = 0; i < units; ++i) dst[i] = char16_t(uint8_t(src[2 * i]) | (uint8_t(src[2 * i + 1]) << 8));
    return units;
  }
  DWORD f = flags;
  if (cp == kCpUtf8 || IsFlagless(cp)) f &= (cp == kCpUtf8 ? MB_ERR_INVALID_CHARS : 0);
  return ::MultiByteToWideChar(cp, f, src, srcLen, reinterpret_cast<wchar_t*>(dst), dstLen);
}

int WideToMultiByte(unsigned cp, uint32_t flags, const char16_t* src, int srcLen, char* dst, int dstLen,
                    const char* defaultChar, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (BadArgs(src, srcLen, dst, dstLen)) return 0;
  cp = Resolve(cp);
  const size_t n = detail::UnitsToConvert(src, srcLen);
  if (n > size_t(INT_MAX / 2)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto* w = reinterpret_cast<const wchar_t*>(src);
  if (cp == kCpUtf16Le) {
    int bytes = int(n * 2);
    if (dstLen == 0) return bytes;
    if (bytes > dstLen) {
      ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    for (size_t i = 0; i < n; ++i) {
      dst[2 * i] = char(src[i] & 0xFF);
      dst[2 * i + 1] = char(src[i] >> 8);
    }
    return bytes;
  }
  if (cp == kCpUtf8) {
    // The system takes no default character for UTF-8; a given one replaces unpaired
    // surrogates here, as it does for the other code pages.
    const DWORD f = flags & WC_ERR_INVALID_CHARS;
    if (defaultChar && !(f & WC_ERR_INVALID_CHARS)) {
      std::wstring fixed(w, n);
      bool used = false;
      for (size_t i = 0; i < fixed.size(); ++i) {
        if (IsHigh(fixed[i]) && i + 1 < fixed.size() && IsLow(fixed[i + 1])) {
          ++i;
        } else if (IsHigh(fixed[i]) || IsLow(fixed[i])) {
          fixed[i] = wchar_t(uint8_t(defaultChar[0]));
          used = true;
        }
      }
      int r = ::WideCharToMultiByte(cp, 0, fixed.data(), int(fixed.size()), dst, dstLen, nullptr, nullptr);
      if (r && usedDefault) *usedDefault = used;
      return r;
    }
    return ::WideCharToMultiByte(cp, f, w, int(n), dst, dstLen, nullptr, nullptr);
  }
  if (IsFlagless(cp)) return ::WideCharToMultiByte(cp, 0, w, int(n), dst, dstLen, nullptr, nullptr);
  BOOL used = FALSE;
  int r = ::WideCharToMultiByte(cp, flags & ~DWORD(WC_ERR_INVALID_CHARS), w, int(n), dst, dstLen, defaultChar,
                                &used);
  if (r && usedDefault) *usedDefault = used != FALSE;
  return r;
}

namespace detail {

unsigned ResolveCodePage(unsigned cp) { return Resolve(cp); }

int SystemCharLength(unsigned cp, const char* p, int len) {
  CPINFO info;
  if (!::GetCPInfo(cp, &info) || info.MaxCharSize == 1) return 1;
  if (info.MaxCharSize == 2) return ::IsDBCSLeadByteEx(cp, BYTE(p[0])) ? 2 : 1;
  // Longer characters (GB18030): the shortest prefix that converts.
  wchar_t out[4];
  for (int k = 1; k <= std::min(len, 4); ++k)
    if (::MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, p, k, out, 4) > 0) return k;
  return 1;
}

}  // namespace detail

int OsMajorVersion() { return int(LOBYTE(LOWORD(::GetVersion()))); }

bool IsNTFamily() { return (::GetVersion() & 0x80000000u) == 0; }

}  // namespace plat
