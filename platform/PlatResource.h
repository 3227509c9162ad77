// Raw-data resources linked into the program, found by name (without regard to case)
// or by number, and by type.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

inline constexpr int kRtRcData = 10;  // raw data

// One resource of a generated table. Numbered resources have an empty Name.
struct TResourceEntry {
  const char* Name;
  int Id;
  int Type;
  const unsigned char* Data;
  size_t Size;
};

// Adds a table that lives for the whole run (the generated sources call this from a
// static initialiser of the program's own object files).
void RegisterResources(const TResourceEntry* entries, size_t count);

struct TResourceData {
  const uint8_t* Data = nullptr;
  size_t Size = 0;
};
// False (last error 1814, resource name not found) when there is none.
bool FindResourceByName(const std::string& name, int type, TResourceData& out);
bool FindResourceById(int id, int type, TResourceData& out);

}  // namespace plat
