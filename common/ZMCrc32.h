// CRC-32 of ZIP and zlib (reflected polynomial 0xEDB88320).
#pragma once
#include <cstddef>
#include <cstdint>

namespace zm {

// The 256-entry table of the reflected polynomial.
extern const uint32_t Crc32Table[256];

// Table-driven update without pre- or post-inversion, one byte per lookup.
uint32_t Crc32UpdateBytewise(uint32_t reg, const void* bytes, size_t count);

// The same result as Crc32UpdateBytewise, several bytes per step for bulk data.
uint32_t Crc32UpdateFast(uint32_t reg, const void* bytes, size_t count);

}  // namespace zm
