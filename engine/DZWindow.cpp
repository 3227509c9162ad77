#include "DZWindow.h"

#include <algorithm>

namespace dz {

void TDZWindow::Start(const TDZMethodDecoder::TSink& sink) {
  FBuf.assign(kSize, 0);
  FSink = &sink;
  FPos = FDone = 0;
  FBase = 0;
  FFailed = false;
}

void TDZWindow::Copy(uint32_t dist, uint32_t len) {
  size_t from = (FPos + kSize - dist) & (kSize - 1);
  while (len--) {
    const uint8_t b = FBuf[from];
    from = (from + 1) & (kSize - 1);
    Put(b);
  }
}

bool TDZWindow::Flush() {
  if (!FFailed && FPos > FDone && !(*FSink)(FBuf.data() + FDone, FPos - FDone)) FFailed = true;
  FDone = FPos;
  return !FFailed;
}

void TDZWindow::Wrap() {
  Flush();
  FBase += kSize;
  FPos = FDone = 0;
}

}  // namespace dz
