#include "ZMFileOpr.h"

#include "ZMXcpt.h"
#include "ZipMate.h"

TZMFileOpr::TZMFileOpr(TCustomZipMate& master) : TZMCore(master), FLister(master.Lister()) {}

TZMFileOpr::~TZMFileOpr() = default;

int32_t TZMFileOpr::StreamConvert(TStream*, TStream*, uint32_t&, int32_t&, int64_t) {
  TraceLine("Deflate not available");
  return ZM_ERROR(zmmZMFileOpr, 140);
}
