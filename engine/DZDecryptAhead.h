// Reading and decryption of an entry's data ahead of its decoding, on a thread of its
// own: the decryption and authentication of AES entries then overlap the decoding of
// their method instead of adding to it.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "DZCipher.h"
#include "DZSource.h"

namespace dz {

class TDZDecryptAhead {
 public:
  static constexpr size_t kChunk = 1024 * 1024;  // few hand-overs: each may wait for the other thread

  // Starts the thread on the n bytes at pos, which it reads and passes through the
  // cipher; src must be thread safe. Throws std::system_error when no thread can be
  // started.
  TDZDecryptAhead(TDZSource& src, TDZCipher& cipher, uint64_t pos, uint64_t n);
  // Stops the thread and waits for it; the cipher is the caller's again afterwards.
  ~TDZDecryptAhead();
  TDZDecryptAhead(const TDZDecryptAhead&) = delete;
  TDZDecryptAhead& operator=(const TDZDecryptAhead&) = delete;

  // Up to max decrypted bytes, in order: the count, 0 at the end, -1 once a read
  // failed.
  ptrdiff_t Read(uint8_t* buf, size_t max);

 private:
  struct TChunk {
    std::unique_ptr<uint8_t[]> Data;
    size_t Size = 0;  // 0 in a ready chunk: the end
    bool Ready = false, Failed = false;
  };
  void Work();

  TDZSource& FSource;
  TDZCipher& FCipher;
  uint64_t FPos, FLeft;           // worker side
  TChunk FChunks[2];              // filled in turn
  size_t FTake = 0, FOffset = 0;  // reader side: the chunk being read and where
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FStop = false;
  std::thread FThread;
};

}  // namespace dz
