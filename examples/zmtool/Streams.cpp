#include "Streams.h"

#include <deque>
#include <vector>

#include "Metadata.h"
#include "PlatCodePage.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatTerminal.h"

namespace zmtool {

namespace {

constexpr size_t kMaxTarget = 4096;

// Link targets are short: a stream that takes no more.
class TTargetStream : public TMemoryStream {
 public:
  int Write(const void* buffer, int count) override {
    if (Size() + count > int64_t(kMaxTarget)) return 0;
    return TMemoryStream::Write(buffer, count);
  }
};

std::string Utf8OfNative(const std::string& native) {
  const std::u16string w = plat::WideName(native);
  if (w.empty()) return native;
  const int n =
      plat::WideToMultiByte(plat::kCpUtf8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(size_t(n > 0 ? n : 0), '\0');
  if (n > 0) plat::WideToMultiByte(plat::kCpUtf8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

// Runs the engine over the entries specs send to stream 0, with open and close
// answered by the handlers; the component's handlers and selection are put back after.
int32_t RunStreamed(TZipMate& zm, const std::string& spec, const TZMProgressEvent& progress,
                    const TZMStreamEvent& stream, bool quiet) {
  const TZMProgressEvent oldProgress = zm.OnProgress;
  const TZMStreamEvent oldStream = zm.OnStream;
  const TZMMessageEvent oldMessage = zm.OnMessage;
  const TZMSkippedEvent oldSkipped = zm.OnSkipped;
  if (progress) zm.OnProgress = progress;
  zm.OnStream = stream;
  if (quiet) {
    zm.OnMessage = nullptr;
    zm.OnSkipped = [](TObject*, const std::string&, TZMSkipTypes, int&) {};
  }
  TStringList specs;
  specs.Add(spec);
  zm.SetFSpecArgs(specs);
  // Nothing is written there: every selected entry goes to a stream.
  zm.SetExtrBaseDir(plat::TempFolder());
  zm.SetExtrOptions(TZMExtrOpts());
  const int32_t r = zm.Extract();
  zm.OnProgress = oldProgress;
  zm.OnStream = oldStream;
  zm.OnMessage = oldMessage;
  zm.OnSkipped = oldSkipped;
  return r;
}

}  // namespace

TStdinArchive::~TStdinArchive() {
  if (FCopy != plat::kInvalidHandle) plat::FileClose(FCopy);
  if (!FNamed.empty()) plat::FileDelete(FNamed);
}

std::string TStdinArchive::Open(std::string& why) {
  const plat::THandle in = plat::StdHandle(plat::ssInput);
  if (plat::IsSeekableFile(in)) {
    std::string name = plat::ReopenName(in);
    if (!name.empty()) return name;
  }
  if (plat::IsTerminal(plat::ssInput)) {
    why = "standard input is a terminal, not an archive";
    return std::string();
  }
  const std::string folder = plat::TempFolder();
  FCopy = plat::FileCreateUnnamed(folder);
  std::string name;
  if (FCopy == plat::kInvalidHandle) {
    FNamed = plat::UniqueTempName(folder, "zmt");
    if (!FNamed.empty()) {
      FCleanup.Reset(FNamed);
      FCopy = plat::FileOpen(FNamed, plat::fmOpenReadWrite | plat::fmShareDenyNone);
    }
    if (FCopy == plat::kInvalidHandle) {
      why = "no temporary file for standard input in " + folder + ": " +
            plat::SysErrorMessage(plat::GetLastError());
      return std::string();
    }
    // Where an open file can be opened again after its name is gone, it goes now.
    if (plat::ReopenSurvivesRemoval() && plat::FileDelete(FNamed)) {
      name = plat::ReopenName(FCopy);
      FNamed.clear();
      FCleanup.Release();
    }
  } else {
    name = plat::ReopenName(FCopy);
  }
  if (name.empty()) name = Utf8OfNative(FNamed);
  std::vector<char> buf(1 << 16);
  for (;;) {
    const int got = plat::FileRead(in, buf.data(), int(buf.size()));
    if (got == 0 || (got < 0 && plat::GetLastError() == plat::kErrBrokenPipe)) break;
    if (got < 0 || plat::FileWrite(FCopy, buf.data(), got) != got) {
      why = std::string(got < 0 ? "reading standard input failed: " : "copying standard input failed: ") +
            plat::SysErrorMessage(plat::GetLastError());
      return std::string();
    }
  }
  if (!FNamed.empty()) {
    // Opened by its name from now on: a handle that may write would keep others out.
    plat::FileClose(FCopy);
    FCopy = plat::kInvalidHandle;
  }
  return name;
}

int TStdoutStream::Write(const void* buffer, int count) {
  if (count <= 0 || !plat::WriteStdBytes(plat::ssOutput, buffer, size_t(count))) return 0;
  FWritten += count;
  return count;
}

int64_t TStdoutStream::Seek(int64_t offset, int origin) {
  return origin == plat::soCurrent && offset == 0 ? FWritten : -1;
}

int32_t ExtractToStdout(TZipMate& zm, const std::vector<std::string>& specs) {
  std::string pattern;
  for (const std::string& s : specs) pattern += (pattern.empty() ? "" : "|") + s;
  TStdoutStream out;
  return RunStreamed(
      zm, "0:" + (pattern.empty() ? std::string("*") : pattern), nullptr,
      [&](TObject*, TZMStreamOp op, int, TStream*& strm, TZMSStats&, bool& done) {
        strm = op == zsoOpen ? &out : nullptr;
        done = op != zsoIdentify;
      },
      false);
}

std::map<int, std::string> ReadLinkTargets(TZipMate& zm) {
  std::map<int, std::string> targets;
  std::map<std::string, std::deque<int>> byName;
  std::string pattern;
  bool plain = true;
  for (int i = 0; i < zm.Count(); ++i) {
    auto e = zm.DirEntry(i);
    if (!e || !IsSymLink(*e)) continue;
    const std::string name = Slashed(e->FileName());
    byName[name].push_back(i);
    for (unsigned char c : name) plain = plain && c >= 0x20 && c != '*' && c != '?' && c != '|';
    pattern += (pattern.empty() ? "" : "|") + name;
  }
  if (byName.empty()) return targets;
  int current = -1;
  TTargetStream data;
  auto progress = [&](TObject*, TZMProgressDetails* d) {
    if (!d || d->Kind() != pkNewItem) return;
    current = -1;
    auto it = byName.find(Slashed(d->CurrentName()));
    if (it != byName.end() && !it->second.empty()) {
      current = it->second.front();
      it->second.pop_front();
    }
  };
  auto stream = [&](TObject*, TZMStreamOp op, int, TStream*& strm, TZMSStats&, bool& done) {
    done = op != zsoIdentify;
    if (op == zsoOpen && current >= 0) {
      data.Clear();
      strm = &data;
    } else if (op == zsoClose && current >= 0 && strm == &data) {
      targets[current].assign(reinterpret_cast<const char*>(data.Memory()), size_t(data.Size()));
      strm = nullptr;
    } else {
      strm = nullptr;  // not a link: no stream, and the engine passes it over
    }
  };
  // Names with wildcard characters in them match only themselves through "*".
  RunStreamed(zm, "0:" + (plain ? pattern : std::string("*")), progress, stream, true);
  return targets;
}

}  // namespace zmtool
