// What every system shares of the code pages: the DOS code page a locale's language
// used, character lengths in UTF-8 and UTF-16, and upper case from the shared tables
// so that it does not depend on the locale.
#include "PlatCodePage.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

#include "PlatCodePageSystem.h"
#include "PlatCodeTables.h"

namespace plat {

unsigned OemCodePageForLocale(const std::string& locale) {
  std::string lang = locale.substr(0, locale.find_first_of("_.@-"));
  for (auto& c : lang) c = char(std::tolower(uint8_t(c)));
  static const char* const k852[] = {"pl", "cs", "sk", "hu", "sl", "hr", "ro", "sq", "bs"};
  static const char* const k866[] = {"ru", "uk", "be", "bg", "mk"};
  static const char* const k850[] = {"de", "fr", "es", "it", "pt", "nl", "da", "sv",
                                     "nb", "nn", "no", "fi", "is", "ca", "eu", "gl"};
  for (const char* l : k852)
    if (lang == l) return 852;
  for (const char* l : k866)
    if (lang == l) return 866;
  for (const char* l : k850)
    if (lang == l) return 850;
  return 437;
}

int CharLength(unsigned cp, const char* p, int len) {
  if (len <= 1 || !p) return len < 1 ? 0 : 1;
  cp = detail::ResolveCodePage(cp);
  if (cp == kCpUtf8) {
    auto b = uint8_t(p[0]);
    int k = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 1;
    if (k > len) return 1;
    for (int i = 1; i < k; ++i)
      if ((uint8_t(p[i]) & 0xC0) != 0x80) return 1;
    return k;
  }
  if (cp == kCpUtf16Le) return 2;
  return detail::SystemCharLength(cp, p, len);
}

namespace detail {

size_t UnitsToConvert(const char16_t* src, int srcLen) {
  if (srcLen >= 0) return size_t(srcLen);
  size_t n = 0;
  while (src[n]) ++n;
  return n + 1;
}

}  // namespace detail

char16_t UpperChar(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c;
  const detail::TCasePair* end = detail::kUpperPairs + detail::kUpperPairCount;
  const detail::TCasePair* it = std::lower_bound(
      detail::kUpperPairs, end, c, [](const detail::TCasePair& p, char16_t v) { return p.Lower < v; });
  return (it != end && it->Lower == c) ? it->Upper : c;
}

void UpperCaseWide(std::u16string& s) {
  for (auto& c : s) c = UpperChar(c);
}

}  // namespace plat
