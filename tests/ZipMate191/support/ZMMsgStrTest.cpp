// Message texts and languages: English table, hook, language selection and damaged
// language blocks.
#include "ZMMsgStr.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "PlatCodePage.h"
#include "PlatLocale.h"
#include "ZMDefMsgs.h"

namespace {

// ---- helpers: message files, tables and blocks built independently of the tool ----

// Reads <number> "<text>" lines of a message file (escapes \r \n \t \" \\ \xHH).
std::map<int, std::string> ReadMessageFile(const std::string& code) {
  std::ifstream f(std::string(ZM_SOURCE_DIR) + "/assets/messages/" + code + ".txt");
  EXPECT_TRUE(f.good()) << code;
  std::map<int, std::string> out;
  std::string line;
  while (std::getline(f, line)) {
    if (line.empty() || line[0] < '0' || line[0] > '9') continue;
    const size_t q = line.find('"');
    const int n = std::stoi(line.substr(0, q));
    std::string t;
    for (size_t i = q + 1; i < line.size() && line[i] != '"'; ++i) {
      if (line[i] != '\\') {
        t += line[i];
        continue;
      }
      const char e = line[++i];
      if (e == 'r')
        t += '\r';
      else if (e == 'n')
        t += '\n';
      else if (e == 't')
        t += '\t';
      else if (e == 'x') {
        t += char(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else
        t += e;
    }
    out[n] = t;
  }
  return out;
}

void Put16(std::vector<uint8_t>& b, size_t at, unsigned v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

// A table with one range entry per message (simple, unlike the generator's runs).
TZMLangBlok MakeTable(const std::map<int, std::u16string>& texts, bool wide) {
  const size_t n = texts.size();
  const size_t offsetsAt = 8 + 6 * n + 2;
  TZMLangBlok t(offsetsAt + 2 * n, 0);
  Put16(t, 2, 0x5E1D);
  Put16(t, 4, 0x413C);
  Put16(t, 6, wide ? 1 : 0);
  size_t i = 0;
  for (const auto& [num, text] : texts) {
    Put16(t, 8 + 6 * i, unsigned(num));
    Put16(t, 8 + 6 * i + 2, unsigned(num));
    Put16(t, 8 + 6 * i + 4, unsigned(offsetsAt / 2 + i));
    Put16(t, offsetsAt + 2 * i, unsigned(wide ? t.size() / 2 : t.size()));
    for (char16_t c : text) {
      t.push_back(uint8_t(c));
      if (wide) t.push_back(uint8_t(c >> 8));
    }
    t.push_back(0);
    if (wide) t.push_back(0);
    ++i;
  }
  Put16(t, 8 + 6 * n, 0xFFFF);
  while (t.size() < 50) t.push_back(0);  // short tables hold no texts
  return t;
}

std::string Deflate(const TZMLangBlok& in) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, uLong(in.size())), '\0');
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

std::string MakeBlock(int id, const std::string& code, const TZMLangBlok& table, uint32_t crcXor = 0) {
  const std::string packed = Deflate(table);
  std::vector<uint8_t> h(12, 0);
  Put16(h, 0, unsigned(id));
  Put16(h, 2, unsigned(packed.size() + 4));
  for (size_t i = 0; i < code.size(); ++i) h[4 + i] = uint8_t(code[i]);
  const uint32_t crc = uint32_t(crc32(0, table.data(), uInt(table.size()))) ^ crcXor;
  Put16(h, 8, crc & 0xFFFF);
  Put16(h, 10, crc >> 16);
  return std::string(h.begin(), h.end()) + packed;
}

// Serves a fixed byte string as the language resource for the life of the object.
class TSourceScope {
 public:
  explicit TSourceScope(std::string bytes) : FBytes(std::move(bytes)) {
    FPrevious = SetLanguageSource([this]() -> std::unique_ptr<TStream> {
      ++Opened;
      auto s = std::make_unique<TMemoryStream>();
      s->LoadFromBytes(FBytes.data(), FBytes.size());
      return s;
    });
  }
  ~TSourceScope() { SetLanguageSource(std::move(FPrevious)); }
  TSourceScope(const TSourceScope&) = delete;
  TSourceScope& operator=(const TSourceScope&) = delete;
  int Opened = 0;

 private:
  std::string FBytes;
  TZMLangSource FPrevious;
};

class TEnvScope {
 public:
  TEnvScope(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value, 1);
  }
  ~TEnvScope() {
    if (FOld)
      setenv(FName, FOld->c_str(), 1);
    else
      unsetenv(FName);
  }

 private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Every test starts and ends in English without a hook.
class ZMMsgStrTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    SetTextHook(nullptr);
    SetLanguageSource(nullptr);
    SelectLanguageById(ZMEnglishLangId);
  }
};

