#include "DZTestKit.h"

#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <type_traits>

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include "PlatDynLib.h"

namespace dzt {

bool TEngine::Load(const char* path) {
  Handle = plat::LibLoad(path);
  if (!Handle) {
    Error = plat::LastLibErrorText();
    return false;
  }
  auto bind = [this](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(plat::LibSymbol(Handle, name));
    if (!fn) Error += std::string(Error.empty() ? "" : ", ") + name + " is not exported";
  };
  bind(Exec, "DZ_Exec");
  bind(Abort, "DZ_Abort");
  bind(Version, "DZ_Version");
  bind(PrivVersion, "DZ_PrivVersion");
  bind(Name, "DZ_Name");
  bind(Banner, "DZ_Banner");
  bind(Path, "DZ_Path");
  return Error.empty();
}

TEngine& TEngine::Main() {
  static TEngine engine;
  static bool loaded = engine.Load(DZ_ENGINE_PATH);
  if (!loaded) {
    fprintf(stderr, "cannot load %s: %s\n", DZ_ENGINE_PATH, engine.Error.c_str());
    std::abort();
  }
  return engine;
}

std::string TextOf(const void* p, int32_t form) {
  if (!p) return "";
  if (form == 0) return std::string(static_cast<const char*>(p));
  // UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
  std::string out;
  for (const char16_t* w = static_cast<const char16_t*>(p); *w; ++w) {
    uint32_t c = *w;
    if (c >= 0xD800 && c < 0xDC00 && w[1] >= 0xDC00 && w[1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t(w[1]) - 0xDC00);
      ++w;
    } else if (c >= 0xD800 && c < 0xE000) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out += char(c);
    } else if (c < 0x800) {
      out += char(0xC0 | (c >> 6));
      out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += char(0xE0 | (c >> 12));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    } else {
      out += char(0xF0 | (c >> 18));
      out += char(0x80 | ((c >> 12) & 0x3F));
      out += char(0x80 | ((c >> 6) & 0x3F));
      out += char(0x80 | (c & 0x3F));
    }
  }
  return out;
}

int THarness::Exec(TEngine& engine) {
  TDZCommand cmd{};
  cmd.Worker = this;
  cmd.CmdVersion = DZ_CMD_VERSION;
  cmd.Callback = &THarness::Callback;
  cmd.StreamCallback = WithStreams ? &THarness::StreamCallback : nullptr;
  cmd.Options = Options;
  cmd.PwdReqCount = PwdReqCount;
  cmd.Level = Level;
  cmd.OpData = OpData;
  cmd.Magic = DZ_CMD_MAGIC;
  return engine.Exec(&cmd);
}

bool THarness::HasSkip(int type) const {
  for (const TSkip& s : Skips)
    if (s.Type == type) return true;
  return false;
}

std::string THarness::AllMessages() const {
  std::string s;
  for (const TMsg& m : Messages) s += std::to_string(DZErrorNumber(m.Code)) + ":" + m.Text + "\n";
  return s;
}

int32_t DZ_CALL THarness::Callback(void* p) {
  auto& rec = *static_cast<TDZCallbackRec*>(p);
  if (rec.Magic != DZ_CALLBACK_MAGIC) return -5;
  return static_cast<THarness*>(rec.Worker)->Handle(rec);
}

