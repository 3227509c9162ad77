// Decoders of the compression methods behind one interface: a decoder pulls an entry's
// compressed bytes through a reader and pushes the decoded bytes to a sink, as the
// inflate core does. The decoding loop (DZDecode) counts, checks and hands on what is
// pushed; a decoder knows only its method.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "DZArchive.h"
#include "ZMInflateCore.h"

namespace dz {

class TDZMethodDecoder {
 public:
  // Fills buf with up to max bytes: the count, 0 at the end of the entry's data,
  // negative on a read failure.
  using TReader = zm::TZMInflateCore::TReader;
  // Takes the next n decoded bytes; false stops decoding (result irWriteFailed).
  using TSink = zm::TZMInflateCore::TSink;

  virtual ~TDZMethodDecoder() = default;
  // Decodes the data of one entry (en gives the sizes, flags and extra fields a method
  // may need). Returns a zm::TInflateResult: irOk once the method's data ended
  // properly, irBadData or irBadCodes for damaged data, irWriteFailed when the sink
  // refused, irReadFailed when the reader failed.
  virtual int Decode(const TDZEntry& en, const TReader& reader, const TSink& sink) = 0;
};

// Whether the engine decodes the method (the method stored in the entry's header).
bool MethodSupported(uint16_t method);
// A new decoder for the method, or null when it is not supported. A decoder may be
// kept and reused for later entries of the same method.
std::unique_ptr<TDZMethodDecoder> MakeMethodDecoder(uint16_t method);

}  // namespace dz
