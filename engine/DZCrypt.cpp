#include "DZCrypt.h"

#include "ZMCrc32.h"

namespace dz {

void TDZCrypt::Update(uint8_t c) {
  FKeys[0] = zm::Crc32Table[(FKeys[0] ^ c) & 0xFF] ^ (FKeys[0] >> 8);
  FKeys[1] = (FKeys[1] + (FKeys[0] & 0xFF)) * 134775813u + 1u;
  const uint8_t b = uint8_t(FKeys[1] >> 24);
  FKeys[2] = zm::Crc32Table[(FKeys[2] ^ b) & 0xFF] ^ (FKeys[2] >> 8);
}

void TDZCrypt::Init(const std::string& password) {
  FKeys[0] = 305419896u;
  FKeys[1] = 591751049u;
  FKeys[2] = 878082192u;
  for (char c : password) Update(uint8_t(c));
}

bool TDZCrypt::CheckHeader(const uint8_t header[kHeaderSize], uint8_t check) {
  uint8_t h[kHeaderSize];
  for (size_t i = 0; i < kHeaderSize; ++i) h[i] = header[i];
  Decrypt(h, kHeaderSize);
  return h[kHeaderSize - 1] == check;
}

void TDZCrypt::Decrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t c = uint8_t(data[i] ^ StreamByte());
    Update(c);
    data[i] = c;
  }
}

void TDZCrypt::Encrypt(uint8_t* data, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const uint8_t t = StreamByte();
    Update(data[i]);
    data[i] = uint8_t(data[i] ^ t);
  }
}

}  // namespace dz
