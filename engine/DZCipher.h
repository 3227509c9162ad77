// Decryption of an entry's data, whichever the encryption: the bytes in front of the
// data (read when the password is checked), the bytes behind them, and the
// decryption of what lies between.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dz {

class TDZCipher {
 public:
  virtual ~TDZCipher() = default;
  // Bytes in front of the data, already taken: the keys stand at the first data byte.
  virtual size_t HeaderSize() const = 0;
  // Bytes behind the data that Authentic checks.
  virtual size_t TrailerSize() const { return 0; }
  virtual void Decrypt(uint8_t* data, size_t n) = 0;
  // Once every data byte has gone through Decrypt: whether the trailer proves them
  // unaltered.
  virtual bool Authentic(const uint8_t* trailer) {
    (void)trailer;
    return true;
  }
};

}  // namespace dz
