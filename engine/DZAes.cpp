#include "DZAes.h"

#include <nettle/aes.h>
#include <nettle/memops.h>
#include <nettle/pbkdf2.h>

#include <algorithm>
#include <bit>
#include <cstring>

#include "ZMEndian.h"

namespace dz {

namespace {

const nettle_cipher* CipherFor(unsigned strength) {
  switch (strength) {
    case 1: return &nettle_aes128;
    case 2: return &nettle_aes192;
    case 3: return &nettle_aes256;
    default: return nullptr;
  }
}

}  // namespace

void Wipe(void* p, size_t n) {
  std::memset(p, 0, n);
  // The compiler may not drop the stores as dead: the barrier says the memory is used.
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

TDZAesCipher::~TDZAesCipher() {
  Wipe(FCtx, sizeof FCtx);
  Wipe(&FMac, sizeof FMac);
  Wipe(FStream, sizeof FStream);
}

bool TDZAesCipher::Init(const TDZAesField& f, const std::string& password, const uint8_t* header) {
  uint8_t keys[kKeysSize];
  const bool match = DeriveKeys(f, password, header, keys) && InitWithKeys(f, keys, header);
  Wipe(keys, sizeof keys);
  return match;
}

bool TDZAesCipher::InitNew(const TDZAesField& f, const std::string& password, uint8_t* header) {
  uint8_t keys[kKeysSize];
  const bool made = DeriveKeys(f, password, header, keys);
  if (made) {
    std::memcpy(header + f.SaltBytes(), keys + 2 * f.KeyBytes(), kVerifierSize);
    Setup(f, keys);
  }
  Wipe(keys, sizeof keys);
  return made;
}

bool TDZAesCipher::DeriveKeys(const TDZAesField& f, const std::string& password, const uint8_t* salt,
                              uint8_t* keys) {
  const nettle_cipher* alg = CipherFor(f.Strength);
  if (!alg || alg->context_size > sizeof FCtx) return false;
  pbkdf2_hmac_sha1(password.size(), reinterpret_cast<const uint8_t*>(password.data()), kIterations,
                   f.SaltBytes(), salt, 2 * f.KeyBytes() + kVerifierSize, keys);
  return true;
}

bool TDZAesCipher::InitWithKeys(const TDZAesField& f, const uint8_t* keys, const uint8_t* header) {
  const nettle_cipher* alg = CipherFor(f.Strength);
  if (!alg || alg->context_size > sizeof FCtx ||
      std::memcmp(keys + 2 * f.KeyBytes(), header + f.SaltBytes(), kVerifierSize))
    return false;
  Setup(f, keys);
  return true;
}

void TDZAesCipher::Setup(const TDZAesField& f, const uint8_t* keys) {
  FAlg = CipherFor(f.Strength);
  FAlg->set_encrypt_key(FCtx, keys);
  hmac_sha1_set_key(&FMac, f.KeyBytes(), keys + f.KeyBytes());
  FHeaderSize = f.SaltBytes() + kVerifierSize;
  FBlockNo = 0;
  std::memset(FCounters, 0, sizeof FCounters);  // the counter's upper half stays 0
  FUsed = sizeof FStream;
}

void TDZAesCipher::Refill() {
  // Little-endian block counters, the first one being 1: their lower eight bytes, one
  // store each where the host is little-endian too.
  uint64_t no = FBlockNo;
  for (uint8_t* c = FCounters; c != FCounters + sizeof FCounters; c += kBlock) {
    ++no;
    if constexpr (std::endian::native == std::endian::little)
      std::memcpy(c, &no, sizeof no);
    else
      zm::PutLE64(c, no);
  }
  FBlockNo = no;
  FAlg->encrypt(FCtx, sizeof FStream, FStream, FCounters);
  FUsed = 0;
}

void TDZAesCipher::Decrypt(uint8_t* data, size_t n) {
  // The code authenticates the encrypted bytes.
  Authenticate(data, n);
  Xor(data, data, n);
}

void TDZAesCipher::Authenticate(const uint8_t* data, size_t n) { hmac_sha1_update(&FMac, n, data); }

void TDZAesCipher::Decipher(uint8_t* dst, const uint8_t* src, size_t n) { Xor(dst, src, n); }

void TDZAesCipher::Encrypt(uint8_t* data, size_t n) {
  Xor(data, data, n);
  hmac_sha1_update(&FMac, n, data);
}

void TDZAesCipher::Xor(uint8_t* dst, const uint8_t* src, size_t n) {
  while (n) {
    if (FUsed == sizeof FStream) Refill();
    const size_t k = std::min(n, sizeof FStream - FUsed);
    if (dst == src)
      memxor(dst, FStream + FUsed, k);
    else
      memxor3(dst, src, FStream + FUsed, k);
    FUsed += k;
    dst += k;
    src += k;
    n -= k;
  }
}

void TDZAesCipher::Code(uint8_t* mac) { hmac_sha1_digest(&FMac, kMacSize, mac); }

bool TDZAesCipher::Authentic(const uint8_t* mac) {
  uint8_t digest[kMacSize];
  hmac_sha1_digest(&FMac, kMacSize, digest);
  return memeql_sec(digest, mac, kMacSize) != 0;
}

}  // namespace dz
