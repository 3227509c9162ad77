#include "ZMStoredText.h"

#include <algorithm>
#include <cstring>

#include "PlatCodePage.h"
#include "ZMCrc32.h"
#include "ZMEndian.h"

namespace zm {

namespace {

uint32_t StrictFlag() { return plat::OsMajorVersion() >= 5 ? plat::kMbErrInvalidChars : 0; }

std::string Utf8Of(const std::u16string& w) {
  return w.empty() ? std::string() : MultiByteFromWide(plat::kCpUtf8, 0, w.data(), int(w.size()));
}

// Code pages in which a separator byte can only ever be a character of its own.
bool SeparatorsAreBytes(unsigned codePage) {
  if (codePage == plat::kCpAcp) codePage = plat::AnsiCodePage();
  return codePage == plat::kCpUtf8 || plat::IsSingleByteCodePage(codePage);
}

// Calls f(position, length) for every character of s in codePage.
template <typename F>
void ForEachChar(std::string_view s, unsigned codePage, F f) {
  for (size_t i = 0; i < s.size();) {
    const size_t len = CharSizeAt(s, i, codePage);
    f(i, len);
    i += len;
  }
}

}  // namespace

bool FindExtraBlock(std::string_view extra, uint16_t tag, size_t& pos, size_t& len) {
  const size_t size = extra.size();
  size_t at = 0;
  while (size >= 5 && size - at >= 5) {
    const uint16_t t = GetLE16(extra.data() + at);
    const size_t d = GetLE16(extra.data() + at + 2);
    if (t == tag) {
      if (at + 4 + d > size) return false;
      pos = at + 4;
      len = d;
      return true;
    }
    at += 4 + d;
    if (at >= size) break;
  }
  return false;
}

int Utf8SequenceLength(uint8_t first) {
  if (first < 0x80) return 1;
  if ((first & 0xFE) == 0xFC) return 6;
  if ((first & 0xFC) == 0xF8) return 5;
  if ((first & 0xF8) == 0xF0) return 4;
  if ((first & 0xF0) == 0xE0) return 3;
  if ((first & 0xE0) == 0xC0) return 2;
  return -1;
}

int CountUtf8Sequences(const char* bytes, size_t length) {
  if (!bytes) return 0;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes);
  int count = 0;
  for (size_t i = 0; i < length;) {
    if (p[i] < 0x80) {
      ++i;
      continue;
    }
    const int k = Utf8SequenceLength(p[i]);
    if (k <= 0 || size_t(k) > length - i) return -1;
    for (int j = 1; j < k; ++j)
      if (p[i + size_t(j)] < 0x80 || p[i + size_t(j)] > 0xBF) return -1;
    ++count;
    i += size_t(k);
  }
  return count;
}

bool HasNonPlainBytes(std::string_view s) {
  // Eight bytes at a time: in a word of plain bytes no top bit is set in w, w - 31 or
  // w + 1 for each byte; the lowest byte below 31 borrows into its top bit, 127 carries
  // into it, and 128 or more has it already. A word that shows one is looked at bytewise.
  constexpr uint64_t kOnes = 0x0101010101010101ull, kTops = 0x8080808080808080ull;
  size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    if (((w - kOnes * 31) | (w + kOnes) | w) & kTops) {
      for (size_t k = i; k < i + 8; ++k) {
        const unsigned char c = static_cast<unsigned char>(s[k]);
        if (c > 126 || c < 31) return true;
      }
    }
  }
  for (; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c > 126 || c < 31) return true;
  }
  return false;
}

std::string UnicodeFieldText(const TStoredText& e, bool comment) {
  const std::string_view stored = comment ? e.Comment : e.Name;
  if (comment && stored.empty()) return {};
  size_t pos = 0, len = 0;
  if (!FindExtraBlock(e.Extra, comment ? kUnicodeCommentTag : kUnicodePathTag, pos, len) || len <= 5)
    return {};
  const char* p = e.Extra.data() + pos;
  if (p[0] != 1) return {};
  const uint32_t crc = ~Crc32UpdateFast(0xFFFFFFFFu, stored.data(), stored.size());
  if (GetLE32(p + 1) != crc) return {};
  if (CountUtf8Sequences(p + 5, len - 5) < 0) return {};
  return std::string(p + 5, len - 5);
}

