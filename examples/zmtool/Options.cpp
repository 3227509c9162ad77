#include "Options.h"

#include <charconv>
#include <cstring>

#include "Writing.h"

namespace zmtool {

namespace {

// Commands as bits, for the commands an option belongs to.
enum : unsigned {
  cList = 1,
  cExtract = 2,
  cTest = 4,
  cComment = 8,
  cJoin = 16,
  cCreate = 32,  // create, add, update and freshen
  cDelete = 64,
  cAll = 127
};

enum TOptionId {
  oHelp,
  oVersion,
  oQuiet,
  oVerbose,
  oTrace,
  oLong,
  oJson,
  oExclude,
  oJunk,
  oOverwrite,
  oNever,
  oFreshen,
  oUpdate,
  oForceDirs,
  oStdout,
  oNoSymlinks,
  oPassword,
  oPasswordFile,
  oEncoding,
  oCodePage,
  oRecurse,
  oLevel,
  oMove,
  oEncrypt,
  oSplit,
  oStoreSuffixes,
  oAes
};

struct TOptionDef {
  TOptionId Id;
  unsigned Commands;
  char Short;  // 0: none
  const char* Long;
  const char* Arg;  // null: a flag
  const char* Help;
};

const TOptionDef kOptions[] = {
    {oLong, cList, 'l', "long", nullptr,
     "a table with a header and totals: sizes, ratio, method, date, CRC-32"},
    {oJson, cList, 0, "json", nullptr, "a JSON array with every field of every entry"},
    {oJunk, cExtract, 'j', "junk-paths", nullptr,
     "write every entry straight into DEST, without its folders"},
    {oOverwrite, cExtract, 'o', "overwrite", nullptr, "replace existing files without asking"},
    {oNever, cExtract, 'n', "never-overwrite", nullptr, "skip existing files without asking (exit status 0)"},
    {oFreshen, cExtract, 0, "freshen", nullptr,
     "only replace existing files that are older than their entry"},
    {oUpdate, cExtract, 0, "update", nullptr, "replace older files and add new ones"},
    {oForceDirs, cExtract, 0, "force-dirs", nullptr, "create DEST when it is missing"},
    {oStdout, cExtract, 'p', "stdout", nullptr,
     "write the contents of the entries to standard output (no DEST)"},
    {oNoSymlinks, cExtract, 0, "no-symlinks", nullptr, "write symbolic links as files holding their target"},
    {oRecurse, cCreate, 'r', "recurse", nullptr, "add the contents of folders, all the way down"},
    {oLevel, cCreate, 0, "level", "N", "compression level 0 (store) to 9 (smallest); -0 ... -9 alike; 6"},
    {oMove, cCreate, 'm', "move", nullptr, "delete the files once the archive holding them is written"},
    {oEncrypt, cCreate, 'e', "encrypt", nullptr, "encrypt the files added (asks for the password)"},
    {oAes, cCreate, 0, "aes", nullptr, "encrypt with AES-256 instead of the traditional encryption"},
    {oSplit, cCreate, 0, "split", "SIZE", "write parts of at most SIZE bytes (such as 10m, 650k)"},
    {oStoreSuffixes, cCreate, 0, "store-suffixes", "LIST",
     "store files with these suffixes uncompressed (such as .jpg:.png)"},
    {oExclude, cExtract | cTest | cCreate | cDelete, 'x', "exclude", "PATTERN",
     "leave out the entries (or files) matching PATTERN (repeatable)"},
    {oPassword, cExtract | cTest | cCreate, 0, "password", "PW",
     "the password (other users can see it: prefer the two below)"},
    {oPasswordFile, cExtract | cTest | cCreate, 0, "password-file", "FILE",
     "the password is the first line of FILE"},
    {oEncoding, cList | cExtract | cTest, 0, "encoding", "auto|oem|ansi|utf8", "how entry names are stored"},
    {oCodePage, cList | cExtract | cTest, 0, "codepage", "N", "code page of 8-bit entry names (such as 852)"},
    {oQuiet, cAll, 'q', "quiet", nullptr, "no progress bar and no summary (problems are still reported)"},
    {oVerbose, cAll, 'v', "verbose", nullptr, "show the component's messages"},
    {oTrace, cAll, 0, "trace", nullptr, "show the component's trace lines too"},
    {oHelp, cAll, 'h', "help", nullptr, "print this help and exit"},
    {oVersion, cAll, 'V', "version", nullptr, "print the versions of zmtool and its engine and exit"},
};

struct TCommandDef {
  TCommand Command;
  unsigned Bit;
  const char* Name;
  const char* Synopsis;
  const char* Summary;
};

const TCommandDef kCommands[] = {
    {TCommand::List, cList, "list", "list [-l|--json] ARCHIVE", "list the entries (folders end in /)"},
    {TCommand::Extract, cExtract, "extract", "extract ARCHIVE DEST [PATTERN...]",
     "extract the entries below DEST, keeping their folders"},
    {TCommand::Extract, cExtract, "extract", "extract -p ARCHIVE [PATTERN...]",
     "write the entries' contents to standard output"},
    {TCommand::Test, cTest, "test", "test ARCHIVE [PATTERN...]",
     "check the entries without writing anything"},
    {TCommand::Comment, cComment, "comment", "comment ARCHIVE [TEXT]",
     "print the archive comment; with TEXT replace it ('' removes it)"},
    {TCommand::Join, cJoin, "join", "join ARCHIVE DEST",
     "copy a split archive (or any archive) into one file"},
    {TCommand::Create, cCreate, "create", "create [-r] ARCHIVE PATH...", "make a new archive of the files"},
    {TCommand::Add, cCreate, "add", "add [-r] ARCHIVE PATH...",
     "add the files to the archive, replacing entries of the same name"},
    {TCommand::Update, cCreate, "update", "update [-r] ARCHIVE PATH...",
     "replace entries older than their file, and add new files"},
    {TCommand::Freshen, cCreate, "freshen", "freshen [-r] ARCHIVE PATH...",
     "replace entries older than their file; add nothing new"},
    {TCommand::Delete, cDelete, "delete", "delete ARCHIVE PATTERN...", "remove the matching entries"},
};

const char* const kStatusHelp =
    "exit status: 0 everything was done, 1 some entries were skipped or failed,\n"
    "  2 usage error, 3 the archive could not be read, 4 nothing matched the patterns,\n"
    "  130 interrupted\n";

unsigned BitOf(TCommand c) {
  for (const TCommandDef& d : kCommands)
    if (d.Command == c) return d.Bit;
  return cAll;
}

const TCommandDef* CommandNamed(const std::string& name) {
  for (const TCommandDef& d : kCommands)
    if (name == d.Name) return &d;
  return nullptr;
}

std::string OptionLine(const TOptionDef& d) {
  std::string left = "  ";
  left += d.Short ? std::string("-") + d.Short + ", " : std::string("    ");
  left += std::string("--") + d.Long;
  if (d.Arg) left += std::string(" ") + d.Arg;
  if (left.size() < 30)
    left.append(30 - left.size(), ' ');
  else
    left += "  ";
  return left + d.Help + "\n";
}

std::string OptionsOf(unsigned commands) {
  std::string text;
  for (const TOptionDef& d : kOptions)
    if (d.Commands & commands) text += OptionLine(d);
  return text;
}

std::string SetOption(const TOptionDef& d, const std::string& value, TOptions& o) {
  switch (d.Id) {
    case oHelp: o.Help = true; break;
    case oVersion: o.Version = true; break;
    case oQuiet: o.Quiet = true; break;
    case oVerbose: o.Verbose = true; break;
    case oTrace: o.Trace = true; break;
    case oLong: o.Long = true; break;
    case oJson: o.Json = true; break;
    case oExclude: o.Excludes.push_back(value); break;
    case oJunk: o.JunkPaths = true; break;
    case oOverwrite: o.Overwrite = TOverwrite::Always; break;
    case oNever: o.Overwrite = TOverwrite::Never; break;
    case oFreshen: o.Freshen = true; break;
    case oUpdate: o.Update = true; break;
    case oForceDirs: o.ForceDirs = true; break;
    case oStdout: o.ToStdout = true; break;
    case oNoSymlinks: o.NoSymlinks = true; break;
    case oPassword:
      o.Password = value;
      o.HasPassword = true;
      break;
    case oPasswordFile: o.PasswordFile = value; break;
    case oEncoding:
      if (value == "auto")
        o.Encoding = TNameEncoding::Auto;
      else if (value == "oem")
        o.Encoding = TNameEncoding::Oem;
      else if (value == "ansi")
        o.Encoding = TNameEncoding::Ansi;
      else if (value == "utf8" || value == "utf-8")
        o.Encoding = TNameEncoding::Utf8;
      else
        return "--encoding takes auto, oem, ansi or utf8, not '" + value + "'";
      break;
    case oRecurse: o.Recurse = true; break;
    case oLevel:
      if (value.size() != 1 || value[0] < '0' || value[0] > '9')
        return "--level takes a digit from 0 to 9, not '" + value + "'";
      o.Level = value[0] - '0';
      break;
    case oMove: o.Move = true; break;
    case oEncrypt: o.Encrypt = true; break;
    case oAes: o.Aes = o.Encrypt = true; break;
    case oSplit:
      o.SplitSize = ParseSize(value);
      if (o.SplitSize < 65536)
        return "--split takes a size of at least 64k (such as 10m or 650k), not '" + value + "'";
      break;
    case oStoreSuffixes:
      o.StoreSuffixes = value;
      o.HasStoreSuffixes = true;
      break;
    case oCodePage: {
      unsigned cp = 0;
      const auto r = std::from_chars(value.data(), value.data() + value.size(), cp);
      if (r.ec != std::errc() || r.ptr != value.data() + value.size() || cp == 0 || cp > 65535)
        return "--codepage takes a code page number such as 852, not '" + value + "'";
      o.CodePage = cp;
      break;
    }
  }
  return std::string();
}

// Checks what the options and the positional arguments say together.
std::string Settle(TOptions& o, std::vector<std::string>& pos) {
  if (o.Help || o.Version) return std::string();
  std::string cmd;
  for (const TCommandDef& d : kCommands)
    if (d.Command == o.Command) cmd = d.Name;
  if (o.Freshen && o.Update) return "--freshen and --update exclude each other";
  if (o.Long && o.Json) return "--long and --json exclude each other";
  if (o.ToStdout && (o.JunkPaths || o.Overwrite != TOverwrite::Ask || o.Freshen || o.Update || o.ForceDirs))
    return "--stdout writes no files: it takes none of -j, -o, -n, --freshen, --update, --force-dirs";
  if (o.HasPassword && !o.PasswordFile.empty()) return "--password and --password-file exclude each other";
  if (o.Writes()) {
    if (pos.size() < 2)
      return cmd + (o.Command == TCommand::Delete ? " needs ARCHIVE and PATTERN" : " needs ARCHIVE and PATH");
    o.Archive = pos[0];
    if (o.ReadsStdin()) return cmd + " cannot write an archive to standard input";
    o.Specs.assign(pos.begin() + 1, pos.end());
    o.Encrypt = o.Encrypt || o.HasPassword || !o.PasswordFile.empty();
    return std::string();
  }
  const bool needsDest = o.Command == TCommand::Join || (o.Command == TCommand::Extract && !o.ToStdout);
  const size_t need = needsDest ? 2 : 1;
  if (pos.size() < need) return cmd + (needsDest ? " needs ARCHIVE and DEST" : " needs ARCHIVE");
  o.Archive = pos[0];
  if (needsDest) o.Dest = pos[1];
  const bool selects = o.Command == TCommand::Extract || o.Command == TCommand::Test;
  if (o.Command == TCommand::Comment && pos.size() == 2) {
    o.Comment = pos[1];
    o.HasComment = true;
    if (o.ReadsStdin()) return "comment cannot change an archive read from standard input";
  } else if (!selects && pos.size() > need) {
    return o.Command == TCommand::Comment
               ? "comment takes ARCHIVE and at most one TEXT"
               : cmd + (need == 2 ? " takes ARCHIVE and DEST" : " takes one ARCHIVE");
  }
  if (selects) o.Specs.assign(pos.begin() + std::ptrdiff_t(need), pos.end());
  return std::string();
}

}  // namespace

std::string ParseArguments(const std::vector<std::string>& args, TOptions& o) {
  size_t i = 0;
  // Options of every command may also stand before it (zmtool --help, zmtool -V).
  unsigned allowed = cAll;
  std::vector<std::string> pos;
  bool optionsEnd = false;
  auto parseOption = [&](const std::string& a) -> std::string {
    const bool isLong = a.compare(0, 2, "--") == 0;
    if (isLong) {
      const size_t eq = a.find('=');
      const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      for (const TOptionDef& d : kOptions) {
        if (name != d.Long) continue;
        if (!(d.Commands & allowed)) break;
        std::string value;
        if (d.Arg) {
          if (eq != std::string::npos)
            value = a.substr(eq + 1);
          else if (i + 1 < args.size())
            value = args[++i];
          else
            return "--" + name + " needs " + d.Arg;
        } else if (eq != std::string::npos) {
          return "--" + name + " takes no value";
        }
        return SetOption(d, value, o);
      }
      return "unknown option '" + a.substr(0, eq) + "'";
    }
    // One or more short options in one word; one with a value takes the rest or the next.
    for (size_t k = 1; k < a.size(); ++k) {
      if ((allowed & cCreate) && a[k] >= '0' && a[k] <= '9') {
        o.Level = a[k] - '0';
        continue;
      }
      const TOptionDef* def = nullptr;
      for (const TOptionDef& d : kOptions)
        if (d.Short == a[k] && (d.Commands & allowed)) def = &d;
      if (!def) return "unknown option '-" + std::string(1, a[k]) + "'";
      std::string value;
      if (def->Arg) {
        if (k + 1 < a.size())
          value = a.substr(k + 1);
        else if (i + 1 < args.size())
          value = args[++i];
        else
          return std::string("-") + def->Short + " needs " + def->Arg;
        k = a.size();
      }
      std::string why = SetOption(*def, value, o);
      if (!why.empty()) return why;
    }
    return std::string();
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!optionsEnd && a == "--") {
      optionsEnd = true;
    } else if (!optionsEnd && a.size() > 1 && a[0] == '-') {
      std::string why = parseOption(a);
      if (!why.empty()) return why;
    } else if (o.Command == TCommand::None) {
      const TCommandDef* d = CommandNamed(a);
      if (!d) return o.Help || o.Version ? std::string() : "unknown command '" + a + "'";
      o.Command = d->Command;
      allowed = d->Bit;
    } else {
      pos.push_back(a);
    }
  }
  if (o.Command == TCommand::None) return o.Help || o.Version ? std::string() : "no command given";
  return Settle(o, pos);
}

