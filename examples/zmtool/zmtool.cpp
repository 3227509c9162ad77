// zmtool: a command-line client of the zip component TZipMate, behaving as users of
// unzip and bsdtar expect (folders kept, existing files never replaced silently,
// -h, -V, '-', -p). 'zmtool --help' and the man page describe it; the exit statuses
// are those of TExitStatus. It uses only the component's public surface and the
// platform layer; the engine comes from the program's own "DZResDll191" resource
// unless DzEngine190.dll is found by the system search.
#include <algorithm>
#include <string>
#include <vector>

#include "Console.h"
#include "Extraction.h"
#include "Listing.h"
#include "Opening.h"
#include "Options.h"
#include "Passwords.h"
#include "PlatCodePage.h"
#include "PlatTerminal.h"
#include "ProgressBar.h"
#include "Streams.h"
#include "TermText.h"
#include "Writing.h"
#include "ZipMate191/ZipMate.h"

using namespace zmtool;

namespace {

int Usage(const std::string& why) {
  Complain(TerminalSafe(why));
  PrintErr(UsageText());
  return esUsage;
}

int PrintVersion() {
  TZipMate zm;
  zm.SetUnattended(true);
  PrintOut(VersionLine() + "\ncomponent: TZipMate " + zm.Version() + "\n");
  zm.SetDLL_Load(true);
  const TZMEngineInfo engine = zm.EngineInfo();
  if (engine.Version == 0) {
    Complain("the engine could not be loaded: " + TerminalSafe(zm.ErrMsg()));
    return esPartly;
  }
  PrintOut("engine: " + TerminalSafe(engine.Name) + ", version " + std::to_string(engine.Version) +
           ", private version " + std::to_string(engine.PrivVersion) + "\n" +
           TerminalSafe(engine.Banner, true) + "\n");
  return esDone;
}

// Entry names: how they are stored, and the code page of 8-bit ones. The listing and
// the engine decode them alike.
void SetNameEncoding(TZipMate& zm, const TOptions& o) {
  zm.SetUseUTF8(true);
  switch (o.Encoding) {
    case TNameEncoding::Auto: zm.SetEncoding(zeoAuto); break;
    case TNameEncoding::Oem: zm.SetEncoding(zeoOEM); break;
    case TNameEncoding::Ansi: zm.SetEncoding(zeoNone); break;
    case TNameEncoding::Utf8: zm.SetEncoding(zeoUTF8); break;
  }
  if (o.CodePage) {
    plat::SetOemCodePageOverride(o.CodePage);
    zm.SetNameCodePage(o.CodePage);
  } else if (o.Encoding == TNameEncoding::Oem) {
    zm.SetNameCodePage(plat::OemCodePage());
  }
}

int Comment(TZipMate& zm, const TOptions& o) {
  if (!o.HasComment) {
    PrintOut(TerminalSafe(zm.ZipComment(), true) + "\n");
    return esDone;
  }
  zm.SetZipComment(o.Comment);
  if (zm.ErrCode() != 0) return Failed(zm, "");
  if (zm.ZipComment() != o.Comment) {
    Complain("the archive's comment was not changed");
    return esPartly;
  }
  return esDone;
}

int Join(TZipMate& zm, const TOptions& o) {
  std::string dest = o.Dest;
  // Some causes (which part of a set is missing) are named only in a message before
  // the error; the last message other than the error itself is told with it.
  std::vector<std::string> said;
  const TZMMessageEvent shown = zm.OnMessage;
  zm.OnMessage = [&](TObject* sender, int code, const std::string& text) {
    if (shown) shown(sender, code, text);
    if (code != 0) said.push_back(text);
  };
  const int r = zm.JoinToSingleFile(dest);
  zm.OnMessage = shown;
  if (r != 0) {
    const auto cause =
        std::find_if(said.rbegin(), said.rend(), [&](const std::string& t) { return t != zm.ErrMsg(); });
    if (cause != said.rend() && !o.Verbose && !o.Trace) Complain(TerminalSafe(*cause));
    return Failed(zm, "");
  }
  if (!o.Quiet)
    PrintOut("joined " + std::to_string(zm.Count()) + " entries into " + TerminalSafe(dest) + "\n");
  return esDone;
}

}  // namespace

int main(int argc, char** argv) {
  plat::CatchInterrupts();
  TOptions o;
  const std::string why = ParseArguments(plat::ProgramArguments(argc, argv), o);
  if (!why.empty()) return Usage(why);
  if (o.Help) {
    PrintOut(HelpText(o.Command));
    return esDone;
  }
  if (o.Version) return PrintVersion();
  if (o.CodePage && !plat::IsValidCodePage(o.CodePage))
    return Usage("code page " + std::to_string(o.CodePage) + " is not known here");
  TPasswords passwords;
  std::string problem;
  if (!passwords.Init(o, problem)) return Usage(problem);

  TZipMate zm;
  zm.SetUnattended(true);
  zm.SetVerbose(o.Verbose || o.Trace);
  zm.SetTrace(o.Trace);
  zm.SetUseDirOnlyEntries(true);
  SetNameEncoding(zm, o);
  const bool chatty = o.Verbose || o.Trace;
  TProgressBar bar(!o.Quiet && !chatty);
  SetBeforeErr([&bar] { bar.Clear(); });
  zm.OnMessage = [&](TObject*, int, const std::string& text) {
    if (chatty) PrintErr(TerminalSafe(text) + "\n");
  };

  if (o.Writes()) return RunWriting(zm, o, passwords, bar);
  TStdinArchive input;
  std::string archive = o.Archive;
  const std::string shown = o.ReadsStdin() ? "standard input" : TerminalSafe(o.Archive);
  if (o.ReadsStdin()) {
    archive = input.Open(problem);
    if (archive.empty()) {
      Complain(problem);
      return esUnreadable;
    }
  }
  // Listing and testing read the directory without keeping it.
  if (o.Command == TCommand::List) return PrintListing(zm, archive, shown, o);
  if (o.Command == TCommand::Test && !o.ToStdout) return RunTest(zm, archive, shown, o, passwords, bar);
  zm.SetZipFileName(archive);
  if (zm.ErrCode() != 0) {
    if (!zm.ListingValid()) return Unreadable(zm, shown);
    Warn(zm, shown);
  }
  switch (o.Command) {
    case TCommand::Comment: return Comment(zm, o);
    case TCommand::Join: return Join(zm, o);
    default: return RunExtraction(zm, o, passwords, bar);
  }
}
