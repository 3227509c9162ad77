// Builds small 32-bit x86 PE images byte by byte for the executable tests.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "ZMEndian.h"

namespace zmtest {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, size_t at, uint16_t v) {
  if (b.size() < at + 2) b.resize(at + 2);
  zm::PutLE16(b.data() + at, v);
}
inline void Put32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  zm::PutLE32(b.data() + at, v);
}
inline void Append16(Bytes& b, uint16_t v) { Put16(b, b.size(), v); }
inline void Append32(Bytes& b, uint32_t v) { Put32(b, b.size(), v); }
inline void AppendBytes(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
inline void AppendText(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }

struct TPeSection {
  std::string Name;
  uint32_t VirtualAddress = 0;
  Bytes Data;               // raw data, padded to 0x200 in the file
  uint32_t RawPointer = 0;  // 0: placed after the previous section
};

struct TPeImage {
  static constexpr uint32_t kPeOffset = 0x80;
  uint16_t Machine = 0x014C;
  uint32_t ResourceAddress = 0;
  uint32_t ResourceSize = 0;
  std::vector<TPeSection> Sections;
  int ExtraSectionCount = 0;  // section headers claimed but not written

  // Offset of section i's raw data once built.
  uint32_t RawPointerOf(size_t i) const {
    uint32_t pos = HeadersEnd();
    for (size_t k = 0; k <= i; ++k) {
      if (Sections[k].RawPointer) pos = Sections[k].RawPointer;
      if (k == i) return pos;
      pos += PaddedSize(Sections[k]);
    }
    return pos;
  }
  static uint32_t PaddedSize(const TPeSection& s) { return (uint32_t(s.Data.size()) + 0x1FF) & ~0x1FFu; }
  uint32_t HeadersEnd() const {
    const uint32_t end = kPeOffset + 4 + 20 + 224 + 40 * uint32_t(Sections.size());
    return (end + 0x1FF) & ~0x1FFu;
  }
  // End of the last section's raw data, as the image size should come out.
  uint32_t ImageEnd() const {
    uint32_t end = 0;
    for (size_t i = 0; i < Sections.size(); ++i)
      end = std::max(end, RawPointerOf(i) + PaddedSize(Sections[i]));
    return end;
  }

  Bytes Build() const {
    Bytes b(64, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 60, kPeOffset);
    b.resize(kPeOffset, 0);
    AppendText(b, std::string("PE\0\0", 4));
    // File header.
    Append16(b, Machine);
    Append16(b, uint16_t(Sections.size() + ExtraSectionCount));
    Append32(b, 0);    // time stamp
    Append32(b, 0);    // symbol table
    Append32(b, 0);    // symbol count
    Append16(b, 224);  // optional header size
    Append16(b, 0x0102);
    // Optional header (32-bit), resource directory entry at index 2.
    const size_t opt = b.size();
    b.resize(opt + 224, 0);
    Put16(b, opt, 0x010B);
    Put32(b, opt + 92, 16);  // number of directory entries
    Put32(b, opt + 96 + 16, ResourceAddress);
    Put32(b, opt + 96 + 20, ResourceSize);
    for (size_t i = 0; i < Sections.size(); ++i) {
      const TPeSection& s = Sections[i];
      Bytes h(40, 0);
      for (size_t k = 0; k < s.Name.size() && k < 8; ++k) h[k] = uint8_t(s.Name[k]);
      Put32(h, 8, uint32_t(s.Data.size()));
      Put32(h, 12, s.VirtualAddress);
      Put32(h, 16, PaddedSize(s));
      Put32(h, 20, RawPointerOf(i));
      Put32(h, 36, 0x40000040);
      AppendBytes(b, h);
    }
    for (size_t i = 0; i < Sections.size(); ++i) {
      const uint32_t at = RawPointerOf(i);
      if (b.size() < at + PaddedSize(Sections[i])) b.resize(at + PaddedSize(Sections[i]), 0);
      std::copy(Sections[i].Data.begin(), Sections[i].Data.end(), b.begin() + at);
    }
    return b;
  }
};

// A resource directory: 16-byte header and its entries (all numbered here).
struct TResEntry {
  uint32_t Id;
  uint32_t Offset;  // high bit set: subdirectory
};
inline void AppendResDir(Bytes& b, const std::vector<TResEntry>& entries) {
  Append32(b, 0);  // characteristics
  Append32(b, 0);  // time stamp
  Append32(b, 0);  // version
  Append16(b, 0);  // named entries
  Append16(b, uint16_t(entries.size()));
  for (const TResEntry& e : entries) {
    Append32(b, e.Id);
    Append32(b, e.Offset);
  }
}

// An icon image as stored in an icon resource: a 40-byte bitmap header and bits.
inline Bytes SampleIconBits() {
  Bytes b;
  Append32(b, 40);  // header size
  Append32(b, 16);  // width
  Append32(b, 32);  // height (image and mask)
  Append16(b, 1);   // planes
  Append16(b, 4);   // bits per pixel
  b.resize(40, 0);
  for (int i = 0; i < 16 * 4 + 16 * 8 + 16 * 4; ++i) b.push_back(uint8_t(i * 7 + 1));
  return b;
}

// A resource section at virtual address va: a group-icon type entry first, then the
// icon type (3) whose names are 2 and 1, each with one language. Icon 1 holds
// iconBits; icon 2 holds a different image.
inline Bytes BuildIconResourceSection(uint32_t va, const Bytes& iconBits) {
  // Layout (offsets from the section start):
  //   0x000 root: type 14 -> 0x100, type 3 -> 0x040
  //   0x040 type 3: name 2 -> 0x080, name 1 -> 0x0C0
  //   0x080 name 2: lang 0x409 -> data 0x180
  //   0x0C0 name 1: lang 0x409 -> data 0x190
  //   0x100 type 14: name 1 -> 0x140
  //   0x140 lang 0x409 -> data 0x1A0
  //   0x180.. data entries, 0x200 icon 2 bits, 0x400 icon 1 bits
  Bytes s;
  AppendResDir(s, {{14, 0x80000100}, {3, 0x80000040}});
  s.resize(0x40, 0);
  AppendResDir(s, {{2, 0x80000080}, {1, 0x800000C0}});
  s.resize(0x80, 0);
  AppendResDir(s, {{0x409, 0x180}});
  s.resize(0xC0, 0);
  AppendResDir(s, {{0x409, 0x190}});
  s.resize(0x100, 0);
  AppendResDir(s, {{1, 0x80000140}});
  s.resize(0x140, 0);
  AppendResDir(s, {{0x409, 0x1A0}});
  s.resize(0x180, 0);
  Bytes other = iconBits;
  for (size_t i = 40; i < other.size(); ++i) other[i] ^= 0xFF;
  const auto dataEntry = [&](uint32_t rva, uint32_t size) {
    Append32(s, rva);
    Append32(s, size);
    Append32(s, 0);
    Append32(s, 0);
  };
  dataEntry(va + 0x200, uint32_t(other.size()));     // icon 2
  dataEntry(va + 0x400, uint32_t(iconBits.size()));  // icon 1
  dataEntry(va + 0x600, 8);                          // group icon (unused)
  s.resize(0x200, 0);
  AppendBytes(s, other);
  s.resize(0x400, 0);
  AppendBytes(s, iconBits);
  s.resize(0x600, 0);
  AppendText(s, "GROUPICO");
  return s;
}

}  // namespace zmtest
