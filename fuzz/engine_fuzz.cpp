// Runs the engine's test and extract commands on fuzzed archives: the archive comes from
// an application stream in memory, and then from a file (which the engine decodes and
// writes on its decoding threads); entries go to a private temporary folder, which must
// hold nothing outside itself afterwards, and no handle may stay open.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "DZEngineIntf.h"
#include "FuzzSample.h"
#include "TestEngineHost.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

long OpenHandles() {
  std::error_code ec;
  fs::directory_iterator it("/proc/self/fd", ec);
  return ec ? -1 : long(std::distance(it, fs::directory_iterator()));
}

// bzip2, LZMA, PPMd, XZ and Zstandard have targets of their own (method, ppmd), and
// their models and dictionaries of megabytes would spend most runs here allocating and
// clearing memory. Outside a sample of one input in 32, those method numbers become
// deflate where an entry states its method (local and central headers, and the AES
// field's method inside), which leaves the rest of the input as it is.
bool Heavy(unsigned method) {
  return method == 12 || method == 14 || method == 93 || method == 95 || method == 98;
}

std::string WithHeavyMethodsAsDeflate(const uint8_t* data, size_t size) {
  std::string a(reinterpret_cast<const char*>(data), size);
  if (fuzzkit::Sampled(data, size, 32)) return a;
  const auto at = [&](size_t i) { return unsigned(uint8_t(a[i])) | unsigned(uint8_t(a[i + 1])) << 8; };
  for (size_t i = 0; i + 12 <= a.size(); ++i) {
    size_t m;
    // Byte by byte: a compared block would feed the fuzzer's comparison hints.
    const unsigned c = uint8_t(a[i]), k1 = uint8_t(a[i + 1]), k2 = uint8_t(a[i + 2]), k3 = uint8_t(a[i + 3]);
    if (c == 'P' && k1 == 'K' && k2 == 3 && k3 == 4)
      m = i + 8;
    else if (c == 'P' && k1 == 'K' && k2 == 1 && k3 == 2)
      m = i + 10;
    else if (c == 1 && k1 == 0x99 && k2 == 7 && k3 == 0)
      m = i + 9;  // the AES field
    else
      continue;
    if (Heavy(at(m))) a[m] = 8, a[m + 1] = 0;
  }
  return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zmtest::TTempDir dir("dz_engine_fuzz_");
  const fs::path& root = dir.Path;
  const fs::path base = root / "out", file = root / "in.zip";
  fs::remove_all(base);
  fs::create_directories(base);
  const std::string archive = WithHeavyMethodsAsDeflate(data, size);
  if (FILE* f = std::fopen(file.string().c_str(), "wb")) {
    std::fwrite(archive.data(), 1, archive.size(), f);
    std::fclose(f);
  }
  const long handles = OpenHandles();
  const uint32_t extract = DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE | DZ_OPT_NTFS;
  // Test from the stream, then extract from the file. One input in four is extracted
  // from the stream first, so that the file's extraction goes over what that gave.
  const struct {
    uint32_t Opts;
    bool FromFile;
  } runs[] = {{DZ_OPT_ALWAYS | DZ_OPT_TEST, false}, {extract, false}, {extract, true}};
  const bool overExtracted = fuzzkit::Sampled(data, size, 4);
  for (const auto& r : runs) {
    if (r.Opts == extract && !r.FromFile && !overExtracted) continue;
    zmtest::TEngineHost host;
    host.Streams[0].Data = archive;
    host.Streams[1].Discard = true;  // an entry sent to stream 1: only the amount matters
    host.Archive = r.FromFile ? file.string() : "0:";
    host.Base = base.string();
    host.Password = "pw";
    host.Specs = {"1:*.bin", "*"};
    host.Options = r.Opts;
    host.PwdReqCount = 2;
    host.Level = 0;
    host.OnPassword = [&](const std::string&, int32_t&, std::string& pwd) {
      if (host.PasswordAsks > 3) return 3;
      pwd = "secret";
      return 1;
    };
    host.OnOverwrite = [](const std::string&, int32_t, int32_t, int32_t) { return 1; };
    host.Exec(&DZ_Exec);
  }
  // Nothing may have been written beside the output folder, nor left open.
  for (auto& de : fs::directory_iterator(root))
    if (de.path() != base && de.path() != file) std::abort();
  if (OpenHandles() != handles) std::abort();
  return 0;
}
