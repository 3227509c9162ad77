#include "DZBzip2.h"

#include <bzlib.h>

namespace dz {

namespace {

class TBzip2Decoder : public TDZBufferedDecoder {
 public:
  int Decode(const TDZEntry&, const TReader& reader, const TSink& sink) override {
    Begin();
    bool first = true;
    // Streams may follow each other (parallel writers concatenate them); after the
    // first one, bytes that do not start a stream end the data, as trailing bytes
    // after a deflate stream do.
    for (;;) {
      TStream s;
      if (BZ2_bzDecompressInit(&s.S, 0, 0) != BZ_OK) return mrMemoryLimit;
      s.S.next_in = reinterpret_cast<char*>(FIn.data() + FInUsed);
      s.S.avail_in = unsigned(FInLen - FInUsed);
      int rc;
      for (;;) {
        if (s.S.avail_in == 0) {
          if (!Pull(reader)) return zm::irReadFailed;
          if (FEnd && !first && s.S.total_in_lo32 == 0 && s.S.total_in_hi32 == 0) return zm::irOk;
          s.S.next_in = reinterpret_cast<char*>(FIn.data());
          s.S.avail_in = unsigned(FInLen);
        }
        s.S.next_out = reinterpret_cast<char*>(FOut.data());
        s.S.avail_out = unsigned(FOut.size());
        const bool hadInput = s.S.avail_in != 0;
        rc = BZ2_bzDecompress(&s.S);
        const size_t produced = FOut.size() - s.S.avail_out;
        if (!Out(sink, produced)) return zm::irWriteFailed;
        if (rc != BZ_OK) break;
        if (!hadInput && produced == 0) return zm::irBadData;  // the data end inside a stream
      }
      FInUsed = FInLen - s.S.avail_in;
      if (rc == BZ_DATA_ERROR_MAGIC && !first) return zm::irOk;
      if (rc == BZ_MEM_ERROR) return mrMemoryLimit;
      if (rc != BZ_STREAM_END) return zm::irBadData;
      first = false;
    }
  }

 private:
  struct TStream {
    bz_stream S{};
    ~TStream() { BZ2_bzDecompressEnd(&S); }
  };
};

}  // namespace

std::unique_ptr<TDZMethodDecoder> MakeBzip2Decoder() { return std::make_unique<TBzip2Decoder>(); }

}  // namespace dz
