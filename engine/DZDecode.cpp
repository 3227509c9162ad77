#include "DZDecode.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "DZAuthenticateAhead.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "ZMCrc32.h"

namespace dz {

namespace {
constexpr uint64_t kAheadMinSize = 16 * 1024;
// Entries from which on an authentication code is computed on a thread of its own.
constexpr uint64_t kAuthenticateAheadMinSize = 256 * 1024;
// Pieces waiting for the extractor from which on the thread writes files itself.
constexpr size_t kWriteHereBacklog = TDZDecodeAhead::kSlots / 2;
}  // namespace

TDZMethodDecoder* TDZDecoder::DecoderFor(uint16_t method) {
  for (auto& [m, d] : FDecoders)
    if (m == method) return d.get();
  std::unique_ptr<TDZMethodDecoder> d = MakeMethodDecoder(method);
  if (!d) return nullptr;
  FDecoders.emplace_back(method, std::move(d));
  return FDecoders.back().second.get();
}

TDZDecodeResult TDZDecoder::Run(TDZSource& src, const TDZEntry& en, TDZCipher* cipher, const TSink& sink) {
  TDZDecodeResult r;
  const uint64_t head = cipher ? cipher->HeaderSize() : 0;
  const uint64_t trail = cipher ? cipher->TrailerSize() : 0;
  uint64_t pos = en.DataOffset + head;
  uint64_t left = en.CompSize - head - trail;  // the extractor checked that it fits
  uint32_t reg = 0xFFFFFFFFu;
  // The second form of AES encryption leaves the CRC out (its code covers the data):
  // nothing checks it, so it is not computed.
  const bool crc = !(en.IsAes() && !en.Aes.ChecksCrc());

  TDZSeparableCipher* split = cipher ? cipher->Separable() : nullptr;
  std::unique_ptr<TDZAuthenticateAhead> ahead;
  if (split && left >= kAuthenticateAheadMinSize && std::thread::hardware_concurrency() != 1) {
    try {
      ahead = std::make_unique<TDZAuthenticateAhead>(*split);
    } catch (const std::system_error&) {
      // No thread: authenticated here.
    }
  }
  auto reader = [&](uint8_t* buf, size_t max) -> ptrdiff_t {
    if (left == 0) return 0;
    size_t n = size_t(std::min<uint64_t>(left, max));
    uint8_t* into = buf;
    if (ahead) {
      // Read into the next slot, and decrypted from there while the thread authenticates.
      n = std::min(n, TDZAuthenticateAhead::kSlotSize);
      into = ahead->Slot();
    }
    const int64_t got = src.ReadSome(pos, into, n);
    if (got <= 0) {
      r.ReadFailed = true;
      return -1;
    }
    if (ahead) {
      split->Decipher(buf, into, size_t(got));
      ahead->Pass(size_t(got));
    } else if (cipher) {
      cipher->Decrypt(buf, size_t(got));
    }
    pos += uint64_t(got);
    left -= uint64_t(got);
    return ptrdiff_t(got);
  };
  auto push = [&](const uint8_t* data, size_t n) -> bool {
    if (n > en.UncompSize - r.Written) {
      r.TooLong = true;  // more data than the entry declares: refuse, never amplify
      return false;
    }
    if (crc) reg = zm::Crc32UpdateFast(reg, data, n);
    r.Written += n;
    if (!sink(data, n)) {
      r.Abandoned = true;
      return false;
    }
    return true;
  };

  TDZMethodDecoder* decoder = DecoderFor(en.DataMethod());
  r.Result = decoder ? decoder->Decode(en, reader, push) : zm::irBadCodes;
  r.Crc = crc ? ~reg : 0;
  if (trail && !r.ReadFailed && !r.Abandoned) {
    // The code covers every encrypted byte, also those the method left unread.
    std::vector<uint8_t> buf(size_t(std::min<uint64_t>(left, 64 * 1024)) + trail);
    while (left && reader(buf.data(), buf.size() - trail) > 0) {
    }
    if (ahead && !r.ReadFailed) ahead->Finish();  // the cipher has seen every byte
    if (!r.ReadFailed) {
      if (src.ReadAt(pos, buf.data(), size_t(trail)))
        r.AuthFailed = !cipher->Authentic(buf.data());
      else
        r.ReadFailed = true;
    }
  }
  return r;
}

bool DecodableAhead(const TDZEntry& en, bool tiny) {
  if (en.IsFolder() || en.RangeError || en.Encrypted()) return false;
  // Small entries cost less to decode than to hand over between threads; written
  // into files by the other thread they are worth it.
  if (!tiny && en.UncompSize < kAheadMinSize) return false;
  if (en.Method == 0) return en.CompSize == en.UncompSize;
  return MethodSupported(en.Method);
}

TDZDecodeAhead::TDZDecodeAhead(TDZSource& src, std::vector<TDZAheadJob> order, std::string filesFolder)
    : FSource(src),
      FOrder(std::move(order)),
      FFilesFolder(std::move(filesFolder)),
      FFilesWork(!FFilesFolder.empty()) {
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
  // Files of entries nobody took vanish with their handles.
  for (size_t k = FHeld ? 1 : 0; k < FCount; ++k) {
    const TPiece& p = FSlots[(FHead + k) % kSlots].Piece;
    if (p.Last && p.File != plat::kInvalidHandle) plat::FileClose(p.File);
  }
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

plat::THandle TDZDecodeAhead::MakeFile(const TDZAheadJob& job, uint32_t& error) {
  if (!job.ToFile || !FFilesWork) return plat::kInvalidHandle;
  const plat::THandle h = plat::FileCreateUnnamed(FFilesFolder);
  // Refused by the system or the file system: hand the data over from now on. Other
  // failures (a full disk, too many open files) concern this entry only.
  if (h == plat::kInvalidHandle) {
    error = plat::GetLastError();
    if (error == plat::kErrNotSupported) {
      FFilesWork = false;
      error = 0;
    }
  }
  return h;
}

bool WriteAllAt(plat::THandle h, const uint8_t* data, size_t n, uint64_t offset) {
  while (n) {
    const int part = int(std::min<size_t>(n, 1u << 30));
    if (plat::FileWriteAt(h, data, part, offset) != part) return false;
    data += part;
    offset += uint64_t(part);
    n -= size_t(part);
  }
  return true;
}

void TDZDecodeAhead::Work() {
  TDZDecoder decoder;
  for (size_t i = 0; i < FOrder.size(); ++i) {
    const TDZAheadJob& job = FOrder[i];
    if (!job.Entry) continue;
    TSlot* slot = Acquire(i);
    if (!slot) return;
    TDZDecodeResult outcome;
    std::exception_ptr error;
    auto wanted = [&] {
      std::lock_guard<std::mutex> guard(FLock);
      return !FStop && FAbandon <= i;
    };
    plat::THandle file = plat::kInvalidHandle;
    uint64_t filePos = 0;
    bool writeFailed = false, handedOver = false;
    uint32_t fileError = 0;
    // With a file, the slot's bytes go into it here while the extractor has pieces
    // waiting (it is the slower side then); otherwise it writes them itself.
    auto flush = [&] {
      if (file == plat::kInvalidHandle) return true;
      TPiece& p = slot->Piece;
      p.File = file;
      p.Offset = filePos;
      filePos += p.Size;
      if (!writeFailed && FCount.load(std::memory_order_relaxed) < kWriteHereBacklog) {
        handedOver = handedOver || p.Size;
        return true;
      }
      if (!writeFailed && !WriteAllAt(file, p.Data, p.Size, p.Offset)) {
        writeFailed = true;
        fileError = plat::GetLastError();
      }
      p.Data = nullptr;
      if (writeFailed) p.Size = 0;
      return !writeFailed;
    };
    if (wanted()) {
      file = MakeFile(job, fileError);
      try {
        outcome = decoder.Run(FSource, *job.Entry, nullptr, [&](const uint8_t* data, size_t n) {
          while (n) {
            if (slot->Piece.Size == kSlotSize) {
              const bool ok = flush();
              Publish();
              slot = Acquire(i);
              if (!slot || !ok) return false;
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
    if (!slot) {  // stopped while waiting for a slot
      if (file != plat::kInvalidHandle) plat::FileClose(file);
      return;
    }
    if (file != plat::kInvalidHandle) {
      // After a failure the file goes over as it is: the receiver may still be writing
      // earlier pieces into it, and closes it.
      if (error) {
        slot->Piece.Data = nullptr;
        slot->Piece.Size = 0;
        slot->Piece.File = file;
      } else if (flush() && !handedOver && job.SetTime && outcome.Result == zm::irOk && !outcome.Abandoned) {
        outcome.TimeSet = plat::FileSetTime(file, job.Time);
      }
      outcome.WriteFailed = writeFailed;
    }
    outcome.FileError = fileError;
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

TDZDecodeAhead::TSlot* TDZDecodeAhead::WaitHead(std::unique_lock<std::mutex>& lock, size_t ordinal) {
  if (FCount == 0 && !FStop) {
    FReaderWaits = true;
    FFilled.wait(lock, [this] { return FStop || FCount > 0; });
    FReaderWaits = false;
  }
  if (FCount == 0) return nullptr;  // stopped
  TSlot& s = FSlots[FHead];
  return s.Ordinal == ordinal ? &s : nullptr;  // entries come in order
}

TDZDecodeAhead::TSlot& TDZDecodeAhead::TakeHead(std::unique_lock<std::mutex>& lock, size_t ordinal) {
  ReleaseHeld();
  if (!Covers(ordinal) || FLastDone == ordinal) throw std::logic_error("no decoded data for this entry");
  TSlot* s = WaitHead(lock, ordinal);
  if (!s) throw std::logic_error("decoded data out of order");
  return *s;
}

bool TDZDecodeAhead::WritesFile(size_t ordinal) {
  std::unique_lock<std::mutex> lock(FLock);
  return TakeHead(lock, ordinal).Piece.File != plat::kInvalidHandle;
}

const TDZDecodeAhead::TPiece& TDZDecodeAhead::Next(size_t ordinal) {
  std::unique_lock<std::mutex> lock(FLock);
  TSlot& s = TakeHead(lock, ordinal);
  FHeld = true;
  if (s.Piece.Last) {
    FLastDone = ordinal;
    if (s.Error) {
      if (s.Piece.File != plat::kInvalidHandle) plat::FileClose(s.Piece.File);
      std::rethrow_exception(s.Error);
    }
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
  while (TSlot* s = WaitHead(lock, ordinal)) {
    const bool last = s->Piece.Last;
    if (last && s->Piece.File != plat::kInvalidHandle) plat::FileClose(s->Piece.File);
    FHeld = true;
    ReleaseHeld();
    if (last) break;
  }
  FLastDone = ordinal;
}

}  // namespace dz
