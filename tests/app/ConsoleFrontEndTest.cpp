// The terminal front end: answers typed on the input, texts on the output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "ConsoleFrontEnd.h"
#include "ExportTestSupport.h"

using namespace exporttest;
using ratetest::ReadFile;

namespace {

// Input and output streams over temporary files.
struct TStreams {
  explicit TStreams(const std::string& input) : In(std::tmpfile()), Out(std::tmpfile()), Err(std::tmpfile()) {
    std::fwrite(input.data(), 1, input.size(), In);
    std::rewind(In);
  }
  ~TStreams() {
    std::fclose(In);
    std::fclose(Out);
    std::fclose(Err);
  }
  static std::string Text(std::FILE* f) {
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
  }
  std::FILE* In;
  std::FILE* Out;
  std::FILE* Err;
};

TEST(ConsoleUiOps, QuestionsAcceptPolishAndEnglishAnswers) {
  struct TCase {
    const char* Input;
    TUiAnswer Expected;
  };
  const TCase cases[] = {
      {"t\n", TUiAnswer::Yes},        {"Tak\n", TUiAnswer::Yes}, {"y\n", TUiAnswer::Yes},
      {" YES \r\n", TUiAnswer::Yes},  {"n\n", TUiAnswer::No},    {"nie\n", TUiAnswer::No},
      {"no\n", TUiAnswer::No},        {"\n", TUiAnswer::No},     {"", TUiAnswer::No},
      {"maybe\nt\n", TUiAnswer::Yes}, {"?\n", TUiAnswer::No},
  };
  for (const TCase& c : cases) {
    TStreams s(c.Input);
    TConsoleUiOps ops(s.In, s.Out, "App");
    EXPECT_EQ(ops.ShowMessageBox("Q1\r\nQ2", "Title", TUiIcon::Question, TUiButtons::YesNo), c.Expected)
        << "input '" << c.Input << "'";
    const std::string out = TStreams::Text(s.Out);
    EXPECT_NE(out.find("Title"), std::string::npos);
    EXPECT_NE(out.find("Q1\nQ2"), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos);
  }
}

TEST(ConsoleUiOps, ResultBoxWithoutTitleAndSimpleMessageWithTheAppTitle) {
  TStreams s("\n");
  TConsoleUiOps ops(s.In, s.Out, "Tytuł programu");
  EXPECT_EQ(ops.ShowMessageBox("Gotowe", "", TUiIcon::Information, TUiButtons::Ok), TUiAnswer::Ok);
  ops.ShowSimpleMessage("Błędny katalog: /x");  // input ended: still returns
  const std::string out = TStreams::Text(s.Out);
  EXPECT_NE(out.find("Gotowe"), std::string::npos);
  EXPECT_EQ(out.find("==  =="), std::string::npos) << "an empty title is not drawn";
  EXPECT_NE(out.find("Tytuł programu"), std::string::npos);
  EXPECT_NE(out.find("Błędny katalog: /x"), std::string::npos);
  EXPECT_FALSE(ops.Terminated());
  ops.Terminate();
  EXPECT_TRUE(ops.Terminated());
}

TEST(ConsoleUiOps, ChooserShowsTheInstructionAndCancelsOnEmptyOrEnd) {
  TFolderRequest rq;
  rq.Instruction = "Wybierz folder do zapisu kopii";
  for (const char* input : {"\n", "   \n", ""}) {
    TStreams s(input);
    TConsoleUiOps ops(s.In, s.Out, "App");
    EXPECT_EQ(ops.ChooseFolder(rq), "") << "input '" << input << "'";
    EXPECT_NE(TStreams::Text(s.Out).find("Wybierz folder do zapisu kopii"), std::string::npos);
  }
  TStreams s("/srv/kopie\n");
  TConsoleUiOps ops(s.In, s.Out, "App");
  EXPECT_EQ(ops.ChooseFolder(rq), "/srv/kopie");
}

TEST(ConsoleUiOps, TypedFoldersBecomeFullPaths) {
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(ConsoleFolderPath("kopie"), std::string(cwd) + "/kopie");
  EXPECT_EQ(ConsoleFolderPath("  /a b/c  "), "/a b/c");
  EXPECT_EQ(ConsoleFolderPath(""), "");
  const char* home = std::getenv("HOME");
  if (home && *home && home[0] == '/') {
    EXPECT_EQ(ConsoleFolderPath("~/kopie"), std::string(home) + "/kopie");
    EXPECT_EQ(ConsoleFolderPath("~"), std::string(home));
  }
  // Only a leading "~" alone or before a delimiter means the home folder.
  EXPECT_EQ(ConsoleFolderPath("/x/~y"), "/x/~y");
}

class ConsoleFrontEndRun : public TExportFixture {};

TEST_F(ConsoleFrontEndRun, EnterThenFolderWritesTheTable) {
  const std::string target = Root + "/out";
  TStreams s("\n" + target + "\n\n");
  EXPECT_EQ(RunConsoleFrontEndOn(s.In, s.Out, s.Err), 0);
  EXPECT_EQ(ReadFile(target + "/ROB216.dbf"), ReadFile(ZM_RATE_TABLE_FILE));
  const std::string out = TStreams::Text(s.Out);
  for (const char* text :
       {"Informacje Tarnix/Tarnix-MAX 2 kw 2016 - poprawka",
        "Program generuje poprawny plik rob216.dbf dla cennika Korvant",
        "z pozostałymi plikami .dbf wyekesportowanymi z płyty CD z cennikiem.", "Zapisz plik ROB216.dbf",
        "Wybierz folder do zapisu kopii", "Aktualizacja zakończona."})
    EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
  EXPECT_EQ(out.find("z błędami"), std::string::npos);
  EXPECT_EQ(TStreams::Text(s.Err), "");
}

TEST_F(ConsoleFrontEndRun, EmptyFolderAnswerEndsWithErrors) {
  TStreams s("\n\n\n");
  EXPECT_EQ(RunConsoleFrontEndOn(s.In, s.Out, s.Err), 0);
  EXPECT_NE(TStreams::Text(s.Out).find("Aktualizacja zakończona z błędami."), std::string::npos);
  EXPECT_FALSE(Exists(StagedArchive()));
}

TEST_F(ConsoleFrontEndRun, InputEndingBeforeTheButtonExportsNothing) {
  TStreams s("");
  EXPECT_EQ(RunConsoleFrontEndOn(s.In, s.Out, s.Err), 0);
  const std::string out = TStreams::Text(s.Out);
  EXPECT_EQ(out.find("Wybierz folder"), std::string::npos);
  EXPECT_EQ(out.find("Aktualizacja"), std::string::npos);
  EXPECT_FALSE(Exists(StagedArchive()));
}

TEST_F(ConsoleFrontEndRun, UnexpectedErrorGoesToTheErrorStreamWithExitCodeOne) {
  MakeDir(StagedArchive());  // the archive cannot be staged
  TStreams s("\n" + Root + "/out\n\n");
  EXPECT_EQ(RunConsoleFrontEndOn(s.In, s.Out, s.Err), 1);
  const std::string err = TStreams::Text(s.Err);
  EXPECT_NE(err.find("Cannot create file"), std::string::npos) << err;
  EXPECT_EQ(TStreams::Text(s.Out).find("Aktualizacja"), std::string::npos);
  // The component's interface is the one in force again.
  EXPECT_EQ(&plat::Ui(), &ComponentUi);
}

}  // namespace
