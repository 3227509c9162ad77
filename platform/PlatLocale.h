// The user's locale as a Windows language identifier, and locale information by
// identifier.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

// Kinds of locale information (the values of the Windows LCTYPE constants).
inline constexpr int kLocaleILanguage = 0x0001;             // identifier as 4 hex digits
inline constexpr int kLocaleSLanguage = 0x0002;             // "Polish (Poland)"
inline constexpr int kLocaleSAbbrevLangName = 0x0003;       // "PLK"
inline constexpr int kLocaleSNativeLangName = 0x0004;       // "polski"
inline constexpr int kLocaleSAbbrevCtryName = 0x0007;       // "POL"
inline constexpr int kLocaleIDefaultCodePage = 0x000B;      // OEM code page, "852"
inline constexpr int kLocaleSEngLanguage = 0x1001;          // "Polish"
inline constexpr int kLocaleSEngCountry = 0x1002;           // "Poland"
inline constexpr int kLocaleIDefaultAnsiCodePage = 0x1004;  // "1250"
inline constexpr int kLocaleSIso639LangName = 0x0059;       // "pl"
inline constexpr int kLocaleSIso3166CtryName = 0x005A;      // "PL"

// The language identifier of a POSIX locale name such as "pl_PL.UTF-8" or "de";
// 0 when the language is not known. "C" and "POSIX" are US English.
uint16_t LangIdFromLocaleName(const std::string& locale);

// The user's default locale identifier: from LC_ALL, LC_MESSAGES or LANG (the first
// one set and not empty), US English (0x0409) when none names a known language.
uint16_t UserDefaultLangId();

// Locale information of a kind for an identifier (0 or 0x0400: the user's default).
// An identifier that matches no known locale exactly is looked up by its primary
// language. Empty for an unknown identifier or kind.
std::u16string LocaleInfo(uint16_t langId, int kind);

}  // namespace plat
