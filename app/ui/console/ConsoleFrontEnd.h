// The terminal front end: the window's texts on standard output, the button and the
// dialogs as prompts answered on standard input. An empty answer or the end of input
// cancels a prompt (the folder chooser) or answers No (a question).
#pragma once
#include <cstdio>
#include <string>

#include "UiOps.h"

class TConsoleUiOps : public UiOps {
 public:
  TConsoleUiOps(std::FILE* in, std::FILE* out, std::string title)
      : FIn(in), FOut(out), FTitle(std::move(title)) {}

  TUiAnswer ShowMessageBox(const std::string& text, const std::string& title, TUiIcon icon,
                           TUiButtons buttons) override;
  void ShowSimpleMessage(const std::string& text) override;
  std::string ChooseFolder(const TFolderRequest& request) override;
  void Terminate() override { FTerminated = true; }

  bool Terminated() const { return FTerminated; }
  // One line of input without its line end; false at the end of input.
  bool ReadLine(std::string& line);
  // Prints text with CR LF and lone CR turned into the terminal's line ends.
  void Print(const std::string& text);

 private:
  void WaitForOk();
  std::FILE* FIn;
  std::FILE* FOut;
  std::string FTitle;
  bool FTerminated = false;
};

// A typed folder as a full path: "~" and "~/..." start at the home folder, a relative
// path at the current folder; blanks around it are dropped. Empty stays empty.
std::string ConsoleFolderPath(const std::string& typed);

// Runs the utility on the given streams (the console front end's body, for tests).
int RunConsoleFrontEndOn(std::FILE* in, std::FILE* out, std::FILE* err);
