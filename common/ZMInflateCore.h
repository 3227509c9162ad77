// Raw deflate decoder (RFC 1951) and its Deflate64 variant, shared by the component
// and the engine. Input is pulled in chunks from a reader (or read in place when it is
// held in memory), output is pushed in chunks to a sink, so memory stays bounded
// whatever the size of the data.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace zm {

enum class TInflateMode {
  Deflate,   // method 8: 32 KiB window
  Deflate64  // method 9: 64 KiB window, long lengths, distance codes 30 and 31
};

// The format's code tables: base value and extra bits of the 29 length codes
// (symbols 257 to 285) and of the 32 distance codes (30 and 31 only in Deflate64).
inline constexpr uint16_t kLenBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                          31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr uint8_t kLenExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                          2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint16_t kDistBase[32] = {
    1,   2,   3,   4,   5,    7,    9,    13,   17,   25,   33,   49,    65,    97,    129,   193,
    257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
inline constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                           7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};

// Results of TZMInflateCore::Inflate.
enum TInflateResult : int {
  irOk = 0,
  irBadData = 1,      // truncated or invalid data, bad stored length, incomplete code set
  irBadCodes = 2,     // reserved block type or an over-subscribed code set
  irWriteFailed = 3,  // the sink refused bytes
  irReadFailed = 4,   // the reader reported an error
  irNoTableSpace = 5  // the table pool ran out
};

class TZMInflateCore {
 public:
  // Fills buf with up to max bytes; returns the count, 0 at the end, negative on error.
  using TReader = std::function<ptrdiff_t(uint8_t* buf, size_t max)>;
  // Takes the next n decoded bytes; false stops decoding with irWriteFailed.
  using TSink = std::function<bool(const uint8_t* data, size_t n)>;

  // Table pool that holds the fixed tables and the largest possible dynamic tables.
  static const size_t kDefaultPoolEntries;
  static constexpr size_t kInBufSize = 256 * 1024;
  static constexpr size_t kOutChunk = 256 * 1024;

  explicit TZMInflateCore(TInflateMode mode = TInflateMode::Deflate,
                          size_t poolEntries = kDefaultPoolEntries);
  TZMInflateCore(const TZMInflateCore&) = delete;
  TZMInflateCore& operator=(const TZMInflateCore&) = delete;

  // Decodes one deflate stream. The reader is called only when every byte taken so far
  // has been used, so input after the final block is not read beyond the current chunk.
  // A null sink only counts the output. Returns a TInflateResult.
  int Inflate(const TReader& reader, const TSink& sink);
  // Decodes one deflate stream held whole in memory, read in place (no reader, and no
  // copy of the input); data must stay valid until the call returns.
  int Inflate(const uint8_t* data, size_t size, const TSink& sink);

  // Output is handed to the sink in chunks of at most this many bytes (0: the default
  // kOutChunk); small chunks serve tests of the chunk boundaries.
  void SetOutChunk(size_t bytes) { FOutChunk = bytes ? bytes : kOutChunk; }

  TInflateMode Mode() const { return FMode; }
  uint64_t OutCount() const { return FOutCount; }  // bytes handed to the sink
  uint64_t InRead() const { return FInRead; }      // bytes taken from the reader
  // Bytes of input up to and including the last byte of the stream (after success).
  uint64_t InConsumed() const;
  size_t PoolUsed() const { return FPoolUsed; }
  size_t PoolCapacity() const { return FPool.size(); }

 private:
  struct TTable {
    uint32_t Offset = 0;  // first entry in the pool
    unsigned Bits = 0;    // first-level index bits
  };
  enum TTableKind { tkCodeLen, tkLitLen, tkDist };

  int BuildTable(const uint8_t* lens, unsigned n, TTableKind kind, unsigned maxRoot, TTable& table);
  // The decoding of one stream once its input is set up.
  int Decode(const TSink& sink);
  bool FillInput();
  bool MoreBits();
  bool NeedBits(unsigned n);
  bool DecodeSlow(const TTable& t, uint32_t& entry);
  void Consume(unsigned n) {
    FBits >>= n;
    FBitCount -= n;
  }
  bool Flush(bool slide);
  void ZeroHistory();
  bool CopyMatch(unsigned dist, unsigned len);
  int StoredBlock();
  void KeepStored();
  int DynamicTables(TTable& lit, TTable& dist);
  int HuffBlock(const TTable& lit, const TTable& dist);
  // The fast loop, built twice: for any x86-64 and for processors with BMI2.
  inline int FastLoopBody(const TTable& lit, const TTable& dist);
  int FastLoop(const TTable& lit, const TTable& dist);
  int FastLoopBmi2(const TTable& lit, const TTable& dist);

  TInflateMode FMode;
  size_t FHistory;  // window size: distances reach this far back
  size_t FOutChunk = kOutChunk;
  bool FUseBmi2 = false;
  const uint32_t* FLitEntries;   // table entry of each literal/length symbol
  const uint32_t* FDistEntries;  // and of each distance symbol, for this mode

  std::vector<uint32_t> FPool;
  size_t FPoolUsed = 0;
  size_t FPoolMark = 0;
  bool FFixedBuilt = false;
  TTable FFixedLit, FFixedDist;

  std::unique_ptr<uint8_t[]> FIn;
  const uint8_t* FInPos = nullptr;
  const uint8_t* FInEnd = nullptr;
  bool FEof = false;
  bool FReadError = false;

  // FOut holds the history (FHistory bytes) followed by the output area. Each chunk
  // goes to the sink when it reaches FOutLimit; when the area is full the history
  // slides back to the start. History before the first byte of a stream reads as
  // zeros: FValidStart is the first byte that is output or zeroed, and the bytes
  // before it are zeroed only when a distance reaches them.
  std::unique_ptr<uint8_t[]> FOut;
  size_t FOutSize = 0;
  uint8_t* FBufEnd = nullptr;
  uint8_t* FOutPos = nullptr;
  uint8_t* FOutLimit = nullptr;
  uint8_t* FFlushStart = nullptr;
  uint8_t* FValidStart = nullptr;

  // Stored bytes go to the sink straight from the input buffer; they join the history
  // only when it is needed (a compressed block, new input), and only the last FHistory
  // of them.
  struct TStoredRun {
    const uint8_t* Data;
    size_t Size;
  };
  static constexpr unsigned kMaxStoredRuns = 8;
  TStoredRun FStored[kMaxStoredRuns];
  unsigned FStoredRuns = 0;

  uint64_t FBits = 0;      // bit accumulator, next bit in bit 0
  unsigned FBitCount = 0;  // valid bits in FBits
  unsigned FPadBits = 0;   // zero bits appended after the end of input
  int FFail = irOk;        // reason of the last failed bit request or flush

  const TReader* FReader = nullptr;
  const TSink* FSink = nullptr;
  uint64_t FInRead = 0;
  uint64_t FOutCount = 0;
};

// Decodes a whole buffer, appending to out. Returns a TInflateResult.
int InflateBuffer(const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                  TInflateMode mode = TInflateMode::Deflate);

}  // namespace zm
