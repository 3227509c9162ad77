// Decryption of an entry's data, whichever the encryption: the bytes in front of the
// data (read when the password is checked), the bytes behind them, and the
// decryption of what lies between.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dz {

class TDZCipher {
 public:
  virtual ~TDZCipher() = default;
  // Bytes in front of the data, already taken: the keys stand at the first data byte.
  virtual size_t HeaderSize() const = 0;
  // Bytes behind the data that Authentic checks.
  virtual size_t TrailerSize() const { return 0; }
  virtual void Decrypt(uint8_t* data, size_t n) = 0;
  // Whether Decrypt comes apart into Authenticate and Decipher, which keep to state of
  // their own and so may run on two threads at once: a cipher whose trailer is a code
  // over the encrypted bytes.
  virtual bool Separable() const { return false; }
  // The encrypted bytes, in order, into the code alone (a cipher without a code has
  // nothing to do with them).
  virtual void Authenticate(const uint8_t* data, size_t n) {
    (void)data;
    (void)n;
  }
  // Decrypts n bytes from src into dst; a separable cipher leaves them out of its code.
  virtual void Decipher(uint8_t* dst, const uint8_t* src, size_t n) {
    std::memmove(dst, src, n);
    Decrypt(dst, n);
  }
  // Once every data byte has gone through Decrypt: whether the trailer proves them
  // unaltered.
  virtual bool Authentic(const uint8_t* trailer) {
    (void)trailer;
    return true;
  }
};

}  // namespace dz