// ---- the English table ----

TEST_F(ZMMsgStrTest, EnglishTableMatchesTheTextFileForEveryNumber) {
  const std::map<int, std::string> us = ReadMessageFile("US");
  ASSERT_EQ(us.size(), 204u);
  for (int n = 1; n <= 511; ++n) {
    auto it = us.find(n);
    const std::string want = it != us.end() ? it->second : "Resource missing for " + std::to_string(n);
    EXPECT_EQ(LoadMessage(n), want) << n;
  }
}

TEST_F(ZMMsgStrTest, EnglishTextsKeepTheirBlanksAndLineBreaks) {
  EXPECT_EQ(LoadMessage(1), "Unknown Error");
  EXPECT_EQ(LoadMessage(16), "Exception in Event ");
  EXPECT_EQ(LoadMessage(59), "'%s'\r\nwill overwrite\r\n '%s'\r\nRename to '%s'?");
  EXPECT_EQ(LoadMessage(64), "\r\nin drive: %s");
  EXPECT_EQ(LoadMessage(160),
            "UnKnown error in function ReadSpan(), WriteSpan(), ChangeFileDetails() or "
            "CopyZippedFiles()\r\n");
  EXPECT_EQ(LoadMessage(200), " Unknown error %d");
  EXPECT_EQ(LoadMessage(208), " [$%x] %s");
  EXPECT_EQ(LoadMessage(219), "Trace: ");
  EXPECT_EQ(LoadMessage(277), "ZipMate team");
  EXPECT_EQ(LoadMessage(279), "US: default");
}

TEST_F(ZMMsgStrTest, NumbersAreMaskedAndHolesReportedWithTheNumberAsPassed) {
  EXPECT_EQ(LoadMessage(0x0E1EB475), "Error: input file is not an .EXE file");
  EXPECT_EQ(LoadMessage(117 + 512), LoadMessage(117));
  EXPECT_EQ(LoadMessage(300), "Resource missing for 300");
  EXPECT_EQ(LoadMessage(23), "Resource missing for 23");
  EXPECT_EQ(LoadMessage(0), "Resource missing for 0");
  EXPECT_EQ(LoadMessage(512), "Resource missing for 512");
}

TEST_F(ZMMsgStrTest, BuiltInBlockIsEnglishAndWithinLimits) {
  const auto block = DefaultMessageBlock();
  ASSERT_GE(block.size(), 12u);
  TReadOnlyMemoryStream s(block.data(), block.size());
  TZMLangBlok table;
  EXPECT_EQ(DecompressLanguageBlock(s, table), ZMEnglishLangId);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + 4, 2), "US");
  EXPECT_LT(table.size(), ZMMaxLangTable);
  EXPECT_EQ(table[6] | (table[7] << 8), 0);  // 8-bit texts
  EXPECT_EQ(table[2] | (table[3] << 8) | (table[4] << 16) | (uint32_t(table[5]) << 24), 0x409E4CAAu);
}

// ---- the text hook ----

TEST_F(ZMMsgStrTest, HookReplacesTextsAndReceivesTheMaskedNumber) {
  std::vector<std::pair<int, std::string>> calls;
  SetTextHook([&](int ident, std::string& text) {
    calls.emplace_back(ident, text);
    if (ident == 117) text = "custom 117";
    if (ident == 300) text = "custom 300";
  });
  EXPECT_EQ(LoadMessage(0x0E1EB475), "custom 117");
  EXPECT_EQ(LoadMessage(300), "custom 300");
  EXPECT_EQ(LoadMessage(2), "User canceled operation");
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0], std::make_pair(117, std::string("Error: input file is not an .EXE file")));
  EXPECT_EQ(calls[1], std::make_pair(300, std::string()));
  EXPECT_TRUE(bool(GetTextHook()));
}

