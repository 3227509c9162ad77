// Method 93, Zstandard, decoded by libzstd.
#pragma once
#include <memory>

#include "DZMethod.h"

namespace dz {

std::unique_ptr<TDZMethodDecoder> MakeZstdDecoder();

}  // namespace dz
