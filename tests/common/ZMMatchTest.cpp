#include "ZMMatch.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>

#include "ZMUTF8.h"

namespace {

// Runs a test body with the UTF-8 mode set as wanted and restores it afterwards.
class TModeGuard {
 public:
  explicit TModeGuard(bool on) : FOld(SetUTF8Mode(on)) {}
  ~TModeGuard() { SetUTF8Mode(FOld); }

 private:
  bool FOld;
};

bool M(const std::string& patterns, const std::string& name) { return FileNameMatch(patterns, name); }

// The patterns match each of the names and none of the others.
void ExpectMatches(const std::string& patterns, std::initializer_list<std::string> names,
                   std::initializer_list<std::string> others = {}) {
  for (const std::string& n : names) EXPECT_TRUE(M(patterns, n)) << "'" << patterns << "' and '" << n << "'";
  for (const std::string& n : others)
    EXPECT_FALSE(M(patterns, n)) << "'" << patterns << "' and '" << n << "'";
}

TEST(ZMMatchSpecs, SeveralSpecsSeparatedByBars) {
  ExpectMatches("*.txt|*.doc", {"a.doc", "a.txt"}, {"a.pdf"});
  ExpectMatches("||a.pdf||b.pdf|", {"b.pdf"});
  ExpectMatches("x.pdf\ty.pdf", {"y.pdf"});  // a control character separates too
  ExpectMatches("x.pdf\r\ny.pdf", {"y.pdf"});
}

TEST(ZMMatchSpecs, BlanksInsideBelongToTheSpec) {
  ExpectMatches("my file.txt", {"MY FILE.TXT"}, {"my", "file.txt"});
  // Blanks before "|" or at the end are dropped, leading ones skipped.
  ExpectMatches("  *.doc   |  a.txt   ", {"a.txt"});
  ExpectMatches("a.txt   |", {"a.txt"});
  ExpectMatches("a.txt  \t", {"a.txt"});
  // Blanks followed by something else stay in the pattern.
  ExpectMatches("a.txt x", {"a.txt x"}, {"a.txt"});
}

TEST(ZMMatchSpecs, StarSpecsMatchEverything) {
  for (const char* name : {"README", "a.b.c", "dir/sub/file.c", "dir\\file", ".profile", "x."}) {
    EXPECT_TRUE(M("*.*", name)) << name;
    EXPECT_TRUE(M("*", name)) << name;
    EXPECT_TRUE(M("**", name)) << name;
  }
}

TEST(ZMMatchSpecs, TrailingDotSelectsNamesWithoutExtension) {
  ExpectMatches("*.", {"README", "dir.d/README"}, {"a.txt"});  // a folder's dot is no extension
  ExpectMatches("read*.", {"readme"}, {"readme.txt"});
  ExpectMatches("abc.", {"abc"}, {"abc.d"});
}

TEST(ZMMatchSpecs, StarsRunAcrossSeparatorsQuestionMarksDoNot) {
  ExpectMatches("a*z.txt", {"a/b/c/z.txt", "a\\b/c\\z.txt"});
  ExpectMatches("dir/*", {"dir/sub/f.txt"});
  ExpectMatches("dir\\*.txt", {"dir/sub/a.txt"}, {"dir/a.doc"});
  ExpectMatches("a*b.txt", {"ab.txt"});  // a star may match nothing
  ExpectMatches("a?c.txt", {}, {"a/c.txt"});
  ExpectMatches("a?c*", {}, {"a/cx"});
  ExpectMatches("*.t?t", {}, {"a.t/t"});
  // ... except as the first character of a plain compare.
  ExpectMatches("?bc", {"/bc"});
}

TEST(ZMMatchSpecs, ExtensionsWithAndWithoutStars) {
  ExpectMatches("*.t?t", {"a.txt"}, {"a.tx"});
  ExpectMatches("*.tx*", {"a.txt", "a.tx"}, {"a.t"});
  ExpectMatches("*.txt", {}, {"txt"});
  ExpectMatches("a*.txt", {"a.b.txt"});
  ExpectMatches("*.profile", {}, {".profile"});  // a leading dot starts no extension
  ExpectMatches(".*", {".profile"}, {"a.txt"});
}

TEST(ZMMatchSpecs, PlainCompareLooksAtFirstAndTrailingCharacters) {
  ExpectMatches("A?C", {"ABC", "ABC.XYZC"}, {"ABC.TXT", "ABCD"});  // ABCD: name part length differs
  ExpectMatches("abc", {}, {"abd"});
  ExpectMatches("x.txt", {"X.TXT"}, {"y.txt"});
}

TEST(ZMMatchSpecs, CaseNeverMatters) {
  ExpectMatches("*.TXT", {"a.txt"});
  ExpectMatches("readme", {"ReadMe"});
  TModeGuard utf8(true);
  ExpectMatches("ŁÓDŹ*", {"łódź.txt"}, {"lodz.txt"});
  ExpectMatches("*.żółw", {"A.ŻÓŁW"});
}

TEST(ZMMatchSpecs, EmptyAndBlankInputs) {
  ExpectMatches("", {}, {"", "a"});
  ExpectMatches("*", {"  a"}, {"", "   "});  // leading blanks of the name are skipped
  ExpectMatches("  |  ", {}, {"a"});
  ExpectMatches("a.txt", {" \ta.txt"});
}

// The wildcard compare exactly as it is defined step by step: front, back, and a
// try of every split after a run of stars.
bool RefWild(const std::u16string& s, size_t sb, size_t se, const std::u16string& n, size_t nb, size_t ne) {
  const auto unit = [](char16_t a, char16_t b) { return a == b || (a == u'?' && b != u'\\'); };
  if (se - sb == 1 && s[sb] == u'*') return true;
  if (nb == ne) return sb == se;
  while (sb < se && nb < ne) {
    if (s[sb] == u'*') break;
    if (!unit(s[sb], n[nb])) return false;
    ++sb;
    ++nb;
  }
  if (sb == se && nb == ne) return true;
  while (nb < ne && sb < se) {
    if (s[se - 1] == u'*') break;
    if (!unit(s[se - 1], n[ne - 1])) return false;
    --se;
    --ne;
  }
  if (sb == se) return nb == ne;
  if (nb < ne && s[sb] == u'*') {
    while (sb + 1 < se && s[sb + 1] == u'*') ++sb;
    if (sb + 1 == se) return true;
    for (size_t k = nb; k < ne; ++k)
      if (RefWild(s, sb + 1, se, n, k, ne)) return true;
    return false;
  }
  while (sb < se && s[sb] == u'*') ++sb;
  return sb == se;
}

TEST(ZMMatchWild, AgreesWithTheStepwiseDefinition) {
  std::mt19937 rng(2026);
  const char16_t specChars[] = u"AB\\*?";
  const char16_t nameChars[] = u"AB\\?*";
  int matches = 0;
  for (int round = 0; round < 300000; ++round) {
    std::u16string s(rng() % 8, u' '), n(rng() % 9, u' ');
    for (auto& c : s) c = specChars[rng() % 5];
    for (auto& c : n) c = nameChars[rng() % (round % 2 ? 3 : 5)];
    const bool want = RefWild(s, 0, s.size(), n, 0, n.size());
    matches += want;
    ASSERT_EQ(zmmatch::WildCompare(s.data(), s.size(), n.data(), n.size()), want)
        << "pattern '" << std::string(s.begin(), s.end()) << "' name '" << std::string(n.begin(), n.end())
        << "'";
  }
  EXPECT_GT(matches, 10000);  // both outcomes well represented
}

TEST(ZMMatchWild, HostilePatternsFinish) {
  const std::u16string name(20000, u'A');
  const std::u16string pattern = u"*A*A*A*A*A*A*A*A*A*A*A*B";
  EXPECT_FALSE(zmmatch::WildCompare(pattern.data(), pattern.size(), name.data(), name.size()));
  const std::string list = "*a*a*a*a*a*a*a*a*a*a*b.x*x*x*x*x*y";
  EXPECT_FALSE(M(list, std::string(5000, 'a') + "." + std::string(5000, 'x')));
  EXPECT_TRUE(M("*a*a*a*a*a*a*a*a*a*a*b", std::string(5000, 'a') + "b"));
}

TEST(ZMMatchCompare, CompareNames) {
  EXPECT_EQ(CompareNames("abc", "ABC"), 0);
  EXPECT_EQ(CompareNames("a/b\\c", "A\\B/C"), 0);
  EXPECT_EQ(CompareNames("", ""), 0);
  EXPECT_LT(CompareNames("ab", "abc"), 0);
  EXPECT_GT(CompareNames("abc", "ab"), 0);
  EXPECT_LT(CompareNames("", "a"), 0);
  EXPECT_GT(CompareNames("abd", "abc"), 0);
  EXPECT_LT(CompareNames("abc", "abd"), 0);
  // An embedded zero does not make the longer name equal to the shorter one.
  EXPECT_GT(CompareNames(std::string("ab\0", 3), "ab"), 0);
  EXPECT_LT(CompareNames("ab", std::string("ab\0", 3)), 0);
  TModeGuard utf8(true);
  EXPECT_EQ(CompareNames("zażółć/gęślą", "ZAŻÓŁĆ\\GĘŚLĄ"), 0);
}

TEST(ZMMatchHash, KnownValues) {
  EXPECT_EQ(NameHash(""), 0u);
  EXPECT_EQ(NameHash("a"), 0x61u);
  EXPECT_EQ(NameHash("abc"), 0x6783u);
  EXPECT_EQ(NameHash("ROB216.DBF"), 0x054E5B36u);
  EXPECT_EQ(NameHash("some/long/path/name.txt"), 0x08CEC454u);
  std::string high;
  for (int i = 0; i < 5; ++i) high += "\xC5\x81\xFF\x80";
  EXPECT_EQ(NameHash(high), 0x0EC15220u);
}

TEST(ZMMatchHash, UpperFoldsOnlyAsciiLetters) {
  EXPECT_EQ(NameHashUpper(""), 0u);
  EXPECT_EQ(NameHashUpper("rob216.dbf"), NameHash("ROB216.DBF"));
  EXPECT_EQ(NameHashUpper("Some/Long/path"), NameHash("SOME/LONG/PATH"));
  EXPECT_EQ(NameHashUpper("ł{z}"), NameHash("ł{Z}"));
  EXPECT_NE(NameHashUpper("ł"), NameHash("Ł"));
}

}  // namespace
