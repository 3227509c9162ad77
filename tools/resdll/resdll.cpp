// zm_resdll: packs an engine library into the "DZResDll191" resource layout: the
// library's 32-bit private version, then the 16-bit method (8, deflated), the CRC-32
// of the library image and the raw deflate data (all little-endian).
//
//   zm_resdll LIBRARY OUTPUT [VERSION]
//
// Without VERSION the library is loaded and asked for DZ_PrivVersion.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

int Fail(const std::string& msg) {
  std::fprintf(stderr, "zm_resdll: %s\n", msg.c_str());
  return 1;
}

void PutLE(std::vector<unsigned char>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

bool AskVersion(const char* path, int32_t& version) {
#ifdef _WIN32
  (void)path;
  (void)version;
  return false;
#else
  std::string p = path;
  if (p.find('/') == std::string::npos) p = "./" + p;
  void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) return false;
  auto fn = reinterpret_cast<int32_t (*)()>(dlsym(h, "DZ_PrivVersion"));
  bool ok = fn != nullptr;
  if (ok) version = fn();
  dlclose(h);
  return ok;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return Fail("usage: zm_resdll LIBRARY OUTPUT [VERSION]");
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) return Fail(std::string("cannot read ") + argv[1]);
  std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.empty()) return Fail(std::string("empty library ") + argv[1]);

  int32_t version = 0;
  if (argc == 4) {
    char* end = nullptr;
    version = int32_t(std::strtol(argv[3], &end, 10));
    if (!end || *end) return Fail(std::string("bad version ") + argv[3]);
  } else if (!AskVersion(argv[1], version)) {
    return Fail(std::string("cannot ask the version of ") + argv[1] + "; give it as the third argument");
  }

  z_stream zs{};
  if (deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    return Fail("deflateInit2 failed");
  std::vector<unsigned char> packed(deflateBound(&zs, uLong(image.size())));
  zs.next_in = image.data();
  zs.avail_in = uInt(image.size());
  zs.next_out = packed.data();
  zs.avail_out = uInt(packed.size());
  int rc = deflate(&zs, Z_FINISH);
  packed.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return Fail("deflate failed");

  std::vector<unsigned char> out;
  PutLE(out, uint32_t(version), 4);
  PutLE(out, 8, 2);
  PutLE(out, uint32_t(crc32(0L, image.data(), uInt(image.size()))), 4);
  out.insert(out.end(), packed.begin(), packed.end());

  std::ofstream o(argv[2], std::ios::binary | std::ios::trunc);
  o.write(reinterpret_cast<const char*>(out.data()), std::streamsize(out.size()));
  if (!o) return Fail(std::string("cannot write ") + argv[2]);
  return 0;
}
