// Authentication of an AES entry's data on a thread of its own, behind its decryption:
// the code over the encrypted bytes then overlaps their decryption and decoding
// instead of adding to them. The decoding thread reads each piece of encrypted data
// once, into a slot of this ring, decrypts it from there and hands the slot over; it
// waits only when the ring is full, and at the end for the code.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "DZCipher.h"

namespace dz {

class TDZAuthenticateAhead {
 public:
  static constexpr size_t kSlotSize = 64 * 1024;  // what a decoder asks for at a time
  static constexpr size_t kSlots = 32;            // the encrypted bytes the thread may lag behind

  // Starts the thread, which passes what it is handed to cipher.Authenticate; the
  // caller uses only cipher.Decipher meanwhile. Throws std::system_error when no
  // thread can be started.
  explicit TDZAuthenticateAhead(TDZSeparableCipher& cipher);
  // Stops the thread, whatever it has left, and waits for it.
  ~TDZAuthenticateAhead();
  TDZAuthenticateAhead(const TDZAuthenticateAhead&) = delete;
  TDZAuthenticateAhead& operator=(const TDZAuthenticateAhead&) = delete;

  // The slot for the next kSlotSize bytes at most; waits while the ring is full.
  uint8_t* Slot();
  // Hands the first n bytes of the slot to the thread.
  void Pass(size_t n);
  // Returns once every byte handed over went into the code and the thread has ended:
  // the cipher is the caller's again.
  void Finish();

 private:
  void Work();
  // The slots from FHead on into the code; called with FLock held, which it releases
  // while it works.
  void Drain(std::unique_lock<std::mutex>& lock);

  TDZSeparableCipher& FCipher;
  std::unique_ptr<uint8_t[]> FBuf;
  size_t FSizes[kSlots] = {};
  size_t FHead = 0, FCount = 0;  // the oldest slot handed over, and how many are
  std::mutex FLock;
  std::condition_variable FWorkerWake, FReaderWake;
  bool FWorkerBusy = false, FReaderWaits = false;  // the thread is draining; the caller waits for a slot
  bool FFinish = false, FStop = false;
  std::thread FThread;
};

}  // namespace dz
