#include <gtest/gtest.h>

#include <string>

#include "PlatCodePage.h"
#include "PlatError.h"

using namespace plat;

namespace {

std::u16string ToWide(unsigned cp, const std::string& s, uint32_t flags = 0) {
  int n = MultiByteToWide(cp, flags, s.data(), int(s.size()), nullptr, 0);
  if (n <= 0) return u"<fail>";
  std::u16string out(size_t(n), u'\0');
  EXPECT_EQ(n, MultiByteToWide(cp, flags, s.data(), int(s.size()), out.data(), n));
  return out;
}

std::string ToNarrow(unsigned cp, const std::u16string& s, uint32_t flags = 0, const char* def = nullptr,
                     bool* used = nullptr) {
  int n = WideToMultiByte(cp, flags, s.data(), int(s.size()), nullptr, 0, def, used);
  if (n <= 0) return "<fail>";
  std::string out(size_t(n), '\0');
  EXPECT_EQ(n, WideToMultiByte(cp, flags, s.data(), int(s.size()), out.data(), n, def, used));
  return out;
}

}  // namespace

TEST(PlatCodePage, KnownCharactersOfTheSingleBytePages) {
  EXPECT_EQ(u"\u0105", ToWide(852, "\xA5"));  // ą
  EXPECT_EQ(u"\u0142", ToWide(852, "\x88"));  // ł
  EXPECT_EQ(u"\u0142", ToWide(1250, "\xB3"));
  EXPECT_EQ(u"\u0104", ToWide(1250, "\xA5"));
  EXPECT_EQ(u"\u20AC", ToWide(1252, "\x80"));
  EXPECT_EQ(u"\u0416", ToWide(1251, "\xC6"));  // Ж
  EXPECT_EQ(u"\u0416", ToWide(866, "\x86"));
  EXPECT_EQ(u"\u00E9", ToWide(437, "\x82"));
  EXPECT_EQ(u"\u00D8", ToWide(850, "\x9D"));
  // Bytes a page leaves undefined read as the control character of that number.
  EXPECT_EQ(u"\u0081", ToWide(1252, "\x81"));
}

TEST(PlatCodePage, EverySingleBytePageRoundTripsAllBytes) {
  for (unsigned cp : {437u, 850u, 852u, 866u, 1250u, 1251u, 1252u}) {
    std::string all;
    for (int b = 1; b < 256; ++b) all.push_back(char(b));
    std::u16string w = ToWide(cp, all, kMbErrInvalidChars);
    ASSERT_EQ(255u, w.size()) << cp;
    bool used = true;
    EXPECT_EQ(all, ToNarrow(cp, w, kWcNoBestFitChars, nullptr, &used)) << cp;
    EXPECT_FALSE(used) << cp;
  }
}

TEST(PlatCodePage, UnmappableCharactersUseTheDefaultOrABestFit) {
  bool used = false;
  EXPECT_EQ(
      "a\x1B"
      "b",
      ToNarrow(1252, u"a\u0142b", kWcNoBestFitChars, "\x1B", &used));
  EXPECT_TRUE(used);
  // Without the no-best-fit flag an accented letter falls back to its base letter.
  // (l with stroke has no base-letter form.)
  EXPECT_EQ("z\xF3?c", ToNarrow(1252, u"\u017C\u00F3\u0142\u0107"));
  EXPECT_EQ("c", ToNarrow(1252, u"\u0107", 0, nullptr, &used));
  EXPECT_FALSE(used);
  EXPECT_EQ("?", ToNarrow(1252, u"\u0416", 0, nullptr, &used));
  EXPECT_TRUE(used);
  // A surrogate pair a single-byte page lacks gives one default per unit.
  EXPECT_EQ("??", ToNarrow(852, u"\U0001F600", kWcNoBestFitChars));
}

TEST(PlatCodePage, Utf8StrictAndLenientDecoding) {
  EXPECT_EQ(u"za\u017C\u00F3\u0142\u0107", ToWide(kCpUtf8, "za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87"));
  EXPECT_EQ(u"\U0001F600", ToWide(kCpUtf8, "\xF0\x9F\x98\x80"));
  for (const char* bad : {"\xC5", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "a\xFF"
                          "b",
                          "\xE2\x82"}) {
    SetLastError(0);
    EXPECT_EQ(u"<fail>", ToWide(kCpUtf8, bad, kMbErrInvalidChars)) << bad;
    EXPECT_EQ(kErrNoUnicodeTranslation, GetLastError());
  }
  EXPECT_EQ(u"a\uFFFDb", ToWide(kCpUtf8,
                                "a\xFF"
                                "b"));
}

TEST(PlatCodePage, Utf8EncodingOfSurrogates) {
  EXPECT_EQ("\xF0\x9F\x98\x80", ToNarrow(kCpUtf8, u"\U0001F600"));
  std::u16string lone = u"a";
  lone.push_back(char16_t(0xD800));
  EXPECT_EQ("a\xEF\xBF\xBD", ToNarrow(kCpUtf8, lone));
  EXPECT_EQ("<fail>", ToNarrow(kCpUtf8, lone, kWcErrInvalidChars));
  bool used = false;
  EXPECT_EQ("a\x1B", ToNarrow(kCpUtf8, lone, 0, "\x1B", &used));
  EXPECT_TRUE(used);
}

