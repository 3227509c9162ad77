// What the fuzz targets that run DZ_Exec on one-entry archives share: the callbacks
// (the archive from application stream 0, the password "pw", asked for once more with
// "other" first), the archive builder, raw deflate and the run itself.
#pragma once
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "DZEngineIntf.h"
#include "TestTempDir.h"
#include "TestZip.h"

namespace dzfuzz {

namespace fs = std::filesystem;

constexpr const char* kPassword = "pw";
constexpr uint16_t kTime = 0x6B2C;
constexpr uint16_t kDate = 0x5A21;

inline void Check(bool ok) {
  if (!ok) std::abort();
}

struct TRun {
  const std::string* Archive = nullptr;
  int64_t Pos = 0;
  std::string Base;
  std::string Text;
  int Asks = 0;
  int Skipped = 0;
  int CrcErrors = 0;
};

inline int32_t DZ_CALL Callback(void* p) {
  auto& rec = *static_cast<TDZCallbackRec*>(p);
  auto& run = *static_cast<TRun*>(rec.Worker);
  auto give = [&](const std::string& s) {
    run.Text = s;
    run.Text.append(4, '\0');
    rec.Text1 = run.Text.data();
    rec.TextForm = 2;
  };
  switch (DZCallbackAction(rec.Request)) {
    case DZ_CB_ARG:
      switch (rec.Param1) {
        case DZ_ARG_ARCHIVE: give("0:"); return 1;
        case DZ_ARG_BASE: give(run.Base); return 1;
        case DZ_ARG_PASSWORD: give(kPassword); return 1;
        case DZ_ARG_SPEC: {
          const int32_t index = rec.Param3;
          rec.Param3 = 1;
          if (index < 0) return -5;
          if (index >= 1) return 0;
          give("*");
          return 1;
        }
        default: give(""); return 1;
      }
    case DZ_CB_PASSWORD:
      if (++run.Asks > 2) return 3;
      give(run.Asks == 1 ? "other" : kPassword);
      return 1;
    case DZ_CB_CRC_ERROR: ++run.CrcErrors; return 3;
    case DZ_CB_SKIPPED: ++run.Skipped; return 0;
    case DZ_CB_OVERWRITE: return 1;
    default: return 0;
  }
}

inline int32_t DZ_CALL StreamCallback(void* p) {
  auto& rec = *static_cast<TDZStreamRec*>(p);
  auto& run = *static_cast<TRun*>(rec.Worker);
  const std::string& a = *run.Archive;
  switch (rec.StreamOp) {
    case DZ_SO_OPEN:
      rec.StreamRef = rec.StreamNo == 0 ? static_cast<void*>(&run) : nullptr;
      return rec.StreamRef ? 1 : 0;
    case DZ_SO_CLOSE: rec.StreamRef = nullptr; return 1;
    case DZ_SO_SEEK: {
      const int origin = rec.ByteCount & 0xFF;
      const int64_t base = origin == 0 ? 0 : origin == 1 ? run.Pos : int64_t(a.size());
      if (base + rec.Pos < 0) return 0;
      run.Pos = base + rec.Pos;
      rec.Pos = run.Pos;
      return 1;
    }
    case DZ_SO_READ: {
      const int64_t n = std::max<int64_t>(0, std::min<int64_t>(rec.ByteCount, int64_t(a.size()) - run.Pos));
      if (n) std::memcpy(rec.DataPtr, a.data() + run.Pos, size_t(n));
      run.Pos += n;
      rec.ByteCount = int32_t(n);
      return 1;
    }
    default: return 0;
  }
}

using testzip::Put16;
using testzip::Put32;

inline std::string Archive(uint16_t flags, uint16_t method, uint32_t crc, uint32_t usize,
                           const std::string& data, const std::string& extra = {}) {
  const std::string name = "f.bin";
  std::string a;
  Put32(a, 0x04034B50);
  Put16(a, 20);
  Put16(a, flags);
  Put16(a, method);
  Put16(a, kTime);
  Put16(a, kDate);
  Put32(a, crc);
  Put32(a, uint32_t(data.size()));
  Put32(a, usize);
  Put16(a, uint16_t(name.size()));
  Put16(a, uint16_t(extra.size()));
  a += name + extra;
  a += data;
  const uint32_t cdStart = uint32_t(a.size());
  Put32(a, 0x02014B50);
  Put16(a, 20);
  Put16(a, 20);
  Put16(a, flags);
  Put16(a, method);
  Put16(a, kTime);
  Put16(a, kDate);
  Put32(a, crc);
  Put32(a, uint32_t(data.size()));
  Put32(a, usize);
  Put16(a, uint16_t(name.size()));
  Put16(a, uint16_t(extra.size()));
  Put16(a, 0);
  Put16(a, 0);
  Put16(a, 0);
  Put32(a, 0);
  Put32(a, 0);
  a += name + extra;
  const uint32_t cdSize = uint32_t(a.size()) - cdStart;
  Put32(a, 0x06054B50);
  Put16(a, 0);
  Put16(a, 0);
  Put16(a, 1);
  Put16(a, 1);
  Put32(a, cdSize);
  Put32(a, cdStart);
  Put16(a, 0);
  return a;
}

inline std::string RawDeflate(const std::string& in, int level) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&zs, uLong(in.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = uInt(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  Check(deflate(&zs, Z_FINISH) == Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

inline TRun Exec(const std::string& archive, const fs::path& base, uint32_t opts) {
  TRun run;
  run.Archive = &archive;
  run.Base = base.string();
  TDZCommand cmd{};
  cmd.Worker = &run;
  cmd.CmdVersion = DZ_CMD_VERSION;
  cmd.Callback = &Callback;
  cmd.StreamCallback = &StreamCallback;
  cmd.Options = opts;
  cmd.PwdReqCount = 2;
  cmd.Magic = DZ_CMD_MAGIC;
  DZ_Exec(&cmd);
  return run;
}

inline std::string ReadAll(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// A private folder for the run's files, removed when the process ends.
inline fs::path FuzzRoot(const std::string& name) {
  static const zmtest::TTempDir root(name + "_");
  return root.Path;
}

// Nothing but the target in the output folder (no temporary left) and nothing beside it.
inline void CheckOnlyTarget(const fs::path& root, const fs::path& base, const fs::path& target) {
  for (auto& de : fs::directory_iterator(base))
    if (de.path() != target) std::abort();
  for (auto& de : fs::directory_iterator(root))
    if (de.path() != base) std::abort();
}

}  // namespace dzfuzz