std::string HelpText(TCommand c) {
  std::string text;
  if (c == TCommand::None) {
    text = "usage: zmtool COMMAND [OPTION...] ARCHIVE ...\n\ncommands:\n";
    for (const TCommandDef& d : kCommands) {
      std::string left = std::string("  ") + d.Synopsis;
      if (left.size() < 38)
        left.append(38 - left.size(), ' ');
      else
        left += "  ";
      text += left + d.Summary + "\n";
    }
    text +=
        "\nARCHIVE '-' reads the archive from standard input.\n"
        "'zmtool COMMAND --help' describes the options of a command.\n\noptions of every command:\n";
    for (const TOptionDef& d : kOptions)
      if (d.Commands == cAll) text += OptionLine(d);
    return text + "\n" + kStatusHelp;
  }
  const unsigned bit = BitOf(c);
  text = "usage:";
  for (const TCommandDef& d : kCommands)
    if (d.Command == c)
      text += std::string(text == "usage:" ? " zmtool " : "       zmtool ") + d.Synopsis + "\n         " +
              d.Summary + "\n";
  text += "\noptions:\n" + OptionsOf(bit);
  if (c == TCommand::Extract)
    text +=
        "\nExisting files: on a terminal zmtool asks what to do; otherwise it skips them,\n"
        "names each one and ends with status 1. Symbolic links are made last, and only\n"
        "when their target stays inside DEST.\n";
  if (bit & cCreate)
    text +=
        "\nPATH: a file, a folder (its contents with -r) or a pattern of file names; names\n"
        "are stored as given, below the current folder. The archive is written beside the\n"
        "old one and takes its place only when complete.\n";
  if (c == TCommand::Extract || c == TCommand::Test)
    text +=
        "\nPATTERN: * matches any run of characters, ? one character; | separates\n"
        "alternatives. Without a password option an encrypted entry brings a prompt on\n"
        "the terminal; ZMTOOL_PASSWORD is read too.\n";
  return text + "\n" + kStatusHelp;
}

std::string UsageText() {
  std::string text = "usage:";
  for (const TCommandDef& d : kCommands)
    text += std::string(text == "usage:" ? " zmtool " : "       zmtool ") + d.Synopsis + "\n";
  return text + "'zmtool --help' tells more.\n";
}

std::string VersionLine() { return std::string("zmtool ") + ZMTOOL_VERSION; }

}  // namespace zmtool
