// What every system shares of the code pages: the DOS code page a locale's language
// used.
#include <cctype>
#include <cstdint>

#include "PlatCodePage.h"

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

}  // namespace plat
