// CRC-32 throughput: our table routine and our fast routine next to zlib's crc32
// (and libdeflate's when available) over the same data.
//
// Usage: crc32_bench [total MiB, default 256] [buffer MiB, default 16]
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "ZMCrc32.h"
#include "ZMUtils.h"

#ifdef ZM_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

struct TResult {
  std::string Name;
  double MBps;
  uint32_t Crc;
};

// Runs fn over the buffer `passes` times, chaining the CRC; best of three runs.
TResult Measure(const std::string& name, const std::vector<uint8_t>& buf, int passes,
                const std::function<uint32_t(uint32_t, const uint8_t*, size_t)>& fn) {
  double best = 1e30;
  uint32_t crc = 0;
  for (int run = 0; run < 3; ++run) {
    const auto t0 = std::chrono::steady_clock::now();
    crc = 0;
    for (int p = 0; p < passes; ++p) crc = fn(crc, buf.data(), buf.size());
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  const double mb = double(buf.size()) * passes / 1e6;
  return {name, mb / best, crc};
}

}  // namespace

int main(int argc, char** argv) {
  const long totalMiB = argc > 1 ? std::max(1L, std::strtol(argv[1], nullptr, 10)) : 256;
  const long bufMiB = argc > 2 ? std::max(1L, std::strtol(argv[2], nullptr, 10)) : 16;
  const size_t bufSize = size_t(bufMiB) << 20;
  const int passes = int(std::max(1L, totalMiB / bufMiB));

  std::vector<uint8_t> buf(bufSize);
  std::mt19937_64 rng(42);
  for (size_t i = 0; i + 8 <= buf.size(); i += 8) {
    const uint64_t v = rng();
    for (int k = 0; k < 8; ++k) buf[i + size_t(k)] = uint8_t(v >> (8 * k));
  }

  std::vector<TResult> results;
  results.push_back(Measure("zlib crc32", buf, passes, [](uint32_t c, const uint8_t* p, size_t n) {
    return uint32_t(crc32(c, p, uInt(n)));
  }));
  results.push_back(
      Measure("ZipMate slicing by 8 (portable fallback)", buf, passes,
              [](uint32_t c, const uint8_t* p, size_t n) { return ~zm::Crc32UpdateSliced(~c, p, n); }));
  results.push_back(Measure("ZipMate Crc32Update (table, 1 byte/lookup)", buf, passes,
                            [](uint32_t c, const uint8_t* p, size_t n) { return ~Crc32Update(~c, p, n); }));
  results.push_back(Measure(
      zm::Crc32HasClmul() ? "ZipMate Crc32 (carry-less multiply folding)" : "ZipMate Crc32 (slicing by 8)",
      buf, passes, [](uint32_t c, const uint8_t* p, size_t n) { return Crc32(p, n, c); }));
#ifdef ZM_HAVE_LIBDEFLATE
  results.push_back(Measure("libdeflate_crc32", buf, passes, [](uint32_t c, const uint8_t* p, size_t n) {
    return uint32_t(libdeflate_crc32(c, p, n));
  }));
#endif

  std::printf("CRC-32 over %d x %ld MiB = %ld MiB (best of 3 runs)\n", passes, bufMiB, long(passes) * bufMiB);
  const double ref = results[0].MBps;
  bool agree = true;
  for (const TResult& r : results) {
    std::printf("  %-44s %9.1f MB/s   %5.2fx zlib   crc %08X\n", r.Name.c_str(), r.MBps, r.MBps / ref, r.Crc);
    agree = agree && r.Crc == results[0].Crc;
  }
  if (!agree) {
    std::printf("ERROR: the CRC values differ\n");
    return 1;
  }
  return 0;
}