int StoredKind(const TStoredText& e) {
  if (e.Flag & 0x0800) return skUTF8;
  if (!UnicodeFieldText(e, false).empty() || !UnicodeFieldText(e, true).empty()) return skUnicodeField;
  const unsigned host = e.VersionMadeBy >> 8;
  if (host == 0 || host == 6 || e.VersionMadeBy == 0x0B32) return skOEM;
  return skNative;
}

TDecodedText DecodeStoredText(const TStoredText& e, bool comment, int kind, unsigned nameCodePage,
                              unsigned oemCodePage) {
  const std::string_view source = comment ? e.Comment : e.Name;
  TDecodedText r;
  if (kind == skUnicodeField || HasNonPlainBytes(source)) {
    switch (kind) {
      case skUTF8:
        if (CountUtf8Sequences(source.data(), source.size()) >= 0)
          r.Text.assign(source);
        else
          r.Text = Utf8Of(WideFromUtf8Text(source.data(), int(source.size())));
        break;
      case skUnicodeField: r.Text = UnicodeFieldText(e, comment); break;
      default: {
        // Strictly: bytes the code page has no characters for (text that is no UTF-8
        // where UTF-8 is the native code page) must not all become U+FFFD, which would
        // give different names one text. They are tried in the ANSI code page, else
        // kept as stored.
        const unsigned cp = kind == skOEM ? (oemCodePage ? oemCodePage : plat::kCpOemCp) : nameCodePage;
        std::u16string w = WideFromMultiByte(cp, StrictFlag(), source.data(), int(source.size()));
        if (w.empty()) w = WideFromMultiByte(plat::kCpAcp, StrictFlag(), source.data(), int(source.size()));
        r.Text = Utf8Of(w);
        break;
      }
    }
    r.Converted = !r.Text.empty();
  }
  if (!r.Converted) r.Text.assign(source);
  return r;
}

std::u16string WideFromMultiByte(unsigned codePage, uint32_t flags, const char* p, int n) {
  const int size = plat::MultiByteToWide(codePage, flags, p, n, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(size_t(size), u'\0');
  const int got = plat::MultiByteToWide(codePage, flags, p, n, out.data(), size);
  if (got <= 0) return {};
  out.resize(size_t(got));
  return out;
}

std::string MultiByteFromWide(unsigned codePage, uint32_t flags, const char16_t* p, int n,
                              const char* defaultChar, bool* usedDefault) {
  const int size = plat::WideToMultiByte(codePage, flags, p, n, nullptr, 0, defaultChar, usedDefault);
  if (size <= 0) return {};
  std::string out(size_t(size), '\0');
  const int got = plat::WideToMultiByte(codePage, flags, p, n, out.data(), size, defaultChar, usedDefault);
  if (got <= 0) return {};
  out.resize(size_t(got));
  return out;
}

std::u16string WideFromCodePageText(const char* p, int n, unsigned codePage) {
  if (n <= 0) return {};
  if (plat::MultiByteToWide(codePage, 0, p, n, nullptr, 0) <= 0)
    return WideFromMultiByte(plat::kCpAcp, 0, p, n);
  return WideFromMultiByte(codePage, 0, p, n);
}

std::u16string WideFromUtf8Text(const char* p, int n) {
  const uint32_t flags = StrictFlag();
  std::u16string out = WideFromMultiByte(plat::kCpUtf8, flags, p, n);
  if (out.empty()) out = WideFromMultiByte(plat::kCpAcp, flags, p, n);
  return out;
}

size_t CharSizeAt(std::string_view s, size_t i, unsigned codePage) {
  // Lead bytes of double-byte code pages lie above 0x7F.
  if (uint8_t(s[i]) < 0x80 || SeparatorsAreBytes(codePage)) return 1;
  return size_t(std::max(1, plat::CharLength(codePage, s.data() + i, int(s.size() - i))));
}

std::string ReplaceSeparators(std::string s, char from, char to, unsigned codePage) {
  if (SeparatorsAreBytes(codePage)) {
    std::replace(s.begin(), s.end(), from, to);
    return s;
  }
  ForEachChar(s, codePage, [&](size_t i, size_t len) {
    if (len == 1 && s[i] == from) s[i] = to;
  });
  return s;
}

bool EndsWithChar(std::string_view s, char c, unsigned codePage) {
  if (s.empty()) return false;
  if (SeparatorsAreBytes(codePage)) return s.back() == c;
  bool last = false;
  ForEachChar(s, codePage, [&](size_t i, size_t len) { last = len == 1 && s[i] == c; });
  return last;
}

}  // namespace zm
