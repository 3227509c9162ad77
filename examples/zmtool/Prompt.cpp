#include "Prompt.h"

#include "Console.h"
#include "PlatTerminal.h"
#include "TermText.h"

namespace zmtool {

namespace {

// A line from the terminal after the prompt; an interrupt while waiting ends the
// program at once.
bool ReadAnswer(const std::string& prompt, std::string& line) {
  PrintErr("");  // the progress bar makes room
  plat::SetExitOnInterrupt(true);
  const bool got = plat::ReadInputLine(prompt, line, true);
  plat::SetExitOnInterrupt(false);
  return got;
}

}  // namespace

TReply AskReplace(const std::string& name) {
  for (;;) {
    std::string a;
    if (!ReadAnswer("replace " + TerminalSafe(name) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ", a)) {
      PrintErr("\n");
      return TReply::None;
    }
    if (a == "y" || a == "Y" || a == "yes") return TReply::Yes;
    if (a == "n" || a == "no") return TReply::No;
    if (a == "A" || a == "a") return TReply::All;
    if (a == "N") return TReply::None;
    if (a == "r" || a == "R") return TReply::Rename;
    PrintErr("answer y, n, A, N or r\n");
  }
}

bool AskNewName(std::string& name) {
  for (;;) {
    if (!ReadAnswer("new name: ", name)) {
      PrintErr("\n");
      return false;
    }
    if (!name.empty()) return true;
  }
}

}  // namespace zmtool
