#include "DZDecode.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "DZAuthenticateAhead.h"
#include "PlatCpu.h"
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
// Bytes counted in one piece of an entry that is tested: as many as the extractor
// reports in one progress step.
constexpr size_t kCountOnlyPiece = 256 * 1024;
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
  if (split && left >= kAuthenticateAheadMinSize && plat::UsableProcessors() > 1) {
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

TDZDecodeAhead::TDZDecodeAhead(TDZSource& src, std::vector<TDZAheadJob> jobs, std::string filesFolder,
                               unsigned threads)
    : FSource(src),
      FJobs(std::move(jobs)),
      FOwner(FJobs.size(), kUnclaimed),
      FFilesFolder(std::move(filesFolder)),
      FFilesWork(!FFilesFolder.empty()) {
  threads = std::clamp(threads, 1u, kMaxThreads);
  // No more threads than entries: a thread without one would only wait.
  threads = unsigned(std::min<size_t>(threads, std::max<size_t>(FJobs.size(), 1)));
  // Allocated here, so that a thread never fails for want of a slot; pages are
  // touched only as the slots fill.
  for (unsigned t = 0; t < threads; ++t) {
    FRings.push_back(std::make_unique<TRing>());
    FRings.back()->Index = uint8_t(t);
    for (TSlot& s : FRings.back()->Slots) {
      s.Buf.reset(new uint8_t[kSlotSize]);
      s.Ring = FRings.back().get();
    }
  }
  try {
    for (auto& ring : FRings) ring->Thread = std::thread([this, r = ring.get()] { Work(*r); });
  } catch (const std::system_error&) {
    // Fewer threads than asked: those started do the work, none at all is an error.
    if (!FRings[0]->Thread.joinable()) throw;
    std::lock_guard<std::mutex> guard(FLock);
    while (!FRings.back()->Thread.joinable()) FRings.pop_back();
  }
}

TDZDecodeAhead::~TDZDecodeAhead() {
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FFilled.notify_all();
  FClaimed.notify_all();
  for (auto& ring : FRings) ring->Freed.notify_all();
  for (auto& ring : FRings)
    if (ring->Thread.joinable()) ring->Thread.join();
  // Files of entries nobody took vanish with their handles.
  for (auto& ring : FRings)
    for (size_t k = FHeld == ring.get() ? 1 : 0; k < ring->Count; ++k) {
      const TPiece& p = ring->Slots[(ring->Head + k) % kSlots].Piece;
      if (p.Last && p.File != plat::kInvalidHandle) plat::FileClose(p.File);
    }
}

size_t TDZDecodeAhead::JobOf(size_t ordinal) const {
  const auto it = std::lower_bound(FJobs.begin(), FJobs.end(), ordinal,
                                   [](const TDZAheadJob& j, size_t o) { return j.Ordinal < o; });
  return it != FJobs.end() && it->Ordinal == ordinal ? size_t(it - FJobs.begin()) : SIZE_MAX;
}

size_t TDZDecodeAhead::Claim(TRing& ring) {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    if (FStop || FNextClaim == FJobs.size()) return SIZE_MAX;
    if (ring.Index == 0 || !MethodMemoryHeavy(FJobs[FNextClaim].Entry->DataMethod())) break;
    // The first thread takes it once done with its own entries, which the reader
    // takes before this one.
    FClaimed.wait(lock);
  }
  const size_t job = FNextClaim++;
  FOwner[job] = ring.Index;
  lock.unlock();
  FClaimed.notify_all();  // a thread waiting for the first one to claim goes on
  return job;
}

TDZDecodeAhead::TSlot* TDZDecodeAhead::Acquire(TRing& ring, const TDZAheadJob& job) {
  std::unique_lock<std::mutex> lock(FLock);
  if (ring.Count == kSlots) {
    // Resume only when half the slots are free: fewer wake-ups for small entries.
    ring.WorkerWaits = true;
    ring.Freed.wait(lock, [&] { return FStop || ring.Count <= kSlots / 2; });
    ring.WorkerWaits = false;
  }
  if (FStop) return nullptr;
  // The slot after the published ones; releases move Head and Count together.
  TSlot& s = ring.Slots[(ring.Head + ring.Count) % kSlots];
  s.Ordinal = job.Ordinal;
  s.Piece = TPiece{};
  s.Piece.Data = job.CountOnly ? nullptr : s.Buf.get();
  s.Error = nullptr;
  return &s;
}

