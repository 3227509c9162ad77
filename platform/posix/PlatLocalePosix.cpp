// Locale identifiers on POSIX: a table of the locales we know, looked up by the
// language and territory of the locale name in the environment.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "PlatLocale.h"

namespace plat {

namespace {

struct TLocaleRow {
  uint16_t Id;
  const char* Lang;      // ISO 639
  const char* Ctry;      // ISO 3166 alpha-2
  const char* Modifier;  // "@..." part of the locale name that selects this row, or ""
  const char* Abbrev;    // three-letter language abbreviation
  const char* EngLang;
  const char* EngCtry;
  const char16_t* Native;
  const char* Ctry3;  // ISO 3166 alpha-3
  uint16_t AnsiCp;
  uint16_t OemCp;
};

// The first row of a language is its default territory.
constexpr TLocaleRow kLocales[] = {
    {0x0409, "en", "US", "", "ENU", "English", "United States", u"English", "USA", 1252, 437},
    {0x0809, "en", "GB", "", "ENG", "English", "United Kingdom", u"English", "GBR", 1252, 850},
    {0x0C09, "en", "AU", "", "ENA", "English", "Australia", u"English", "AUS", 1252, 850},
    {0x1009, "en", "CA", "", "ENC", "English", "Canada", u"English", "CAN", 1252, 850},
    {0x0416, "pt", "BR", "", "PTB", "Portuguese", "Brazil", u"português", "BRA", 1252, 850},
    {0x0816, "pt", "PT", "", "PTG", "Portuguese", "Portugal", u"português", "PRT", 1252, 850},
    {0x0804, "zh", "CN", "", "CHS", "Chinese", "China", u"中文", "CHN", 936, 936},
    {0x0404, "zh", "TW", "", "CHT", "Chinese", "Taiwan", u"中文", "TWN", 950, 950},
    {0x0C04, "zh", "HK", "", "ZHH", "Chinese", "Hong Kong", u"中文", "HKG", 950, 950},
    {0x1004, "zh", "SG", "", "ZHI", "Chinese", "Singapore", u"中文", "SGP", 936, 936},
    {0x0403, "ca", "ES", "", "CAT", "Catalan", "Spain", u"català", "ESP", 1252, 850},
    {0x0405, "cs", "CZ", "", "CSY", "Czech", "Czech Republic", u"čeština", "CZE", 1250, 852},
    {0x0407, "de", "DE", "", "DEU", "German", "Germany", u"Deutsch", "DEU", 1252, 850},
    {0x0C07, "de", "AT", "", "DEA", "German", "Austria", u"Deutsch", "AUT", 1252, 850},
    {0x0807, "de", "CH", "", "DES", "German", "Switzerland", u"Deutsch", "CHE", 1252, 850},
    {0x0406, "da", "DK", "", "DAN", "Danish", "Denmark", u"dansk", "DNK", 1252, 850},
    {0x0C0A, "es", "ES", "", "ESN", "Spanish", "Spain", u"español", "ESP", 1252, 850},
    {0x080A, "es", "MX", "", "ESM", "Spanish", "Mexico", u"español", "MEX", 1252, 850},
    {0x040A, "es", "ES", "@traditional", "ESP", "Spanish", "Spain", u"español", "ESP", 1252, 850},
    {0x040B, "fi", "FI", "", "FIN", "Finnish", "Finland", u"suomi", "FIN", 1252, 850},
    {0x040C, "fr", "FR", "", "FRA", "French", "France", u"français", "FRA", 1252, 850},
    {0x080C, "fr", "BE", "", "FRB", "French", "Belgium", u"français", "BEL", 1252, 850},
    {0x0C0C, "fr", "CA", "", "FRC", "French", "Canada", u"français", "CAN", 1252, 850},
    {0x100C, "fr", "CH", "", "FRS", "French", "Switzerland", u"français", "CHE", 1252, 850},
    {0x0408, "el", "GR", "", "ELL", "Greek", "Greece", u"Ελληνικά", "GRC", 1253, 737},
    {0x040E, "hu", "HU", "", "HUN", "Hungarian", "Hungary", u"magyar", "HUN", 1250, 852},
    {0x0410, "it", "IT", "", "ITA", "Italian", "Italy", u"italiano", "ITA", 1252, 850},
    {0x0810, "it", "CH", "", "ITS", "Italian", "Switzerland", u"italiano", "CHE", 1252, 850},
    {0x0411, "ja", "JP", "", "JPN", "Japanese", "Japan", u"日本語", "JPN", 932, 932},
    {0x0412, "ko", "KR", "", "KOR", "Korean", "Korea", u"한국어", "KOR", 949, 949},
    {0x043E, "ms", "MY", "", "MSL", "Malay", "Malaysia", u"Bahasa Melayu", "MYS", 1252, 850},
    {0x0413, "nl", "NL", "", "NLD", "Dutch", "Netherlands", u"Nederlands", "NLD", 1252, 850},
    {0x0813, "nl", "BE", "", "NLB", "Dutch", "Belgium", u"Nederlands", "BEL", 1252, 850},
    {0x0414, "nb", "NO", "", "NOR", "Norwegian", "Norway", u"norsk (bokmål)", "NOR", 1252, 850},
    {0x0414, "no", "NO", "", "NOR", "Norwegian", "Norway", u"norsk (bokmål)", "NOR", 1252, 850},
    {0x0814, "nn", "NO", "", "NON", "Norwegian", "Norway", u"norsk (nynorsk)", "NOR", 1252, 850},
    {0x0415, "pl", "PL", "", "PLK", "Polish", "Poland", u"polski", "POL", 1250, 852},
    {0x0418, "ro", "RO", "", "ROM", "Romanian", "Romania", u"română", "ROU", 1250, 852},
    {0x0419, "ru", "RU", "", "RUS", "Russian", "Russia", u"русский", "RUS", 1251, 866},
    {0x041D, "sv", "SE", "", "SVE", "Swedish", "Sweden", u"svenska", "SWE", 1252, 850},
    {0x0C1A, "sr", "RS", "", "SRB", "Serbian", "Serbia", u"српски", "SRB", 1251, 855},
    {0x081A, "sr", "RS", "@latin", "SRL", "Serbian", "Serbia", u"srpski", "SRB", 1250, 852},
    {0x041A, "hr", "HR", "", "HRV", "Croatian", "Croatia", u"hrvatski", "HRV", 1250, 852},
    {0x041B, "sk", "SK", "", "SKY", "Slovak", "Slovakia", u"slovenčina", "SVK", 1250, 852},
    {0x0424, "sl", "SI", "", "SLV", "Slovenian", "Slovenia", u"slovenščina", "SVN", 1250, 852},
    {0x041F, "tr", "TR", "", "TRK", "Turkish", "Turkey", u"Türkçe", "TUR", 1254, 857},
    {0x0422, "uk", "UA", "", "UKR", "Ukrainian", "Ukraine", u"українська", "UKR", 1251, 866},
    {0x0425, "et", "EE", "", "ETI", "Estonian", "Estonia", u"eesti", "EST", 1257, 775},
    {0x0426, "lv", "LV", "", "LVI", "Latvian", "Latvia", u"latviešu", "LVA", 1257, 775},
    {0x0427, "lt", "LT", "", "LTH", "Lithuanian", "Lithuania", u"lietuvių", "LTU", 1257, 775},
    {0x0402, "bg", "BG", "", "BGR", "Bulgarian", "Bulgaria", u"български", "BGR", 1251, 866},
    {0x040D, "he", "IL", "", "HEB", "Hebrew", "Israel", u"עברית", "ISR", 1255, 862},
    {0x0401, "ar", "SA", "", "ARA", "Arabic", "Saudi Arabia", u"العربية", "SAU", 1256, 720},
    {0x041E, "th", "TH", "", "THA", "Thai", "Thailand", u"ไทย", "THA", 874, 874},
    {0x042A, "vi", "VN", "", "VIT", "Vietnamese", "Vietnam", u"Tiếng Việt", "VNM", 1258, 1258},
    {0x0421, "id", "ID", "", "IND", "Indonesian", "Indonesia", u"Bahasa Indonesia", "IDN", 1252, 850},
};

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

const TLocaleRow* RowOf(uint16_t id) {
  for (const auto& r : kLocales)
    if (r.Id == id) return &r;
  for (const auto& r : kLocales)
    if ((r.Id & 0x3FF) == (id & 0x3FF)) return &r;
  return nullptr;
}

std::u16string Ascii(std::string_view s) { return std::u16string(s.begin(), s.end()); }

}  // namespace

uint16_t LangIdFromLocaleName(const std::string& locale) {
  // language[_territory][.codeset][@modifier]
  std::string_view s(locale);
  std::string_view modifier;
  if (const size_t at = s.find('@'); at != std::string_view::npos) {
    modifier = s.substr(at);
    s = s.substr(0, at);
  }
  if (const size_t dot = s.find('.'); dot != std::string_view::npos) s = s.substr(0, dot);
  if (s == "C" || s == "POSIX") return 0x0409;
  std::string_view lang = s, ctry;
  if (const size_t us = s.find_first_of("_-"); us != std::string_view::npos) {
    lang = s.substr(0, us);
    ctry = s.substr(us + 1);
  }
  if (lang.empty()) return 0;
  const TLocaleRow* firstOfLang = nullptr;
  const TLocaleRow* territoryMatch = nullptr;
  for (const auto& r : kLocales) {
    if (!EqualNoCase(lang, r.Lang)) continue;
    const bool modOk = EqualNoCase(modifier, r.Modifier);
    if (!firstOfLang && (modOk || !*r.Modifier)) firstOfLang = &r;
    if (EqualNoCase(ctry, r.Ctry)) {
      if (modOk) return r.Id;
      if (!territoryMatch && !*r.Modifier) territoryMatch = &r;
    }
  }
  if (territoryMatch) return territoryMatch->Id;
  if (!modifier.empty()) {
    // A modifier without a matching territory: any row of the language with it.
    for (const auto& r : kLocales)
      if (EqualNoCase(lang, r.Lang) && EqualNoCase(modifier, r.Modifier)) return r.Id;
  }
  return firstOfLang ? firstOfLang->Id : 0;
}

uint16_t UserDefaultLangId() {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* v = std::getenv(var);
    if (v && *v) {
      const uint16_t id = LangIdFromLocaleName(v);
      return id ? id : 0x0409;
    }
  }
  return 0x0409;
}

