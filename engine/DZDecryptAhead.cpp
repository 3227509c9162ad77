#include "DZDecryptAhead.h"

#include <algorithm>
#include <cstring>

namespace dz {

TDZDecryptAhead::TDZDecryptAhead(TDZSource& src, TDZCipher& cipher, uint64_t pos, uint64_t n)
    : FSource(src), FCipher(cipher), FPos(pos), FLeft(n) {
  for (TChunk& c : FChunks) c.Data.reset(new uint8_t[kChunk]);
  FThread = std::thread([this] { Work(); });
}

TDZDecryptAhead::~TDZDecryptAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

void TDZDecryptAhead::Work() {
  for (size_t k = 0;; k ^= 1) {
    TChunk& c = FChunks[k];
    {
      std::unique_lock<std::mutex> lock(FLock);
      FChanged.wait(lock, [&] { return FStop || !c.Ready; });
      if (FStop) return;
    }
    const size_t n = size_t(std::min<uint64_t>(FLeft, kChunk));
    size_t got = 0;
    bool failed = false;
    while (got < n) {
      const int64_t r = FSource.ReadSome(FPos + got, c.Data.get() + got, n - got);
      if (r <= 0) {
        failed = true;
        break;
      }
      got += size_t(r);
    }
    if (!failed) FCipher.Decrypt(c.Data.get(), got);
    FPos += got;
    FLeft -= got;
    {
      std::lock_guard<std::mutex> guard(FLock);
      c.Size = got;
      c.Failed = failed;
      c.Ready = true;
    }
    FChanged.notify_all();
    if (failed || n == 0) return;  // after a failure, or the empty chunk at the end
  }
}

ptrdiff_t TDZDecryptAhead::Read(uint8_t* buf, size_t max) {
  TChunk& c = FChunks[FTake];
  {
    std::unique_lock<std::mutex> lock(FLock);
    FChanged.wait(lock, [&] { return c.Ready; });
  }
  if (c.Failed) return -1;
  const size_t n = std::min(max, c.Size - FOffset);
  std::memcpy(buf, c.Data.get() + FOffset, n);
  FOffset += n;
  if (c.Size && FOffset == c.Size) {
    {
      std::lock_guard<std::mutex> guard(FLock);
      c.Ready = false;
    }
    FChanged.notify_all();
    FOffset = 0;
    FTake ^= 1;
  }
  return ptrdiff_t(n);
}

}  // namespace dz
