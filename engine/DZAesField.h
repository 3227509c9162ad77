// The extra field (tag 0x9901) of an AES-encrypted entry: which form of the format,
// the key strength and the compression method of the data.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dz {

constexpr uint16_t kAesFieldTag = 0x9901;
constexpr uint16_t kAesMethod = 99;  // the method stored in the headers of such entries

struct TDZAesField {
  // Widest first: every entry of a directory holds one (6 bytes).
  uint16_t Version = 0;  // 1: the CRC is checked as well; 2: the CRC field is unused
  uint16_t Method = 0;   // compression method of the data
  uint8_t Strength = 0;  // 1, 2, 3: AES-128, -192, -256
  bool Valid = false;

  unsigned KeyBytes() const { return 8u + 8u * Strength; }
  unsigned SaltBytes() const { return 4u + 4u * Strength; }
  bool ChecksCrc() const { return Version == 1; }
};

// Reads the field's data (without its 4-byte head). Valid only when the data are
// 7 bytes (more are allowed), the vendor is "AE", the version 1 or 2 and the strength
// 1 to 3.
void ParseAesField(const uint8_t* data, size_t len, TDZAesField& out);

}  // namespace dz