TEST_F(ZMMsgStrTest, HookThatEmptiesTheTextKeepsWhatWasFound) {
  SetTextHook([](int, std::string& text) { text.clear(); });
  EXPECT_EQ(LoadMessage(4), "User Abort");
  EXPECT_EQ(LoadMessage(300), "Resource missing for 300");
  SetTextHook(nullptr);
  EXPECT_FALSE(bool(GetTextHook()));
}

// ---- selection from the program's resource ----

TEST_F(ZMMsgStrTest, SelectsByCodeAndFallsBackToEnglishForMissingNumbers) {
  EXPECT_EQ(SelectLanguageByName("de"), "DE");
  EXPECT_EQ(CurrentLanguageId(), 0x0407);
  EXPECT_EQ(LoadMessage(279), "DE: German");
  EXPECT_NE(LoadMessage(1), "Unknown Error");

  EXPECT_EQ(SelectLanguageByName("DE"), "DE");
  EXPECT_EQ(SelectLanguageByName("fr"), "FR");
  EXPECT_EQ(LoadMessage(279), "FR: French");
}

TEST_F(ZMMsgStrTest, PartialCodesAndDigits) {
  EXPECT_EQ(SelectLanguageByName("esp"), "ES");  // no exact code: most agreeing places
  EXPECT_EQ(CurrentLanguageId(), 0x040A);
  // A digit is refused in the second place: nothing is selected, English is in effect.
  EXPECT_EQ(SelectLanguageByName("S1"), "");
  EXPECT_EQ(CurrentLanguageId(), ZMEnglishLangId);
  EXPECT_EQ(LoadMessage(279), "US: default");
  // ... but the block is found by its identifier.
  EXPECT_EQ(SelectLanguageById(0x0C0A), 0x0C0A);
  EXPECT_EQ(CurrentLanguageCode(), "S1");
  EXPECT_EQ(LoadMessage(279), "S1: Spannish");
  EXPECT_EQ(SelectLanguageByName("  sp-anything"), "SP");  // leading word only
  EXPECT_EQ(LoadMessage(279), "SP: Spanish");
}

TEST_F(ZMMsgStrTest, USAndNamesWithoutAWordChangeNothing) {
  ASSERT_EQ(SelectLanguageByName("pl"), "PL");
  EXPECT_EQ(SelectLanguageByName("US"), "PL");
  EXPECT_EQ(SelectLanguageByName("us"), "PL");
  EXPECT_EQ(SelectLanguageByName(""), "");
  EXPECT_EQ(SelectLanguageByName("7de"), "");  // a digit first gives no word
  EXPECT_EQ(SelectLanguageByName("x"), "");
  EXPECT_EQ(CurrentLanguageCode(), "PL");
  EXPECT_EQ(LoadMessage(279), "PL: Polish");
  EXPECT_EQ(SelectLanguageById(1033), 1033);
  EXPECT_EQ(CurrentLanguageCode(), "");
  EXPECT_EQ(LoadMessage(279), "US: default");
  EXPECT_EQ(SelectLanguageByName("US"), "US");
}

TEST_F(ZMMsgStrTest, SelectsByIdentifierAndPrimaryLanguage) {
  EXPECT_EQ(SelectLanguageById(0x0415), 0x0415);
  EXPECT_EQ(CurrentLanguageCode(), "PL");
  EXPECT_EQ(SelectLanguageById(0x040A), 0x040A);  // ES comes before SP
  EXPECT_EQ(CurrentLanguageCode(), "ES");
  EXPECT_EQ(SelectLanguageById(0x080A), 0x040A);  // same primary language, first block
  EXPECT_EQ(CurrentLanguageCode(), "ES");
  EXPECT_EQ(SelectLanguageById(0x0019), 0x0419);  // a primary language alone
  EXPECT_EQ(CurrentLanguageCode(), "RU");
  EXPECT_EQ(SelectLanguageById(0x0009), 1033);  // no English block in the resource
  EXPECT_EQ(CurrentLanguageCode(), "");
  EXPECT_EQ(SelectLanguageById(0x0415), 0x0415);
  EXPECT_EQ(SelectLanguageById(0x10000), 1033);  // out of range: English
  EXPECT_EQ(SelectLanguageById(-1), 1033);
  EXPECT_EQ(CurrentLanguageId(), 1033);
}

