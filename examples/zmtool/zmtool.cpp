// zmtool: a small command-line client of the zip component TZipMate.
//
//   zmtool extract ARCHIVE DEST [PATTERN...] [-x PATTERN]... [--dirnames] [--overwrite]
//                  [--freshen|--update] [--force-dirs] [--password PW]
//   zmtool test ARCHIVE [PATTERN...] [-x PATTERN]... [--password PW]
//   zmtool list [--json] ARCHIVE
//   zmtool comment ARCHIVE [TEXT]
//   zmtool join ARCHIVE DEST
//   common options: --quiet, --verbose, --trace
//
// Exit status: 0 success, 1 an error reported by the component, 2 a usage error.
// It uses only the component's public surface; the engine comes from the program's
// own "DZResDll191" resource unless DzEngine190.dll stands in the program's folder.
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "ZMIRec.h"
#include "ZMLister.h"
#include "TermText.h"
#include "ZipMate.h"

using zmtool::TerminalSafe;

namespace {

const char* const kUsage =
    "usage: zmtool extract ARCHIVE DEST [PATTERN...] [-x PATTERN]... [--dirnames] [--overwrite]\n"
    "                      [--freshen|--update] [--force-dirs] [--password PW]\n"
    "       zmtool test ARCHIVE [PATTERN...] [-x PATTERN]... [--password PW]\n"
    "       zmtool list [--json] ARCHIVE\n"
    "       zmtool comment ARCHIVE [TEXT]\n"
    "       zmtool join ARCHIVE DEST\n"
    "options for both: --quiet, --verbose, --trace\n";

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "zmtool: %s\n", TerminalSafe(why).c_str());
  std::fputs(kUsage, stderr);
  return 2;
}

struct TOptions {
  std::string Command, Archive, Dest, Password, Comment;
  std::vector<std::string> Specs, Excludes;
  bool DirNames = false, Overwrite = false, Freshen = false, Update = false, ForceDirs = false;
  bool HasPassword = false, Quiet = false, Verbose = false, Trace = false, Json = false, HasComment = false;
};

// Parses argv into opts; an empty result means success, else the usage error.
std::string Parse(int argc, char** argv, TOptions& o) {
  if (argc < 2) return "no command given";
  o.Command = argv[1];
  if (o.Command != "extract" && o.Command != "test" && o.Command != "list" && o.Command != "comment" &&
      o.Command != "join")
    return "unknown command '" + o.Command + "'";
  const bool extract = o.Command == "extract";
  const bool selects = extract || o.Command == "test";
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& out) -> bool {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    if (o.Command == "list" && a == "--json") {
      o.Json = true;
    } else if (selects && (a == "-x" || a == "--exclude")) {
      std::string v;
      if (!value(v)) return a + " needs a specification";
      o.Excludes.push_back(v);
    } else if (selects && a == "--password") {
      if (!value(o.Password)) return "--password needs a value";
      o.HasPassword = true;
    } else if (a == "--quiet") {
      o.Quiet = true;
    } else if (a == "--verbose") {
      o.Verbose = true;
    } else if (a == "--trace") {
      o.Trace = true;
    } else if (extract && a == "--dirnames") {
      o.DirNames = true;
    } else if (extract && a == "--overwrite") {
      o.Overwrite = true;
    } else if (extract && a == "--freshen") {
      o.Freshen = true;
    } else if (extract && a == "--update") {
      o.Update = true;
    } else if (extract && a == "--force-dirs") {
      o.ForceDirs = true;
    } else if (a == "--") {
      for (++i; i < argc; ++i) positional.push_back(argv[i]);
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      positional.push_back(a);
    }
  }
  if (o.Freshen && o.Update) return "--freshen and --update exclude each other";
  const bool join = o.Command == "join";
  size_t need = extract || join ? 2 : 1;
  if (positional.size() < need)
    return extract || join ? o.Command + " needs ARCHIVE and DEST" : o.Command + " needs ARCHIVE";
  if (o.Command == "comment") {
    if (positional.size() > 2) return "comment takes ARCHIVE and at most one TEXT";
    if (positional.size() == 2) {
      o.Comment = positional[1];
      o.HasComment = true;
      positional.pop_back();
    }
  }
  if (!selects && positional.size() > need) return o.Command + (need == 2 ? " takes ARCHIVE and DEST" : " takes one ARCHIVE");
  o.Archive = positional[0];
  if (extract || join) o.Dest = positional[1];
  o.Specs.assign(positional.begin() + std::ptrdiff_t(need), positional.end());
  return std::string();
}

