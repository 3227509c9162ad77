// Where passwords come from: --password, the first line of --password-file, the
// environment variable ZMTOOL_PASSWORD, or, when none of them gives one, a prompt on
// the terminal without echo (as many tries per entry as the component's
// PasswordReqCount). Remembers for which entries a password was tried, so that a
// refused entry is reported as having a wrong password or none.
#pragma once
#include <set>
#include <string>

#include "Options.h"
#include "ZipMate191/ZipMate.h"

namespace zmtool {

class TPasswords {
 public:
  // Takes the password the options or the environment give; false (why set) when the
  // password file cannot be read.
  bool Init(const TOptions& o, std::string& why);
  // Lends the password to the component and answers its password questions.
  void Attach(TZipMate& zm);
  // The password to encrypt with: the one given, else asked twice on the terminal.
  // False when there is none.
  bool ForWriting(std::string& password);
  // Why the entry was refused for its password.
  std::string RefusalText(const std::string& entry) const;

 private:
  void Ask(const std::string& entry, std::string& password, TMsgDlgBtn& action);

  bool FGiven = false;
  std::string FPassword;
  bool FInteractive = false;
  bool FNoMore = false;  // the user ended the input
  std::string FAsking;   // the entry of the last question
  std::set<std::string> FTried;
};

}  // namespace zmtool
