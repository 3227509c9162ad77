// The message-table generator: tables it writes decode to the texts of the file, and
// bad message files (or tables that would be too large) fail the build.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ZMMsgStr.h"

namespace fs = std::filesystem;

namespace {

class ZMMsgTablesToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = fs::temp_directory_path() / ("zm_msgtables_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(FDir);
    fs::create_directories(FDir);
  }
  void TearDown() override { fs::remove_all(FDir); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path p = FDir / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  // Runs the tool; its messages go to a file so that failures can be checked.
  int Run(const std::string& args) {
    const std::string cmd = std::string("\"") + ZM_MSGTABLES_TOOL + "\" " + args + " 2>\"" +
                            (FDir / "stderr.txt").string() + "\"";
    const int rc = std::system(cmd.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  std::string Stderr() {
    std::ifstream f(FDir / "stderr.txt");
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  std::string Read(const std::string& name) {
    std::ifstream f(FDir / name, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) { return fs::exists(FDir / name); }
  // Builds one block and decodes it; returns its identifier (0 on failure).
  int BuildAndDecode(const std::string& file, TZMLangBlok& table) {
    if (Run("block \"" + Write("in.txt", file) + "\" \"" + (FDir / "out.bin").string() + "\"") != 0) return 0;
    const std::string b = Read("out.bin");
    TReadOnlyMemoryStream s(b.data(), b.size());
    return DecompressLanguageBlock(s, table);
  }

  fs::path FDir;
};

const char* kHead = "@code XY\n@id 0x0415\n@kind utf16\n";

TEST_F(ZMMsgTablesToolTest, BlockDecodesToTheTextsWithEscapes) {
  const std::string file = std::string("# comment\n") + kHead +
                           "\n"
                           "3 \"Zażółć gęślą jaźń\"\n"
                           "1 \" lead and trail \"\n"
                           "7 \"a\\r\\nb\\tc \\\"q\\\" \\\\ \\x41\\xE9\"\n"
                           "300 \"far away\"\n"
                           "8 \"\"\n"
                           "301 \"\xF0\x9F\x98\x80\"\n";  // outside the BMP: a surrogate pair
  TZMLangBlok t;
  ASSERT_EQ(BuildAndDecode(file, t), 0x0415) << Stderr();
  EXPECT_EQ(t[6] | (t[7] << 8), 1);  // UTF-16 texts
  EXPECT_EQ(t[2] | (t[3] << 8) | (t[4] << 16) | (uint32_t(t[5]) << 24), 0x413C5E1Du);
  std::string s;
  ASSERT_TRUE(FindMessageInTable(t, 1, s));
  EXPECT_EQ(s, " lead and trail ");
  ASSERT_TRUE(FindMessageInTable(t, 3, s));
  EXPECT_EQ(s, "Zażółć gęślą jaźń");
  ASSERT_TRUE(FindMessageInTable(t, 7, s));
  EXPECT_EQ(s, "a\r\nb\tc \"q\" \\ A\xC3\xA9");
  ASSERT_TRUE(FindMessageInTable(t, 300, s));
  EXPECT_EQ(s, "far away");
  ASSERT_TRUE(FindMessageInTable(t, 301, s));
  EXPECT_EQ(s, "\xF0\x9F\x98\x80");
  for (int hole : {2, 4, 5, 6, 8, 9, 299, 302, 511}) {
    EXPECT_FALSE(FindMessageInTable(t, hole, s)) << hole;
  }
}

TEST_F(ZMMsgTablesToolTest, AnsiBlocksKeepBytes) {
  TZMLangBlok t;
  ASSERT_EQ(BuildAndDecode("@code US\n@id 0x0409\n@kind ansi\n5 \"x\\xB3y\"\n6 \"plain\"\n", t), 0x0409)
      << Stderr();
  EXPECT_EQ(t[6] | (t[7] << 8), 0);
  EXPECT_EQ(t[2] | (t[3] << 8) | (t[4] << 16) | (uint32_t(t[5]) << 24), 0x409E4CAAu);
  std::string s;
  ASSERT_TRUE(FindMessageInTable(t, 5, s));
  EXPECT_EQ(s, "x\xB3y");
}

TEST_F(ZMMsgTablesToolTest, TableSizeLimitIsEnforced) {
  // One UTF-16 message of k characters makes a table of 20 + 2k bytes.
  TZMLangBlok t;
  ASSERT_EQ(BuildAndDecode(std::string(kHead) + "1 \"" + std::string(9989, 'x') + "\"\n", t), 0x0415)
      << Stderr();
  EXPECT_EQ(t.size(), 19998u);
  EXPECT_EQ(BuildAndDecode(std::string(kHead) + "1 \"" + std::string(9990, 'x') + "\"\n", t), 0);
  EXPECT_NE(Stderr().find("must stay below 20000"), std::string::npos) << Stderr();
}

TEST_F(ZMMsgTablesToolTest, BadFilesFailWithoutOutput) {
  const struct {
    const char* Text;
    const char* Why;
  } cases[] = {
      {"1 \"x\"\n", "needs @code"},
      {"@code XY\n@id 0x0415\n1 \"x\"\n", "needs @code"},
      {"@code toolong\n@id 1\n@kind utf16\n1 \"x\"\n", "@code"},
      {"@code XY\n@id 0x10000\n@kind utf16\n1 \"x\"\n", "@id"},
      {"@code XY\n@id 0x0415\n@kind latin\n1 \"x\"\n", "@kind"},
      {"@code XY\n@id 0x0415\n@kind utf16\n", "no texts"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"x\"\n1 \"y\"\n", "given twice"},
      {"@code XY\n@id 0x0415\n@kind utf16\n512 \"x\"\n", "1..511"},
      {"@code XY\n@id 0x0415\n@kind utf16\n0 \"x\"\n", "1..511"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"x\n", "closing quote"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"x\" y\n", "after the closing quote"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"\\q\"\n", "unknown escape"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"\\x4\"\n", "two hex digits"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"\\x00\"\n", "zero character"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1 \"\xC3\"\n", "UTF-8"},
      {"@code XY\n@id 0x0415\n@kind ansi\n1 \"\xC3\xA9\"\n", "ASCII"},
      {"@code XY\n@id 0x0415\n@kind utf16\n1x \"a\"\n", "expected"},
  };
  for (const auto& c : cases) {
    const std::string in = Write("bad.txt", c.Text);
    EXPECT_EQ(Run("block \"" + in + "\" \"" + (FDir / "bad.bin").string() + "\""), 1) << c.Text;
    EXPECT_NE(Stderr().find(c.Why), std::string::npos) << c.Text << " -> " << Stderr();
    EXPECT_FALSE(Exists("bad.bin")) << c.Text;
  }
  EXPECT_EQ(Run("nonsense"), 2);
}

TEST_F(ZMMsgTablesToolTest, ResourceFollowsTheListAndChecksPlaceholders) {
  Write("US.txt", "@code US\n@id 0x0409\n@kind ansi\n5 \"Copying: %s\"\n6 \"%d of %.*s\"\n");
  Write("AB.txt", "@code AB\n@id 0x0401\n@kind utf16\n5 \"Kopie: %s\"\n6 \"%.1d z %.*s %%\"\n");
  Write("CD.txt", "@code CD\n@id 0x0402\n@kind utf16\n5 \"%s kopiert\"\n");
  Write("blocks.txt", "CD\nAB\n");
  const std::string dir = FDir.string();
  const std::string args =
      "resource \"" + dir + "/blocks.txt\" \"" + dir + "\" \"" + dir + "/US.txt\" \"" + dir + "/res.bin\"";
  ASSERT_EQ(Run(args), 0) << Stderr();
  const std::string res = Read("res.bin");
  ASSERT_GT(res.size(), 16u);
  EXPECT_EQ(res.substr(4, 4), std::string("CD\0\0", 4));
  const size_t second = 8 + (uint8_t(res[2]) | (uint8_t(res[3]) << 8));
  EXPECT_EQ(res.substr(second + 4, 4), std::string("AB\0\0", 4));

  // Another kind, another order or a missing placeholder is refused.
  for (const char* bad : {"5 \"Kopie: %d\"\n", "6 \"%.*s z %d\"\n", "6 \"%d z\"\n"}) {
    Write("AB.txt", std::string("@code AB\n@id 0x0401\n@kind utf16\n") + bad);
    fs::remove(FDir / "res.bin");
    EXPECT_EQ(Run(args), 1) << bad;
    EXPECT_NE(Stderr().find("placeholders"), std::string::npos) << Stderr();
    EXPECT_FALSE(Exists("res.bin"));
  }
  // A listed file that is missing, or whose code differs from its listing.
  Write("AB.txt", "@code AX\n@id 0x0401\n@kind utf16\n5 \"Kopie: %s\"\n");
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(Stderr().find("does not match"), std::string::npos) << Stderr();
  Write("blocks.txt", "CD\nEF\n");
  EXPECT_EQ(Run(args), 1);
  EXPECT_NE(Stderr().find("EF.txt"), std::string::npos) << Stderr();
}

}  // namespace
