#include "DZXz.h"

#include "DZLzma.h"

namespace dz {

namespace {

class TXzDecoder : public TDZLiblzmaDecoder {
 public:
  int Decode(const TDZEntry&, const TReader& reader, const TSink& sink) override {
    Begin();
    // Streams may follow each other, as the xz tool writes and reads them; each
    // checks its own integrity value.
    const int setup = ResultOf(lzma_stream_decoder(&FStream, kMethodMemoryLimit, LZMA_CONCATENATED));
    return setup == zm::irOk ? Run(reader, sink) : setup;
  }
};

}  // namespace

std::unique_ptr<TDZMethodDecoder> MakeXzDecoder() { return std::make_unique<TXzDecoder>(); }

}  // namespace dz