// A one-line progress bar on a terminal.
class TProgressBar {
 public:
  explicit TProgressBar(bool on) : FOn(on) {}
  ~TProgressBar() { Finish(); }
  void Show(TZMProgressDetails* d) {
    if (!FOn || !d) return;
    int64_t total = d->TotalBytes();
    int64_t done = d->TotalDone();
    int pct = total > 0 ? int(done * 100 / total) : 0;
    if (pct > 100) pct = 100;
    const int width = 30;
    int fill = pct * width / 100;
    std::string name = TerminalSafe(d->CurrentName());
    if (name.size() > 40) name = "..." + name.substr(name.size() - 37);
    std::fprintf(stderr, "\r[%s%s] %3d%% %-40s", std::string(size_t(fill), '#').c_str(),
                 std::string(size_t(width - fill), ' ').c_str(), pct, name.c_str());
    std::fflush(stderr);
    FShown = true;
  }
  void Finish() {
    if (FShown) std::fputc('\n', stderr);
    FShown = false;
  }

 private:
  bool FOn;
  bool FShown = false;
};

// Standard output gathered into large blocks: a listing of many entries costs a few
// writes, and no formatting by printf per line.
class TOutput {
 public:
  TOutput() { FBuf.reserve(kBlock + 1024); }
  ~TOutput() { Flush(); }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  TOutput& Add(const std::string& s) {
    FBuf += s;
    return *this;
  }
  TOutput& Add(const char* s) {
    FBuf += s;
    return *this;
  }
  TOutput& Add(char c) {
    FBuf += c;
    return *this;
  }
  // Decimal, at least width digits (zero-padded), as printf's %0*lld.
  TOutput& Dec(long long v, int width = 0) {
    char digits[24];
    const auto r = std::to_chars(digits, digits + sizeof digits, v);
    const int n = int(r.ptr - digits);
    if (v >= 0 && n < width) FBuf.append(size_t(width - n), '0');
    FBuf.append(digits, size_t(n));
    return *this;
  }
  // Eight upper-case hex digits, as printf's %08X.
  TOutput& Hex8(uint32_t v) {
    static const char kHex[] = "0123456789ABCDEF";
    char h[8];
    for (int i = 7; i >= 0; --i, v >>= 4) h[i] = kHex[v & 15];
    FBuf.append(h, 8);
    return *this;
  }
  // A full block goes out.
  void FlushIfFull() {
    if (FBuf.size() >= kBlock) Flush();
  }
  void Flush() {
    if (!FBuf.empty()) std::fwrite(FBuf.data(), 1, FBuf.size(), stdout);
    FBuf.clear();
  }

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::string FBuf;
};

// A DOS date and time (date in the high word) as YYYY-MM-DD HH:MM:SS.
void AddDosText(TOutput& out, uint32_t dos) {
  out.Dec(1980 + (dos >> 25), 4).Add('-').Dec((dos >> 21) & 15, 2).Add('-').Dec((dos >> 16) & 31, 2);
  out.Add(' ').Dec((dos >> 11) & 31, 2).Add(':').Dec((dos >> 5) & 63, 2).Add(':').Dec((dos & 31) * 2, 2);
}

// The method's name; for AES encryption (method 99) its strength and the method
// inside, from the entry's AES field (0x9901), as "AES-256, deflated".
void AddMethod(TOutput& out, const TZMDirEntry& e) {
  uint16_t m = e.CompressionMethod();
  if (m == 99) {
    const std::string f = e.ExtraData(0x9901);
    if (f.size() >= 7 && f[2] == 'A' && f[3] == 'E' && f[4] >= 1 && f[4] <= 3) {
      out.Add("AES-").Dec(64 + 64 * unsigned(f[4])).Add(", ");
      m = uint16_t(uint8_t(f[5]) | uint8_t(f[6]) << 8);
    }
  }
  switch (m) {
    case 0: out.Add("stored"); break;
    case 1: out.Add("shrunk"); break;
    case 2: case 3: case 4: case 5: out.Add("reduced"); break;
    case 6: out.Add("imploded"); break;
    case 8: out.Add("deflated"); break;
    case 9: out.Add("deflate64"); break;
    case 12: out.Add("bzip2"); break;
    case 14: out.Add("lzma"); break;
    case 93: out.Add("zstd"); break;
    case 95: out.Add("xz"); break;
    case 98: out.Add("ppmd"); break;
    default: out.Dec(m); break;
  }
}

void AddJsonText(TOutput& out, const std::string& s) {
  static const char kHex[] = "0123456789abcdef";
  out.Add('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out.Add("\\\""); break;
      case '\\': out.Add("\\\\"); break;
      case '\n': out.Add("\\n"); break;
      case '\r': out.Add("\\r"); break;
      case '\t': out.Add("\\t"); break;
      default:
        if (c < 0x20)
          out.Add("\\u00").Add(kHex[c >> 4]).Add(kHex[c & 15]);
        else
          out.Add(char(c));
    }
  }
  out.Add('"');
}