int32_t THarness::Handle(TDZCallbackRec& rec) {
  const int action = DZCallbackAction(rec.Request);
  Actions.push_back(action);
  auto giveText = [&](const std::string& s) {
    FTextBuf = s;
    FTextBuf.append(4, '\0');
    rec.Text1 = FTextBuf.data();
    rec.TextForm = 2;
  };
  switch (action) {
    case DZ_CB_ITEM:
    case DZ_CB_STEP:
    case DZ_CB_BATCH_END:
    case DZ_CB_TOTAL_ITEMS:
    case DZ_CB_TOTAL_BYTES:
      if (action == DZ_CB_ITEM && rec.ItemSize >= 0) Items.push_back(TextOf(rec.Text1, rec.TextForm));
      if (action == DZ_CB_TOTAL_ITEMS) TotalItems = uint32_t(rec.Param1);
      if (action == DZ_CB_TOTAL_BYTES) TotalBytes = rec.ItemSize;
      if (action == DZ_CB_STEP) StepBytes += rec.ItemSize;
      return OnProgress ? OnProgress(action, rec.ItemSize) : 0;
    case DZ_CB_MESSAGE: Messages.push_back({rec.Param1, TextOf(rec.Text1, rec.TextForm)}); return 0;
    case DZ_CB_PASSWORD: {
      ++PasswordAsks;
      if (!OnPassword) return 2;  // no password to give
      int32_t tries = rec.Param1;
      std::string pwd;
      const int r = OnPassword(TextOf(rec.Text1, rec.TextForm), tries, pwd);
      rec.Param1 = tries;
      if (r == 1) giveText(pwd);
      return r;
    }
    case DZ_CB_CRC_ERROR:
      return OnCrc ? OnCrc(TextOf(rec.Text1, rec.TextForm), uint32_t(rec.Param1), uint32_t(rec.Param2)) : 0;
    case DZ_CB_OVERWRITE:
      return OnOverwrite ? OnOverwrite(TextOf(rec.Text1, rec.TextForm), rec.Param1, rec.Param2, rec.Param3)
                         : 0;
    case DZ_CB_SKIPPED: {
      TSkip s{TextOf(rec.Text1, rec.TextForm), rec.Param2 - 1, rec.Param1};
      Skips.push_back(s);
      return OnSkipped ? OnSkipped(s) : 0;
    }
    case DZ_CB_EXT_NAME: {
      if (!OnExtName) return 0;
      std::string name = TextOf(rec.Text1, rec.TextForm);
      const int r = OnExtName(name, TextOf(rec.Text2, rec.TextForm));
      if (r == 1) giveText(name);
      return r;
    }
    case DZ_CB_OP_KEY: Key = uint32_t(rec.Param1); return 0;
    case DZ_CB_ARG: {
      const int kind = rec.Param1, index = rec.Param3;
      auto listItem = [&](const std::vector<std::string>& list) {
        if (index < 0) return -5;
        rec.Param3 = int32_t(list.size());
        if (size_t(index) >= list.size()) {
          giveText("");
          return 0;
        }
        giveText(list[size_t(index)]);
        return 1;
      };
      switch (kind) {
        case DZ_ARG_ARCHIVE: giveText(Archive); return 1;
        case DZ_ARG_PASSWORD: giveText(Password); return 1;
        case DZ_ARG_ROOT: giveText(Root); return 1;
        case DZ_ARG_BASE: giveText(Base); return 1;
        case DZ_ARG_SPEC: return listItem(Specs);
        case DZ_ARG_EXCLUDE: return listItem(Excludes);
        case DZ_ARG_TEMP: giveText(Temp); return 1;
        case DZ_ARG_COMMENT:
        case DZ_ARG_STORE_SUFFIX: giveText(""); return 1;
        default: return -5;
      }
    }
    default: return -1;
  }
}

int32_t DZ_CALL THarness::StreamCallback(void* p) {
  auto& rec = *static_cast<TDZStreamRec*>(p);
  if (rec.Magic != DZ_STREAM_MAGIC) return -5;
  return static_cast<THarness*>(rec.Worker)->HandleStream(rec);
}

