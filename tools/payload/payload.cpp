// Build-time packer of a file into a one-entry ZIP archive, as the utility embeds it.
//
//   zm_payload <in> <out.zip> --name <entry name> --mtime YYYY-MM-DDTHH:MM:SS
//              [--crc 0xXXXXXXXX] [--attr 0xXX]
//
// The entry is deflated by zlib at its maximum level (general purpose flag bit 1 says
// so), made by and needing version 2.0 on an MS-DOS host, with the given MS-DOS
// modification time and external attributes (default 0x20, archive), no extra fields
// and no comments. With --crc the input's CRC-32 must be that value, so a table that
// drifted from its published checksum stops the build.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "ToolArgs.h"

namespace {

using zmgen::ParseHex32;

constexpr uint16_t kVersion = 20;  // 2.0, host 0 (MS-DOS)
constexpr uint16_t kFlagMaxDeflate = 0x0002;
constexpr uint16_t kMethodDeflate = 8;

void Put16(std::string& b, uint32_t v) {
  b.push_back(static_cast<char>(v & 0xFF));
  b.push_back(static_cast<char>((v >> 8) & 0xFF));
}
void Put32(std::string& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// Raw deflate (no zlib or gzip wrapper) at the highest level.
std::string Deflate(const std::string& data) {
  z_stream z{};
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflateInit2 failed");
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&z, Z_FINISH);
  const size_t produced = z.total_out;
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(produced);
  return out;
}

// "2016-06-07T08:44:02" as MS-DOS time and date; seconds must be even (2-second units).
bool ParseDosTime(const std::string& s, uint16_t& time, uint16_t& date) {
  int y, mo, d, h, mi, se;
  char t;
  if (s.size() != 19 ||
      std::sscanf(s.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &y, &mo, &d, &t, &h, &mi, &se) != 7 ||
      (t != 'T' && t != ' '))
    return false;
  if (y < 1980 || y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 59 || h < 0 ||
      mi < 0 || se < 0 || se % 2 != 0)
    return false;
  time = static_cast<uint16_t>((h << 11) | (mi << 5) | (se / 2));
  date = static_cast<uint16_t>(((y - 1980) << 9) | (mo << 5) | d);
  return true;
}

// Entry names are stored as given; they must be plain relative ASCII names with '/',
// without empty, "." or ".." components.
bool ValidEntryName(const std::string& n) {
  if (n.empty() || n.size() > 0xFFFF) return false;
  for (unsigned char c : n)
    if (c < 0x20 || c >= 0x7F || c == '\\' || c == ':') return false;
  size_t from = 0;
  for (;;) {
    const size_t slash = n.find('/', from);
    const std::string part = n.substr(from, slash - from);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    from = slash + 1;
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: zm_payload <in> <out.zip> --name <entry name> "
               "--mtime YYYY-MM-DDTHH:MM:SS [--crc 0xXXXXXXXX] [--attr 0xXX]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> pos;
  std::string name;
  uint16_t dosTime = 0, dosDate = 0;
  bool haveTime = false, haveCrc = false;
  uint32_t wantCrc = 0, attr = 0x20;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--name" && hasValue) {
      name = argv[++i];
    } else if (a == "--mtime" && hasValue) {
      if (!ParseDosTime(argv[++i], dosTime, dosDate)) return Usage();
      haveTime = true;
    } else if (a == "--crc" && hasValue) {
      if (!ParseHex32(argv[++i], wantCrc)) return Usage();
      haveCrc = true;
    } else if (a == "--attr" && hasValue) {
      if (!ParseHex32(argv[++i], attr)) return Usage();
    } else if (a.rfind("--", 0) == 0) {
      return Usage();
    } else {
      pos.push_back(a);
    }
  }
  if (pos.size() != 2 || !haveTime || !ValidEntryName(name)) return Usage();

  std::ifstream in(pos[0], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "zm_payload: cannot read %s\n", pos[0].c_str());
    return 1;
  }
  const std::string data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    std::fprintf(stderr, "zm_payload: cannot read %s\n", pos[0].c_str());
    return 1;
  }
  // One entry without Zip64 records: sizes and offsets must stay below 4 GiB.
  if (data.size() >= 0xFFFFFFFFull) {
    std::fprintf(stderr, "zm_payload: %s is too large for an archive without Zip64\n", pos[0].c_str());
    return 1;
  }
  const uint32_t crc = static_cast<uint32_t>(crc32(
      crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  if (haveCrc && crc != wantCrc) {
    std::fprintf(stderr, "zm_payload: %s has CRC-32 %08X, expected %08X\n", pos[0].c_str(),
                 static_cast<unsigned>(crc), static_cast<unsigned>(wantCrc));
    return 1;
  }

  std::string packed;
  try {
    packed = Deflate(data);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zm_payload: %s\n", e.what());
    return 1;
  }
  if (packed.size() + name.size() * 2 + 30 + 46 + 22 >= 0xFFFFFFFFull) {
    std::fprintf(stderr, "zm_payload: archive too large without Zip64\n");
    return 1;
  }
  const auto usize = static_cast<uint32_t>(data.size());
  const auto csize = static_cast<uint32_t>(packed.size());
  const auto nameLen = static_cast<uint16_t>(name.size());

  // From the version needed to the extra field's length the local and the central
  // header hold the same fields.
  const auto putSharedFields = [&](std::string& b) {
    Put16(b, kVersion);
    Put16(b, kFlagMaxDeflate);
    Put16(b, kMethodDeflate);
    Put16(b, dosTime);
    Put16(b, dosDate);
    Put32(b, crc);
    Put32(b, csize);
    Put32(b, usize);
    Put16(b, nameLen);
    Put16(b, 0);  // extra
  };

  std::string zip;
  Put32(zip, 0x04034B50);  // local header
  putSharedFields(zip);
  zip += name;
  zip += packed;

  const auto cenOffset = static_cast<uint32_t>(zip.size());
  Put32(zip, 0x02014B50);  // central directory header
  Put16(zip, kVersion);    // made by
  putSharedFields(zip);
  Put16(zip, 0);  // comment
  Put16(zip, 0);  // disk number start
  Put16(zip, 0);  // internal attributes
  Put32(zip, attr);
  Put32(zip, 0);  // local header offset
  zip += name;
  const auto cenSize = static_cast<uint32_t>(zip.size() - cenOffset);

  Put32(zip, 0x06054B50);  // end of central directory
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, 1);
  Put16(zip, 1);
  Put32(zip, cenSize);
  Put32(zip, cenOffset);
  Put16(zip, 0);

  const std::string tmp = pos[1] + ".part";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(zip.data(), static_cast<std::streamsize>(zip.size()));
    if (!out.flush()) {
      std::fprintf(stderr, "zm_payload: cannot write %s\n", tmp.c_str());
      std::remove(tmp.c_str());
      return 1;
    }
  }
  std::error_code renamed;  // replaces an existing file on Windows too
  std::filesystem::rename(tmp, pos[1], renamed);
  if (renamed) {
    std::fprintf(stderr, "zm_payload: cannot create %s\n", pos[1].c_str());
    std::remove(tmp.c_str());
    return 1;
  }
  std::printf("%s: entry %s, %u bytes deflated to %u, archive %zu bytes\n", pos[1].c_str(), name.c_str(),
              static_cast<unsigned>(usize), static_cast<unsigned>(csize), zip.size());
  return 0;
}
