// A scripted UiOps and a fixture that gives each test a private temporary folder
// (TMPDIR) and the component a scripted user interface.
#pragma once
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "PlatUi.h"
#include "RateTableTestSupport.h"
#include "UiOps.h"

namespace exporttest {

// Answers the export's questions from queues and records every call in order.
class TScriptedOps : public UiOps {
 public:
  struct TCall {
    explicit TCall(std::string kind, std::string text = "", std::string title = "",
                   TUiIcon icon = TUiIcon::Information, TUiButtons buttons = TUiButtons::Ok)
        : Kind(std::move(kind)),
          Text(std::move(text)),
          Title(std::move(title)),
          Icon(icon),
          Buttons(buttons) {}
    std::string Kind;  // "box", "simple", "choose", "terminate"
    std::string Text, Title;
    TUiIcon Icon;
    TUiButtons Buttons;
    bool operator==(const TCall&) const = default;
    friend void PrintTo(const TCall& c, std::ostream* os) {
      *os << c.Kind << " \"" << c.Text << "\" titled \"" << c.Title << "\", icon " << int(c.Icon)
          << ", buttons " << int(c.Buttons);
    }
  };
  std::deque<std::string> Folders;  // chooser answers; none left = cancel
  std::deque<TUiAnswer> Answers;    // Yes/No answers; none left = No
  std::vector<TCall> Calls;
  std::vector<TFolderRequest> Requests;
  std::function<void()> OnChoose;  // runs while the chooser is open

  TUiAnswer ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                           TUiButtons buttons) override {
    Calls.emplace_back("box", text, title, icon, buttons);
    if (buttons == TUiButtons::Ok) return TUiAnswer::Ok;
    if (Answers.empty()) return TUiAnswer::No;
    TUiAnswer a = Answers.front();
    Answers.pop_front();
    return a;
  }
  void ShowSimpleMessage(const std::string& text) override { Calls.emplace_back("simple", text); }
  std::string ChooseFolder(const TFolderRequest& request) override {
    Calls.emplace_back("choose", request.Instruction);
    Requests.push_back(request);
    if (OnChoose) OnChoose();
    if (Folders.empty()) return "";
    std::string f = Folders.front();
    Folders.pop_front();
    return f;
  }
  void Terminate() override { Calls.emplace_back("terminate"); }

  size_t Count(const std::string& kind) const {
    size_t n = 0;
    for (const TCall& c : Calls) n += c.Kind == kind;
    return n;
  }
};

class TExportFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = std::string(ZM_TEST_TMP_DIR) + "/export-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    ASSERT_NE(::mkdtemp(buf.data()), nullptr) << tmpl;
    Root = buf.data();
    Temp = Root + "/tmp";
    ASSERT_EQ(::mkdir(Temp.c_str(), 0700), 0);
    const char* old = std::getenv("TMPDIR");
    FHadTmpDir = old != nullptr;
    if (old) FOldTmpDir = old;
    ::setenv("TMPDIR", Temp.c_str(), 1);
    FPrevUi = plat::SetUi(&ComponentUi);
  }
  void TearDown() override {
    plat::SetUi(FPrevUi);
    if (FHadTmpDir)
      ::setenv("TMPDIR", FOldTmpDir.c_str(), 1);
    else
      ::unsetenv("TMPDIR");
    ratetest::RunCommand("chmod -R u+rwx " + ratetest::Quote(Root) + "; rm -rf " + ratetest::Quote(Root));
  }

  std::string StagedArchive() const { return Temp + "/_xkgcsa9fjsk8_.tmp"; }
  std::string StagedEngine() const { return Temp + "/DzEngine190.dll"; }
  static bool Exists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
  }
  static void MakeDir(const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0755), 0) << p; }
  // A new folder name below Root; its path.
  std::string NewFolder(const std::string& name) const {
    const std::string p = Root + "/" + name;
    MakeDir(p);
    return p;
  }

  std::string Root, Temp;
  plat::TScriptedUi ComponentUi;  // the component's own boxes and prompts
  TScriptedOps Ops;

 private:
  bool FHadTmpDir = false;
  std::string FOldTmpDir;
  plat::TUserInterface* FPrevUi = nullptr;
};

}  // namespace exporttest