TEST_F(ZMMsgStrTest, StarUsesTheUsersLocale) {
  {
    TEnvScope all("LC_ALL", "pl_PL.UTF-8");
    EXPECT_EQ(SelectLanguageByName("*"), "PL");
    EXPECT_EQ(CurrentLanguageId(), 0x0415);
  }
  {
    TEnvScope all("LC_ALL", "en_US.UTF-8");
    EXPECT_EQ(SelectLanguageByName("*"), "US");
    EXPECT_EQ(CurrentLanguageId(), 1033);
  }
  {
    TEnvScope all("LC_ALL", "de_AT.UTF-8");  // no Austrian block: German by primary language
    EXPECT_EQ(SelectLanguageByName("*"), "DE");
  }
}

TEST_F(ZMMsgStrTest, EveryResourceBlockDecodesToItsOwnTable) {
  const auto us = ReadMessageFile("US");
  for (int i = 1; i <= 25; ++i) {
    const std::string code = LanguageInfo(i, -1);
    const std::string idText = LanguageInfo(i, 0);
    ASSERT_EQ(idText.size(), 5u);
    const int id = std::stoi(idText.substr(1), nullptr, 16);
    // S1 cannot be named (a digit in the second place); it is selected by identifier.
    if (code == "S1") {
      EXPECT_EQ(SelectLanguageById(id), id);
    } else {
      EXPECT_EQ(SelectLanguageByName(code), code);
    }
    EXPECT_EQ(CurrentLanguageCode(), code);
    EXPECT_EQ(CurrentLanguageId(), id);
    // Each translated text as written; every number the table lacks in English.
    const auto file = ReadMessageFile(code);
    for (const auto& [n, text] : file) {
      if (text.empty()) continue;
      EXPECT_EQ(LoadMessage(n), text) << code << " " << n;
    }
    for (const auto& [n, text] : us) {
      auto it = file.find(n);
      if (it == file.end() || it->second.empty()) {
        EXPECT_EQ(LoadMessage(n), text) << code << " " << n;
      }
    }
  }
}

TEST_F(ZMMsgStrTest, UTF16TextsFollowTheAnsiCodePage) {
  ASSERT_EQ(SelectLanguageByName("PL"), "PL");
  const std::string utf8 = LoadMessage(1);
  EXPECT_NE(utf8.find("\xC5\x82"), std::string::npos) << utf8;  // ł in UTF-8
  const unsigned old = plat::SetAnsiCodePageOverride(1250);
  const std::string cp1250 = LoadMessage(1);
  plat::SetAnsiCodePageOverride(old);
  EXPECT_NE(cp1250.find('\xB3'), std::string::npos);  // ł in code page 1250
  // One byte per character: the UTF-8 text without its continuation bytes.
  size_t chars = 0;
  for (char c : utf8) chars += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
  EXPECT_EQ(cp1250.size(), chars);
}

TEST_F(ZMMsgStrTest, LanguageInfoOfTheSelectionAndOfBlocks) {
  EXPECT_EQ(LanguageInfo(0, -1), "US: default");
  EXPECT_EQ(LanguageInfo(0, 0), "$0409");
  EXPECT_EQ(LanguageInfo(0, plat::kLocaleSEngLanguage), "English");
  EXPECT_EQ(LanguageInfo(1, -1), "BR");
  EXPECT_EQ(LanguageInfo(1, 0), "$0416");
  EXPECT_EQ(LanguageInfo(25, -1), "YU");
  EXPECT_EQ(LanguageInfo(26, -1), "><");
  EXPECT_EQ(LanguageInfo(26, 0), "><");
  EXPECT_EQ(LanguageInfo(18, plat::kLocaleSEngLanguage), "Polish");
  EXPECT_EQ(LanguageInfo(18, plat::kLocaleSIso639LangName), "pl");
  ASSERT_EQ(SelectLanguageByName("de"), "DE");
  EXPECT_EQ(LanguageInfo(0, -1), "DE");
  EXPECT_EQ(LanguageInfo(0, 0), "$0407");
}

