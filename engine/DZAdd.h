// The add command as used for a stream conversion: compresses (or stores) one
// application stream into another, optionally with traditional encryption.
#pragma once
#include "DZHost.h"

namespace dz {

// Returns 1 when the stream was converted, else a negative engine error.
int RunStreamConvert(TDZHost& host);

}  // namespace dz
