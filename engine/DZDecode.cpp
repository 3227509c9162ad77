#include "DZDecode.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "ZMCrc32.h"

namespace dz {

namespace {
constexpr size_t kReadChunk = 256 * 1024;
constexpr uint64_t kAheadMinSize = 16 * 1024;
}  // namespace

TDZDecodeResult TDZDecoder::Run(TDZSource& src, const TDZEntry& en, TDZCrypt* crypt,
                                const TSink& sink) {
  TDZDecodeResult r;
  uint64_t pos = en.DataOffset + (crypt ? TDZCrypt::kHeaderSize : 0);
  uint64_t left = en.CompSize - (crypt ? TDZCrypt::kHeaderSize : 0);
  uint32_t reg = 0xFFFFFFFFu;

  auto reader = [&](uint8_t* buf, size_t max) -> ptrdiff_t {
    if (left == 0) return 0;
    const size_t n = size_t(std::min<uint64_t>(left, max));
    const int64_t got = src.ReadSome(pos, buf, n);
    if (got <= 0) {
      r.ReadFailed = true;
      return -1;
    }
    if (crypt) crypt->Decrypt(buf, size_t(got));
    pos += uint64_t(got);
    left -= uint64_t(got);
    return ptrdiff_t(got);
  };
  auto push = [&](const uint8_t* data, size_t n) -> bool {
    if (n > en.UncompSize - r.Written) {
      r.TooLong = true;  // more data than the entry declares: refuse, never amplify
      return false;
    }
    reg = zm::Crc32UpdateFast(reg, data, n);
    r.Written += n;
    if (!sink(data, n)) {
      r.Abandoned = true;
      return false;
    }
    return true;
  };

  if (en.Method == 0) {
    if (FBuf.size() < kReadChunk) FBuf.resize(kReadChunk);
    while (left) {
      const ptrdiff_t got = reader(FBuf.data(), FBuf.size());
      if (got <= 0) {
        r.Result = zm::irReadFailed;
        break;
      }
      if (!push(FBuf.data(), size_t(got))) {
        r.Result = zm::irWriteFailed;
        break;
      }
    }
  } else {
    auto& core = en.Method == 9 ? FInflate64 : FInflate;
    if (!core)
      core = std::make_unique<zm::TZMInflateCore>(en.Method == 9 ? zm::TInflateMode::Deflate64
                                                                 : zm::TInflateMode::Deflate);
    r.Result = core->Inflate(reader, push);
  }
  r.Crc = ~reg;
  return r;
}

bool DecodableAhead(const TDZEntry& en) {
  if (en.IsFolder() || en.RangeError || en.Encrypted()) return false;
  // Small entries cost less to decode than to hand over between threads.
  if (en.UncompSize < kAheadMinSize) return false;
  if (en.Method == 0) return en.CompSize == en.UncompSize;
  return en.Method == 8 || en.Method == 9;
}

TDZDecodeAhead::TDZDecodeAhead(TDZSource& src, std::vector<const TDZEntry*> order)
    : FSource(src), FOrder(std::move(order)) {
  // Allocated here, so that the thread never fails for want of a slot; pages are
  // touched only as the slots fill.
  for (TSlot& s : FSlots) s.Buf.reset(new uint8_t[kSlotSize]);
  FThread = std::thread([this] { Work(); });
}

TDZDecodeAhead::~TDZDecodeAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FFreed.notify_all();
  FFilled.notify_all();
  if (FThread.joinable()) FThread.join();
}

TDZDecodeAhead::TSlot* TDZDecodeAhead::Acquire(size_t ordinal) {
  std::unique_lock<std::mutex> lock(FLock);
  if (FCount == kSlots) {
    // Resume only when half the slots are free: fewer wake-ups for small entries.
    FWorkerWaits = true;
    FFreed.wait(lock, [this] { return FStop || FCount <= kSlots / 2; });
    FWorkerWaits = false;
  }
  if (FStop) return nullptr;
  // The slot after the published ones; releases move FHead and FCount together.
  TSlot& s = FSlots[(FHead + FCount) % kSlots];
  s.Ordinal = ordinal;
  s.Piece = TPiece{};
  s.Piece.Data = s.Buf.get();
  s.Error = nullptr;
  return &s;
}

