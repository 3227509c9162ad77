// Decryption of an entry's data, whichever the encryption: the bytes in front of the
// data (read when the password is checked), the bytes behind them, and the
// decryption of what lies between.
#pragma once
#include <cstddef>
#include <cstdint>

namespace dz {

class TDZSeparableCipher;

class TDZCipher {
 public:
  virtual ~TDZCipher() = default;
  // Bytes in front of the data, already taken: the keys stand at the first data byte.
  virtual size_t HeaderSize() const = 0;
  // Bytes behind the data that Authentic checks.
  virtual size_t TrailerSize() const { return 0; }
  virtual void Decrypt(uint8_t* data, size_t n) = 0;
  // The cipher as one whose Decrypt comes apart in two (below), or null.
  virtual TDZSeparableCipher* Separable() { return nullptr; }
  // Once every data byte has gone through Decrypt: whether the trailer proves them
  // unaltered.
  virtual bool Authentic(const uint8_t* trailer) {
    (void)trailer;
    return true;
  }
};

// A cipher whose trailer is a code over the encrypted bytes: Decrypt comes apart into
// Authenticate and Decipher, which keep to state of their own and so may run on two
// threads at once.
class TDZSeparableCipher : public TDZCipher {
 public:
  TDZSeparableCipher* Separable() override { return this; }
  // The encrypted bytes, in order, into the code alone.
  virtual void Authenticate(const uint8_t* data, size_t n) = 0;
  // Decrypts n bytes from src into dst (which may be src), leaving them out of the code.
  virtual void Decipher(uint8_t* dst, const uint8_t* src, size_t n) = 0;
};

}  // namespace dz
