// Runs the engine's extract command on fuzzed archives: the archive comes from an
// application stream in memory, and then from a file (which the engine decodes and
// writes on its second thread); entries go to a private temporary folder, which must
// hold nothing outside itself afterwards, and no handle may stay open.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "DZEngineIntf.h"

namespace fs = std::filesystem;

namespace {

struct TFuzzRun {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  std::string Archive = "0:";  // stream 0, or a file
  int64_t Pos = 0;
  std::string Base;
  std::string Text;
  std::string Sink;  // an entry sent to stream 1
  int64_t SinkPos = 0;
  int Asks = 0;
};

int32_t DZ_CALL Callback(void* p) {
  auto& rec = *static_cast<TDZCallbackRec*>(p);
  auto& run = *static_cast<TFuzzRun*>(rec.Worker);
  auto give = [&](const std::string& s) {
    run.Text = s;
    run.Text.append(4, '\0');
    rec.Text1 = run.Text.data();
    rec.TextForm = 2;
  };
  switch (DZCallbackAction(rec.Request)) {
    case DZ_CB_ARG:
      switch (rec.Param1) {
        case DZ_ARG_ARCHIVE: give(run.Archive); return 1;
        case DZ_ARG_BASE: give(run.Base); return 1;
        case DZ_ARG_PASSWORD: give("pw"); return 1;
        case DZ_ARG_SPEC: {
          const int32_t index = rec.Param3;
          rec.Param3 = 2;
          if (index < 0) return -5;
          if (index >= 2) return 0;
          give(index == 0 ? "1:*.bin" : "*");
          return 1;
        }
        default: give(""); return 1;
      }
    case DZ_CB_PASSWORD:
      if (++run.Asks > 3) return 3;
      give("secret");
      return 1;
    case DZ_CB_OVERWRITE: return 1;
    default: return 0;
  }
}

int32_t DZ_CALL StreamCallback(void* p) {
  auto& rec = *static_cast<TDZStreamRec*>(p);
  auto& run = *static_cast<TFuzzRun*>(rec.Worker);
  const bool archive = rec.StreamRef == &run.Data;
  switch (rec.StreamOp) {
    case DZ_SO_OPEN:
      rec.StreamRef = rec.StreamNo == 0   ? static_cast<void*>(&run.Data)
                      : rec.StreamNo == 1 ? static_cast<void*>(&run.Sink)
                                          : nullptr;
      return rec.StreamRef ? 1 : 0;
    case DZ_SO_CLOSE: rec.StreamRef = nullptr; return 1;
    case DZ_SO_SEEK: {
      if (!archive) return 0;
      const int origin = rec.ByteCount & 0xFF;
      const int64_t base = origin == 0 ? 0 : origin == 1 ? run.Pos : int64_t(run.Size);
      if (base + rec.Pos < 0) return 0;
      run.Pos = base + rec.Pos;
      rec.Pos = run.Pos;
      return 1;
    }
    case DZ_SO_READ: {
      if (!archive) return 0;
      int64_t n = std::max<int64_t>(0, std::min<int64_t>(rec.ByteCount, int64_t(run.Size) - run.Pos));
      if (n) std::memcpy(rec.DataPtr, run.Data + run.Pos, size_t(n));
      run.Pos += n;
      rec.ByteCount = int32_t(n);
      return 1;
    }
    case DZ_SO_WRITE:
      if (rec.StreamRef != &run.Sink) return 0;
      // Only the amount matters here.
      run.SinkPos += rec.ByteCount;
      return 1;
    default: return 0;
  }
}

long OpenHandles() {
  std::error_code ec;
  fs::directory_iterator it("/proc/self/fd", ec);
  return ec ? -1 : long(std::distance(it, fs::directory_iterator()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path root = [] {
    fs::path r = fs::temp_directory_path() / ("dz_engine_fuzz_" + std::to_string(getpid()));
    fs::create_directories(r);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("dz_engine_fuzz_" + std::to_string(getpid())), ec);
    });
    return r;
  }();
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
    const uint32_t opts = r.Opts;
    TFuzzRun run;
    run.Data = data;
    run.Size = size;
    run.Base = base.string();
    if (r.FromFile) run.Archive = file.string();
    TDZCommand cmd{};
    cmd.Worker = &run;
    cmd.CmdVersion = DZ_CMD_VERSION;
    cmd.Callback = &Callback;
    cmd.StreamCallback = &StreamCallback;
    cmd.Options = opts;
    cmd.PwdReqCount = 2;
    cmd.Magic = DZ_CMD_MAGIC;
    DZ_Exec(&cmd);
  }
  // Nothing may have been written beside the output folder, nor left open.
  for (auto& de : fs::directory_iterator(root))
    if (de.path() != base && de.path() != file) std::abort();
  if (OpenHandles() != handles) std::abort();
  return 0;
}
