// Key derivation for the AES entries still to come, on a thread of its own: every AES
// entry costs a key derivation of a thousand rounds, whatever its size, and with it
// done ahead, with the password that opened an earlier entry, many small entries cost
// little more than unencrypted ones.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DZAes.h"

namespace dz {

class TDZAesKeysAhead {
 public:
  struct TJob {
    size_t Ordinal = 0;  // the entry's place in the extraction order; rising from job to job
    TDZAesField Field;
    uint8_t Salt[16] = {};
  };

  // Starts the thread on the jobs, in order, with the password. Throws
  // std::system_error when no thread can be started.
  TDZAesKeysAhead(std::string password, std::vector<TJob> jobs);
  // Stops the thread and waits for it; wipes the keys.
  ~TDZAesKeysAhead();
  TDZAesKeysAhead(const TDZAesKeysAhead&) = delete;
  TDZAesKeysAhead& operator=(const TDZAesKeysAhead&) = delete;

  // The keys (TDZAesCipher::kKeysSize bytes) of the entry at ordinal when they are
  // derived here from that password, field and salt: waits while the thread works on
  // them, and derives them on the calling thread when it has not got there yet. False
  // for anything else: the caller derives them itself.
  bool Take(size_t ordinal, const TDZAesField& f, const std::string& password, const uint8_t* salt,
            uint8_t* keys);

 private:
  enum class TState : uint8_t { Waiting, Deriving, Derived, Taken };
  struct TItem {
    TJob Job;
    TState State = TState::Waiting;
    bool Made = false;
    uint8_t Keys[TDZAesCipher::kKeysSize] = {};
  };
  void Work();

  const std::string FPassword;
  std::vector<TItem> FItems;
  std::mutex FLock;
  std::condition_variable FDerived;
  bool FStop = false;
  std::thread FThread;
};

}  // namespace dz
