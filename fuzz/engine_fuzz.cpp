// Runs the engine's extract command on fuzzed archives: the archive comes from an
// application stream in memory, and then from a file (which the engine decodes and
// writes on its decoding threads); entries go to a private temporary folder, which must
// hold nothing outside itself afterwards, and no handle may stay open.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "DZEngineIntf.h"
#include "TestEngineHost.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

long OpenHandles() {
  std::error_code ec;
  fs::directory_iterator it("/proc/self/fd", ec);
  return ec ? -1 : long(std::distance(it, fs::directory_iterator()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zmtest::TTempDir dir("dz_engine_fuzz_");
  const fs::path& root = dir.Path;
  const fs::path base = root / "out", file = root / "in.zip";
  fs::remove_all(base);
  fs::create_directories(base);
  if (FILE* f = std::fopen(file.string().c_str(), "wb")) {
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  const long handles = OpenHandles();
  const uint32_t extract = DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE | DZ_OPT_NTFS;
  // Test, extract from the stream, then extract from the file over what the stream gave.
  const struct {
    uint32_t Opts;
    bool FromFile;
  } runs[] = {{DZ_OPT_ALWAYS | DZ_OPT_TEST, false}, {extract, false}, {extract, true}};
  for (const auto& r : runs) {
    zmtest::TEngineHost host;
    host.Streams[0].Data.assign(reinterpret_cast<const char*>(data), size);
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
