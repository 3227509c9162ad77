#include "DZTestKit.h"

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace dzt {

bool TEngine::Load(const char* path) {
  Handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!Handle) {
    Error = dlerror();
    return false;
  }
  Exec = reinterpret_cast<TDZExecFunc>(dlsym(Handle, "DZ_Exec"));
  Abort = reinterpret_cast<TDZAbortFunc>(dlsym(Handle, "DZ_Abort"));
  Version = reinterpret_cast<TDZVersionFunc>(dlsym(Handle, "DZ_Version"));
  PrivVersion = reinterpret_cast<TDZVersionFunc>(dlsym(Handle, "DZ_PrivVersion"));
  Name = reinterpret_cast<TDZNameFunc>(dlsym(Handle, "DZ_Name"));
  Banner = reinterpret_cast<TDZBannerFunc>(dlsym(Handle, "DZ_Banner"));
  Path = reinterpret_cast<TDZPathFunc>(dlsym(Handle, "DZ_Path"));
  return Exec && Abort && Version && PrivVersion && Name && Banner && Path;
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

std::string TextOf(const void* p) { return p ? std::string(static_cast<const char*>(p)) : ""; }

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
  for (const TMsg& m : Messages) s += std::to_string(m.Code & 0x3F) + ":" + m.Text + "\n";
  return s;
}

int32_t DZ_CALL THarness::Callback(void* p) {
  auto& rec = *static_cast<TDZCallbackRec*>(p);
  if (rec.Magic != DZ_CALLBACK_MAGIC) return -5;
  return static_cast<THarness*>(rec.Worker)->Handle(rec);
}

int32_t THarness::Handle(TDZCallbackRec& rec) {
  const int action = rec.Request & 0x3F;
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
      if (action == DZ_CB_ITEM && rec.ItemSize >= 0) Items.push_back(TextOf(rec.Text1));
      if (action == DZ_CB_TOTAL_ITEMS) TotalItems = uint32_t(rec.Param1);
      if (action == DZ_CB_TOTAL_BYTES) TotalBytes = rec.ItemSize;
      if (action == DZ_CB_STEP) StepBytes += rec.ItemSize;
      return OnProgress ? OnProgress(action, rec.ItemSize) : 0;
    case DZ_CB_MESSAGE:
      Messages.push_back({rec.Param1, TextOf(rec.Text1)});
      return 0;
    case DZ_CB_PASSWORD: {
      ++PasswordAsks;
      if (!OnPassword) return 2;  // no password to give
      int32_t tries = rec.Param1;
      std::string pwd;
      const int r = OnPassword(TextOf(rec.Text1), tries, pwd);
      rec.Param1 = tries;
      if (r == 1) giveText(pwd);
      return r;
    }
    case DZ_CB_CRC_ERROR:
      return OnCrc ? OnCrc(TextOf(rec.Text1), uint32_t(rec.Param1), uint32_t(rec.Param2)) : 0;
    case DZ_CB_OVERWRITE:
      return OnOverwrite ? OnOverwrite(TextOf(rec.Text1), rec.Param1, rec.Param2, rec.Param3) : 0;
    case DZ_CB_SKIPPED: {
      TSkip s{TextOf(rec.Text1), rec.Param2 - 1, rec.Param1};
      Skips.push_back(s);
      return OnSkipped ? OnSkipped(s) : 0;
    }
    case DZ_CB_EXT_NAME: {
      if (!OnExtName) return 0;
      std::string name = TextOf(rec.Text1);
      const int r = OnExtName(name, TextOf(rec.Text2));
      if (r == 1) giveText(name);
      return r;
    }
    case DZ_CB_OP_KEY:
      Key = uint32_t(rec.Param1);
      return 0;
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
    default:
      return -1;
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
      s->Data.replace(size_t(s->Pos), size_t(rec.ByteCount),
                      static_cast<const char*>(rec.DataPtr), size_t(rec.ByteCount));
      s->Pos += rec.ByteCount;
      return 1;
    }
    default:
      return 0;
  }
}

uint32_t Crc32(const std::string& data) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