std::u16string LocaleInfo(uint16_t langId, int kind) {
  if (langId == 0 || langId == 0x0400) langId = UserDefaultLangId();
  const TLocaleRow* r = RowOf(langId);
  if (!r) return {};
  char buf[16];
  switch (kind) {
    case kLocaleILanguage: std::snprintf(buf, sizeof buf, "%04x", unsigned(r->Id)); return Ascii(buf);
    case kLocaleSLanguage: return Ascii(std::string(r->EngLang) + " (" + r->EngCtry + ")");
    case kLocaleSAbbrevLangName: return Ascii(r->Abbrev);
    case kLocaleSNativeLangName: return r->Native;
    case kLocaleSAbbrevCtryName: return Ascii(r->Ctry3);
    case kLocaleIDefaultCodePage: return Ascii(std::to_string(r->OemCp));
    case kLocaleSEngLanguage: return Ascii(r->EngLang);
    case kLocaleSEngCountry: return Ascii(r->EngCtry);
    case kLocaleIDefaultAnsiCodePage: return Ascii(std::to_string(r->AnsiCp));
    case kLocaleSIso639LangName: return Ascii(r->Lang);
    case kLocaleSIso3166CtryName: return Ascii(r->Ctry);
    default: return {};
  }
}

}  // namespace plat
