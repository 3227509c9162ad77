// Locale identifiers and information from the system.
#include <windows.h>

#include <string_view>

#include "PlatLocale.h"

namespace plat {

namespace {

LCID Resolve(uint16_t langId) {
  return langId == 0 || langId == 0x0400 ? LOCALE_USER_DEFAULT : MAKELCID(langId, SORT_DEFAULT);
}

std::u16string Query(LCID lcid, int kind) {
  int n = ::GetLocaleInfoW(lcid, LCTYPE(kind), nullptr, 0);
  if (n <= 1) return {};
  std::wstring buf(size_t(n), L'\0');
  n = ::GetLocaleInfoW(lcid, LCTYPE(kind), buf.data(), n);
  if (n <= 1) return {};
  buf.resize(size_t(n - 1));
  return std::u16string(buf.begin(), buf.end());
}

}  // namespace

uint16_t LangIdFromLocaleName(const std::string& locale) {
  // language[_territory][.codeset][@modifier], as the system's "ll-CC" names.
  std::string_view s(locale);
  std::string_view modifier;
  if (const size_t at = s.find('@'); at != std::string_view::npos) {
    modifier = s.substr(at + 1);
    s = s.substr(0, at);
  }
  if (const size_t dot = s.find('.'); dot != std::string_view::npos) s = s.substr(0, dot);
  if (s == "C" || s == "POSIX") return 0x0409;
  if (s.empty()) return 0;
  std::wstring name(s.begin(), s.end());
  for (auto& c : name)
    if (c == L'_') c = L'-';
  if (modifier == "latin" || modifier == "cyrillic") {
    // "sr-RS" and the script: "sr-Latn-RS".
    size_t dash = name.find(L'-');
    std::wstring script = modifier == "latin" ? L"-Latn" : L"-Cyrl";
    name = dash == std::wstring::npos ? name + script : name.substr(0, dash) + script + name.substr(dash);
  }
  LCID lcid = ::LocaleNameToLCID(name.c_str(), 0);
  if (lcid == 0 || lcid == LOCALE_CUSTOM_UNSPECIFIED) {
    // An unknown territory: the language's default.
    size_t dash = name.find(L'-');
    if (dash == std::wstring::npos) return 0;
    lcid = ::LocaleNameToLCID(name.substr(0, dash).c_str(), 0);
    if (lcid == 0 || lcid == LOCALE_CUSTOM_UNSPECIFIED) return 0;
  }
  uint16_t id = LANGIDFROMLCID(lcid);
  // A neutral language names its default territory.
  if (SUBLANGID(id) == SUBLANG_NEUTRAL) id = MAKELANGID(PRIMARYLANGID(id), SUBLANG_DEFAULT);
  return id;
}

uint16_t UserDefaultLangId() { return ::GetUserDefaultLangID(); }

std::u16string LocaleInfo(uint16_t langId, int kind) {
  std::u16string r = Query(Resolve(langId), kind);
  if (r.empty() && langId != 0 && langId != 0x0400)
    r = Query(MAKELCID(MAKELANGID(PRIMARYLANGID(langId), SUBLANG_DEFAULT), SORT_DEFAULT), kind);
  return r;
}

}  // namespace plat