int32_t THarness::HandleStream(TDZStreamRec& rec) {
  auto find = [&]() -> TMemStream* {
    for (auto& [no, s] : Streams)
      if (&s == rec.StreamRef) return &s;
    return nullptr;
  };
  switch (rec.StreamOp) {
    case DZ_SO_IDENTIFY: {
      auto it = Streams.find(rec.StreamNo);
      if (it == Streams.end()) return 0;
      rec.Pos = int64_t(it->second.Data.size());
      return 1;
    }
    case DZ_SO_OPEN: {
      rec.StreamRef = nullptr;
      auto it = Streams.find(rec.StreamNo);
      if (it == Streams.end()) return 0;
      it->second.Pos = 0;
      it->second.Closed = false;
      rec.StreamRef = &it->second;
      return 1;
    }
    case DZ_SO_CLOSE: {
      TMemStream* s = find();
      if (!s) return 0;
      s->Closed = true;
      rec.StreamRef = nullptr;
      return 1;
    }
    case DZ_SO_SEEK: {
      TMemStream* s = find();
      if (!s) return 0;
      const int origin = rec.ByteCount & 0xFF;
      int64_t base = origin == 0 ? 0 : origin == 1 ? s->Pos : int64_t(s->Data.size());
      const int64_t np = base + rec.Pos;
      if (np < 0) return 0;
      s->Pos = np;
      rec.Pos = np;
      return 1;
    }
    case DZ_SO_READ: {
      TMemStream* s = find();
      if (!s) return 0;
      int64_t avail = std::max<int64_t>(0, int64_t(s->Data.size()) - s->Pos);
      const int32_t n = int32_t(std::min<int64_t>(avail, rec.ByteCount));
      if (n > 0) std::memcpy(rec.DataPtr, s->Data.data() + s->Pos, size_t(n));
      s->Pos += n;
      rec.ByteCount = n;
      return 1;
    }
    case DZ_SO_WRITE: {
      TMemStream* s = find();
      if (!s) return 0;
      if (size_t(s->Pos) > s->Data.size()) s->Data.resize(size_t(s->Pos));
      s->Data.replace(size_t(s->Pos), size_t(rec.ByteCount), static_cast<const char*>(rec.DataPtr),
                      size_t(rec.ByteCount));
      s->Pos += rec.ByteCount;
      return 1;
    }
    default: return 0;
  }
}

TCentralSummary SummarizeCentral(const std::string& zip) {
  TCentralSummary sum;
  auto u16 = [&](size_t p) { return uint16_t(uint8_t(zip[p]) | (uint8_t(zip[p + 1]) << 8)); };
  for (size_t p = zip.find("PK\x01\x02"); p != std::string::npos && p + 46 <= zip.size();
       p = zip.find("PK\x01\x02", p + 4)) {
    sum.Methods.push_back(u16(p + 10));
    sum.FlagsOr = uint16_t(sum.FlagsOr | u16(p + 8));
    const size_t nameLen = u16(p + 28), extraLen = u16(p + 30);
    size_t x = p + 46 + nameLen;
    const size_t xEnd = std::min(zip.size(), x + extraLen);
    while (x + 4 <= xEnd) {
      sum.ExtraTags.push_back(u16(x));
      x += 4 + u16(x + 2);
    }
  }
  return sum;
}

std::string PackedData(const std::string& zip, size_t index) {
  auto u16 = [&](size_t p) { return size_t(uint8_t(zip[p]) | (uint8_t(zip[p + 1]) << 8)); };
  auto u32 = [&](size_t p) { return u16(p) | u16(p + 2) << 16; };
  size_t p = zip.find("PK\x01\x02");
  for (; p != std::string::npos && index; --index) p = zip.find("PK\x01\x02", p + 4);
  if (p == std::string::npos || p + 46 > zip.size()) return "";
  const size_t local = u32(p + 42), size = u32(p + 20);
  if (local + 30 > zip.size()) return "";
  const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
  return data <= zip.size() ? zip.substr(data, size) : "";
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

std::string Utf8Of(const fs::path& p) {
  const std::u8string s = p.u8string();
  return std::string(s.begin(), s.end());
}

std::string NativeName(std::string name) {
#ifdef _WIN32
  std::replace(name.begin(), name.end(), '/', '\\');
#endif
  return name;
}

namespace {

int ProcessId() {
#ifdef _WIN32
  return _getpid();
#else
  return int(getpid());
#endif
}

}  // namespace

fs::path FreshDir(const std::string& name) {
  static const fs::path root = [] {
    fs::path r = fs::temp_directory_path() / ("dz_engine_tests_" + std::to_string(ProcessId()));
    fs::remove_all(r);
    fs::create_directories(r);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("dz_engine_tests_" + std::to_string(ProcessId())), ec);
    });
    return r;
  }();
  fs::path p = root / name;
  fs::remove_all(p);
  fs::create_directories(p);
  return p;
}

