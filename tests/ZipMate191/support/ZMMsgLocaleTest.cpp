// The user's locale as a language identifier, used when the message language "*" is
// chosen, and locale information by identifier.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "PlatLocale.h"

namespace {

class TEnv {
 public:
  TEnv() {
    for (int i = 0; i < 3; ++i)
      if (const char* v = std::getenv(kVars[i])) FOld[i] = v;
  }
  ~TEnv() {
    for (int i = 0; i < 3; ++i) {
      if (FOld[i])
        setenv(kVars[i], FOld[i]->c_str(), 1);
      else
        unsetenv(kVars[i]);
    }
  }
  static void Set(const char* all, const char* messages, const char* lang) {
    const char* values[3] = {all, messages, lang};
    for (int i = 0; i < 3; ++i) {
      if (values[i])
        setenv(kVars[i], values[i], 1);
      else
        unsetenv(kVars[i]);
    }
  }

 private:
  static constexpr const char* kVars[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::optional<std::string> FOld[3];
};

TEST(ZMMsgLocaleTest, LocaleNamesMapToLanguageIdentifiers) {
  EXPECT_EQ(plat::LangIdFromLocaleName("pl_PL.UTF-8"), 0x0415);
  EXPECT_EQ(plat::LangIdFromLocaleName("pl"), 0x0415);
  EXPECT_EQ(plat::LangIdFromLocaleName("de_AT.ISO-8859-1"), 0x0C07);
  EXPECT_EQ(plat::LangIdFromLocaleName("de_XX"), 0x0407);  // unknown territory: language
  EXPECT_EQ(plat::LangIdFromLocaleName("pt_BR.UTF-8"), 0x0416);
  EXPECT_EQ(plat::LangIdFromLocaleName("zh_TW.UTF-8"), 0x0404);
  EXPECT_EQ(plat::LangIdFromLocaleName("es_ES.UTF-8"), 0x0C0A);
  EXPECT_EQ(plat::LangIdFromLocaleName("es_MX"), 0x080A);
  EXPECT_EQ(plat::LangIdFromLocaleName("sr_RS"), 0x0C1A);
  EXPECT_EQ(plat::LangIdFromLocaleName("sr_RS@latin"), 0x081A);
  EXPECT_EQ(plat::LangIdFromLocaleName("sr@latin"), 0x081A);
  EXPECT_EQ(plat::LangIdFromLocaleName("nb_NO.UTF-8"), 0x0414);
  EXPECT_EQ(plat::LangIdFromLocaleName("C"), 0x0409);
  EXPECT_EQ(plat::LangIdFromLocaleName("POSIX"), 0x0409);
  EXPECT_EQ(plat::LangIdFromLocaleName("C.UTF-8"), 0x0409);
  EXPECT_EQ(plat::LangIdFromLocaleName("xx_YY"), 0);
  EXPECT_EQ(plat::LangIdFromLocaleName(""), 0);
  EXPECT_EQ(plat::LangIdFromLocaleName("_PL"), 0);
}

TEST(ZMMsgLocaleTest, UserLocaleFollowsPosixPrecedence) {
  TEnv keep;
  TEnv::Set("pl_PL.UTF-8", "de_DE.UTF-8", "fr_FR.UTF-8");
  EXPECT_EQ(plat::UserDefaultLangId(), 0x0415);
  TEnv::Set("", "de_DE.UTF-8", "fr_FR.UTF-8");  // empty values do not count
  EXPECT_EQ(plat::UserDefaultLangId(), 0x0407);
  TEnv::Set(nullptr, nullptr, "fr_FR.UTF-8");
  EXPECT_EQ(plat::UserDefaultLangId(), 0x040C);
  TEnv::Set(nullptr, nullptr, "tlh_QO");  // unknown language
  EXPECT_EQ(plat::UserDefaultLangId(), 0x0409);
  TEnv::Set(nullptr, nullptr, nullptr);
  EXPECT_EQ(plat::UserDefaultLangId(), 0x0409);
}

TEST(ZMMsgLocaleTest, LocaleInformationByIdentifier) {
  EXPECT_EQ(plat::LocaleInfo(0x0415, plat::kLocaleSEngLanguage), u"Polish");
  EXPECT_EQ(plat::LocaleInfo(0x0415, plat::kLocaleSNativeLangName), u"polski");
  EXPECT_EQ(plat::LocaleInfo(0x0415, plat::kLocaleILanguage), u"0415");
  EXPECT_EQ(plat::LocaleInfo(0x0415, plat::kLocaleIDefaultAnsiCodePage), u"1250");
  EXPECT_EQ(plat::LocaleInfo(0x0415, plat::kLocaleIDefaultCodePage), u"852");
  EXPECT_EQ(plat::LocaleInfo(0x0419, plat::kLocaleSNativeLangName), u"русский");
  EXPECT_EQ(plat::LocaleInfo(0x0C0A, plat::kLocaleSIso3166CtryName), u"ES");
  EXPECT_EQ(plat::LocaleInfo(0x0407, plat::kLocaleSLanguage), u"German (Germany)");
  // An unknown sub-language falls back to the primary language's first locale.
  EXPECT_EQ(plat::LocaleInfo(0x7C15, plat::kLocaleSEngLanguage), u"Polish");
  EXPECT_EQ(plat::LocaleInfo(0x007F, plat::kLocaleSEngLanguage), u"");
  EXPECT_EQ(plat::LocaleInfo(0x0415, 0x7777), u"");
  TEnv keep;
  TEnv::Set("ru_RU.UTF-8", nullptr, nullptr);
  EXPECT_EQ(plat::LocaleInfo(0, plat::kLocaleSEngLanguage), u"Russian");
  EXPECT_EQ(plat::LocaleInfo(0x0400, plat::kLocaleSIso639LangName), u"ru");
}

}  // namespace
