// Lists fuzzed bytes as an archive through the component: the bytes go to a file of
// their own, ZipFileName is set (unattended, so failures only reach OnMessage), and
// every entry of the listing is read. The name ends in ".exe" for inputs that start
// with "MZ", so that self-extractor stubs and their settings are exercised too.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TestTempDir.h"
#include "ZMLister.h"
#include "ZipMate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const zmtest::TTempDir dir("zmlistfuzz");
  const bool exe = size >= 2 && data[0] == 'M' && data[1] == 'Z';
  const std::string path = dir.File(exe ? "in.exe" : "in.zip");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);

  TZipMate z;
  z.SetUnattended(true);
  z.SetUseDirOnlyEntries(size > 0 && (data[size - 1] & 1));
  uint64_t sink = 0;
  z.OnDirUpdate = [&](TObject*) { ++sink; };
  z.OnNewName = [&](TObject*, int n) { sink += uint64_t(n); };
  z.SetZipFileName(path);
  for (int i = 0; i < z.Count(); ++i) {
    auto e = z.DirEntry(i);
    if (!e) __builtin_trap();
    sink += e->FileName().size() + e->FileComment().size() + e->ExtraData(1).size() +
            e->ExtraData(0x7075).size() + uint64_t(e->UncompressedSize()) + e->CRC32();
  }
  // The other view of the same listing, then a lister of the detached-header check.
  z.SetUseDirOnlyEntries(!z.UseDirOnlyEntries());
  if (TZMLister* l = z.ZipLister()) sink += l->IsDetachedSFXHeader(path) ? 1 : 0;
  z.SetZipFileName("");
  if (sink == 0xFFFFFFFFFFFFFFFFull) std::puts("");
  return 0;
}
