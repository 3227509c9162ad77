// What the part every system shares of loading libraries gives each system's side.
#pragma once
#include <cstdint>
#include <string>

namespace plat::detail {

// Records the outcome of a load on this thread, as LastLibError and LastLibErrorText
// tell it (0 and no text for a success).
void RecordLibError(uint32_t code, std::string text);

}  // namespace plat::detail
