// Method 12, bzip2, decoded by libbz2.
#pragma once
#include <memory>

#include "DZMethod.h"

namespace dz {

std::unique_ptr<TDZMethodDecoder> MakeBzip2Decoder();

}  // namespace dz
