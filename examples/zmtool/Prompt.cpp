#include "Prompt.h"

#include "Console.h"
#include "PlatTerminal.h"
#include "TermText.h"

namespace zmtool {

namespace {

// A line from the terminal; an interrupt while waiting ends the program at once.
bool ReadAnswer(std::string& line) {
  plat::SetExitOnInterrupt(true);
  const bool got = plat::ReadInputLine(line, true);
  plat::SetExitOnInterrupt(false);
  return got;
}

}  // namespace

TReply AskReplace(const std::string& name) {
  for (;;) {
    PrintErr("replace " + TerminalSafe(name) + "? [y]es, [n]o, [A]ll, [N]one, [r]ename: ");
    std::string a;
    if (!ReadAnswer(a)) {
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
    PrintErr("new name: ");
    if (!ReadAnswer(name)) {
      PrintErr("\n");
      return false;
    }
    if (!name.empty()) return true;
  }
}

}  // namespace zmtool
