// The registered resource tables, searched by each system's resource lookup (which looks
// in the program's own resources first where the system has them).
#pragma once
#include <string>

#include "PlatResource.h"

namespace plat {

inline constexpr uint32_t kErrResourceNameNotFound = 1814;

// False, leaving the last error alone, when no registered table has the resource.
bool FindRegisteredByName(const std::string& name, int type, TResourceData& out);
bool FindRegisteredById(int id, int type, TResourceData& out);

}  // namespace plat
