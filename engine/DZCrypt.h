// Traditional PKWARE encryption ("ZipCrypto"): the three keys, the 12-byte header
// and byte-wise decryption and encryption.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "DZCipher.h"

namespace dz {

class TDZCrypt : public TDZCipher {
 public:
  static constexpr size_t kHeaderSize = 12;

  size_t HeaderSize() const override { return kHeaderSize; }

  void Init(const std::string& password);
  // Decrypts a copy of the header and tells whether its last byte equals check.
  bool CheckHeader(const uint8_t header[kHeaderSize], uint8_t check);
  void Decrypt(uint8_t* data, size_t n) override;
  void Encrypt(uint8_t* data, size_t n);

 private:
  uint8_t StreamByte() const {
    const uint32_t t = (FKeys[2] | 2u) & 0xFFFFu;
    return uint8_t((t * (t ^ 1u)) >> 8);
  }
  void Update(uint8_t c);

  uint32_t FKeys[3] = {0, 0, 0};
};

}  // namespace dz