void TDZDecodeAhead::Publish(TRing& ring) {
  bool wake;
  {
    std::lock_guard<std::mutex> guard(FLock);
    ++ring.Count;
    wake = FReaderWaits && (!FReaderWaitsFor || FReaderWaitsFor == &ring);
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

void TDZDecodeAhead::Work(TRing& ring) {
  TDZDecoder decoder;
  for (size_t job = Claim(ring); job != SIZE_MAX; job = Claim(ring))
    if (!DecodeJob(ring, decoder, FJobs[job])) return;
}

bool TDZDecodeAhead::DecodeJob(TRing& ring, TDZDecoder& decoder, const TDZAheadJob& job) {
  const size_t i = job.Ordinal;
  // Counts go over in fewer, larger pieces: the reader then wakes less often.
  const size_t capacity = job.CountOnly ? kCountOnlyPiece : kSlotSize;
  TSlot* slot = Acquire(ring, job);
  if (!slot) return false;
  TDZDecodeResult outcome;
  std::exception_ptr error;
  plat::THandle file = plat::kInvalidHandle;
  uint64_t filePos = 0;
  bool writeFailed = false, handedOver = false;
  uint32_t fileError = 0;
  // With a file, the slot's bytes go into it here while the extractor has pieces
  // of this ring waiting (it is the slower side then); otherwise it writes them itself.
  auto flush = [&] {
    if (file == plat::kInvalidHandle) return true;
    TPiece& p = slot->Piece;
    p.File = file;
    p.Offset = filePos;
    filePos += p.Size;
    if (!writeFailed && ring.Count.load(std::memory_order_relaxed) < kWriteHereBacklog) {
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
  if (Wanted(i)) {
    file = MakeFile(job, fileError);
    try {
      outcome = decoder.Run(FSource, *job.Entry, nullptr, [&](const uint8_t* data, size_t n) {
        while (n) {
          if (slot->Piece.Size == capacity) {
            const bool ok = flush();
            Publish(ring);
            slot = Acquire(ring, job);
            if (!slot || !ok) return false;
          }
          const size_t k = std::min(n, capacity - slot->Piece.Size);
          if (!job.CountOnly) std::memcpy(slot->Buf.get() + slot->Piece.Size, data, k);
          slot->Piece.Size += k;
          data += k;
          n -= k;
        }
        return Wanted(i);
      });
    } catch (...) {
      error = std::current_exception();
    }
  } else {
    outcome.Abandoned = true;
  }
  if (!slot) {  // stopped while waiting for a slot
    if (file != plat::kInvalidHandle) plat::FileClose(file);
    return false;
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
  Publish(ring);
  return true;
}

void TDZDecodeAhead::ReleaseHeld() {
  // Called with FLock held.
  if (!FHeld) return;
  TRing& ring = *FHeld;
  ring.Head = (ring.Head + 1) % kSlots;
  --ring.Count;
  FHeld = nullptr;
  if (ring.WorkerWaits && ring.Count <= kSlots / 2) ring.Freed.notify_one();
}

TDZDecodeAhead::TSlot* TDZDecodeAhead::WaitHead(std::unique_lock<std::mutex>& lock, size_t ordinal) {
  const size_t job = JobOf(ordinal);
  // The entry's thread has claimed it and published a piece, of it or of an earlier
  // entry of its own.
  auto ready = [&] { return FStop || (FOwner[job] != kUnclaimed && FRings[FOwner[job]]->Count > 0); };
  while (!ready()) {
    // Woken by that thread alone once it has claimed the entry.
    FReaderWaitsFor = FOwner[job] != kUnclaimed ? FRings[FOwner[job]].get() : nullptr;
    FReaderWaits = true;
    FFilled.wait(lock);
  }
  FReaderWaits = false;
  if (FOwner[job] == kUnclaimed) return nullptr;  // stopped
  TRing& ring = *FRings[FOwner[job]];
  if (ring.Count == 0) return nullptr;  // stopped
  TSlot& s = ring.Slots[ring.Head];
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
  FHeld = s.Ring;
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
    FHeld = s->Ring;
    ReleaseHeld();
    if (last) break;
  }
  FLastDone = ordinal;
}

}  // namespace dz