// ---- damaged and synthetic resources ----

TEST_F(ZMMsgStrTest, TranslatedTableLackingANumberFallsBackToEnglish) {
  const TZMLangBlok table = MakeTable({{1, u"Fehler eins"}, {279, u"XX: Test"}}, true);
  TSourceScope src(MakeBlock(0x0407, "XX", table));
  ASSERT_EQ(SelectLanguageByName("XX"), "XX");
  EXPECT_EQ(LoadMessage(1), "Fehler eins");
  EXPECT_EQ(LoadMessage(279), "XX: Test");
  EXPECT_EQ(LoadMessage(2), "User canceled operation");
  EXPECT_EQ(LoadMessage(300), "Resource missing for 300");
}

TEST_F(ZMMsgStrTest, DamagedBlocksLeaveEnglishInEffect) {
  const TZMLangBlok good = MakeTable({{1, u"good one"}}, true);
  // A table just below the limit is accepted, one at the limit refused.
  TZMLangBlok largest = MakeTable({{1, std::u16string(9900, u'x')}}, true);
  largest.resize(ZMMaxLangTable - 1, 0);
  TZMLangBlok oversize = largest;
  oversize.push_back(0);
  std::string bytes = MakeBlock(0x0401, "AA", good, 0x1)  // CRC off by one bit
                      + MakeBlock(0x0402, "BB", oversize) + MakeBlock(0x0403, "CC", largest) +
                      MakeBlock(0x0404, "DD", good);
  std::string garbled = MakeBlock(0x0405, "EE", good);
  garbled[14] = char(garbled[14] ^ 0x55);  // damaged deflate data
  bytes += garbled;
  TSourceScope src(bytes);

  ASSERT_EQ(SelectLanguageByName("DD"), "DD");
  EXPECT_EQ(LoadMessage(1), "good one");
  for (const char* code : {"AA", "BB", "EE"}) {
    EXPECT_EQ(SelectLanguageByName(code), "") << code;
    EXPECT_EQ(CurrentLanguageId(), 1033) << code;
    EXPECT_EQ(LoadMessage(1), "Unknown Error") << code;
  }
  EXPECT_EQ(SelectLanguageById(0x0401), 1033);
  EXPECT_EQ(SelectLanguageById(0x0402), 1033);
  EXPECT_EQ(SelectLanguageByName("CC"), "CC");
  EXPECT_EQ(LoadMessage(1), std::string(9900, 'x'));
}

TEST_F(ZMMsgStrTest, TruncatedOrEmptyResourcesSelectNothing) {
  const std::string block = MakeBlock(0x0415, "PL", MakeTable({{1, u"jeden"}}, true));
  for (size_t cut : {size_t(0), size_t(5), size_t(8), size_t(12), block.size() - 1}) {
    TSourceScope src(block.substr(0, cut));
    EXPECT_EQ(SelectLanguageByName("PL"), "") << cut;
    EXPECT_EQ(SelectLanguageById(0x0415), 1033) << cut;
    EXPECT_EQ(LoadMessage(1), "Unknown Error");
  }
  // A header that claims less than the CRC, followed by a good block.
  std::string tiny(8, '\0');
  tiny[0] = 0x15;
  tiny[1] = 0x04;
  tiny[2] = 2;
  tiny[4] = 'P';
  tiny[5] = 'L';
  TSourceScope src(tiny + block);
  EXPECT_EQ(SelectLanguageByName("PL"), "");
  EXPECT_EQ(SelectLanguageByName("PX"), "");
  // No resource at all.
  SetLanguageSource([] { return std::unique_ptr<TStream>(); });
  EXPECT_EQ(SelectLanguageByName("DE"), "");
  EXPECT_EQ(LanguageInfo(1, -1), "><");
  EXPECT_EQ(LanguageInfo(3, 0), "><");
}

