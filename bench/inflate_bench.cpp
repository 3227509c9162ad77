// Inflate speed: our core next to zlib's inflate and libdeflate on the same streams.
// Usage: inflate_bench [MiB per data kind (default 8)] [repetitions (default 5)]
// Prints decoded MB/s per data kind and overall, and the ratios ours/zlib and
// ours/libdeflate (above 1 means ours is faster). Times are the thread's CPU time, best
// of the repetitions, so that other work on a shared machine disturbs them less.
#include "ZMInflateCore.h"

#include <zlib.h>
#ifdef ZM_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes MakeText(size_t size, std::mt19937& rng) {
  static const char* const words[] = {
      "the",     "of",    "and",      "to",     "in",           "a",      "is",     "that",
      "rate",    "table", "labour",   "price",  "quarter",      "list",   "cost",   "work",
      "machine", "hour",  "material", "region", "estimate",     "update", "folder", "archive",
      "which",   "with",  "for",      "from",   "construction", "Tarnix", "value"};
  Bytes d;
  d.reserve(size + 32);
  std::geometric_distribution<int> geo(0.15);
  while (d.size() < size) {
    int idx = std::min(geo(rng), int(sizeof(words) / sizeof(words[0])) - 1);
    const char* w = words[idx];
    d.insert(d.end(), w, w + std::strlen(w));
    uint32_t r = rng() % 24;
    d.push_back(r == 0 ? '\n' : r == 1 ? ',' : r == 2 ? '.' : ' ');
  }
  d.resize(size);
  return d;
}

Bytes MakeSource(size_t size, std::mt19937& rng) {
  static const char* const ids[] = {"FCount",    "Result",   "InStream", "OutCount", "Buffer",
                                    "WindowPos", "BitCount", "Table",    "Entry",    "Length"};
  Bytes d;
  d.reserve(size + 128);
  while (d.size() < size) {
    std::string line(size_t(rng() % 4) * 2, ' ');
    switch (rng() % 5) {
      case 0:
        line += "if (" + std::string(ids[rng() % 10]) + " > " + std::to_string(rng() % 100) + ") {\n";
        break;
      case 1:
        line += std::string(ids[rng() % 10]) + " = " + ids[rng() % 10] + " + " + std::to_string(rng() % 9) +
                ";\n";
        break;
      case 2: line += "// " + std::string(ids[rng() % 10]) + " holds the next value\n"; break;
      case 3: line += "}\n"; break;
      default:
        line += "return Read(" + std::string(ids[rng() % 10]) + ", " + std::to_string(rng() % 4096) + ");\n";
        break;
    }
    d.insert(d.end(), line.begin(), line.end());
  }
  d.resize(size);
  return d;
}

Bytes MakeBinary(size_t size, std::mt19937& rng) {
  // Records of counters, small enumerations and floats, like a table file or an image.
  Bytes d;
  d.reserve(size + 32);
  uint32_t counter = 0;
  float f = 1.0f;
  while (d.size() < size) {
    counter += 1 + rng() % 3;
    f += float(rng() % 100) / 1000.0f;
    uint8_t rec[16];
    std::memcpy(rec, &counter, 4);
    uint32_t kind = rng() % 6;
    std::memcpy(rec + 4, &kind, 4);
    std::memcpy(rec + 8, &f, 4);
    uint32_t flags = (rng() % 8 == 0) ? rng() : 0x01000000u;
    std::memcpy(rec + 12, &flags, 4);
    d.insert(d.end(), rec, rec + 16);
  }
  d.resize(size);
  return d;
}

Bytes MakePoor(size_t size, std::mt19937& rng) {
  // Mostly random bytes with a skewed distribution and a few repeats: barely compressible.
  Bytes d;
  d.reserve(size);
  while (d.size() < size) {
    if (rng() % 64 == 0 && d.size() > 1000) {
      size_t from = d.size() - 1 - rng() % 1000;
      size_t n = 4 + rng() % 20;
      for (size_t i = 0; i < n; ++i) d.push_back(d[from + i]);
    } else {
      uint32_t r = rng();
      d.push_back(uint8_t((r & 0xFF) & ((r >> 8) | 0x3F)));
    }
  }
  d.resize(size);
  return d;
}

