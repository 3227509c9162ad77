#include <iconv.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "PlatCodePage.h"
#include "PlatCodePageSystem.h"
#include "PlatCodeTables.h"
#include "PlatError.h"

namespace plat {

namespace {

std::atomic<unsigned> gAnsiOverride{0};
std::atomic<unsigned> gOemOverride{0};

// ---- single-byte pages ----

struct TReverse {
  std::once_flag Once;
  std::vector<int16_t> FromWide;  // 65536 entries, -1 = unmappable
};
std::array<TReverse, 16> gReverse;

int PageIndex(unsigned cp) {
  for (int i = 0; i < detail::kSingleBytePageCount; ++i)
    if (detail::kSingleBytePages[i].CodePage == cp) return i;
  return -1;
}

const std::vector<int16_t>& ReverseOf(int idx) {
  TReverse& r = gReverse[size_t(idx)];
  std::call_once(r.Once, [&r, idx] {
    r.FromWide.assign(65536, int16_t(-1));
    const char16_t* t = detail::kSingleBytePages[idx].ToWide;
    for (int b = 0; b < 256; ++b)
      if (r.FromWide[t[b]] < 0) r.FromWide[t[b]] = int16_t(b);
  });
  return r.FromWide;
}

char16_t LookupPair(const detail::TCasePair* pairs, int count, char16_t c) {
  const detail::TCasePair* end = pairs + count;
  const detail::TCasePair* it =
      std::lower_bound(pairs, end, c, [](const detail::TCasePair& p, char16_t v) { return p.Lower < v; });
  return (it != end && it->Lower == c) ? it->Upper : 0;
}

char16_t BestFit(char16_t c) { return LookupPair(detail::kBestFitPairs, detail::kBestFitPairCount, c); }

unsigned Resolve(unsigned cp) {
  switch (cp) {
    case kCpAcp:
    case 3:  // the thread's ANSI code page
      return AnsiCodePage();
    case kCpOemCp: return OemCodePage();
    case 2: return 10000;  // the Macintosh code page
    default: return cp;
  }
}

// ---- UTF-8 ----

bool DecodeUtf8(const uint8_t* s, int n, bool strict, std::u16string& out) {
  int i = 0;
  while (i < n) {
    uint8_t b = s[i];
    if (b < 0x80) {
      out.push_back(char16_t(b));
      ++i;
      continue;
    }
    int len = 0;
    uint32_t cp = 0, min = 0;
    if ((b & 0xE0) == 0xC0) {
      len = 2;
      cp = b & 0x1F;
      min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
      cp = b & 0x0F;
      min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
      cp = b & 0x07;
      min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (int k = 1; ok && k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80)
        ok = false;
      else
        cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
    if (!ok) {
      if (strict) {
        SetLastError(kErrNoUnicodeTranslation);
        return false;
      }
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
    i += len;
  }
  return true;
}

void PutUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(char(cp));
  } else if (cp < 0x800) {
    out.push_back(char(0xC0 | (cp >> 6)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(char(0xE0 | (cp >> 12)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(char(0xF0 | (cp >> 18)));
    out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(char(0x80 | (cp & 0x3F)));
  }
}

bool IsHigh(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLow(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// ---- iconv for the other code pages ----

std::string IconvName(unsigned cp) {
  if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
  switch (cp) {
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 20127: return "ASCII";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 10000: return "MACINTOSH";
    case 65000: return "UTF-7";
    case 1201: return "UTF-16BE";
    case 12000: return "UTF-32LE";
    case 12001: return "UTF-32BE";
    case 54936: return "GB18030";
    case 20932: return "EUC-JP";
    case 51949: return "EUC-KR";
    default: return "CP" + std::to_string(cp);
  }
}

struct TIconv {
  iconv_t H = iconv_t(-1);
  TIconv(const std::string& to, const std::string& from) { H = iconv_open(to.c_str(), from.c_str()); }
  ~TIconv() {
    if (Ok()) iconv_close(H);
  }
  TIconv(const TIconv&) = delete;
  TIconv& operator=(const TIconv&) = delete;
  bool Ok() const { return H != iconv_t(-1); }
  // Converts all of in; returns false at the first invalid or incomplete input.
  bool Run(const char* in, size_t inLen, std::string& out, size_t* consumed = nullptr) {
    iconv(H, nullptr, nullptr, nullptr, nullptr);
    out.assign(inLen * 4 + 16, '\0');
    char* ip = const_cast<char*>(in);
    size_t il = inLen;
    char* op = out.data();
    size_t ol = out.size();
    size_t r = iconv(H, &ip, &il, &op, &ol);
    out.resize(out.size() - ol);
    if (consumed) *consumed = inLen - il;
    return r != size_t(-1);
  }
};

void AppendUtf16Le(const std::string& bytes, std::u16string& out) {
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    out.push_back(char16_t(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
}

bool DecodeIconv(unsigned cp, const char* s, int n, bool strict, std::u16string& out) {
  TIconv cv("UTF-16LE", IconvName(cp));
  if (!cv.Ok()) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  size_t pos = 0;
  std::string chunk;
  while (pos < size_t(n)) {
    size_t used = 0;
    bool ok = cv.Run(s + pos, size_t(n) - pos, chunk, &used);
    AppendUtf16Le(chunk, out);
    pos += used;
    if (ok) break;
    if (strict) {
      SetLastError(kErrNoUnicodeTranslation);
      return false;
    }
    out.push_back(u'\xFFFD');
    ++pos;
  }
  return true;
}

bool Decode(unsigned cp, uint32_t flags, const char* src, int n, std::u16string& out) {
  bool strict = (flags & kMbErrInvalidChars) != 0;
  const auto* s = reinterpret_cast<const uint8_t*>(src);
  if (cp == kCpUtf8) return DecodeUtf8(s, n, strict, out);
  if (cp == kCpUtf16Le) {
    if (n % 2 != 0 && strict) {
      SetLastError(kErrNoUnicodeTranslation);
      return false;
    }
    for (int i = 0; i + 1 < n; i += 2) out.push_back(char16_t(s[i] | (s[i + 1] << 8)));
    return true;
  }
  int idx = PageIndex(cp);
  if (idx >= 0) {
    const char16_t* t = detail::kSingleBytePages[idx].ToWide;
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i) out.push_back(t[s[i]]);
    return true;
  }
  return DecodeIconv(cp, src, n, strict, out);
}

struct TEncodeCtx {
  uint32_t Flags;
  char Default;
  bool HasDefault;
  bool Used = false;
};

bool EncodeIconv(unsigned cp, const char16_t* s, int n, TEncodeCtx& ctx, std::string& out) {
  TIconv cv(IconvName(cp), "UTF-16LE");
  if (!cv.Ok()) {
    SetLastError(kErrInvalidParameter);
    return false;
  }
  std::string one;
  for (int i = 0; i < n;) {
    int units = (IsHigh(s[i]) && i + 1 < n && IsLow(s[i + 1])) ? 2 : 1;
    char buf[4];
    for (int k = 0; k < units; ++k) {
      buf[2 * k] = char(s[i + k] & 0xFF);
      buf[2 * k + 1] = char(s[i + k] >> 8);
    }
    bool ok = cv.Run(buf, size_t(units * 2), one);
    if (!ok && units == 1 && !(ctx.Flags & kWcNoBestFitChars)) {
      char16_t fit = BestFit(s[i]);
      if (fit) {
        buf[0] = char(fit & 0xFF);
        buf[1] = char(fit >> 8);
        ok = cv.Run(buf, 2, one);
      }
    }
    if (ok) {
      out += one;
    } else {
      // One default character per UTF-16 unit, as for the single-byte pages.
      ctx.Used = true;
      out.append(size_t(units), ctx.Default);
    }
    i += units;
  }
  return true;
}

bool Encode(unsigned cp, const char16_t* s, int n, TEncodeCtx& ctx, std::string& out) {
  if (cp == kCpUtf8) {
    for (int i = 0; i < n; ++i) {
      char16_t c = s[i];
      if (IsHigh(c) && i + 1 < n && IsLow(s[i + 1])) {
        PutUtf8(0x10000 + ((uint32_t(c) - 0xD800) << 10) + (s[i + 1] - 0xDC00), out);
        ++i;
      } else if (IsHigh(c) || IsLow(c)) {
        if (ctx.Flags & kWcErrInvalidChars) {
          SetLastError(kErrNoUnicodeTranslation);
          return false;
        }
        if (ctx.HasDefault) {
          ctx.Used = true;
          out.push_back(ctx.Default);
        } else {
          PutUtf8(0xFFFD, out);
        }
      } else {
        PutUtf8(c, out);
      }
    }
    return true;
  }
  if (cp == kCpUtf16Le) {
    for (int i = 0; i < n; ++i) {
      out.push_back(char(s[i] & 0xFF));
      out.push_back(char(s[i] >> 8));
    }
    return true;
  }
  int idx = PageIndex(cp);
  if (idx >= 0) {
    const std::vector<int16_t>& rev = ReverseOf(idx);
    out.reserve(size_t(n));
    for (int i = 0; i < n; ++i) {
      int r = rev[s[i]];
      if (r < 0 && !(ctx.Flags & kWcNoBestFitChars)) {
        char16_t fit = BestFit(s[i]);
        if (fit) r = rev[fit];
      }
      if (r < 0) {
        ctx.Used = true;
        out.push_back(ctx.Default);
      } else {
        out.push_back(char(r));
      }
    }
    return true;
  }
  return EncodeIconv(cp, s, n, ctx, out);
}

template <typename C, typename S>
int Deliver(const S& out, C* dst, int dstLen) {
  if (out.size() > size_t(INT_MAX)) {
    SetLastError(kErrNotEnoughMemory);
    return 0;
  }
  int size = int(out.size());
  if (size == 0) {
    SetLastError(kErrNoUnicodeTranslation);
    return 0;
  }
  if (dstLen == 0) return size;
  if (size > dstLen) {
    SetLastError(kErrInsufficientBuffer);
    return 0;
  }
  std::memcpy(dst, out.data(), size_t(size) * sizeof(C));
  return size;
}

}  // namespace

unsigned AnsiCodePage() {
  unsigned o = gAnsiOverride.load();
  return o ? o : kCpUtf8;
}

unsigned OemCodePage() {
  unsigned o = gOemOverride.load();
  if (o) return o;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) return OemCodePageForLocale(v);
  }
  return 437;
}

unsigned SetAnsiCodePageOverride(unsigned cp) { return gAnsiOverride.exchange(cp); }
unsigned SetOemCodePageOverride(unsigned cp) { return gOemOverride.exchange(cp); }

bool IsSingleByteCodePage(unsigned cp) {
  cp = Resolve(cp);
  if (PageIndex(cp) >= 0) return true;
  return (cp >= 28591 && cp <= 28605) || cp == 20127 || cp == 20866 || cp == 21866 || cp == 10000 ||
         (cp >= 1253 && cp <= 1258) || cp == 737 || cp == 775 || cp == 855 || cp == 857 || cp == 860 ||
         cp == 861 || cp == 862 || cp == 863 || cp == 865 || cp == 869 || cp == 874;
}

bool IsValidCodePage(unsigned cp) {
  cp = Resolve(cp);
  if (cp == kCpUtf8 || cp == kCpUtf16Le || PageIndex(cp) >= 0) return true;
  TIconv cv("UTF-16LE", IconvName(cp));
  return cv.Ok();
}

int MultiByteToWide(unsigned cp, uint32_t flags, const char* src, int srcLen, char16_t* dst, int dstLen) {
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(kErrInvalidParameter);
    return 0;
  }
  size_t n = srcLen < 0 ? std::strlen(src) + 1 : size_t(srcLen);
  if (n > size_t(INT_MAX)) {
    SetLastError(kErrInvalidParameter);
    return 0;
  }
  std::u16string out;
  if (!Decode(Resolve(cp), flags, src, int(n), out)) return 0;
  return Deliver(out, dst, dstLen);
}

int WideToMultiByte(unsigned cp, uint32_t flags, const char16_t* src, int srcLen, char* dst, int dstLen,
                    const char* defaultChar, bool* usedDefault) {
  if (usedDefault) *usedDefault = false;
  if (!src || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && !dst)) {
    SetLastError(kErrInvalidParameter);
    return 0;
  }
  const size_t n = detail::UnitsToConvert(src, srcLen);
  if (n > size_t(INT_MAX)) {
    SetLastError(kErrInvalidParameter);
    return 0;
  }
  TEncodeCtx ctx{flags, defaultChar ? defaultChar[0] : '?', defaultChar != nullptr};
  std::string out;
  if (!Encode(Resolve(cp), src, int(n), ctx, out)) return 0;
  if (usedDefault) *usedDefault = ctx.Used;
  return Deliver(out, dst, dstLen);
}

namespace detail {

unsigned ResolveCodePage(unsigned cp) { return Resolve(cp); }

int SystemCharLength(unsigned cp, const char* p, int len) {
  if (IsSingleByteCodePage(cp)) return 1;
  TIconv cv("UTF-16LE", IconvName(cp));
  if (!cv.Ok()) return 1;
  std::string out;
  for (int k = 1; k <= std::min(len, 4); ++k)
    if (cv.Run(p, size_t(k), out) && !out.empty()) return k;
  return 1;
}

}  // namespace detail

int OsMajorVersion() { return 10; }  // POSIX systems count as modern NT-family ones
bool IsNTFamily() { return true; }

}  // namespace plat
