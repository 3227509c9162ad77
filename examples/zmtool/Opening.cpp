#include "Opening.h"

#include "Console.h"
#include "Options.h"
#include "TermText.h"

namespace zmtool {

int Failed(TZipMate& zm, const std::string& what) {
  Complain(what + TerminalSafe(zm.ErrMsg()) + " (error " + std::to_string(zm.ErrCode()) + ")");
  return esPartly;
}

int Unreadable(TZipMate& zm, const std::string& shown) {
  Failed(zm, shown + ": ");
  return esUnreadable;
}

void Warn(TZipMate& zm, const std::string& shown) {
  Complain("warning: " + shown + ": " + TerminalSafe(zm.ErrMsg()) + " (warning " +
           std::to_string(zm.ErrCode()) + ")");
}

}  // namespace zmtool