void PrintListing(TZipMate& zm, bool json) {
  TOutput out;
  const int count = zm.Count();
  if (json) out.Add('[');
  for (int i = 0; i < count; ++i) {
    auto e = zm.DirEntry(i);
    if (!e) continue;
    if (json) {
      out.Add(i ? ",\n  {\"name\": " : "\n  {\"name\": ");
      AddJsonText(out, e->FileName());
      out.Add(", \"size\": ").Dec(e->UncompressedSize()).Add(", \"compressed\": ").Dec(e->CompressedSize());
      out.Add(", \"method\": \"");
      AddMethod(out, *e);
      out.Add("\", \"crc\": \"").Hex8(e->CRC32()).Add("\", \"time\": \"");
      AddDosText(out, e->DateTime());
      out.Add("\", \"comment\": ");
      AddJsonText(out, e->FileComment());
      out.Add('}').FlushIfFull();
    } else {
      out.Add(TerminalSafe(e->FileName())).Add('\t').Dec(e->UncompressedSize()).Add('\t').Dec(e->CompressedSize()).Add('\t');
      AddMethod(out, *e);
      out.Add('\t').Hex8(e->CRC32()).Add('\t');
      AddDosText(out, e->DateTime());
      out.Add('\n').FlushIfFull();
    }
  }
  if (json) out.Add(count ? "\n]\n" : "]\n");
}

int Failed(TZipMate& zm) {
  std::fprintf(stderr, "error %d: %s\n", zm.ErrCode(), TerminalSafe(zm.ErrMsg()).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  TOptions o;
  std::string why = Parse(argc, argv, o);
  if (!why.empty()) return Usage(why);

  TZipMate zm;
  zm.SetUnattended(true);
  zm.SetVerbose(o.Verbose || o.Trace);
  zm.SetTrace(o.Trace);
  const bool chatty = o.Verbose || o.Trace;
  TProgressBar bar(!o.Quiet && !chatty && isatty(2));
  zm.OnMessage = [&](TObject*, int, const std::string& text) {
    if (chatty) std::fprintf(stderr, "%s\n", TerminalSafe(text).c_str());
  };
  zm.OnProgress = [&](TObject*, TZMProgressDetails* d) { bar.Show(d); };

  zm.SetZipFileName(o.Archive);
  if (o.Command == "list" || o.Command == "comment" || o.Command == "join") {
    if (zm.ErrCode() != 0) {
      // A directory that loaded after a warning (a wrong directory offset, bytes
      // before or after the archive) is listed; the warning goes to stderr.
      const TZMLister* lister = zm.ZipLister();
      if (!lister || !lister->CanProcess()) return Failed(zm);
      std::fprintf(stderr, "warning %d: %s\n", zm.ErrCode(), TerminalSafe(zm.ErrMsg()).c_str());
    }
    if (o.Command == "list") {
      PrintListing(zm, o.Json);
    } else if (o.Command == "join") {
      std::string dest = o.Dest;
      if (zm.JoinToSingleFile(dest) != 0) return Failed(zm);
      if (!o.Quiet) std::printf("joined %d entries into %s\n", zm.Count(), TerminalSafe(dest).c_str());
    } else if (o.HasComment) {
      zm.SetZipComment(o.Comment);
      if (zm.ErrCode() != 0) return Failed(zm);
      if (zm.ZipComment() != o.Comment) {
        std::fprintf(stderr, "zmtool: the archive's comment was not changed\n");
        return 1;
      }
    } else {
      std::printf("%s\n", TerminalSafe(zm.ZipComment(), true).c_str());
    }
    return 0;
  }
  TStringList specs;
  for (const std::string& s : o.Specs) specs.Add(s);
  zm.SetFSpecArgs(specs);
  TStringList excludes;
  for (const std::string& s : o.Excludes) excludes.Add(s);
  zm.SetFSpecArgsExcl(excludes);
  if (o.HasPassword) zm.SetPassword(o.Password);

  TZMExtrOpts opts;
  if (o.Command == "test") {
    opts.Include(ExtrTest);
  } else {
    zm.SetExtrBaseDir(o.Dest);
    if (o.DirNames) opts.Include(ExtrDirNames);
    if (o.Overwrite) opts.Include(ExtrOverWrite);
    if (o.Freshen) opts.Include(ExtrFreshen);
    if (o.Update) opts.Include(ExtrUpdate);
    if (o.ForceDirs) opts.Include(ExtrForceDirs);
  }
  zm.SetExtrOptions(opts);

  zm.Extract();
  bar.Finish();
  if (zm.ErrCode() != 0) return Failed(zm);
  if (!o.Quiet) {
    if (o.Command == "test")
      std::printf("%d entries tested OK\n", zm.SuccessCnt());
    else
      std::printf("%d entries extracted\n", zm.SuccessCnt());
  }
  return 0;
}
