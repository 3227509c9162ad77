// CRC-32 of ZIP and zlib (reflected polynomial 0xEDB88320).
#pragma once
#include <cstddef>
#include <cstdint>

namespace zm {

// The 256-entry table of the reflected polynomial.
extern const uint32_t Crc32Table[256];

// Table-driven update without pre- or post-inversion, one byte per lookup.
uint32_t Crc32UpdateBytewise(uint32_t reg, const void* bytes, size_t count);

// The same result as Crc32UpdateBytewise, several bytes per step for bulk data:
// carry-less multiplication folding where the processor has it, else slicing by 8.
uint32_t Crc32UpdateFast(uint32_t reg, const void* bytes, size_t count);

// The portable part of Crc32UpdateFast (slicing by 8), on every processor.
uint32_t Crc32UpdateSliced(uint32_t reg, const void* bytes, size_t count);

// Whether Crc32UpdateFast uses carry-less multiplication on this processor.
bool Crc32HasClmul();

}  // namespace zm
