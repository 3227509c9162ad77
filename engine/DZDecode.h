// Decoding of entry data: one entry at a time on the calling thread (TDZDecoder), or
// ahead of the extractor on one or more decoding threads (TDZDecodeAhead), which hand
// the data over in a few fixed slots each so that memory stays bounded whatever the
// entry sizes, or write them themselves into files without a name that the extractor
// names once it has taken the entry.
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

// One entry for the decoding threads.
struct TDZAheadJob {
  size_t Ordinal = 0;  // of the entry in the extractor's order
  const TDZEntry* Entry = nullptr;
  // Only the counts of the decoded bytes are handed over (the entry is tested).
  bool CountOnly = false;
  // The thread writes the data into a file without a name in the files folder (and
  // sets its time when SetTime) instead of handing them over.
  bool ToFile = false;
  bool SetTime = false;
  plat::TFileTime Time = 0;
};

// Several threads decode entries at once: each claims the next entry from a shared
// counter and fills a ring of slots of its own with the entries it claimed, in claim
// order. The extractor reads the entries in order, each from the ring of the thread
// that claimed it; a ring holds its earlier entries first, so no thread waits for an
// entry that waits for it. Entries whose methods may take much memory are decoded by
// the first thread only, so that the engine holds one such decoder at a time.
class TDZDecodeAhead {
 public:
  static constexpr size_t kSlots = 8;
  static constexpr size_t kSlotSize = 64 * 1024;
  static constexpr unsigned kMaxThreads = 8;

  // Starts the given number of decoding threads (at least one, at most kMaxThreads),
  // which decode the jobs (each with its entry, in increasing ordinal order). Files
  // without a name are made in filesFolder (where the system cannot, the data of those
  // entries are handed over). src must be thread safe and outlive this object. Throws
  // std::system_error when no thread can be started.
  TDZDecodeAhead(TDZSource& src, std::vector<TDZAheadJob> jobs, std::string filesFolder = {},
                 unsigned threads = 1);
  // Stops the threads (each ends at its next chunk), waits for them and closes the
  // files nobody took.
  ~TDZDecodeAhead();
  TDZDecodeAhead(const TDZDecodeAhead&) = delete;
  TDZDecodeAhead& operator=(const TDZDecodeAhead&) = delete;

  bool Covers(size_t ordinal) const { return JobOf(ordinal) != SIZE_MAX; }

  // One hand-over: data of the entry, and with Last its outcome. With File, the data
  // belong at Offset in that file: the thread either wrote them there itself (Data is
  // null, Size counts them) or left them to the receiver. Without File, a null Data
  // only counts bytes that were decoded and dropped.
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
  // Ends the entry at ordinal: its thread stops decoding it and what it has decoded
  // of it is dropped, its file included. Call for every covered entry, taken in full
  // or not.
  void Finish(size_t ordinal);

 private:
  struct TRing;
  struct TSlot {
    TRing* Ring = nullptr;  // the one it belongs to
    std::unique_ptr<uint8_t[]> Buf;
    size_t Ordinal = 0;
    TPiece Piece;
    std::exception_ptr Error;
  };
  // The slots of one decoding thread.
  struct TRing {
    uint8_t Index = 0;
    TSlot Slots[kSlots];
    size_t Head = 0;  // next slot to read
    // Published slots not yet released; read without the lock to see which side is
    // behind.
    std::atomic<size_t> Count{0};
    bool WorkerWaits = false;
    std::condition_variable Freed;
    std::thread Thread;
  };
  static constexpr uint8_t kUnclaimed = 0xFF;

  // Index of the job of the entry at ordinal, or SIZE_MAX.
  size_t JobOf(size_t ordinal) const;
  void Work(TRing& ring);
  // Worker side: decodes one job into the ring; false once stopped.
  bool DecodeJob(TRing& ring, TDZDecoder& decoder, const TDZAheadJob& job);
  // Worker side: the index of the next job this thread decodes, or SIZE_MAX once
  // there is none or it was stopped.
  size_t Claim(TRing& ring);
  // Worker side: a free slot of the ring for the job, or null once stopped.
  TSlot* Acquire(TRing& ring, const TDZAheadJob& job);
  // Worker side: hands the slot being filled to the reader.
  void Publish(TRing& ring);
  // Worker side: the entry's file, or kInvalidHandle to hand its data over.
  plat::THandle MakeFile(const TDZAheadJob& job, uint32_t& error);
  bool Wanted(size_t ordinal) const { return !FStop.load() && FAbandon.load() <= ordinal; }
  // Reader side, with FLock held.
  void ReleaseHeld();
  // Reader side, with FLock held: the slot at the head of the ring of the thread that
  // claimed the entry at ordinal once published, if it belongs to that entry; null
  // once stopped.
  TSlot* WaitHead(std::unique_lock<std::mutex>& lock, size_t ordinal);
  // Reader side: releases the slot held and waits for the entry's next one; throws
  // std::logic_error when the entry has none.
  TSlot& TakeHead(std::unique_lock<std::mutex>& lock, size_t ordinal);

  TDZSource& FSource;
  std::vector<TDZAheadJob> FJobs;
  std::vector<uint8_t> FOwner;  // per job: the ring of the thread that claimed it
  size_t FNextClaim = 0;        // index of the next job to claim
  std::string FFilesFolder;
  std::atomic<bool> FFilesWork;  // false once the system refused such a file
  std::vector<std::unique_ptr<TRing>> FRings;
  std::mutex FLock;
  std::condition_variable FFilled, FClaimed;
  TRing* FHeld = nullptr;  // the reader holds the slot at the head of this ring
  std::atomic<bool> FStop{false};
  bool FReaderWaits = false;
  const TRing* FReaderWaitsFor = nullptr;  // the ring it waits for; null: any
  std::atomic<size_t> FAbandon{0};         // entries below this ordinal are no longer wanted
  size_t FLastDone = SIZE_MAX;             // ordinal whose last piece the reader has taken
};

}  // namespace dz
