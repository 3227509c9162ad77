// Method 95, XZ, decoded by liblzma.
#pragma once
#include <memory>

#include "DZMethod.h"

namespace dz {

std::unique_ptr<TDZMethodDecoder> MakeXzDecoder();

}  // namespace dz
