// Decoding of entry data: one entry at a time on the calling thread (TDZDecoder), or
// ahead of the extractor on a second thread (TDZDecodeAhead), which hands the data
// over in a few fixed slots so that memory stays bounded whatever the entry sizes.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "DZArchive.h"
#include "DZCrypt.h"
#include "DZSource.h"
#include "ZMInflateCore.h"

namespace dz {

// Outcome of decoding one entry.
struct TDZDecodeResult {
  int Result = zm::irOk;  // a zm::TInflateResult
  uint32_t Crc = 0;       // of the bytes handed on
  uint64_t Written = 0;   // bytes handed on
  bool ReadFailed = false;
  bool TooLong = false;    // more data than the entry declares
  bool Abandoned = false;  // the receiver stopped taking data
};

class TDZDecoder {
 public:
  // Takes decoded bytes (already counted in the CRC); false stops decoding.
  using TSink = std::function<bool(const uint8_t* data, size_t n)>;
  // Decodes the entry's data (stored, deflate or Deflate64; decrypted on the way when
  // crypt is given, whose keys stand at the first data byte) into the sink.
  TDZDecodeResult Run(TDZSource& src, const TDZEntry& en, TDZCrypt* crypt, const TSink& sink);

 private:
  std::unique_ptr<zm::TZMInflateCore> FInflate, FInflate64;
  std::vector<uint8_t> FBuf;
};

// Whether an entry's data are worth decoding ahead: they can be decoded without
// asking the caller anything (no password), and they are not tiny.
bool DecodableAhead(const TDZEntry& en);

class TDZDecodeAhead {
 public:
  static constexpr size_t kSlots = 8;
  static constexpr size_t kSlotSize = 64 * 1024;

  // Starts the thread, which decodes the entries in order; a null entry is not
  // decoded ahead (the extractor decodes it itself). src must be thread safe and
  // outlive this object. Throws std::system_error when no thread can be started.
  TDZDecodeAhead(TDZSource& src, std::vector<const TDZEntry*> order);
  // Stops the thread (it ends at its next chunk) and waits for it.
  ~TDZDecodeAhead();
  TDZDecodeAhead(const TDZDecodeAhead&) = delete;
  TDZDecodeAhead& operator=(const TDZDecodeAhead&) = delete;

  bool Covers(size_t ordinal) const { return ordinal < FOrder.size() && FOrder[ordinal]; }

  // One hand-over: data of the entry, and with Last its outcome.
  struct TPiece {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    bool Last = false;
    TDZDecodeResult Outcome;
  };
  // Waits for the next piece of the entry at ordinal (entries are taken in order).
  // The piece stays valid until the next call of Next or Finish. Rethrows what the
  // thread met while decoding this entry (such as std::bad_alloc).
  const TPiece& Next(size_t ordinal);
  // Ends the entry at ordinal: the thread stops decoding it and what it has decoded
  // of it is dropped. Call for every covered entry, taken in full or not.
  void Finish(size_t ordinal);

 private:
  struct TSlot {
    std::unique_ptr<uint8_t[]> Buf;
    size_t Ordinal = 0;
    TPiece Piece;
    std::exception_ptr Error;
  };
  void Work();
  // Worker side: a free slot for ordinal, or null once stopped.
  TSlot* Acquire(size_t ordinal);
  // Worker side: hands the slot being filled to the reader.
  void Publish();
  // Reader side, with FLock held.
  void ReleaseHeld();
  void WaitFilled(std::unique_lock<std::mutex>& lock);

  TDZSource& FSource;
  std::vector<const TDZEntry*> FOrder;
  TSlot FSlots[kSlots];
  std::mutex FLock;
  std::condition_variable FFilled, FFreed;
  size_t FHead = 0;       // next slot to read
  size_t FCount = 0;      // published slots not yet released
  bool FHeld = false;     // the reader holds the slot at FHead
  bool FStop = false;
  bool FWorkerWaits = false, FReaderWaits = false;  // who sleeps, to be woken
  size_t FAbandon = 0;    // entries below this ordinal are no longer wanted
  size_t FLastDone = SIZE_MAX;  // ordinal whose last piece the reader has taken
  std::thread FThread;
};

}  // namespace dz