void TDZDecodeAhead::Publish() {
  bool wake;
  {
    std::lock_guard<std::mutex> guard(FLock);
    ++FCount;
    wake = FReaderWaits;
  }
  if (wake) FFilled.notify_one();
}

void TDZDecodeAhead::Work() {
  TDZDecoder decoder;
  for (size_t i = 0; i < FOrder.size(); ++i) {
    const TDZEntry* en = FOrder[i];
    if (!en) continue;
    TSlot* slot = Acquire(i);
    if (!slot) return;
    TDZDecodeResult outcome;
    std::exception_ptr error;
    auto wanted = [&] {
      std::lock_guard<std::mutex> guard(FLock);
      return !FStop && FAbandon <= i;
    };
    if (wanted()) {
      try {
        outcome = decoder.Run(FSource, *en, nullptr, [&](const uint8_t* data, size_t n) {
          while (n) {
            if (slot->Piece.Size == kSlotSize) {
              Publish();
              slot = Acquire(i);
              if (!slot) return false;
            }
            const size_t k = std::min(n, kSlotSize - slot->Piece.Size);
            std::memcpy(slot->Buf.get() + slot->Piece.Size, data, k);
            slot->Piece.Size += k;
            data += k;
            n -= k;
          }
          return wanted();
        });
      } catch (...) {
        error = std::current_exception();
      }
    } else {
      outcome.Abandoned = true;
    }
    if (!slot) return;  // stopped while waiting for a slot
    slot->Piece.Last = true;
    slot->Piece.Outcome = outcome;
    slot->Error = error;
    Publish();
  }
}

void TDZDecodeAhead::ReleaseHeld() {
  // Called with FLock held.
  if (!FHeld) return;
  FHead = (FHead + 1) % kSlots;
  --FCount;
  FHeld = false;
  if (FWorkerWaits && FCount <= kSlots / 2) FFreed.notify_one();
}

void TDZDecodeAhead::WaitFilled(std::unique_lock<std::mutex>& lock) {
  if (FCount > 0 || FStop) return;
  FReaderWaits = true;
  FFilled.wait(lock, [this] { return FStop || FCount > 0; });
  FReaderWaits = false;
}

const TDZDecodeAhead::TPiece& TDZDecodeAhead::Next(size_t ordinal) {
  std::unique_lock<std::mutex> lock(FLock);
  ReleaseHeld();
  if (!Covers(ordinal) || FLastDone == ordinal)
    throw std::logic_error("no decoded data for this entry");
  WaitFilled(lock);
  if (FCount == 0) throw std::logic_error("decoding stopped");
  TSlot& s = FSlots[FHead];
  FHeld = true;
  if (s.Ordinal != ordinal) throw std::logic_error("decoded data out of order");
  if (s.Piece.Last) {
    FLastDone = ordinal;
    if (s.Error) std::rethrow_exception(s.Error);
  }
  return s.Piece;
}

void TDZDecodeAhead::Finish(size_t ordinal) {
  if (!Covers(ordinal)) return;
  std::unique_lock<std::mutex> lock(FLock);
  ReleaseHeld();
  if (FLastDone == ordinal) return;
  if (FAbandon < ordinal + 1) FAbandon = ordinal + 1;
  // Drop the rest of the entry; the thread ends it at its next chunk.
  for (;;) {
    WaitFilled(lock);
    if (FCount == 0) return;
    TSlot& s = FSlots[FHead];
    if (s.Ordinal != ordinal) return;  // cannot happen: entries come in order
    const bool last = s.Piece.Last;
    FHeld = true;
    ReleaseHeld();
    if (last) break;
  }
  FLastDone = ordinal;
}

}  // namespace dz
