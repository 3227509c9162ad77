#include "DZLzma.h"

#include <algorithm>
#include <cstring>

#include "ZMEndian.h"

namespace dz {

bool ParseLzmaHeader(const uint8_t* p, TDZLzmaHeader& h) {
  if (zm::GetLE16(p + 2) != 5) return false;
  unsigned d = p[4];
  if (d >= 9 * 5 * 5) return false;
  h.Version[0] = p[0];
  h.Version[1] = p[1];
  h.Lc = uint8_t(d % 9);
  d /= 9;
  h.Lp = uint8_t(d % 5);
  h.Pb = uint8_t(d / 5);
  h.DictSize = zm::GetLE32(p + 5);
  return true;
}

int TDZLiblzmaDecoder::ResultOf(lzma_ret rc) {
  switch (rc) {
    case LZMA_OK: return zm::irOk;
    case LZMA_MEM_ERROR:
    case LZMA_MEMLIMIT_ERROR: return mrMemoryLimit;
    default: return zm::irBadData;  // properties liblzma does not take
  }
}

int TDZLiblzmaDecoder::Run(const TReader& reader, const TSink& sink) {
  FStream.next_in = FIn.data() + FInUsed;
  FStream.avail_in = FInLen - FInUsed;
  for (;;) {
    if (FStream.avail_in == 0 && !FEnd) {
      if (!Pull(reader)) return zm::irReadFailed;
      FStream.next_in = FIn.data();
      FStream.avail_in = FInLen;
    }
    FStream.next_out = FOut.data();
    FStream.avail_out = FOut.size();
    const lzma_ret rc = lzma_code(&FStream, FEnd ? LZMA_FINISH : LZMA_RUN);
    if (!Out(sink, FOut.size() - FStream.avail_out)) return zm::irWriteFailed;
    if (rc == LZMA_STREAM_END) return zm::irOk;
    // LZMA_BUF_ERROR: the data end before the stream does.
    if (rc != LZMA_OK) return ResultOf(rc);
  }
}

namespace {

class TLzmaDecoder : public TDZLiblzmaDecoder {
 public:
  int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) override {
    Begin();
    uint8_t head[TDZLzmaHeader::kSize];
    for (size_t have = 0; have < sizeof head;) {
      if (FInUsed == FInLen) {
        if (!Pull(reader)) return zm::irReadFailed;
        if (FEnd) return zm::irBadData;
      }
      const size_t k = std::min(sizeof head - have, FInLen - FInUsed);
      std::memcpy(head + have, FIn.data() + FInUsed, k);
      have += k;
      FInUsed += k;
    }
    TDZLzmaHeader h;
    if (!ParseLzmaHeader(head, h)) return zm::irBadData;
    lzma_options_lzma opt{};
    // A dictionary beyond the entry's size is never used: the bytes a match reaches
    // back to have all been decoded by then.
    opt.dict_size = uint32_t(std::clamp<uint64_t>(en.UncompSize, LZMA_DICT_SIZE_MIN,
                                                  std::max<uint32_t>(h.DictSize, LZMA_DICT_SIZE_MIN)));
    // A dictionary is taken whole when decoding starts, whatever the data hold.
    if (opt.dict_size > kMethodMemoryLimit) return mrMemoryLimit;
    opt.lc = h.Lc;
    opt.lp = h.Lp;
    opt.pb = h.Pb;
    // The stated size ends the data; an end marker is taken right there, whether or
    // not the flag announces it.
    opt.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
    opt.ext_size_low = uint32_t(en.UncompSize);
    opt.ext_size_high = uint32_t(en.UncompSize >> 32);
    const lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
    const int setup = ResultOf(lzma_raw_decoder(&FStream, filters));
    return setup == zm::irOk ? Run(reader, sink) : setup;
  }
};

}  // namespace

std::unique_ptr<TDZMethodDecoder> MakeLzmaDecoder() { return std::make_unique<TLzmaDecoder>(); }

}  // namespace dz
