#include "DZAuthenticateAhead.h"

namespace dz {

namespace {
// Slots waiting from which on the idle thread is woken: fewer wake-ups, each worth it.
constexpr size_t kBatch = 4;
}  // namespace

TDZAuthenticateAhead::TDZAuthenticateAhead(TDZSeparableCipher& cipher)
    : FCipher(cipher), FBuf(new uint8_t[kSlots * kSlotSize]) {
  FThread = std::thread([this] { Work(); });
}

TDZAuthenticateAhead::~TDZAuthenticateAhead() {
  if (!FThread.joinable()) return;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FStop = true;
  }
  FWorkerWake.notify_one();
  FThread.join();
}

uint8_t* TDZAuthenticateAhead::Slot() {
  std::unique_lock<std::mutex> lock(FLock);
  if (FCount == kSlots) {
    // Resume once half the ring is free: fewer wake-ups.
    FReaderWaits = true;
    FReaderWake.wait(lock, [this] { return FCount <= kSlots / 2; });
    FReaderWaits = false;
  }
  return FBuf.get() + (FHead + FCount) % kSlots * kSlotSize;
}

void TDZAuthenticateAhead::Pass(size_t n) {
  bool wake;
  {
    std::lock_guard<std::mutex> guard(FLock);
    FSizes[(FHead + FCount) % kSlots] = n;
    wake = ++FCount == kBatch && !FWorkerBusy;
  }
  if (wake) FWorkerWake.notify_one();
}

void TDZAuthenticateAhead::Finish() {
  {
    std::unique_lock<std::mutex> lock(FLock);
    FFinish = true;
    // An idle thread, or one not yet started, is not woken for the last few slots:
    // they go into the code here, and the thread ends without touching the cipher.
    if (!FWorkerBusy) Drain(lock);
  }
  FWorkerWake.notify_one();
  FThread.join();
}

void TDZAuthenticateAhead::Work() {
  std::unique_lock<std::mutex> lock(FLock);
  for (;;) {
    FWorkerWake.wait(lock, [this] { return FStop || FFinish || FCount >= kBatch; });
    if (FStop || FFinish) return;
    FWorkerBusy = true;
    Drain(lock);
    FWorkerBusy = false;
  }
}

void TDZAuthenticateAhead::Drain(std::unique_lock<std::mutex>& lock) {
  while (FCount && !FStop) {
    const uint8_t* data = FBuf.get() + FHead * kSlotSize;
    const size_t n = FSizes[FHead];
    lock.unlock();
    FCipher.Authenticate(data, n);
    lock.lock();
    FHead = (FHead + 1) % kSlots;
    --FCount;
    if (FReaderWaits && FCount == kSlots / 2) FReaderWake.notify_one();
  }
}

}  // namespace dz
