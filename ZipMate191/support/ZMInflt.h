// Decoding of the component's own compressed blocks (message tables, the packed engine
// library, icons) from one stream into another while computing their CRC-32.
#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>

#include "ZMClasses.h"
#include "ZMInflateCore.h"

// Raised when a decoder is asked to read and write the same stream.
class EZMStreamsSame : public std::runtime_error {
 public:
  EZMStreamsSame() : std::runtime_error("Streams the same") {}
};

class TZMInflate : public TObject {
 public:
  // Input is read in chunks of at most this many bytes.
  static constexpr int kInChunk = 32767;
  // Stored data is copied in chunks of this many bytes.
  static constexpr int kStoredChunk = 32768;

  // poolEntries bounds the memory of the Huffman tables; running out raises EZipMate
  // for message 198.
  explicit TZMInflate(size_t poolEntries = zm::TZMInflateCore::kDefaultPoolEntries);

  // Decodes one raw deflate stream from InStream (at most InRemaining bytes) into
  // OutStream. Returns 0, 1 (truncated or invalid data), 2 (reserved block type or an
  // over-subscribed code set) or the negative code for a failed write.
  int32_t Inflate();
  // Copies InRemaining bytes unchanged. Returns 0 or the negative code for a short read
  // or a failed write.
  int32_t CopyStored();

  TStream* InStream = nullptr;   // not owned
  TStream* OutStream = nullptr;  // not owned; null: bytes are only counted and CRC'd
  int64_t InRemaining = 0;       // compressed bytes that may still be read
  uint32_t Crc = 0;              // after success: the CRC-32 of the output
  int64_t OutCount = 0;          // bytes produced

 private:
  bool Emit(const uint8_t* data, size_t n);
  zm::TZMInflateCore FCore;
};

// Decodes a block of the given method (0 stored, 8 deflated) and size from input into
// output. A CRC that differs from crc gives the message-150 code and hands the computed
// CRC back in crc; any other method gives the message-128 code.
int32_t InflateStream(TStream* output, TStream* input, uint16_t method, uint32_t& crc, int64_t size);

// Reads the block header (16-bit method, 32-bit CRC, little-endian) from the size bytes
// of input, then decodes the rest with InflateStream.
int32_t InflateResource(TStream* output, TStream* input, int64_t size);
