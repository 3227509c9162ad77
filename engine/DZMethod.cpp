#include "DZMethod.h"

#include <algorithm>

#include "DZImplode.h"
#include "DZPpmd.h"
#include "DZReduce.h"
#include "DZShrink.h"
#include "DZBzip2.h"
#include "DZLzma.h"
#include "DZXz.h"
#include "DZZstd.h"

namespace dz {

void TDZBufferedDecoder::Begin() {
  FIn.Reserve(kInSize);
  FOut.Reserve(kOutSize);
  FInLen = 0;
  FInUsed = 0;
  FEnd = false;
}

bool TDZBufferedDecoder::Pull(const TReader& reader) {
  FInLen = 0;
  FInUsed = 0;
  if (FEnd) return true;
  const ptrdiff_t got = reader(FIn.data(), FIn.size());
  if (got < 0) return false;
  FInLen = size_t(got);
  FEnd = got == 0;
  return true;
}

namespace {

// Method 0: the data as they are.
class TStoredDecoder : public TDZMethodDecoder {
 public:
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override {
    FBuf.Reserve(ChunkFor(en.CompSize, kChunk));
    for (;;) {
      const ptrdiff_t got = reader(FBuf.data(), FBuf.size());
      if (got < 0) return zm::irReadFailed;
      if (got == 0) return zm::irOk;
      if (!sink(FBuf.data(), size_t(got))) return zm::irWriteFailed;
    }
  }

 private:
  static constexpr size_t kChunk = 256 * 1024;
  TDZBuffer FBuf;
};

// Methods 8 and 9: deflate and Deflate64 through the inflate core.
class TInflateDecoder : public TDZMethodDecoder {
 public:
  explicit TInflateDecoder(zm::TInflateMode mode) : FCore(mode) {}
  int Decode(const TDZEntry&, const TReader& reader, const TSink& sink) override {
    return FCore.Inflate(reader, sink);
  }

 private:
  zm::TZMInflateCore FCore;
};

}  // namespace

bool MethodSupported(uint16_t method) {
  switch (method) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 8:
    case 9:
    case 12:
    case 14:
    case 93:
    case 95:
    case 98: return true;
    default: return false;
  }
}

bool MethodMemoryHeavy(uint16_t method) {
  switch (method) {
    case 14:  // LZMA
    case 93:  // Zstandard
    case 95:  // XZ
    case 98:  // PPMd
      return true;
    default: return false;
  }
}

std::unique_ptr<TDZMethodDecoder> MakeMethodDecoder(uint16_t method) {
  switch (method) {
    case 0: return std::make_unique<TStoredDecoder>();
    case 1: return std::make_unique<TDZShrinkDecoder>();
    case 2:
    case 3:
    case 4:
    case 5: return std::make_unique<TDZReduceDecoder>(method - 1u);
    case 6: return std::make_unique<TDZImplodeDecoder>();
    case 8: return std::make_unique<TInflateDecoder>(zm::TInflateMode::Deflate);
    case 9: return std::make_unique<TInflateDecoder>(zm::TInflateMode::Deflate64);
    case 12: return MakeBzip2Decoder();
    case 14: return MakeLzmaDecoder();
    case 93: return MakeZstdDecoder();
    case 95: return MakeXzDecoder();
    case 98: return std::make_unique<TDZPpmdDecoder>();
    default: return nullptr;
  }
}

}  // namespace dz
