#include "DZZstd.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <bit>

namespace dz {

namespace {

class TZstdDecoder : public TDZBufferedDecoder {
 public:
  ~TZstdDecoder() override { ZSTD_freeDStream(FCtx); }

  int Decode(const TDZEntry&, const TReader& reader, const TSink& sink) override {
    if (!FCtx) {
      FCtx = ZSTD_createDStream();
      if (!FCtx) return mrMemoryLimit;
      // Frames whose window exceeds the engine's memory limit are refused.
      ZSTD_DCtx_setParameter(FCtx, ZSTD_d_windowLogMax, int(std::bit_width(kMethodMemoryLimit) - 1));
    }
    ZSTD_DCtx_reset(FCtx, ZSTD_reset_session_only);
    Begin();
    ZSTD_inBuffer in{FIn.data(), 0, 0};
    size_t hint = 1;  // 0 once a frame has ended and nothing of the next one was read
    for (;;) {
      if (in.pos == in.size) {
        if (!Pull(reader)) return zm::irReadFailed;
        if (FEnd) return hint == 0 ? zm::irOk : zm::irBadData;  // ended inside a frame
        in = ZSTD_inBuffer{FIn.data(), FInLen, 0};
      }
      // Output is drained until the library has no more for the input it holds (a
      // frame that has ended holds none).
      for (;;) {
        ZSTD_outBuffer out{FOut.data(), FOut.size(), 0};
        hint = ZSTD_decompressStream(FCtx, &out, &in);
        if (ZSTD_isError(hint))
          return ZSTD_getErrorCode(hint) == ZSTD_error_frameParameter_windowTooLarge ||
                         ZSTD_getErrorCode(hint) == ZSTD_error_memory_allocation
                     ? mrMemoryLimit
                     : zm::irBadData;
        if (!Out(sink, out.pos)) return zm::irWriteFailed;
        if (out.pos < out.size || hint == 0) break;
      }
    }
  }

 private:
  ZSTD_DStream* FCtx = nullptr;
};

}  // namespace

std::unique_ptr<TDZMethodDecoder> MakeZstdDecoder() { return std::make_unique<TZstdDecoder>(); }

}  // namespace dz
