#include "Writing.h"

#include <charconv>

#include "Console.h"
#include "Passwords.h"
#include "PlatFileSys.h"
#include "PlatTerminal.h"
#include "ProgressBar.h"
#include "TermText.h"

namespace zmtool {

namespace {

constexpr int kMsgCancelled = 2, kMsgNoFiles = 11, kMsgNoneSelected = 13;

std::string SkipText(TZMSkipTypes type) {
  switch (type) {
    case stNotFound: return "not found";
    case stNoOpen: return "cannot be opened";
    case stNoAccess: return "cannot be read";
    case stReadError: return "read error";
    case stSizeChange: return "changed while it was read";
    case stDupName: return "a second file of the same name";
    case stCannotDo: return "not a regular file";
    default: return "skipped";
  }
}

}  // namespace

int64_t ParseSize(const std::string& text) {
  int64_t n = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, n);
  if (r.ec != std::errc() || n <= 0) return 0;
  int64_t unit = 1;
  const std::string rest(r.ptr, end);
  if (rest == "k" || rest == "K")
    unit = 1024;
  else if (rest == "m" || rest == "M")
    unit = 1024 * 1024;
  else if (rest == "g" || rest == "G")
    unit = 1024LL * 1024 * 1024;
  else if (!rest.empty())
    return 0;
  if (n > INT64_MAX / unit) return 0;
  return n * unit;
}

int RunWriting(TZipMate& zm, const TOptions& o, TPasswords& passwords, TProgressBar& bar) {
  const bool deleting = o.Command == TCommand::Delete;
  const bool exists = plat::FileExists(o.Archive);
  if (o.Command == TCommand::Create && exists) {
    Complain(TerminalSafe(o.Archive) + " exists already (add, update and freshen change an archive)");
    return esUsage;
  }
  // update makes a missing archive, as add does; freshen and delete need one.
  if ((deleting || o.Command == TCommand::Freshen) && !exists) {
    Complain(TerminalSafe(o.Archive) + ": no such archive");
    return esUnreadable;
  }
  zm.SetZipFileName(o.Archive);
  if (exists && !zm.ListingValid()) {
    Complain(TerminalSafe(o.Archive) + ": " + TerminalSafe(zm.ErrMsg()) + " (error " +
             std::to_string(zm.ErrCode()) + ")");
    return esUnreadable;
  }
  TStringList specs, excl;
  for (const std::string& s : o.Specs) specs.Add(s);
  for (const std::string& s : o.Excludes) excl.Add(s);
  zm.SetFSpecArgs(specs);
  zm.SetFSpecArgsExcl(excl);
  zm.SetRootDir(plat::CurrentFolder());
  zm.SetHowToDelete(htdFinal);
  TZMAddOpts a;
  a.Include(AddDirNames);
  a.Include(AddHiddenFiles);
  a.Include(AddEmptyDirs);
  if (o.Recurse) a.Include(AddRecurseDirs);
  if (o.Move) a.Include(AddMove);
  if (o.Command == TCommand::Update) a.Include(AddUpdate);
  if (o.Command == TCommand::Freshen) a.Include(AddFreshen);
  if (o.Encrypt) {
    a.Include(AddEncrypt);
    zm.SetAddEncryption(o.Aes ? zaeAes256 : zaeTraditional);
    std::string pw;
    if (!passwords.ForWriting(pw)) {
      Complain("no password: give one with --password-file, ZMTOOL_PASSWORD or on a terminal");
      return esUsage;
    }
    zm.SetPassword(pw);
  }
  zm.SetAddOptions(a);
  zm.SetAddCompLevel(o.Level);
  if (o.HasStoreSuffixes) {
    zm.SetAddStoreSuffixes(TZMAddStoreExts());
    zm.SetExtAddStoreSuffixes(o.StoreSuffixes);
  }
  if (o.SplitSize > 0) {
    // Parts named as Info-ZIP names them: a.z01, a.z02 ... a.zip.
    zm.SetMaxVolumeSize(o.SplitSize);
    zm.SetSpanOptions(TZMSpanOpts{spCompatName});
  }

  int skipped = 0;
  zm.OnProgress = [&bar](TObject*, TZMProgressDetails* d) {
    if (d) bar.Show(*d);
  };
  zm.OnSkipped = [&](TObject*, const std::string& name, TZMSkipTypes type, int&) {
    ++skipped;
    Complain(TerminalSafe(name) + ": " + SkipText(type));
  };
  zm.OnCheckTerminate = [](TObject*, bool& abort) { abort = abort || plat::Interrupted(); };
  const int32_t err = deleting ? zm.Delete() : zm.Add();
  bar.Finish();
  const int id = err & 0x1FF;
  const int done = zm.SuccessCnt();
  const char* verb = deleting ? "deleted" : "written";
  std::string summary = std::to_string(done) + (done == 1 ? " entry " : " entries ") + verb;
  if (skipped) summary += ", " + std::to_string(skipped) + " skipped";
  if (plat::Interrupted() || id == kMsgCancelled) {
    Complain("interrupted; " + TerminalSafe(o.Archive) + (exists ? " is unchanged" : " was not made"));
    return esInterrupted;
  }
  if (id == kMsgNoFiles || id == kMsgNoneSelected) {
    std::string patterns;
    for (const std::string& s : o.Specs) patterns += (patterns.empty() ? "" : ", ") + TerminalSafe(s);
    Complain("nothing matches " + patterns);
    return esNoMatch;
  }
  if (err != 0) {
    Complain(TerminalSafe(zm.ErrMsg()) + " (error " + std::to_string(id) + "); " + TerminalSafe(o.Archive) +
             (exists ? " is unchanged" : " was not made"));
    return esPartly;
  }
  if (skipped) {
    PrintErr(summary + "\n");
    return esPartly;
  }
  if (!o.Quiet) PrintOut(summary + "\n");
  return esDone;
}

}  // namespace zmtool
