// AES encryption of entries (method 99): keys from PBKDF2-HMAC-SHA1 over the password
// and the entry's salt, a two-byte password verifier, AES in counter mode with a
// little-endian counter that starts at 1, and a 10-byte HMAC-SHA1 over the encrypted
// data behind them. The primitives are Nettle's.
#pragma once
#include <nettle/hmac.h>
#include <nettle/nettle-meta.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "DZAesField.h"
#include "DZCipher.h"

namespace dz {

// Overwrites n bytes of secrets with zeros, in a way the compiler keeps.
void Wipe(void* p, size_t n);

class TDZAesCipher : public TDZSeparableCipher {
 public:
  static constexpr size_t kVerifierSize = 2;
  static constexpr size_t kMacSize = 10;
  static constexpr unsigned kIterations = 1000;
  // The AES key, the HMAC key and the verifier, in this order, at the largest strength.
  static constexpr size_t kKeysSize = 2 * 32 + kVerifierSize;

  TDZAesCipher() = default;
  TDZAesCipher(const TDZAesCipher&) = delete;
  TDZAesCipher& operator=(const TDZAesCipher&) = delete;
  ~TDZAesCipher() override;

  // Bytes in front of the data: the salt and the verifier.
  static size_t HeaderSizeFor(const TDZAesField& f) { return f.SaltBytes() + kVerifierSize; }
  // Derives the keys for the field's strength from the password and the header (salt,
  // then verifier); false, with nothing set up, when the verifier does not match.
  bool Init(const TDZAesField& f, const std::string& password, const uint8_t* header);
  // For writing: derives the keys from the password and the salt at the start of
  // header, and puts the verifier behind the salt.
  bool InitNew(const TDZAesField& f, const std::string& password, uint8_t* header);
  // The keys for the field's strength (kKeysSize bytes at most) from the password and
  // the salt; false for a strength without a cipher. The costly half of Init, which
  // needs no cipher object.
  static bool DeriveKeys(const TDZAesField& f, const std::string& password, const uint8_t* salt,
                         uint8_t* keys);
  // Init with keys that DeriveKeys made from the header's salt.
  bool InitWithKeys(const TDZAesField& f, const uint8_t* keys, const uint8_t* header);

  size_t HeaderSize() const override { return FHeaderSize; }
  size_t TrailerSize() const override { return kMacSize; }
  void Decrypt(uint8_t* data, size_t n) override;
  void Authenticate(const uint8_t* data, size_t n) override;
  void Decipher(uint8_t* dst, const uint8_t* src, size_t n) override;
  bool Authentic(const uint8_t* mac) override;
  // For writing: encrypts, and authenticates what it wrote.
  void Encrypt(uint8_t* data, size_t n);
  // The authentication code of everything encrypted (kMacSize bytes).
  void Code(uint8_t* mac);

 private:
  static constexpr size_t kStreamBlocks = 256;  // key stream made at a time
  static constexpr size_t kBlock = 16;
  void Refill();
  // dst = src XOR the key stream (dst may be src).
  void Xor(uint8_t* dst, const uint8_t* src, size_t n);
  void Setup(const TDZAesField& f, const uint8_t* keys);

  const nettle_cipher* FAlg = nullptr;
  alignas(16) uint8_t FCtx[512];  // the cipher's key schedule
  hmac_sha1_ctx FMac;
  size_t FHeaderSize = 0;
  uint64_t FBlockNo = 0;  // the last block counter used
  alignas(16) uint8_t FCounters[kStreamBlocks * kBlock] = {};
  alignas(16) uint8_t FStream[kStreamBlocks * kBlock];
  size_t FUsed = sizeof FStream;  // key stream bytes used
};

}  // namespace dz
