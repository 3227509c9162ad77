#include <gtest/gtest.h>

#include <string>

#include "PlatCodePage.h"
#include "PlatError.h"
#include "ZMUTF8.h"

namespace {

// Pins the ANSI and OEM code pages (and the UTF-8 mode) for one test.
class ZMUTF8 : public ::testing::Test {
 protected:
  void SetUp() override {
    FOldAnsi = plat::SetAnsiCodePageOverride(0);
    FOldOem = plat::SetOemCodePageOverride(852);
    FOldMode = SetUTF8Mode(false);
  }
  void TearDown() override {
    plat::SetAnsiCodePageOverride(FOldAnsi);
    plat::SetOemCodePageOverride(FOldOem);
    SetUTF8Mode(FOldMode);
  }
  unsigned FOldAnsi = 0, FOldOem = 0;
  bool FOldMode = false;
};

const char kZolwUtf8[] = "\xC5\xBC\xC3\xB3\xC5\x82w";  // "żółw"
const char16_t kZolw[] = u"\u017C\u00F3\u0142w";

}  // namespace

TEST_F(ZMUTF8, ModeIsHonouredAndReturnsThePreviousValue) {
  EXPECT_FALSE(UTF8Mode());
  EXPECT_FALSE(SetUTF8Mode(true));
  EXPECT_TRUE(UTF8Mode());
  EXPECT_TRUE(SetUTF8Mode(false));
  EXPECT_FALSE(UTF8Mode());
}

TEST_F(ZMUTF8, WideFromUtf8LengthsAndTerminators) {
  EXPECT_EQ(kZolw, WideFromUtf8(kZolwUtf8, -1));
  EXPECT_EQ(u"\u017C\u00F3", WideFromUtf8(kZolwUtf8, 4));
  EXPECT_EQ(u"", WideFromUtf8(nullptr, 5));
  EXPECT_EQ(u"", WideFromUtf8(kZolwUtf8, 0));
  EXPECT_EQ(u"", WideFromUtf8("", -1));
  // Counted strings keep embedded zeros; the length is clamped to the string.
  EXPECT_EQ(std::u16string(u"a\0b", 3), WideFromUtf8String(std::string("a\0b", 3)));
  EXPECT_EQ(u"a", WideFromUtf8String("ab", 1));
  EXPECT_EQ(u"ab", WideFromUtf8String("ab", 99));
  EXPECT_EQ(u"\U0001F600", WideFromUtf8String("\xF0\x9F\x98\x80"));
}

TEST_F(ZMUTF8, InvalidUtf8IsReadInTheAnsiCodePage) {
  plat::SetAnsiCodePageOverride(1252);
  EXPECT_EQ(u"caf\u00E9", WideFromUtf8String("caf\xE9"));
  EXPECT_EQ(u"\u00C5\u201A", WideFromUtf8String("\xC5\x82", 1) + WideFromUtf8String("\x82"));
  EXPECT_EQ(u"\u0142", WideFromUtf8String("\xC5\x82"));  // valid stays UTF-8
  // With UTF-8 as the ANSI code page invalid input has no reading at all.
  plat::SetAnsiCodePageOverride(0);
  EXPECT_EQ(u"", WideFromUtf8String("caf\xE9"));
}

TEST_F(ZMUTF8, ModeStringsFollowTheMode) {
  plat::SetAnsiCodePageOverride(1250);
  EXPECT_EQ(u"\u0142", WideFromModeString("\xB3"));
  EXPECT_EQ("\xB3", ModeStringFromWide(u"\u0142"));
  SetUTF8Mode(true);
  EXPECT_EQ(u"\u0142", WideFromModeString("\xC5\x82"));
  EXPECT_EQ("\xC5\x82", ModeStringFromWide(u"\u0142"));
}

TEST_F(ZMUTF8, Utf8FromWideRaisesOnlyWhenItCannotSize) {
  EXPECT_EQ(kZolwUtf8, Utf8FromWide(kZolw, -1));
  EXPECT_EQ(kZolwUtf8, Utf8FromWide(kZolw, -7));
  EXPECT_EQ("\xC5\xBC", Utf8FromWide(kZolw, 1));
  EXPECT_EQ("", Utf8FromWide(kZolw, 0));
  EXPECT_EQ("", Utf8FromWideString(u""));
  EXPECT_THROW(Utf8FromWide(nullptr, 3), plat::EPlatError);
  try {
    Utf8FromWide(nullptr, -1);
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("parameter is incorrect"), std::string::npos);
  }
  // An unpaired surrogate converts to the replacement character.
  std::u16string lone = u"x";
  lone.push_back(char16_t(0xDC00));
  EXPECT_EQ("x\xEF\xBF\xBD", Utf8FromWideString(lone));
}

TEST_F(ZMUTF8, AnsiConversions) {
  plat::SetAnsiCodePageOverride(1250);
  EXPECT_EQ("\xBF\xF3\xB3w", AnsiFromUtf8(kZolwUtf8, -1));
  EXPECT_EQ(kZolwUtf8, Utf8FromAnsi("\xBF\xF3\xB3w"));
  EXPECT_EQ("", Utf8FromAnsi(""));
  EXPECT_EQ("\xBF\xF3\xB3w", AnsiFromWide(kZolw));
}