TEST_F(ZMMsgStrTest, TablesThatLieAboutTheirLayoutAreNotReadOutside) {
  TZMLangBlok t = MakeTable({{5, u"five"}, {9, u"nine"}}, false);
  // Offset word of 9 pointing past the end, range entry of 5 claiming a far word index.
  const size_t offsets = 8 + 6 * 2 + 2;
  Put16(t, offsets + 2, 0xFFF0);
  std::string text;
  EXPECT_FALSE(FindMessageInTable(t, 9, text));
  Put16(t, 8 + 4, 0x7000);
  EXPECT_FALSE(FindMessageInTable(t, 5, text));
  // No end mark: the walk stops at the end of the table.
  TZMLangBlok noEnd(60, 0);
  for (size_t i = 8; i + 1 < noEnd.size(); i += 2) Put16(noEnd, i, 1);
  EXPECT_FALSE(FindMessageInTable(noEnd, 300, text));
  // A text without its terminating zero ends at the end of the table.
  TZMLangBlok open = MakeTable({{7, u"s"}}, false);
  ASSERT_EQ(open.size(), 50u);
  Put16(open, 8 + 6 + 2, 45);
  for (size_t i = 0; i < 5; ++i) open[45 + i] = uint8_t("seven"[i]);
  EXPECT_TRUE(FindMessageInTable(open, 7, text));
  EXPECT_EQ(text, "seven");
  // Short tables hold nothing.
  TZMLangBlok shortTable = MakeTable({{7, u"s"}}, false);
  shortTable.resize(49);
  EXPECT_FALSE(FindMessageInTable(shortTable, 7, text));
}

TEST_F(ZMMsgStrTest, CodeMatchingCountsAgreeingPlaces) {
  const TZMLangBlok t = MakeTable({{1, u"t"}}, true);
  TSourceScope src(MakeBlock(0x0401, "CCA", t) + MakeBlock(0x0402, "CCAB", t) + MakeBlock(0x0403, "CD", t));
  EXPECT_EQ(SelectLanguageByName("ccab"), "CCAB");  // exact
  EXPECT_EQ(SelectLanguageByName("ccaz"), "CCA");   // three places each: the first
  EXPECT_EQ(SelectLanguageByName("cc"), "CCA");     // two places compared, first block
  EXPECT_EQ(SelectLanguageByName("CCA"), "CCA");
  EXPECT_EQ(SelectLanguageByName("cd9"), "CD");
  EXPECT_EQ(SelectLanguageByName("ce"), "");
  EXPECT_EQ(LanguageInfo(2, -1), "CCAB");
}

TEST_F(ZMMsgStrTest, LoadingFlagStopsNestedSelections) {
  const TZMLangBlok t = MakeTable({{1, u"outer"}}, true);
  const std::string bytes = MakeBlock(0x0401, "AB", t);
  bool sawLoading = false;
  int nested = 0;
  SetLanguageSource([&]() -> std::unique_ptr<TStream> {
    sawLoading = LanguageLoading();
    nested = SelectLanguageById(0x0415);  // refused while a selection runs
    auto s = std::make_unique<TMemoryStream>();
    s->LoadFromBytes(bytes.data(), bytes.size());
    return s;
  });
  EXPECT_EQ(SelectLanguageByName("AB"), "AB");
  SetLanguageSource(nullptr);
  EXPECT_TRUE(sawLoading);
  EXPECT_EQ(nested, 1033);
  EXPECT_FALSE(LanguageLoading());
  EXPECT_EQ(LoadMessage(1), "outer");
}

TEST_F(ZMMsgStrTest, EnglishIsDecodedAgainAfterRelease) {
  ASSERT_EQ(SelectLanguageByName("de"), "DE");
  ReleaseMessageTables();
  EXPECT_EQ(CurrentLanguageId(), 1033);
  EXPECT_EQ(LoadMessage(5), "Copying: %s");
}

}  // namespace
