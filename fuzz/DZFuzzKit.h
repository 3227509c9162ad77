// What the fuzz targets that run DZ_Exec on one-entry archives share: the run itself
// through the shared host double (the archive from application stream 0, the password
// "pw", asked for once more with "other" first), the archive builder and raw deflate.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "DZEngineIntf.h"
#include "TestEngineHost.h"
#include "TestTempDir.h"
#include "TestZip.h"
#include "FuzzCheck.h"

namespace dzfuzz {

namespace fs = std::filesystem;

constexpr const char* kPassword = "pw";
constexpr uint16_t kTime = 0x6B2C;
constexpr uint16_t kDate = 0x5A21;

// What one run reported.
struct TRun {
  int Asks = 0;
  int Skipped = 0;
  int CrcErrors = 0;
};

using testzip::Crc32;
using testzip::Put16;
using testzip::Put32;
using testzip::RawDeflate;

// The CRC and size an input claims for its entry: 4 bytes each after the mode byte, the
// size cut below 1 MiB.
struct TClaim {
  uint32_t Crc = 0, Size = 0;
};
inline TClaim ClaimOf(const uint8_t* data) {
  TClaim c;
  std::memcpy(&c.Crc, data + 1, 4);
  std::memcpy(&c.Size, data + 5, 4);
  c.Size %= 1u << 20;
  return c;
}

// A one-entry archive "f.bin" whose stored data and header fields are given (the data
// of a deflated entry is never empty: the builder would compress an empty one).
inline std::string Archive(uint16_t flags, uint16_t method, uint32_t crc, uint32_t usize,
                           const std::string& data, const std::string& extra = {}) {
  testzip::TEntrySpec e;
  e.Name = "f.bin";
  e.Method = method;
  e.Packed = data;
  e.Flags = flags;
  e.DosTime = uint32_t(kDate) << 16 | kTime;
  e.Extra = extra;
  e.MadeBy = 20;
  e.CrcOverride = crc;
  e.UncompOverride = usize;
  return testzip::BuildZip({e});
}

inline TRun Exec(const std::string& archive, const fs::path& base, uint32_t opts) {
  zmtest::TEngineHost host;
  host.Streams[0].Data = archive;
  host.Archive = "0:";
  host.Base = base.string();
  host.Password = kPassword;
  host.Specs = {"*"};
  host.Options = opts;
  host.PwdReqCount = 2;
  host.Level = 0;
  TRun run;
  host.OnPassword = [&](const std::string&, int32_t&, std::string& pwd) {
    if (host.PasswordAsks > 2) return 3;
    pwd = host.PasswordAsks == 1 ? "other" : kPassword;
    return 1;
  };
  host.OnCrc = [&](const std::string&, uint32_t, uint32_t) {
    ++run.CrcErrors;
    return 3;
  };
  host.OnOverwrite = [](const std::string&, int32_t, int32_t, int32_t) { return 1; };
  host.Exec(&DZ_Exec);
  run.Asks = host.PasswordAsks;
  run.Skipped = int(host.Skips.size());
  return run;
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
