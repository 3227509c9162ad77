#include "Passwords.h"

#include <cstdlib>
#include <fstream>

#include "Console.h"
#include "Metadata.h"
#include "PlatTerminal.h"
#include "TermText.h"

namespace zmtool {

namespace {
constexpr uint32_t kTries = 3;
}

bool TPasswords::Init(const TOptions& o, std::string& why) {
  if (o.HasPassword) {
    FPassword = o.Password;
    FGiven = true;
  } else if (!o.PasswordFile.empty()) {
    std::ifstream in(PathOf(o.PasswordFile), std::ios::binary);
    if (!in) {
      why = "the password file " + o.PasswordFile + " cannot be read";
      return false;
    }
    std::getline(in, FPassword);
    if (!FPassword.empty() && FPassword.back() == '\r') FPassword.pop_back();
    FGiven = true;
  } else if (const char* env = std::getenv("ZMTOOL_PASSWORD")) {
    FPassword = env;
    FGiven = true;
  }
  // Standard input that carries the archive cannot answer questions.
  FInteractive =
      !FGiven && !o.ReadsStdin() && plat::IsTerminal(plat::ssInput) && plat::IsTerminal(plat::ssError);
  return true;
}

void TPasswords::Attach(TZipMate& zm) {
  if (FGiven) zm.SetPassword(FPassword);
  zm.SetPasswordReqCount(FInteractive ? kTries : 1);
  zm.OnPasswordError = [this](TObject*, bool, std::string& password, const std::string& entry, uint32_t&,
                              TMsgDlgBtn& action) { Ask(entry, password, action); };
}

void TPasswords::Ask(const std::string& entry, std::string& password, TMsgDlgBtn& action) {
  password.clear();
  if (FGiven) {
    // The password given did not open this entry; it is passed over.
    FTried.insert(entry);
    action = mbCancel;
    return;
  }
  if (!FInteractive || FNoMore) {
    action = mbNoToAll;  // no more questions in this run
    return;
  }
  const bool again = FAsking == entry;
  FAsking = entry;
  PrintErr("");  // the progress bar makes room
  plat::SetExitOnInterrupt(true);
  const bool got = plat::ReadInputLine(
      again ? "wrong password; try again: " : TerminalSafe(entry) + " needs a password: ", password, false);
  plat::SetExitOnInterrupt(false);
  if (!got) {
    FNoMore = true;
    action = mbNoToAll;
  } else if (password.empty()) {
    action = mbCancel;  // this entry is passed over
  } else {
    FTried.insert(entry);
    action = mbOK;
  }
}

bool TPasswords::ForWriting(std::string& password) {
  if (FGiven) {
    password = FPassword;
    return !password.empty();
  }
  if (!FInteractive) return false;
  std::string again;
  plat::SetExitOnInterrupt(true);
  const bool got = plat::ReadInputLine("password: ", password, false) &&
                   plat::ReadInputLine("the password again: ", again, false);
  plat::SetExitOnInterrupt(false);
  if (!got || password.empty()) return false;
  if (password != again) {
    PrintErr("the two passwords differ\n");
    return false;
  }
  return true;
}

std::string TPasswords::RefusalText(const std::string& entry) const {
  if (FTried.count(entry)) return "wrong password";
  return FInteractive ? "no password given"
                      : "needs a password (give one with --password-file, ZMTOOL_PASSWORD or on a terminal)";
}

}  // namespace zmtool
