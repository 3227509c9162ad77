// Archives built byte by byte for the test suites: stored, deflated (zlib) or
// traditionally encrypted entries, with overrides for archives that lie. Shared by the
// engine's and the component's suites, so that their fixtures need no zip program.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testzip {

struct TEntrySpec {
  std::string Name = {};
  std::string Data = {};
  uint16_t Method = 8;      // 0 stored, 8 deflate (compressed here), other: Data as is
  std::string Packed = {};  // when not empty: the stored data, which decode to Data
  uint16_t Flags = 0;
  uint32_t DosTime = 0x5A2B6000;  // 2025-01-11 12:00:00
  std::string Extra = {};
  uint16_t MadeBy = 0x031E;  // Unix, 3.0
  // Overrides for lying archives.
  int64_t CrcOverride = -1, CompOverride = -1, UncompOverride = -1, OffsetOverride = -1;
  std::string Password = {};  // traditional encryption when not empty
  uint32_t ExtAttr = 0;       // external attributes (a Unix mode in the high word)
};

inline uint32_t Crc32(const std::string& data) {
  return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(data.data()), uInt(data.size())));
}

inline std::string RawDeflate(const std::string& data, int level = 6) {
  z_stream zs{};
  deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, uLong(data.size())) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = uInt(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// n bytes of noise that deflate cannot shrink, the same for the same seed.
inline std::string Noise(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (char& c : s) {
    seed = seed * 1103515245u + 12345u;
    c = char(seed >> 16);
  }
  return s;
}

// Little-endian fields appended to an archive being written.
inline void Put16(std::string& s, uint32_t v) {
  s += char(v & 0xFF);
  s += char((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}

// A little-endian field of 2, 4 or 8 bytes, for records written as one expression.
inline std::string Le16(uint64_t v) { return {char(v), char(v >> 8)}; }
inline std::string Le32(uint64_t v) { return Le16(v) + Le16(v >> 16); }
inline std::string Le64(uint64_t v) { return Le32(v) + Le32(v >> 32); }

// An extra-field block: its tag, the size of its data, the data.
inline std::string ExtraBlock(uint16_t tag, const std::string& data) {
  std::string b;
  Put16(b, tag);
  Put16(b, uint16_t(data.size()));
  return b + data;
}

// The fields from the flags to the extra field's length, alike in the local and the
// central header.
inline void PutSharedFields(std::string& h, uint16_t flags, uint16_t method, uint32_t dosTime, uint32_t crc,
                            uint32_t comp, uint32_t uncomp, size_t nameLen, size_t extraLen) {
  Put16(h, flags);
  Put16(h, method);
  Put32(h, dosTime);
  Put32(h, crc);
  Put32(h, comp);
  Put32(h, uncomp);
  Put16(h, uint32_t(nameLen));
  Put16(h, uint32_t(extraLen));
}

// The end of central directory record of a one-disk archive of count entries whose
// central directory central starts at cdOffset, and its comment.
inline void PutEndRecord(std::string& zip, uint32_t count, const std::string& central, uint32_t cdOffset,
                         const std::string& comment = {}) {
  Put32(zip, 0x06054b50);
  Put16(zip, 0);  // this disk
  Put16(zip, 0);  // the disk where the central directory starts
  Put16(zip, count);
  Put16(zip, count);
  Put32(zip, uint32_t(central.size()));
  Put32(zip, cdOffset);
  Put16(zip, uint32_t(comment.size()));
  zip += comment;
}

namespace detail {

// Traditional encryption, written here independently of the engine.
struct TKeys {
  uint32_t K[3] = {305419896u, 591751049u, 878082192u};
  static uint32_t CrcByte(uint32_t c, uint8_t b) { return (c >> 8) ^ Table()[(c ^ b) & 0xFF]; }
  static const uint32_t* Table() {
    static uint32_t t[256];
    static bool init = false;
    if (!init) {
      for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[i] = c;
      }
      init = true;
    }
    return t;
  }
  void Update(uint8_t b) {
    K[0] = CrcByte(K[0], b);
    K[1] = (K[1] + (K[0] & 0xFF)) * 134775813u + 1;
    K[2] = CrcByte(K[2], uint8_t(K[1] >> 24));
  }
  uint8_t Byte() const {
    const uint32_t t = (K[2] | 2u) & 0xFFFFu;
    return uint8_t((t * (t ^ 1)) >> 8);
  }
  explicit TKeys(const std::string& pwd) {
    for (char c : pwd) Update(uint8_t(c));
  }
  std::string Encrypt(const std::string& plain) {
    std::string out = plain;
    for (char& c : out) {
      const uint8_t t = Byte();
      Update(uint8_t(c));
      c = char(uint8_t(c) ^ t);
    }
    return out;
  }
};

}  // namespace detail

// Builds a whole archive; offsets[i] receives the local header offset of entry i.
inline std::string BuildZip(const std::vector<TEntrySpec>& entries,
                            std::vector<uint64_t>* offsets = nullptr) {
  std::string zip, cd;
  for (const TEntrySpec& e : entries) {
    std::string payload = !e.Packed.empty() ? e.Packed : e.Method == 8 ? RawDeflate(e.Data) : e.Data;
    const uint32_t crc = e.CrcOverride >= 0 ? uint32_t(e.CrcOverride) : Crc32(e.Data);
    uint16_t flags = e.Flags;
    if (!e.Password.empty()) {
      flags |= 1;
      std::string head(12, '\0');
      for (int i = 0; i < 11; ++i) head[size_t(i)] = char(17 * i + 3);
      head[11] = char(crc >> 24);
      detail::TKeys keys(e.Password);
      payload = keys.Encrypt(head + payload);
    }
    const uint32_t comp = e.CompOverride >= 0 ? uint32_t(e.CompOverride) : uint32_t(payload.size());
    const uint32_t uncomp = e.UncompOverride >= 0 ? uint32_t(e.UncompOverride) : uint32_t(e.Data.size());
    const uint32_t off = e.OffsetOverride >= 0 ? uint32_t(e.OffsetOverride) : uint32_t(zip.size());
    if (offsets) offsets->push_back(zip.size());
    auto putShared = [&](std::string& h) {
      PutSharedFields(h, flags, e.Method, e.DosTime, crc, comp, uncomp, e.Name.size(), e.Extra.size());
    };
    Put32(zip, 0x04034b50);
    Put16(zip, 20);
    putShared(zip);
    zip += e.Name + e.Extra + payload;
    Put32(cd, 0x02014b50);
    Put16(cd, e.MadeBy);
    Put16(cd, 20);
    putShared(cd);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, 0);
    Put32(cd, e.ExtAttr);
    Put32(cd, off);
    cd += e.Name + e.Extra;
  }
  const uint32_t cdOff = uint32_t(zip.size());
  zip += cd;
  PutEndRecord(zip, uint32_t(entries.size()), cd, cdOff);
  return zip;
}

}  // namespace testzip