TEST_F(ZMUTF8, CodePageTextToWideAndUtf8) {
  EXPECT_EQ(u"\u0105\u0142", WideFromCodePage("\xA5\x88", 852));
  EXPECT_EQ(u"\u0105", WideFromCodePage("\xA5\x88", 852, 1));
  EXPECT_EQ(u"", WideFromCodePage("\xA5", 852, 0));
  EXPECT_EQ("\xC4\x85\xC5\x82", Utf8FromCodePage("\xA5\x88", 852));
  // A code page the system cannot convert falls back to ANSI.
  plat::SetAnsiCodePageOverride(1252);
  EXPECT_EQ(u"\u00E9", WideFromCodePage("\xE9", 4242));
  // Through a 1252 ANSI page the Polish letters it lacks are lost.
  EXPECT_EQ("a?", Utf8FromCodePage("\xA5\x88", 852));
}

TEST_F(ZMUTF8, SequenceLengthsAndCounts) {
  EXPECT_EQ(1, Utf8SequenceLength(0x41));
  EXPECT_EQ(-1, Utf8SequenceLength(0x80));
  EXPECT_EQ(-1, Utf8SequenceLength(0xBF));
  EXPECT_EQ(2, Utf8SequenceLength(0xC5));
  EXPECT_EQ(3, Utf8SequenceLength(0xE2));
  EXPECT_EQ(4, Utf8SequenceLength(0xF0));
  EXPECT_EQ(5, Utf8SequenceLength(0xF8));
  EXPECT_EQ(6, Utf8SequenceLength(0xFC));
  EXPECT_EQ(6, Utf8SequenceLength(0xFD));
  EXPECT_EQ(-1, Utf8SequenceLength(0xFE));
  EXPECT_EQ(-1, Utf8SequenceLength(0xFF));

  EXPECT_EQ(0, CountUtf8Sequences("plain text"));
  EXPECT_EQ(3, CountUtf8Sequences(kZolwUtf8));
  EXPECT_EQ(-1, CountUtf8Sequences("caf\xE9"));
  EXPECT_EQ(-1, CountUtf8Sequences("\xC5"));          // runs past the end
  EXPECT_EQ(-1, CountUtf8Sequences("\xC5\x82", 1));   // cut by the length
  EXPECT_EQ(-1, CountUtf8Sequences("\xE2\x82\xC0"));  // bad continuation
  EXPECT_EQ(1, CountUtf8Sequences("a\xC5\x82"
                                  "b\xFF",
                                  4));
  EXPECT_EQ(0, CountUtf8SequencesRaw(nullptr, 4));

  plat::SetAnsiCodePageOverride(1252);
  EXPECT_EQ(kZolwUtf8, EnsureUtf8(kZolwUtf8));
  EXPECT_EQ("caf\xC3\xA9", EnsureUtf8("caf\xE9"));
}

TEST_F(ZMUTF8, NarrowWithEscapesMarksWhatTheCodePageLacks) {
  EXPECT_EQ("", NarrowWithEscapes(u"", true));
  EXPECT_EQ("\xBE\xA2\x88w", NarrowWithEscapes(kZolw, true));  // all in 852
  plat::SetAnsiCodePageOverride(1252);
  EXPECT_EQ("#$017C\xF3#$0142w", NarrowWithEscapes(kZolw, false));
  // The last character unmappable: six characters at the end.
  EXPECT_EQ("ab#$0142", NarrowWithEscapes(u"ab\u0142", false));
  // No best fit: a letter with a plain form is escaped all the same.
  EXPECT_EQ("#$0107", NarrowWithEscapes(u"\u0107", false));
  // A pair outside the page escapes unit by unit.
  EXPECT_EQ("x#$D83D#$DE00y", NarrowWithEscapes(u"x\U0001F600y", false));
  EXPECT_EQ("#$0416", Utf8ToNarrowWithEscapes("\xD0\x96", true));
}

TEST_F(ZMUTF8, EscapesStayInStepAfterMultiByteCharacters) {
  // UTF-8 as the target: converted pairs are one character for two units.
  std::u16string s = u"\U0001F600";
  s.push_back(char16_t(0xD800));  // unpaired: not representable
  s += u"z";
  EXPECT_EQ("\xF0\x9F\x98\x80#$D800z", NarrowWithEscapes(s, false));
}

TEST_F(ZMUTF8, ToOemStringConvertsAndCutsAtZero) {
  plat::SetAnsiCodePageOverride(1250);
  EXPECT_EQ("\xBE\xA2\x88w", ToOemString("\xBF\xF3\xB3w"));
  EXPECT_EQ("ab", ToOemString(std::string("ab\0cd", 5)));
  EXPECT_EQ("", ToOemString(""));
  plat::SetAnsiCodePageOverride(0);  // UTF-8 ANSI: several bytes become one
  EXPECT_EQ("\xBE\xA2\x88w", ToOemString(kZolwUtf8));
}

TEST_F(ZMUTF8, UpperWideIsFullAndLocaleIndependent) {
  std::u16string s =
      u"za\u017C\u00F3\u0142\u0107 g\u0119\u015Bl\u0105 ja\u017A\u0144 \u0434\u043E\u043C \u03B1\u03B2";
  UpperWide(s);
  EXPECT_EQ(u"ZA\u017B\u00D3\u0141\u0106 G\u0118\u015AL\u0104 JA\u0179\u0143 \u0414\u041E\u041C \u0391\u0392",
            s);
  std::u16string empty;
  UpperWide(empty);
  EXPECT_TRUE(empty.empty());
}
