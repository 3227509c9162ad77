// Decoding of entry data: one entry at a time on the calling thread (TDZDecoder), or
// ahead of the extractor on a second thread (TDZDecodeAhead), which hands the data
// over in a few fixed slots so that memory stays bounded whatever the entry sizes, or
// writes them itself into files without a name that the extractor names once it has
// taken the entry.
#pragma once
#include <atomic>
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
#include "DZCipher.h"
#include "DZMethod.h"
#include "DZSource.h"
#include "PlatFile.h"
#include "PlatTime.h"
#include "ZMInflateCore.h"

namespace dz {

// Outcome of decoding one entry.
struct TDZDecodeResult {
  int Result = zm::irOk;  // a zm::TInflateResult
  uint32_t Crc = 0;       // of the bytes handed on; 0 for entries whose CRC nothing checks
  uint64_t Written = 0;   // bytes handed on
  bool ReadFailed = false;
  bool TooLong = false;      // more data than the entry declares
  bool Abandoned = false;    // the receiver stopped taking data
  bool WriteFailed = false;  // the decoding thread could not write the entry's file
  bool TimeSet = false;      // it wrote all of the file and set its time
  uint32_t FileError = 0;    // why it could not make or write that file (system error)
  bool AuthFailed = false;   // the encryption's authentication code does not match
};

// Writes all n bytes at offset; false on failure.
bool WriteAllAt(plat::THandle h, const uint8_t* data, size_t n, uint64_t offset);

class TDZDecoder {
 public:
  // Takes decoded bytes (already counted in the CRC); false stops decoding.
  using TSink = std::function<bool(const uint8_t* data, size_t n)>;
  // Decodes the entry's data (any method MethodSupported accepts) into the sink,
  // decrypted on the way when cipher is given, whose keys stand at the first data
  // byte. An authenticating cipher sees all the data, also those after a stream that
  // ended early or broke, and then checks its code.
  TDZDecodeResult Run(TDZSource& src, const TDZEntry& en, TDZCipher* cipher, const TSink& sink);

 private:
  // The decoder of a method, made on first use and kept; null when not supported.
  TDZMethodDecoder* DecoderFor(uint16_t method);

  std::vector<std::pair<uint16_t, std::unique_ptr<TDZMethodDecoder>>> FDecoders;
};

// Whether an entry's data can be decoded without asking the caller anything (no
// password, a known method); small ones only when tiny is true.
bool DecodableAhead(const TDZEntry& en, bool tiny);

// One entry for the decoding thread.
struct TDZAheadJob {
  const TDZEntry* Entry = nullptr;  // null: the extractor decodes it itself
  // The thread writes the data into a file without a name in the files folder (and
  // sets its time when SetTime) instead of handing them over.
  bool ToFile = false;
  bool SetTime = false;
  plat::TFileTime Time = 0;
};

class TDZDecodeAhead {
 public:
  static constexpr size_t kSlots = 8;
  static constexpr size_t kSlotSize = 64 * 1024;

  // Starts the thread, which decodes the entries in order. Files without a name are
  // made in filesFolder (where the system cannot, the data of those entries are
  // handed over). src must be thread safe and outlive this object. Throws
  // std::system_error when no thread can be started.
  TDZDecodeAhead(TDZSource& src, std::vector<TDZAheadJob> order, std::string filesFolder = {});
  // Stops the thread (it ends at its next chunk), waits for it and closes the files
  // nobody took.
  ~TDZDecodeAhead();
  TDZDecodeAhead(const TDZDecodeAhead&) = delete;
  TDZDecodeAhead& operator=(const TDZDecodeAhead&) = delete;

  bool Covers(size_t ordinal) const { return ordinal < FOrder.size() && FOrder[ordinal].Entry; }

  // One hand-over: data of the entry, and with Last its outcome. With File, the data
  // belong at Offset in that file: the thread either wrote them there itself (Data is
  // null, Size counts them) or left them to the receiver.
  struct TPiece {
    const uint8_t* Data = nullptr;
    size_t Size = 0;
    plat::THandle File = plat::kInvalidHandle;
    uint64_t Offset = 0;
    bool Last = false;
    TDZDecodeResult Outcome;
  };
  // Waits for the first piece of the entry at ordinal and tells whether its data go
  // into a file without a name (the last piece hands that file over).
  bool WritesFile(size_t ordinal);
  // Waits for the next piece of the entry at ordinal (entries are taken in order).
  // The piece stays valid until the next call of Next or Finish; the file of a last
  // piece belongs to the caller from then on. Rethrows what the thread met while
  // decoding this entry (such as std::bad_alloc).
  const TPiece& Next(size_t ordinal);
  // Ends the entry at ordinal: the thread stops decoding it and what it has decoded
  // of it is dropped, its file included. Call for every covered entry, taken in full
  // or not.
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
  // Worker side: the entry's file, or kInvalidHandle to hand its data over.
  plat::THandle MakeFile(const TDZAheadJob& job, uint32_t& error);
  // Reader side, with FLock held.
  void ReleaseHeld();
  // Reader side, with FLock held: the slot at FHead once published, if it belongs to
  // the entry at ordinal; null once stopped.
  TSlot* WaitHead(std::unique_lock<std::mutex>& lock, size_t ordinal);
  // Reader side: releases the slot held and waits for the entry's next one; throws
  // std::logic_error when the entry has none.
  TSlot& TakeHead(std::unique_lock<std::mutex>& lock, size_t ordinal);

  TDZSource& FSource;
  std::vector<TDZAheadJob> FOrder;
  std::string FFilesFolder;
  bool FFilesWork;  // worker side: false once the system refused such a file
  TSlot FSlots[kSlots];
  std::mutex FLock;
  std::condition_variable FFilled, FFreed;
  size_t FHead = 0;  // next slot to read
  // Published slots not yet released; read without the lock to see which side is
  // behind.
  std::atomic<size_t> FCount{0};
  bool FHeld = false;  // the reader holds the slot at FHead
  bool FStop = false;
  bool FWorkerWaits = false, FReaderWaits = false;  // who sleeps, to be woken
  size_t FAbandon = 0;                              // entries below this ordinal are no longer wanted
  size_t FLastDone = SIZE_MAX;                      // ordinal whose last piece the reader has taken
  std::thread FThread;
};

}  // namespace dz