TEST(PlatCodePage, WindowsShapedCallConventions) {
  // -1 converts the terminator too.
  char16_t buf[8];
  EXPECT_EQ(3, MultiByteToWide(1250, 0, "ab", -1, buf, 8));
  EXPECT_EQ(u'\0', buf[2]);
  // Too small a buffer and bad arguments fail with their errors.
  EXPECT_EQ(0, MultiByteToWide(1250, 0, "abcd", 4, buf, 2));
  EXPECT_EQ(kErrInsufficientBuffer, GetLastError());
  EXPECT_EQ(0, MultiByteToWide(1250, 0, nullptr, 3, buf, 8));
  EXPECT_EQ(kErrInvalidParameter, GetLastError());
  EXPECT_EQ(0, MultiByteToWide(1250, 0, "a", 0, buf, 8));
  char out[4];
  EXPECT_EQ(0, WideToMultiByte(1250, 0, u"abc", -2, out, 4, nullptr, nullptr));
  EXPECT_EQ(kErrInvalidParameter, GetLastError());
}

TEST(PlatCodePage, OtherCodePagesThroughTheSystemConverter) {
  if (!IsValidCodePage(28592)) GTEST_SKIP() << "no ISO-8859-2 converter";
  EXPECT_EQ(u"\u0105", ToWide(28592, "\xB1"));
  EXPECT_EQ("\xB1", ToNarrow(28592, u"\u0105", kWcNoBestFitChars));
  bool used = false;
  EXPECT_EQ("\x1B", ToNarrow(28592, u"\u0416", kWcNoBestFitChars, "\x1B", &used));
  EXPECT_TRUE(used);
  EXPECT_FALSE(IsValidCodePage(4242));
  EXPECT_EQ(0, MultiByteToWide(4242, 0, "a", 1, nullptr, 0));
}

TEST(PlatCodePage, DoubleByteCharacterLengths) {
  if (!IsValidCodePage(932)) GTEST_SKIP() << "no CP932 converter";
  const char sjis[] =
      "\x82\xA0"
      "a";  // HIRAGANA A, then 'a'
  EXPECT_EQ(2, CharLength(932, sjis, 3));
  EXPECT_EQ(1, CharLength(932, sjis + 2, 1));
  EXPECT_EQ(u"\u3042a", ToWide(932, std::string(sjis, 3)));
  EXPECT_EQ(3, CharLength(kCpUtf8, "\xE2\x82\xAC", 3));
  EXPECT_EQ(1, CharLength(kCpUtf8, "\xE2\x82", 2));  // cut short
  EXPECT_EQ(1, CharLength(1250, "\xB3\xB3", 2));
}

TEST(PlatCodePage, AnsiAndOemPagesAndTheirOverrides) {
  unsigned oldAnsi = SetAnsiCodePageOverride(0);
  unsigned oldOem = SetOemCodePageOverride(0);
  EXPECT_EQ(kCpUtf8, AnsiCodePage());
  EXPECT_EQ(852u, OemCodePageForLocale("pl_PL.UTF-8"));
  EXPECT_EQ(866u, OemCodePageForLocale("ru_RU"));
  EXPECT_EQ(850u, OemCodePageForLocale("de_DE@euro"));
  EXPECT_EQ(437u, OemCodePageForLocale("C.UTF-8"));
  EXPECT_EQ(437u, OemCodePageForLocale(""));
  SetAnsiCodePageOverride(1250);
  SetOemCodePageOverride(852);
  EXPECT_EQ(1250u, AnsiCodePage());
  EXPECT_EQ(u"\u0142", ToWide(kCpAcp, "\xB3"));
  EXPECT_EQ(u"\u0142", ToWide(kCpOemCp, "\x88"));
  EXPECT_TRUE(IsSingleByteCodePage(kCpAcp));
  SetAnsiCodePageOverride(oldAnsi);
  SetOemCodePageOverride(oldOem);
}

TEST(PlatCodePage, UpperCasingCoversTheEuropeanScripts) {
  std::u16string s = u"abc\u00E9\u00FF\u0105\u0142\u017C\u01C6\u03B1\u03C9\u0436\u044F\u0451\u00DF1-";
  UpperCaseWide(s);
  EXPECT_EQ(u"ABC\u00C9\u0178\u0104\u0141\u017B\u01C4\u0391\u03A9\u0416\u042F\u0401\u00DF1-", s);
  EXPECT_EQ(u'\uFF21', UpperChar(u'\uFF41'));  // fullwidth letters
  EXPECT_EQ(char16_t(0xD801), UpperChar(char16_t(0xD801)));
}

TEST(PlatError, TextsAndTheExceptionCarryTheCode) {
  EXPECT_EQ("The system cannot find the file specified", SysErrorMessage(kErrFileNotFound));
  SetLastError(kErrAccessDenied);
  try {
    RaiseLastError();
    FAIL() << "no exception";
  } catch (const EPlatError& e) {
    EXPECT_EQ(kErrAccessDenied, e.ErrorCode());
    EXPECT_NE(std::string(e.what()).find("Access is denied"), std::string::npos);
  }
}
