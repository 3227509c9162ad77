// Inflate speed on the deflated entries of a real archive: our core next to zlib and
// libdeflate, per class of data (an entry's class is the first folder of its name) and
// overall. Every decoder is checked first against the entries' sizes and CRC-32 values.
//
// Usage: zipinflate_bench ARCHIVE [repetitions (default 3)]
// Prints decoded MB/s and the ratios ours/zlib and ours/libdeflate (above 1: ours is
// faster). Times are the thread's CPU time of all entries of a class, best of the
// repetitions. The archive is read whole into memory; Zip64 archives are not read.
#include "ZMInflateCore.h"

#include <zlib.h>
#ifdef ZM_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

struct TEntry {
  std::string Name;
  std::string Class;
  const uint8_t* Data = nullptr;  // compressed bytes inside the archive image
  size_t CompSize = 0;
  size_t Size = 0;
  uint32_t Crc = 0;
};

uint16_t Get16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// The deflated entries of the archive image; an empty error text on success.
std::string ReadEntries(const Bytes& zip, std::vector<TEntry>& out, size_t& skipped) {
  if (zip.size() < 22) return "too short for a zip archive";
  size_t eocd = std::string::npos;
  const size_t lowest = zip.size() > 22 + 65535 ? zip.size() - 22 - 65535 : 0;
  for (size_t p = zip.size() - 22 + 1; p-- > lowest;)
    if (Get32(&zip[p]) == 0x06054b50) {
      eocd = p;
      break;
    }
  if (eocd == std::string::npos) return "no end of central directory record";
  const size_t count = Get16(&zip[eocd + 10]);
  const size_t cdSize = Get32(&zip[eocd + 12]);
  const size_t cdOff = Get32(&zip[eocd + 16]);
  if (count == 0xFFFF || cdOff == 0xFFFFFFFFu) return "Zip64 archives are not read by this program";
  if (cdOff > zip.size() || cdSize > zip.size() - cdOff) return "central directory outside the file";
  size_t p = cdOff;
  skipped = 0;
  for (size_t i = 0; i < count; ++i) {
    if (p + 46 > cdOff + cdSize || Get32(&zip[p]) != 0x02014b50) return "bad central directory record";
    TEntry e;
    const unsigned method = Get16(&zip[p + 10]);
    const unsigned flags = Get16(&zip[p + 8]);
    e.Crc = Get32(&zip[p + 16]);
    e.CompSize = Get32(&zip[p + 20]);
    e.Size = Get32(&zip[p + 24]);
    const size_t nameLen = Get16(&zip[p + 28]), extraLen = Get16(&zip[p + 30]),
                 commentLen = Get16(&zip[p + 32]);
    const size_t local = Get32(&zip[p + 42]);
    if (p + 46 + nameLen > cdOff + cdSize) return "bad central directory record";
    e.Name.assign(reinterpret_cast<const char*>(&zip[p + 46]), nameLen);
    p += 46 + nameLen + extraLen + commentLen;
    if (method != 8 || (flags & 1) || e.Size == 0) {
      ++skipped;  // stored, encrypted or empty
      continue;
    }
    if (local + 30 > zip.size() || Get32(&zip[local]) != 0x04034b50) return "bad local header of " + e.Name;
    const size_t data = local + 30 + Get16(&zip[local + 26]) + Get16(&zip[local + 28]);
    if (data > zip.size() || e.CompSize > zip.size() - data) return "data of " + e.Name + " outside the file";
    e.Data = &zip[data];
    const size_t slash = e.Name.find('/');
    e.Class = slash == std::string::npos ? "(top)" : e.Name.substr(0, slash);
    out.push_back(std::move(e));
  }
  return "";
}

double CpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// The three decoders, each reused from entry to entry; Decode returns the output size
// (0 on failure).
struct TDecoders {
  zm::TZMInflateCore Ours;
  z_stream Zs{};
#ifdef ZM_HAVE_LIBDEFLATE
  libdeflate_decompressor* Ld = libdeflate_alloc_decompressor();
#endif
  TDecoders() { inflateInit2(&Zs, -15); }
  ~TDecoders() {
    inflateEnd(&Zs);
#ifdef ZM_HAVE_LIBDEFLATE
    libdeflate_free_decompressor(Ld);
#endif
  }

