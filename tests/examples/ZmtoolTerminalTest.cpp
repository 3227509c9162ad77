// zmtool on a terminal (a tmux pane): the question about existing files, the password
// prompt, the progress bar and Ctrl+C.
#include "TestZip.h"
#include "ProgressBar.h"
#include "ZmtoolTestKit.h"

using namespace zmt;

namespace {

struct TZmtoolTerminal : TZmtoolFixture {
  void SetUp() override {
    TZmtoolFixture::SetUp();
    if (IsSkipped()) return;
    if (!TTerminal::Available()) GTEST_SKIP() << "tmux is not installed";
  }
  // The last screen line that holds text.
  static std::string LastLineWith(const std::string& screen, const std::string& text) {
    std::istringstream lines(screen);
    std::string line, found;
    while (std::getline(lines, line))
      if (line.find(text) != std::string::npos) found = line;
    return found;
  }
};

std::vector<testzip::TEntrySpec> Letters(const std::string& data) {
  std::vector<testzip::TEntrySpec> v;
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"}) v.push_back({.Name = n, .Data = data});
  return v;
}

}  // namespace

TEST_F(TZmtoolTerminal, ReplaceQuestionAnswers) {
  WriteAll(Tmp.Path / "l.zip", testzip::BuildZip(Letters("new\n")));
  for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"})
    WriteAll(Tmp.Path / "out" / n, "mine\n");
  TTerminal t(Tmp.Path, 120, 40);
  t.Command(Zm("extract l.zip out"));
  ASSERT_TRUE(t.Answer("replace a.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename:", "y\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("replace b.txt?", "n\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("replace c.txt?", "r\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("new name:", "b.txt\n")) << t.Screen();  // taken too: asked again
  ASSERT_TRUE(t.Answer("new name: b.txt\nreplace b.txt?", "r\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("new name: b.txt\nreplace b.txt? [y]es, [n]o, [A]ll, [N]one, [r]ename: r\nnew name:",
                       "sub/c2.txt\n"))
      << t.Screen();
  ASSERT_TRUE(t.Answer("replace d.txt?", "A\n")) << t.Screen();
  ASSERT_TRUE(t.WaitFor("[status 0]")) << t.Screen();
  const std::string screen = t.Screen();
  EXPECT_EQ(screen.find("replace e.txt?"), std::string::npos) << screen;
  EXPECT_NE(screen.find("4 entries extracted, 1 skipped (exist)"), std::string::npos) << screen;
  EXPECT_EQ(Tree(Tmp.Path / "out"), (std::map<std::string, std::string>{{"a.txt", "new\n"},
                                                                        {"b.txt", "mine\n"},
                                                                        {"c.txt", "mine\n"},
                                                                        {"d.txt", "new\n"},
                                                                        {"e.txt", "new\n"},
                                                                        {"sub/", ""},
                                                                        {"sub/c2.txt", "new\n"}}));
}

TEST_F(TZmtoolTerminal, PasswordPromptHidesWhatIsTyped) {
  std::vector<testzip::TEntrySpec> entries = Letters("secret data\n");
  entries.resize(2);
  for (auto& e : entries) e.Password = "s3cret";
  WriteAll(Tmp.Path / "enc.zip", testzip::BuildZip(entries));
  TTerminal t(Tmp.Path, 100, 30);
  t.Command(Zm("extract enc.zip out --force-dirs"));
  ASSERT_TRUE(t.Answer("a.txt needs a password:", "guess\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("wrong password; try again:", "s3cret\n")) << t.Screen();
  // The password opens the second entry too: one question.
  ASSERT_TRUE(t.WaitFor("[status 0]")) << t.Screen();
  std::string screen = t.Screen();
  EXPECT_EQ(screen.find("s3cret"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("guess"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("b.txt needs"), std::string::npos) << screen;
  EXPECT_EQ(ReadAll(Tmp.Path / "out" / "b.txt"), "secret data\n");
  // Three tries, then the entry is reported with a wrong password.
  t.Command(Zm("test enc.zip a.txt"));
  ASSERT_TRUE(t.Answer("a.txt needs a password:", "clear\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("password:\nwrong password; try again:", "clear\n")) << t.Screen();
  ASSERT_TRUE(t.Answer("again:\nwrong password; try again:", "clear\n")) << t.Screen();
  ASSERT_TRUE(t.WaitFor("[status 1]")) << t.Screen();
  screen = t.Screen();
  EXPECT_NE(
      screen.find("wrong password; try again:\nwrong password; try again:\nzmtool: a.txt: wrong password\n"),
      std::string::npos)
      << screen;
  EXPECT_NE(screen.find("\n0 tested OK, 1 failed\n"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("clear"), std::string::npos) << screen;
}

TEST_F(TZmtoolTerminal, ProgressBarFitsTheWindowAndFollowsIt) {
  std::string big;
  uint32_t x = 7;
  for (int i = 0; i < 3 << 20; ++i) big += char((x = x * 1103515245u + 12345u) >> 24);
  WriteAll(Tmp.Path / "p.zip", testzip::BuildZip({{.Name = "big.bin", .Data = big, .Method = 0},
                                                  {.Name = "small.txt", .Data = "small\n"}}));
  TTerminal t(Tmp.Path, 100, 30);
  t.Command(Zm("extract p.zip wide --force-dirs"));
  ASSERT_TRUE(t.WaitFor("[status 0]")) << t.Screen();
  std::string bar = LastLineWith(t.Screen(), "100%");
  EXPECT_EQ(bar.rfind("[############################] 100%  3.0 MiB / 3.0 MiB  ", 0), 0u) << bar;
  EXPECT_LE(bar.size(), 99u) << bar;
  // Narrowed while zmtool waits at a question: the bar that follows fits the new width.
  WriteAll(Tmp.Path / "narrow" / "small.txt", "mine\n");
  t.Command(Zm("extract p.zip narrow"));
  ASSERT_TRUE(t.WaitFor("replace small.txt?")) << t.Screen();
  t.Resize(44, 30);
  t.Keys("y\n", true);
  ASSERT_TRUE(t.WaitFor("[status 0]")) << t.Screen();
  bar = LastLineWith(t.Screen(), "100%");
  EXPECT_NE(bar.find("100%  3.0 MiB / 3.0 MiB"), std::string::npos) << t.Screen();
  EXPECT_LE(bar.size(), 43u) << bar;
}

TEST_F(TZmtoolTerminal, CtrlCAtAQuestionEndsWith130AndLeavesNothing) {
  WriteAll(Tmp.Path / "l.zip", testzip::BuildZip(Letters(std::string(300000, 'z'))));
  WriteAll(Tmp.Path / "out" / "c.txt", "mine\n");
  TTerminal t(Tmp.Path, 100, 30);
  t.Command(Zm("extract l.zip out"));
  ASSERT_TRUE(t.WaitFor("replace c.txt?")) << t.Screen();
  t.Keys("C-c");
  ASSERT_TRUE(t.WaitFor("[status 130]")) << t.Screen();
  EXPECT_EQ(Tree(Tmp.Path / "out"), (std::map<std::string, std::string>{{"a.txt", std::string(300000, 'z')},
                                                                        {"b.txt", std::string(300000, 'z')},
                                                                        {"c.txt", "mine\n"}}));
}

// The bar's line for any width: never wider than the terminal, and with the speed and
// the time left once they can be told.
TEST(ZmtoolProgressLine, FitsEveryWidth) {
  for (int width = 0; width <= 200; ++width) {
    const std::string line =
        zmtool::TProgressBar::Line(width, 1 << 20, 4 << 20, 2.0, "folder/a long name.bin");
    EXPECT_LE(line.size(), size_t(width > 1 ? width - 1 : 0)) << width << ": " << line;
  }
  EXPECT_EQ(zmtool::TProgressBar::Line(100, 1 << 20, 4 << 20, 2.0, "folder/name.bin"),
            "[#######                     ] 25%  1.0 MiB / 4.0 MiB  512.0 KiB/s  0:06 left  folder/name.bin");
  // Narrow: the figures go first, then the bar and the name as far as they fit.
  EXPECT_EQ(zmtool::TProgressBar::Line(30, 1 << 20, 4 << 20, 2.0, "dir/name"),
            "25%  1.0 MiB / 4.0 MiB  ...me");
  EXPECT_EQ(zmtool::TProgressBar::Line(5, 1 << 20, 4 << 20, 2.0, "x"), "25%");
  // Speed and time left wait for half a second of work.
  EXPECT_EQ(zmtool::TProgressBar::Line(60, 1 << 20, 4 << 20, 0.1, ""),
            "[####             ] 25%  1.0 MiB / 4.0 MiB");
}
