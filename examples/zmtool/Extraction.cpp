#include "Extraction.h"

#include <deque>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "Console.h"
#include "Metadata.h"
#include "Opening.h"
#include "Passwords.h"
#include "PlatPath.h"
#include "PlatTerminal.h"
#include "ProgressBar.h"
#include "Prompt.h"
#include "Streams.h"
#include "TermText.h"

namespace fs = std::filesystem;

namespace zmtool {

namespace {

constexpr int kMsgCancelled = 2, kMsgNothingToDo = 248;

// The key under which a written file is remembered (file names on Windows ignore case).
std::string FileKey(std::string path) {
#ifdef _WIN32
  for (char& c : path)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
#endif
  return path;
}

std::string Count(int n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The path without trailing separators (which would make checks follow a link).
std::string Trimmed(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
  return path;
}

// Whether the name, with '/' or '\' between its parts, stays below the folder it is
// taken from (no root, no drive, no "..").
bool StaysBelow(const std::string& name) {
  if (name.empty() || name[0] == '/' || name[0] == '\\' || (name.size() > 1 && name[1] == ':')) return false;
  const std::string s = "/" + Slashed(name) + "/";
  return s.find("/../") == std::string::npos;
}

class TExtraction {
 public:
  // Unlisted names an archive that is not listed, with its number of entries.
  TExtraction(TZipMate& zm, const TOptions& o, TPasswords& pw, TProgressBar& bar,
              const std::string* unlisted = nullptr, int unlistedCount = 0)
      : FZm(zm),
        FUnlisted(unlisted),
        FUnlistedCount(unlistedCount),
        FOpts(o),
        FPw(pw),
        FBar(bar),
        FMode(o.Overwrite),
        FTest(o.Command == TCommand::Test),
        FWrites(!FTest && !o.ToStdout),
        FMeta(std::string(), !o.NoSymlinks) {}
  int Run();

 private:
  enum class TDecision { None, Replace, Keep, KeepQuiet, Conflict };
  struct TCurrent {
    std::string Name, Relative, Target;
    int Index = -1;
    TDecision Decision = TDecision::None;
    std::string ConflictWith;
    bool Skipped = false;
  };

  void IndexEntries();
  // The listed entry the engine reports under this name, or -1.
  int IndexOf(const std::string& name);
  void Select();
  void OnItem(const TZMProgressDetails& d);
  void OnName(std::string& fileName, const std::string& base, bool& changed);
  bool OnOverwrite();
  void OnSkip(const std::string& name, TZMSkipTypes type);
  void OnMessage(int code, const std::string& text);
  void FlushPending();
  void EntryDone();
  int Finish(int32_t err);

  TZipMate& FZm;
  const std::string* FUnlisted;
  const int FUnlistedCount;
  const TOptions& FOpts;
  TPasswords& FPw;
  TProgressBar& FBar;
  TOverwrite FMode;
  const bool FTest, FWrites;
  bool FInteractive = false;
  std::string FDest;  // absolute, without links, with no trailing separator
  TMetadata FMeta;
  // Entries the engine has reported; the next one it reports is expected at
  // FNextIndex, as the engine goes through them in the listing's order.
  std::vector<bool> FReported;
  int FNextIndex = 0;
  // Filled only when an entry comes out of order: name -> entries not yet reported.
  std::map<std::string, std::deque<int>> FByName;
  bool FOutOfOrder = false;
  std::set<int> FNewFolders;                    // folder entries whose folder did not exist before
  std::map<std::string, std::string> FWritten;  // file key -> the entry written there
  TCurrent FCur;
  std::string FPending;  // the engine's text about the current entry, not yet shown
  int64_t FSelected = -1;
  int FDone = 0, FSkippedExist = 0, FKept = 0, FNotNewer = 0, FFailed = 0;
};

void TExtraction::IndexEntries() {
  std::error_code ec;
  if (FWrites) FDest = Trimmed(Utf8Of(fs::weakly_canonical(fs::absolute(PathOf(FOpts.Dest), ec), ec)));
  FMeta = TMetadata(FDest, !FOpts.NoSymlinks);
  for (int i = 0; i < FZm.Count(); ++i) {
    auto e = FZm.DirEntry(i);
    if (!e) continue;
    const std::string name = e->FileName();
    // Folders that exist already keep their permissions.
    if (FWrites && !FOpts.JunkPaths && IsFolder(*e) && UnixMode(*e) && StaysBelow(name)) {
      const fs::file_status st = fs::symlink_status(PathOf(FDest) / PathOf(Trimmed(name)), ec);
      if (st.type() == fs::file_type::not_found) FNewFolders.insert(i);
    }
  }
}

int TExtraction::IndexOf(const std::string& name) {
  if (FUnlisted) return -1;
  const std::string wanted = Slashed(name);
  const int count = FZm.Count();
  if (FReported.size() != size_t(count)) FReported.assign(size_t(count), false);
  auto take = [&](int i) {
    FReported[size_t(i)] = true;
    FNextIndex = i + 1;
    return i;
  };
  if (!FOutOfOrder && FNextIndex < count && !FReported[size_t(FNextIndex)]) {
    auto e = FZm.DirEntry(FNextIndex);
    if (e && Slashed(e->FileName()) == wanted) return take(FNextIndex);
  }
  // Out of order: every entry not yet reported, by name, from now on.
  if (!FOutOfOrder) {
    FOutOfOrder = true;
    for (int i = 0; i < count; ++i)
      if (auto e = FZm.DirEntry(i); e && !FReported[size_t(i)]) FByName[Slashed(e->FileName())].push_back(i);
  }
  auto it = FByName.find(wanted);
  if (it == FByName.end() || it->second.empty()) return -1;
  const int i = it->second.front();
  it->second.pop_front();
  return take(i);
}

void TExtraction::Select() {
  TStringList specs, excludes;
  if (!FOpts.ToStdout)
    for (const std::string& s : FOpts.Specs) specs.Add(s);
  for (const std::string& s : FOpts.Excludes) excludes.Add(s);
  FZm.SetFSpecArgs(specs);
  FZm.SetFSpecArgsExcl(excludes);
  TZMExtrOpts opts;
  if (FTest) {
    opts.Include(ExtrTest);
  } else if (!FOpts.ToStdout) {
    FZm.SetExtrBaseDir(FOpts.Dest);
    if (!FOpts.JunkPaths) opts.Include(ExtrDirNames);
    if (FMode == TOverwrite::Always) opts.Include(ExtrOverWrite);
    if (FOpts.Freshen) opts.Include(ExtrFreshen);
    if (FOpts.Update) opts.Include(ExtrUpdate);
    if (FOpts.ForceDirs) opts.Include(ExtrForceDirs);
    // Times to the second where the entry has them, not the two seconds of its date.
    opts.Include(ExtrNTFS);
  }
  FZm.SetExtrOptions(opts);
}

int TExtraction::Run() {
  FInteractive = plat::IsTerminal(plat::ssInput) && !FOpts.ReadsStdin();
  if (!FUnlisted) IndexEntries();
  Select();
  FZm.OnProgress = [this](TObject*, TZMProgressDetails* d) {
    if (!d) return;
    FBar.Show(*d);
    OnItem(*d);
  };
  FZm.OnMessage = [this](TObject*, int code, const std::string& text) { OnMessage(code, text); };
  FZm.OnSkipped = [this](TObject*, const std::string& name, TZMSkipTypes type, int&) { OnSkip(name, type); };
  FZm.OnSetExtName = [this](TObject*, std::string& name, const std::string& base, bool& changed) {
    OnName(name, base, changed);
  };
  FZm.OnExtractOverwrite = [this](TObject*, const std::string&, bool, bool& doOverwrite, int) {
    doOverwrite = OnOverwrite();
  };
  FZm.OnCheckTerminate = [](TObject*, bool& abort) { abort = abort || plat::Interrupted(); };
  FPw.Attach(FZm);
  int32_t err = 0;
  if ((FUnlisted ? FUnlistedCount : FZm.Count()) > 0) {
    // An interrupt now stops the engine, which then cleans up after itself.
    plat::SetExitOnInterrupt(false);
    err = FOpts.ToStdout ? ExtractToStdout(FZm, FOpts.Specs)
          : FUnlisted    ? FZm.ExtractArchive(*FUnlisted)
                         : FZm.Extract();
    plat::SetExitOnInterrupt(true);
  } else {
    FSelected = 0;
  }
  EntryDone();
  FlushPending();
  FBar.Finish();
  if (FWrites && !plat::Interrupted()) FMeta.Finish();
  return Finish(err);
}

void TExtraction::OnItem(const TZMProgressDetails& d) {
  if (d.Kind() == pkTotalItems) {
    FSelected = d.TotalItems();
  } else if (d.Kind() == pkNewItem) {
    EntryDone();
    FCur = TCurrent();
    FCur.Name = d.CurrentName();
    FCur.Index = IndexOf(FCur.Name);
  } else if (d.Kind() == pkItemEnd) {
    EntryDone();
  }
}

void TExtraction::OnName(std::string& fileName, const std::string& base, bool& changed) {
  FCur.Relative = fileName;
  std::string target = base + fileName;
  while (!FOpts.Freshen && !FOpts.Update) {
    auto w = FWritten.find(FileKey(target));
    if (w != FWritten.end()) {
      FCur.Decision = TDecision::Conflict;
      FCur.ConflictWith = w->second;
      break;
    }
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(PathOf(target), ec);
    if (st.type() == fs::file_type::not_found || st.type() == fs::file_type::directory) break;
    if (FMode == TOverwrite::Always) {
      FCur.Decision = TDecision::Replace;
    } else if (FMode == TOverwrite::Never) {
      FCur.Decision = TDecision::KeepQuiet;
    } else if (!FInteractive) {
      FCur.Decision = TDecision::Keep;
    } else {
      switch (AskReplace(FCur.Relative)) {
        case TReply::Yes: FCur.Decision = TDecision::Replace; break;
        case TReply::No: FCur.Decision = TDecision::KeepQuiet; break;
        case TReply::All:
          FMode = TOverwrite::Always;
          FCur.Decision = TDecision::Replace;
          break;
        case TReply::None:
          FMode = TOverwrite::Never;
          FCur.Decision = TDecision::KeepQuiet;
          break;
        case TReply::Rename: {
          std::string renamed;
          if (!AskNewName(renamed)) {
            FCur.Decision = TDecision::KeepQuiet;
            break;
          }
          for (char& c : renamed)
            if (c == '/' || c == '\\') c = plat::PathDelim;
          fileName = FCur.Relative = renamed;
          changed = true;
          target = base + renamed;
          continue;  // the new name may exist too
        }
      }
    }
    break;
  }
  FCur.Target = target;
}

bool TExtraction::OnOverwrite() {
  if (FCur.Decision == TDecision::None)  // the file appeared after the question
    FCur.Decision = FMode == TOverwrite::Always  ? TDecision::Replace
                    : FMode == TOverwrite::Never ? TDecision::KeepQuiet
                                                 : TDecision::Keep;
  return FCur.Decision == TDecision::Replace;
}

void TExtraction::OnSkip(const std::string& name, TZMSkipTypes type) {
  FCur.Skipped = true;
  const std::string shown = TerminalSafe(FCur.Relative.empty() ? name : FCur.Relative);
  switch (type) {
    case stNoOverwrite:
      FPending.clear();
      if (FCur.Decision == TDecision::Conflict) {
        ++FFailed;
        Complain(TerminalSafe(name) + ": not extracted: " + TerminalSafe(FCur.Target) + " was written from " +
                 TerminalSafe(FCur.ConflictWith) + " in this run");
      } else if (FCur.Decision == TDecision::Keep) {
        ++FSkippedExist;
        Complain(shown + ": exists; skipped (-o replaces existing files, -n skips them quietly)");
      } else {
        ++FKept;
      }
      break;
    case stOnFreshen: ++FNotNewer; break;
    case stBadPassword:
      ++FFailed;
      FPending.clear();
      Complain(TerminalSafe(name) + ": " + FPw.RefusalText(name));
      break;
    default:
      ++FFailed;
      if (FPending.empty()) FPending = name + ": not extracted";
      FlushPending();
      break;
  }
}

void TExtraction::OnMessage(int code, const std::string& text) {
  if (FOpts.Verbose || FOpts.Trace) {
    PrintErr(TerminalSafe(text) + "\n");
    return;
  }
  const int id = code & 0x1FF;
  if (code == 0 || id == kMsgNothingToDo || id == kMsgCancelled) return;
  FlushPending();
  FPending = text;
}

void TExtraction::FlushPending() {
  if (!FPending.empty() && !FOpts.Verbose && !FOpts.Trace) Complain(TerminalSafe(FPending));
  FPending.clear();
}

void TExtraction::EntryDone() {
  if (FCur.Name.empty()) return;
  FlushPending();
  auto e = FCur.Index >= 0 ? FZm.DirEntry(FCur.Index) : nullptr;
  const bool folder = e ? IsFolder(*e) : (FCur.Name.back() == '/' || FCur.Name.back() == '\\');
  if (!FCur.Skipped && folder) {
    if (e && FNewFolders.count(FCur.Index)) {
      const std::string path = Utf8Of(PathOf(FDest) / PathOf(Trimmed(e->FileName())));
      std::error_code ec;
      if (fs::symlink_status(PathOf(path), ec).type() == fs::file_type::directory)
        FMeta.FolderMade(path, UnixMode(*e));
    }
  } else if (!FCur.Skipped) {
    ++FDone;
    if (FWrites && !FCur.Target.empty()) {
      FWritten[FileKey(FCur.Target)] = FCur.Name;
      if (e) FMeta.FileWritten(FCur.Target, Slashed(FCur.Relative), UnixMode(*e), IsSymLink(*e));
    }
  }
  FCur = TCurrent();
}

int TExtraction::Finish(int32_t err) {
  const char* verb = FTest ? "tested OK" : "extracted";
  std::string summary = std::to_string(FDone) + " " + verb;
  if (FSkippedExist + FKept) summary += ", " + std::to_string(FSkippedExist + FKept) + " skipped (exist)";
  if (FNotNewer) summary += ", " + std::to_string(FNotNewer) + " skipped (not newer)";
  if (FFailed) summary += ", " + std::to_string(FFailed) + " failed";
  if (plat::Interrupted()) {
    Complain("interrupted");
    PrintErr(summary + "\n");
    return esInterrupted;
  }
  const int id = err & 0x1FF;
  if (FSelected == 0 || id == kMsgNothingToDo) {
    if (FOpts.Specs.empty() && FOpts.Excludes.empty()) {
      if (!FOpts.Quiet && !FOpts.ToStdout) PrintOut(Count(0, "entry", "entries") + " " + verb + "\n");
      return esDone;
    }
    std::string patterns;
    for (const std::string& s : FOpts.Specs) patterns += (patterns.empty() ? "" : ", ") + TerminalSafe(s);
    Complain(patterns.empty() ? "every entry is excluded" : "nothing matches " + patterns);
    return esNoMatch;
  }
  if (err != 0 && FFailed == 0 && FSkippedExist == 0) {
    // An error no entry accounts for: the operation as a whole failed.
    Complain(TerminalSafe(FZm.ErrMsg()) + " (error " + std::to_string(id) + ")");
    return id >= 240 && id <= 244 ? esUnreadable : esPartly;
  }
  if (FFailed || FSkippedExist) {
    PrintErr(summary + "\n");
    return esPartly;
  }
  if (!FOpts.Quiet && !FOpts.ToStdout) {
    summary.replace(0, std::to_string(FDone).size(), Count(FDone, "entry", "entries"));
    PrintOut(summary + "\n");
  }
  return esDone;
}

}  // namespace

int RunExtraction(TZipMate& zm, const TOptions& o, TPasswords& passwords, TProgressBar& bar) {
  TExtraction run(zm, o, passwords, bar);
  return run.Run();
}

int RunTest(TZipMate& zm, const std::string& archive, const std::string& shown, const TOptions& o,
            TPasswords& passwords, TProgressBar& bar) {
  int entries = 0;
  if (!zm.ScanArchive(archive, [&](const TZMDirEntry&) {
        ++entries;
        return true;
      }))
    return Unreadable(zm, shown);
  if (zm.ErrCode() != 0) Warn(zm, shown);
  TExtraction run(zm, o, passwords, bar, &archive, entries);
  return run.Run();
}

}  // namespace zmtool