void WriteFile(const fs::path& p, const std::string& data) {
  fs::create_directories(p.parent_path());
  std::ofstream f(p, std::ios::binary);
  f.write(data.data(), std::streamsize(data.size()));
}

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> t;
  if (!fs::exists(root)) return t;
  for (auto& de : fs::recursive_directory_iterator(root)) {
    const std::u8string rel8 = fs::relative(de.path(), root).generic_u8string();
    const std::string rel(rel8.begin(), rel8.end());
    t[rel] = de.is_directory() ? std::string("/") : ReadFile(de.path());
  }
  return t;
}

std::string Filter(const std::string& cmd, const std::string& data) {
  const fs::path dir = FreshDir("filter");
  WriteFile(dir / "in", data);
  if (Shell("(" + cmd + " < " + (dir / "in").string() + " > " + (dir / "out").string() + ")") != 0) return {};
  return ReadFile(dir / "out");
}

std::string PackBzip2(const std::string& data) {
  std::string out(data.size() + data.size() / 100 + 600, '\0');
  unsigned n = unsigned(out.size());
  if (BZ2_bzBuffToBuffCompress(out.data(), &n, const_cast<char*>(data.data()), unsigned(data.size()), 9, 0,
                               0) != BZ_OK)
    return {};
  out.resize(n);
  return out;
}

namespace {
std::string RunLzma(lzma_stream& s, const std::string& data, std::string out) {
  const size_t head = out.size();
  out.resize(head + data.size() + data.size() / 2 + 1024);
  s.next_in = reinterpret_cast<const uint8_t*>(data.data());
  s.avail_in = data.size();
  s.next_out = reinterpret_cast<uint8_t*>(out.data()) + head;
  s.avail_out = out.size() - head;
  const lzma_ret rc = lzma_code(&s, LZMA_FINISH);
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return rc == LZMA_STREAM_END ? out : std::string();
}
}  // namespace

std::string PackLzma(const std::string& data, bool eos) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  uint8_t props[5];
  lzma_filter f[2] = {{LZMA_FILTER_LZMA1, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_encode(f, props) != LZMA_OK) return {};
  opt.ext_flags = eos ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  f[0].id = LZMA_FILTER_LZMA1EXT;
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&s, f) != LZMA_OK) return {};
  // The encoder's version (here 5.4), the size of the properties, the properties.
  return RunLzma(s, data, std::string("\x05\x04\x05\x00", 4) + std::string(props, props + 5));
}

std::string PackXz(const std::string& data) {
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_easy_encoder(&s, 6, LZMA_CHECK_CRC64) != LZMA_OK) return {};
  return RunLzma(s, data, {});
}

std::string PackZstd(const std::string& data) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
  if (ZSTD_isError(n)) return {};
  out.resize(n);
  return out;
}

void MakeSampleTree(const fs::path& root) {
  std::mt19937 rng(1234);
  std::string words[] = {"alpha ", "beta ", "gamma ", "delta\n", "rate ", "table ", "zip "};
  for (int d = 0; d < 3; ++d) {
    for (int f = 0; f < 4; ++f) {
      std::string text;
      const int n = 50 + int(rng() % 4000) * (f + 1);
      for (int i = 0; i < n; ++i) text += words[rng() % 7];
      WriteFile(root / ("dir" + std::to_string(d)) / ("text" + std::to_string(f) + ".txt"), text);
      std::string bin(size_t(1000 + rng() % 70000), '\0');
      for (char& c : bin) c = char(rng() % (f == 0 ? 256 : 16));
      WriteFile(root / ("dir" + std::to_string(d)) / "sub" / ("data" + std::to_string(f) + ".bin"), bin);
    }
  }
  WriteFile(root / "empty.txt", "");
  WriteFile(root / "top.txt", "top level file\n");
  fs::create_directories(root / "emptydir");
}

}  // namespace dzt
