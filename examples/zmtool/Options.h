// zmtool's command line: the commands, their options (one table, from which both the
// parser and the help texts are made) and the exit statuses.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace zmtool {

// Exit statuses.
enum TExitStatus : int {
  esDone = 0,        // everything asked for was done
  esPartly = 1,      // some entries were skipped or failed; the rest were done
  esUsage = 2,       // usage error
  esUnreadable = 3,  // the archive could not be read at all
  esNoMatch = 4,     // nothing matched the given patterns
  esInterrupted = 130
};

enum class TCommand { None, List, Extract, Test, Comment, Join, Create, Add, Update, Freshen, Delete };
enum class TOverwrite { Ask, Always, Never };
enum class TNameEncoding { Auto, Oem, Ansi, Utf8 };

struct TOptions {
  TCommand Command = TCommand::None;
  std::string Archive, Dest, Comment;
  bool HasComment = false;
  std::vector<std::string> Specs, Excludes;
  bool Help = false, Version = false;
  bool Quiet = false, Verbose = false, Trace = false;
  // list
  bool Long = false, Json = false;
  // extract
  bool JunkPaths = false, ToStdout = false, Freshen = false, Update = false, ForceDirs = false;
  bool NoSymlinks = false;
  TOverwrite Overwrite = TOverwrite::Ask;
  // create, add, update, freshen, delete
  bool Recurse = false, Move = false, Encrypt = false, Aes = false;
  int Level = 6;
  int64_t SplitSize = 0;
  bool HasStoreSuffixes = false;
  std::string StoreSuffixes;
  // passwords
  bool HasPassword = false;
  std::string Password, PasswordFile;
  // entry names
  TNameEncoding Encoding = TNameEncoding::Auto;
  unsigned CodePage = 0;

  bool ReadsStdin() const { return Archive == "-"; }
  bool Writes() const { return Command >= TCommand::Create; }
};

// Parses the arguments (without the program's name) into o: empty on success, else
// the usage error, naming what is wrong.
std::string ParseArguments(const std::vector<std::string>& args, TOptions& o);

// The help of a command, or the general help for TCommand::None.
std::string HelpText(TCommand c);
// The lines of usage shown with a usage error.
std::string UsageText();
std::string VersionLine();

}  // namespace zmtool
