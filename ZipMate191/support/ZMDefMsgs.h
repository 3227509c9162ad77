// The built-in English message table, stored as one compressed language block.
#pragma once
#include <cstdint>
#include <span>

// The compressed block (identifier 1033, code "US") as it was built from the
// English message texts.
std::span<const uint8_t> DefaultMessageBlock();
