#include "ZMCrc32.h"

#include <array>

#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define ZM_CRC_CLMUL 1
#endif

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

uint32_t Crc32UpdateSliced(uint32_t reg, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  while (count >= 8) {
    uint32_t lo =
        reg ^ (uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24));
    reg = kSlices[7][lo & 0xFF] ^ kSlices[6][(lo >> 8) & 0xFF] ^ kSlices[5][(lo >> 16) & 0xFF] ^
          kSlices[4][lo >> 24] ^ kSlices[3][p[4]] ^ kSlices[2][p[5]] ^ kSlices[1][p[6]] ^ kSlices[0][p[7]];
    p += 8;
    count -= 8;
  }
  return Crc32UpdateBytewise(reg, p, count);
}

#ifdef ZM_CRC_CLMUL
namespace {

// Folding with carry-less multiplication: four 128-bit lanes advance 64 bytes per
// step, are folded into one, and the last 128 bits are reduced to 32 by Barrett
// reduction. The constants are x^n mod P (bit-reflected) for the fold distances,
// P itself and floor(x^64 / P). count must be at least 64; the multiple of 16 below
// count is consumed and its length returned through `done`.
#define ZM_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

ZM_CLMUL_TARGET inline __m128i Load128(const uint8_t* q) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// x * k folded forward, plus the data it lands on.
ZM_CLMUL_TARGET inline __m128i Fold128(__m128i x, __m128i k, __m128i data) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)),
                       data);
}

ZM_CLMUL_TARGET uint32_t Crc32Clmul(uint32_t reg, const uint8_t* p, size_t count, size_t& done) {
  const __m128i k12 = _mm_set_epi64x(0x1C6E41596LL, 0x154442BD4LL);
  const __m128i k34 = _mm_set_epi64x(0x0CCAA009ELL, 0x1751997D0LL);
  const __m128i k5 = _mm_set_epi64x(0, 0x163CD6124LL);
  const __m128i poly = _mm_set_epi64x(0x1F7011641LL, 0x1DB710641LL);
  const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
  const uint8_t* const start = p;
  __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(int(reg)));
  __m128i x2 = Load128(p + 16), x3 = Load128(p + 32), x4 = Load128(p + 48);
  p += 64;
  count -= 64;
  while (count >= 64) {
    x1 = Fold128(x1, k12, Load128(p));
    x2 = Fold128(x2, k12, Load128(p + 16));
    x3 = Fold128(x3, k12, Load128(p + 32));
    x4 = Fold128(x4, k12, Load128(p + 48));
    p += 64;
    count -= 64;
  }
  x1 = Fold128(x1, k34, x2);
  x1 = Fold128(x1, k34, x3);
  x1 = Fold128(x1, k34, x4);
  while (count >= 16) {
    x1 = Fold128(x1, k34, Load128(p));
    p += 16;
    count -= 16;
  }
  // 128 -> 64 bits.
  x2 = _mm_clmulepi64_si128(x1, k34, 0x10);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
  // 64 -> 32 bits.
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), k5, 0x00);
  x1 = _mm_xor_si128(_mm_srli_si128(x1, 4), x2);
  // Barrett reduction.
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, mask32), poly, 0x10);
  x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, mask32), poly, 0x00);
  x1 = _mm_xor_si128(x1, x2);
  done = size_t(p - start);
  return uint32_t(_mm_extract_epi32(x1, 1));
}

bool DetectClmul() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

const bool kHasClmul = DetectClmul();

}  // namespace

bool Crc32HasClmul() { return kHasClmul; }

uint32_t Crc32UpdateFast(uint32_t reg, const void* bytes, size_t count) {
  const auto* p = static_cast<const uint8_t*>(bytes);
  if (count >= 128 && kHasClmul) {
    size_t done = 0;
    reg = Crc32Clmul(reg, p, count, done);
    p += done;
    count -= done;
  }
  return Crc32UpdateSliced(reg, p, count);
}
#else
bool Crc32HasClmul() { return false; }

uint32_t Crc32UpdateFast(uint32_t reg, const void* bytes, size_t count) {
  return Crc32UpdateSliced(reg, bytes, count);
}
#endif

}  // namespace zm
