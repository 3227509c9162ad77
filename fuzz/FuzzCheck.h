// The fuzz targets' checks: a failed one names its line before it stops the run, so
// that a finding says which property broke. Include it after the library's headers:
// the macro would rewrite their members of the same name.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "TestTempDir.h"

#define Check(ok)                                                        \
  do {                                                                   \
    if (!(ok)) {                                                         \
      std::fprintf(stderr, "check failed: %s:%d\n", __FILE__, __LINE__); \
      std::abort();                                                      \
    }                                                                    \
  } while (false)

// The whole content of a file (empty when it cannot be read).
inline std::string ReadAll(const std::filesystem::path& p) { return zmtest::Slurp(p.string()); }
