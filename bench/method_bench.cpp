// The bare libraries decoding the entries of an archive in a loop of their own: libbz2
// (method 12), liblzma (14 raw LZMA after the entry's 9-byte head, 95 XZ) and libzstd
// (93), each context reused from entry to entry, output into one reused buffer.
//
// Usage: method_bench ARCHIVE
// Decodes every entry of those methods once, checks each one's size, and prints
// "<entries> entries, <MiB> MiB decoded in <seconds> s"; the process is timed whole by
// the benchmark driver, next to zmtool test on the same archive. Zip64 archives and
// encrypted entries are not read.
#include <bzlib.h>
#include <lzma.h>
#include <zstd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return uint32_t(Get16(p)) | uint32_t(Get16(p + 2)) << 16; }

std::vector<uint8_t> Out(1 << 20);

// Each returns the number of bytes decoded, or -1.
int64_t Bzip2(const uint8_t* in, size_t n) {
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return -1;
  s.next_in = const_cast<char*>(reinterpret_cast<const char*>(in));
  s.avail_in = unsigned(n);
  int64_t total = 0;
  int rc;
  do {
    s.next_out = reinterpret_cast<char*>(Out.data());
    s.avail_out = unsigned(Out.size());
    rc = BZ2_bzDecompress(&s);
    total += int64_t(Out.size() - s.avail_out);
  } while (rc == BZ_OK);
  BZ2_bzDecompressEnd(&s);
  return rc == BZ_STREAM_END ? total : -1;
}

lzma_stream Lz = LZMA_STREAM_INIT;

int64_t RunLzma(const uint8_t* in, size_t n) {
  Lz.next_in = in;
  Lz.avail_in = n;
  int64_t total = 0;
  lzma_ret rc;
  do {
    Lz.next_out = Out.data();
    Lz.avail_out = Out.size();
    rc = lzma_code(&Lz, LZMA_FINISH);
    total += int64_t(Out.size() - Lz.avail_out);
  } while (rc == LZMA_OK);
  return rc == LZMA_STREAM_END ? total : -1;
}

int64_t Lzma(const uint8_t* in, size_t n, uint64_t size) {
  if (n < 9) return -1;
  lzma_options_lzma opt{};
  unsigned d = in[4];
  opt.lc = d % 9;
  d /= 9;
  opt.lp = d % 5;
  opt.pb = d / 5;
  opt.dict_size = Get32(in + 5);
  opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  opt.ext_size_low = uint32_t(size);
  opt.ext_size_high = uint32_t(size >> 32);
  const lzma_filter f[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_raw_decoder(&Lz, f) != LZMA_OK) return -1;
  return RunLzma(in + 9, n - 9);
}

int64_t Xz(const uint8_t* in, size_t n) {
  if (lzma_stream_decoder(&Lz, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) return -1;
  return RunLzma(in, n);
}

ZSTD_DStream* Zs = ZSTD_createDStream();

int64_t Zstd(const uint8_t* in, size_t n) {
  ZSTD_DCtx_reset(Zs, ZSTD_reset_session_only);
  ZSTD_inBuffer ib{in, n, 0};
  int64_t total = 0;
  for (;;) {  // until the input is used and the library holds no more output
    ZSTD_outBuffer ob{Out.data(), Out.size(), 0};
    const size_t rc = ZSTD_decompressStream(Zs, &ob, &ib);
    if (ZSTD_isError(rc)) return -1;
    total += int64_t(ob.pos);
    if ((ob.pos < ob.size || rc == 0) && ib.pos == ib.size) return rc == 0 ? total : -1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: method_bench ARCHIVE\n");
    return 2;
  }
  std::ifstream f(argv[1], std::ios::binary | std::ios::ate);
  std::vector<uint8_t> zip(size_t(f.tellg()));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(zip.data()), std::streamsize(zip.size()));
  size_t eocd = std::string::npos;
  for (size_t p = zip.size() >= 22 ? zip.size() - 22 + 1 : 0; p-- > 0;)
    if (Get32(&zip[p]) == 0x06054b50) {
      eocd = p;
      break;
    }
  if (eocd == std::string::npos) {
    std::fprintf(stderr, "method_bench: %s: no end of central directory record\n", argv[1]);
    return 1;
  }
  const auto start = std::chrono::steady_clock::now();
  size_t p = Get32(&zip[eocd + 16]), entries = 0;
  uint64_t total = 0;
  for (size_t i = 0, count = Get16(&zip[eocd + 10]); i < count; ++i) {
    const uint8_t* c = &zip[p];
    const unsigned method = Get16(c + 10), flags = Get16(c + 8);
    const uint32_t csize = Get32(c + 20), usize = Get32(c + 24), local = Get32(c + 42);
    p += 46 + Get16(c + 28) + Get16(c + 30) + Get16(c + 32);
    if (flags & 1) continue;
    const uint8_t* data = &zip[local + 30 + Get16(&zip[local + 26]) + Get16(&zip[local + 28])];
    int64_t got;
    switch (method) {
      case 12: got = Bzip2(data, csize); break;
      case 14: got = Lzma(data, csize, usize); break;
      case 93: got = Zstd(data, csize); break;
      case 95: got = Xz(data, csize); break;
      default: continue;
    }
    if (got != int64_t(usize)) {
      std::fprintf(stderr, "method_bench: entry %zu (method %u) decoded to %lld bytes, not %u\n", i, method,
                   static_cast<long long>(got), usize);
      return 1;
    }
    ++entries;
    total += usize;
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%zu entries, %.1f MiB decoded in %.3f s\n", entries, double(total) / (1 << 20), s);
  return entries ? 0 : 1;
}
