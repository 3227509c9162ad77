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
#include "DZBuffer.h"
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

// A result beside the zm::TInflateResult values: the data need more memory to decode
// than the engine allows (kMethodMemoryLimit).
constexpr int mrMemoryLimit = 16;
constexpr uint64_t kMethodMemoryLimit = sizeof(void*) >= 8 ? uint64_t(1) << 30 : uint64_t(1) << 28;

// Base of the decoders that drive a library's streaming call: an input buffer that
// the reader fills and an output buffer handed to the sink.
class TDZBufferedDecoder : public TDZMethodDecoder {
 protected:
  static constexpr size_t kInSize = 64 * 1024;
  static constexpr size_t kOutSize = 256 * 1024;

  // Starts an entry: empties the input (FInLen and FInUsed to 0) and allocates the
  // buffers on first use.
  void Begin();
  // Refills the input buffer once it is used up (FInUsed back to 0); false when the
  // reader failed. Sets FEnd when the reader has nothing more.
  bool Pull(const TReader& reader);
  bool Out(const TSink& sink, size_t n) { return n == 0 || sink(FOut.data(), n); }

  TDZBuffer FIn, FOut;
  size_t FInLen = 0;   // bytes in FIn
  size_t FInUsed = 0;  // of them, already taken by the decoder
  bool FEnd = false;
};

// Whether the engine decodes the method (the method stored in the entry's header).
bool MethodSupported(uint16_t method);
// Whether a decoder of the method may take up to kMethodMemoryLimit.
bool MethodMemoryHeavy(uint16_t method);
// A new decoder for the method, or null when it is not supported. A decoder may be
// kept and reused for later entries of the same method.
std::unique_ptr<TDZMethodDecoder> MakeMethodDecoder(uint16_t method);

}  // namespace dz