  size_t Decode(int which, const TEntry& e, Bytes& out) {
    if (which == 0) {
      size_t outPos = 0;
      const zm::TZMInflateCore::TSink sink = [&](const uint8_t* p, size_t n) {
        if (n > out.size() - outPos) return false;
        std::memcpy(out.data() + outPos, p, n);
        outPos += n;
        return true;
      };
      return Ours.Inflate(e.Data, e.CompSize, sink) == zm::irOk ? outPos : 0;
    }
    if (which == 1) {
      inflateReset(&Zs);
      Zs.next_in = const_cast<Bytef*>(e.Data);
      Zs.avail_in = uInt(e.CompSize);
      Zs.next_out = out.data();
      Zs.avail_out = uInt(out.size());
      return inflate(&Zs, Z_FINISH) == Z_STREAM_END ? size_t(Zs.total_out) : 0;
    }
#ifdef ZM_HAVE_LIBDEFLATE
    size_t n = 0;
    return libdeflate_deflate_decompress(Ld, e.Data, e.CompSize, out.data(), out.size(), &n) ==
                   LIBDEFLATE_SUCCESS
               ? n
               : 0;
#else
    return 0;
#endif
  }
};

#ifdef ZM_HAVE_LIBDEFLATE
constexpr int kDecoders = 3;
#else
constexpr int kDecoders = 2;
#endif
const char* const kNames[] = {"ours", "zlib", "libdeflate"};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zipinflate_bench ARCHIVE [repetitions]\n");
    return 2;
  }
  const int reps = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::ifstream f(argv[1], std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "cannot open %s\n", argv[1]);
    return 2;
  }
  const Bytes zip((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  std::vector<TEntry> entries;
  size_t skipped = 0;
  const std::string err = ReadEntries(zip, entries, skipped);
  if (!err.empty()) {
    std::fprintf(stderr, "%s: %s\n", argv[1], err.c_str());
    return 2;
  }
  size_t largest = 0;
  std::map<std::string, std::vector<const TEntry*>> classes;
  for (const TEntry& e : entries) {
    largest = std::max(largest, e.Size);
    classes[e.Class].push_back(&e);
  }
  Bytes out(largest + 64);
  TDecoders dec;

  // Every decoder must reproduce every entry before anything is timed.
  for (const TEntry& e : entries)
    for (int d = 0; d < kDecoders; ++d) {
      std::fill(out.begin(), out.begin() + std::min<size_t>(out.size(), 4096), 0);
      const size_t n = dec.Decode(d, e, out);
      if (n != e.Size || uint32_t(crc32(0, out.data(), uInt(n))) != e.Crc) {
        std::fprintf(stderr, "%s decoded %s wrongly\n", kNames[d], e.Name.c_str());
        return 1;
      }
    }

  std::printf("%-12s %8s %9s %10s %10s %10s %9s %9s\n", "class", "entries", "MiB", "ours MB/s", "zlib MB/s",
              "ldef MB/s", "ours/zlib", "ours/ldef");
  double total[3] = {0, 0, 0};
  double bytes = 0;
  size_t count = 0;
  auto print = [](const std::string& name, size_t n, double b, const double* t) {
    const double mb = b / 1e6;
    std::printf("%-12s %8zu %9.1f %10.1f %10.1f %10.1f %9.2f %9.2f\n", name.c_str(), n, b / 1048576.0,
                mb / t[0], mb / t[1], kDecoders > 2 ? mb / t[2] : 0.0, t[1] / t[0],
                kDecoders > 2 ? t[2] / t[0] : 0.0);
  };
  for (const auto& [name, list] : classes) {
    double best[3] = {1e30, 1e30, 1e30};
    double b = 0;
    for (const TEntry* e : list) b += double(e->Size);
    for (int r = 0; r < reps; ++r)
      for (int k = 0; k < kDecoders; ++k) {
        const int d = (k + r) % kDecoders;  // the decoders take turns going first
        const double t0 = CpuSeconds();
        for (const TEntry* e : list)
          if (dec.Decode(d, *e, out) != e->Size) {
            std::fprintf(stderr, "%s failed on %s\n", kNames[d], e->Name.c_str());
            return 1;
          }
        best[d] = std::min(best[d], CpuSeconds() - t0);
      }
    print(name, list.size(), b, best);
    for (int d = 0; d < 3; ++d) total[d] += best[d];
    bytes += b;
    count += list.size();
  }
  if (count == 0) {
    std::fprintf(stderr, "no deflated entries\n");
    return 1;
  }
  print("overall", count, bytes, total);
  std::printf("(%zu entries not deflated or empty were left out)\n", skipped);
  return 0;
}
