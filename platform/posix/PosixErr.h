// Mapping of errno values to the platform's last-error numbers (POSIX only).
#pragma once
#include <cstdint>
#include <string>

namespace plat::posix {

uint32_t ErrorFromErrno(int e);
// Sets the last error from errno e; for a missing file it tells "file not found"
// (the folder exists) from "path not found" (it does not).
void SetErrorFromErrno(int e, const std::string& path = std::string());

}  // namespace plat::posix
