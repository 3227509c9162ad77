// Loads arbitrary bytes as a whole archive: trailer, directory, every record decoded
// and checked against its local header, name lookups, duplicate checks, hash rebuilds
// and a write/parse round trip of each central header. Nothing may crash or hang.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ZMUTF8.h"
#include "ZMZipFile.h"
#include "ZipMate.h"

namespace {

std::string TempPath() {
  static const std::string path = [] {
    std::atexit([] { std::remove(("/tmp/central_fuzz_" + std::to_string(getpid()) + ".zip").c_str()); });
    return "/tmp/central_fuzz_" + std::to_string(getpid()) + ".zip";
  }();
  return path;
}

void Exercise(TZMZipFile& r, TZipMate& zip) {
  const int n = r.Count();
  for (int i = 0; i < n; ++i) {
    TZMZRec* rec = r.Items(i);
    const std::string name = rec->FileName();
    rec->FileComment();
    rec->Encoded();
    rec->ExtraData(0x0001);
    rec->ExtraData(0x7075);
    rec->UnicodeExtra(false);
    rec->UnicodeExtra(true);
    TZMZRec::IsInvalidName(name);
    rec->CheckLocal();
    int idx = -1;
    if (!name.empty() && !r.FindName(name, idx, false)) __builtin_trap();
    r.CheckDuplicate(rec);
    // A written header parses back to the same stored name.
    TZMZRec copy(&r);
    copy.AssignFrom(*rec);
    const std::string h = copy.CentralBytes();
    if (!h.empty()) {
      TZMZRec back(&r);
      size_t used = 0;
      if (back.ParseCentral(reinterpret_cast<const uint8_t*>(h.data()), h.size(), used) < 0 ||
          back.HeaderName() != rec->HeaderName())
        __builtin_trap();
    }
    copy.LocalBytes(rec->DateTime(), rec->CRC32());
  }
  int idx = -1;
  r.FindName("*", idx, true);
  r.RebuildHash(-1, true);
  r.ClearCachedNames();
  zip.SetEncoding(zeoOEM);
  for (int i = 0; i < n; ++i) r.Items(i)->FileName();
  zip.SetEncoding(zeoAuto);
  if (n > 1) r.Truncate(n / 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool utf8 = (SetUTF8Mode(true), true);
  const std::string path = TempPath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  TZipMate zip;
  zip.SetUnattended(true);
  TZMZipFile r(zip);
  r.SetFileName(path);
  try {
    if (r.OpenZip(false, false) >= 0) Exercise(r, zip);
  } catch (const EZMException&) {
  }
  r.File_Close();
  return 0;
}
