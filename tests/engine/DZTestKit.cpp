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

#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

namespace dzt {

TEngine& TEngine::Main() {
  static TEngine engine;
  static bool loaded = engine.Load(DZ_ENGINE_PATH);
  if (!loaded) {
    fprintf(stderr, "cannot load %s: %s\n", DZ_ENGINE_PATH, engine.Error.c_str());
    std::abort();
  }
  return engine;
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