Bytes Compress(const Bytes& in) {
  z_stream zs{};
  deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&zs, uLong(in.size())));
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) {
    std::fprintf(stderr, "deflate failed\n");
    std::exit(1);
  }
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Best of reps runs, in seconds; the decoder must reproduce the data exactly.
template <class F>
double Best(int reps, const Bytes& want, Bytes& out, F decode) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    std::fill(out.begin(), out.begin() + std::min<size_t>(out.size(), 4096), 0);
    double t0 = CpuSeconds();
    size_t n = decode();
    double s = CpuSeconds() - t0;
    if (n != want.size() || std::memcmp(out.data(), want.data(), n) != 0) {
      std::fprintf(stderr, "decoded data differs\n");
      std::exit(1);
    }
    best = std::min(best, s);
  }
  return best;
}

size_t OursDecode(const Bytes& comp, Bytes& out) {
  zm::TZMInflateCore core;
  size_t outPos = 0;
  zm::TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
    if (n > out.size() - outPos) return false;
    std::memcpy(out.data() + outPos, p, n);
    outPos += n;
    return true;
  };
  return core.Inflate(comp.data(), comp.size(), sink) == zm::irOk ? outPos : 0;
}

size_t ZlibDecode(const Bytes& comp, Bytes& out) {
  z_stream zs{};
  inflateInit2(&zs, -15);
  zs.next_in = const_cast<Bytef*>(comp.data());
  zs.avail_in = uInt(comp.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  int r = inflate(&zs, Z_FINISH);
  size_t n = zs.total_out;
  inflateEnd(&zs);
  return r == Z_STREAM_END ? n : 0;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mib = argc > 1 ? size_t(std::atoi(argv[1])) : 8;
  int reps = argc > 2 ? std::atoi(argv[2]) : 5;
  if (mib == 0) mib = 1;
  if (reps <= 0) reps = 1;
  std::mt19937 rng(2016);
  struct TKind {
    const char* Name;
    Bytes Data;
  };
  std::vector<TKind> kinds;
  kinds.push_back({"text", MakeText(mib << 20, rng)});
  kinds.push_back({"source", MakeSource(mib << 20, rng)});
  kinds.push_back({"binary", MakeBinary(mib << 20, rng)});
  kinds.push_back({"poor", MakePoor(mib << 20, rng)});

#ifdef ZM_HAVE_LIBDEFLATE
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
#endif
  std::printf("%-8s %8s %7s %10s %10s %10s %9s %9s\n", "kind", "MiB", "ratio", "ours MB/s", "zlib MB/s",
              "ldef MB/s", "ours/zlib", "ours/ldef");
  double tOurs = 0, tZlib = 0, tLd = 0, total = 0;
  for (TKind& k : kinds) {
    Bytes comp = Compress(k.Data);
    Bytes out(k.Data.size() + 64);
    double ours = Best(reps, k.Data, out, [&] { return OursDecode(comp, out); });
    double zl = Best(reps, k.Data, out, [&] { return ZlibDecode(comp, out); });
    double ldt = 0;
#ifdef ZM_HAVE_LIBDEFLATE
    ldt = Best(reps, k.Data, out, [&] {
      size_t n = 0;
      auto r = libdeflate_deflate_decompress(ld, comp.data(), comp.size(), out.data(), out.size(), &n);
      return r == LIBDEFLATE_SUCCESS ? n : size_t(0);
    });
#endif
    double mb = double(k.Data.size()) / 1e6;
    tOurs += ours;
    tZlib += zl;
    tLd += ldt;
    total += mb;
    std::printf("%-8s %8.1f %7.3f %10.1f %10.1f %10.1f %9.2f %9.2f\n", k.Name,
                double(k.Data.size()) / 1048576.0, double(comp.size()) / double(k.Data.size()), mb / ours,
                mb / zl, ldt > 0 ? mb / ldt : 0.0, zl / ours, ldt > 0 ? ldt / ours : 0.0);
  }
  std::printf("%-8s %8.1f %7s %10.1f %10.1f %10.1f %9.2f %9.2f\n", "overall", total * 1e6 / 1048576.0, "",
              total / tOurs, total / tZlib, tLd > 0 ? total / tLd : 0.0, tZlib / tOurs,
              tLd > 0 ? tLd / tOurs : 0.0);
#ifdef ZM_HAVE_LIBDEFLATE
  libdeflate_free_decompressor(ld);
#endif
  return 0;
}