std::string RawDeflate(const std::string& data, int level) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, uLong(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = uInt(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

namespace {

void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// Traditional encryption, written here independently of the engine.
struct TKeys {
  uint32_t K[3] = {305419896u, 591751049u, 878082192u};
  static uint32_t CrcByte(uint32_t c, uint8_t b) {
    return (c >> 8) ^ Table()[(c ^ b) & 0xFF];
  }
  static const uint32_t* Table() {
    static uint32_t t[256];
    static bool init = false;
    if (!init) {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
      }
      init = true;
    }
    return t;
  }
  void Update(uint8_t b) {
    K[0] = CrcByte(K[0], b);
    K[1] = (K[1] + (K[0] & 0xFF)) * 134775813u + 1;
    K[2] = CrcByte(K[2], uint8_t(K[1] >> 24));
  }
  uint8_t Byte() const {
    const uint32_t t = (K[2] | 2u) & 0xFFFFu;
    return uint8_t((t * (t ^ 1)) >> 8);
  }
  explicit TKeys(const std::string& pwd) {
    for (char c : pwd) Update(uint8_t(c));
  }
  std::string Encrypt(const std::string& plain) {
    std::string out = plain;
    for (char& c : out) {
      const uint8_t t = Byte();
      Update(uint8_t(c));
      c = char(uint8_t(c) ^ t);
    }
    return out;
  }
};

}  // namespace

std::string BuildZip(const std::vector<TEntrySpec>& entries, std::vector<uint64_t>* offsets) {
  std::string zip, cd;
  for (const TEntrySpec& e : entries) {
    std::string payload = e.Method == 8 ? RawDeflate(e.Data) : e.Data;
    const uint32_t crc = e.CrcOverride >= 0 ? uint32_t(e.CrcOverride) : Crc32(e.Data);
    uint16_t flags = e.Flags;
    if (!e.Password.empty()) {
      flags |= 1;
      std::string head(12, '\0');
      for (int i = 0; i < 11; ++i) head[size_t(i)] = char(17 * i + 3);
      head[11] = char(crc >> 24);
      TKeys keys(e.Password);
      payload = keys.Encrypt(head + payload);
    }
    const uint32_t comp = e.CompOverride >= 0 ? uint32_t(e.CompOverride) : uint32_t(payload.size());
    const uint32_t uncomp = e.UncompOverride >= 0 ? uint32_t(e.UncompOverride) : uint32_t(e.Data.size());
    const uint32_t off = e.OffsetOverride >= 0 ? uint32_t(e.OffsetOverride) : uint32_t(zip.size());
    if (offsets) offsets->push_back(zip.size());
    std::string lh;
    Put32(lh, 0x04034b50);
    Put16(lh, 20);
    Put16(lh, flags);
    Put16(lh, e.Method);
    Put32(lh, e.DosTime);
    Put32(lh, crc);
    Put32(lh, comp);
    Put32(lh, uncomp);
    Put16(lh, uint32_t(e.Name.size()));
    Put16(lh, uint32_t(e.Extra.size()));
    zip += lh + e.Name + e.Extra + payload;
    Put32(cd, 0x02014b50);
    Put16(cd, e.MadeBy);
    Put16(cd, 20);
    Put16(cd, flags);
    Put16(cd, e.Method);
    Put32(cd, e.DosTime);
    Put32(cd, crc);
    Put32(cd, comp);
    Put32(cd, uncomp);
    Put16(cd, uint32_t(e.Name.size()));
    Put16(cd, uint32_t(e.Extra.size()));
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, 0);
    Put32(cd, off);
    cd += e.Name + e.Extra;
  }
  const uint32_t cdOff = uint32_t(zip.size());
  zip += cd;
  Put32(zip, 0x06054b50);
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, uint32_t(entries.size()));
  Put16(zip, uint32_t(entries.size()));
  Put32(zip, uint32_t(cd.size()));
  Put32(zip, cdOff);
  Put16(zip, 0);
  return zip;
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

fs::path FreshDir(const std::string& name) {
  static const fs::path root = [] {
    fs::path r = fs::temp_directory_path() / ("dz_engine_tests_" + std::to_string(getpid()));
    fs::remove_all(r);
    fs::create_directories(r);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("dz_engine_tests_" + std::to_string(getpid())), ec);
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
    const std::string rel = fs::relative(de.path(), root).generic_string();
    t[rel] = de.is_directory() ? std::string("/") : ReadFile(de.path());
  }
  return t;
}

int Shell(const std::string& cmd) {
  const int r = std::system((cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
}

bool HaveTool(const std::string& tool) {
  return Shell("command -v " + tool) == 0;
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
      WriteFile(root / ("dir" + std::to_string(d)) / "sub" / ("data" + std::to_string(f) + ".bin"),
                bin);
    }
  }
  WriteFile(root / "empty.txt", "");
  WriteFile(root / "top.txt", "top level file\n");
  fs::create_directories(root / "emptydir");
}

}  // namespace dzt
