#include "ZMCrc32.h"

#include <array>

namespace zm {
namespace {

constexpr uint32_t kPoly = 0xEDB88320u;

constexpr std::array<std::array<uint32_t, 256>, 8> MakeSliceTables() {
  std::array<std::array<uint32_t, 256>, 8> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPoly : c >> 1;
    t[0][i] = c;
  }
  for (int s = 1; s < 8; ++s)
    for (uint32_t i = 0; i < 256; ++i) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
  return t;
}

constexpr auto kSlices = MakeSliceTables();

}  // namespace

const uint32_t Crc32Table[256] = {
#define ZM_CRC_ROW(i) kSlices[0][i], kSlices[0][i + 1], kSlices[0][i + 2], kSlices[0][i + 3]
#define ZM_CRC_16(i) ZM_CRC_ROW(i), ZM_CRC_ROW(i + 4), ZM_CRC_ROW(i + 8), ZM_CRC_ROW(i + 12)
    ZM_CRC_16(0),   ZM_CRC_16(16),  ZM_CRC_16(32),  ZM_CRC_16(48),  ZM_CRC_16(64),  ZM_CRC_16(80),
    ZM_CRC_16(96),  ZM_CRC_16(112), ZM_CRC_16(128), ZM_CRC_16(144), ZM_CRC_16(160), ZM_CRC_16(176),
    ZM_CRC_16(192), ZM_CRC_16(208), ZM_CRC_16(224), ZM_CRC_16(240)
#undef ZM_CRC_16
#undef ZM_CRC_ROW
};

uint32_t Crc32UpdateBytewise(uint32_t reg, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (count--) reg = Crc32Table[(reg ^ *p++) & 0xFF] ^ (reg >> 8);
  return reg;
}

uint32_t Crc32UpdateFast(uint32_t reg, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (count >= 8) {
    uint32_t lo = reg ^ (uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
                         (uint32_t(p[3]) << 24));
    reg = kSlices[7][lo & 0xFF] ^ kSlices[6][(lo >> 8) & 0xFF] ^ kSlices[5][(lo >> 16) & 0xFF] ^
          kSlices[4][lo >> 24] ^ kSlices[3][p[4]] ^ kSlices[2][p[5]] ^ kSlices[1][p[6]] ^
          kSlices[0][p[7]];
    p += 8;
    count -= 8;
  }
  return Crc32UpdateBytewise(reg, p, count);
}

}  // namespace zm
