// Fuzzes the engine's AES decryption end to end: a one-entry archive with an AES field
// (0x9901) is built around the fuzzed bytes and tested and extracted by DZ_Exec.
// First byte, bit 0 set: the rest is the plain content, stored or deflated (bit 4),
// encrypted here with the password the engine is given, at the strength of bits 1-2
// (0 and 3: AES-256) and in the first form with its CRC (bit 3) or the second without;
// the extracted file must hold exactly that content. Bit 0 clear: CRC and size (4 bytes
// each), the field's 7 bytes and the entry's data as they come; a kept file must have
// that size, and a refused entry leaves no file behind. Each input is extracted once
// (testing takes the same path), as every run derives the keys anew.
#include <algorithm>

#include <nettle/aes.h>
#include <nettle/hmac.h>
#include <nettle/memxor.h>
#include <nettle/nettle-meta.h>
#include <nettle/pbkdf2.h>

#include "DZFuzzKit.h"

using namespace dzfuzz;

namespace {

// Encrypts as the format says, written here independently of the engine: keys from
// PBKDF2-HMAC-SHA1 over a fixed salt, AES-CTR with a little-endian counter from 1,
// then the salt, the verifier, the data and the first 10 bytes of their HMAC-SHA1.
std::string Encrypt(unsigned strength, const std::string& body) {
  const nettle_cipher* alg[] = {&nettle_aes128, &nettle_aes192, &nettle_aes256};
  const size_t keyLen = 8 + 8 * strength, saltLen = 4 + 4 * strength;
  const std::string salt(saltLen, char(0x5A + strength));
  static uint8_t derived[3][66];  // made once per strength
  uint8_t* keys = derived[strength - 1];
  if (!keys[0] && !keys[1])
    pbkdf2_hmac_sha1(2, reinterpret_cast<const uint8_t*>(kPassword), 1000, saltLen,
                     reinterpret_cast<const uint8_t*>(salt.data()), 2 * keyLen + 2, keys);
  alignas(16) uint8_t ctx[512];
  alg[strength - 1]->set_encrypt_key(ctx, keys);
  std::string enc = body;
  uint8_t counter[16] = {}, stream[16];
  for (size_t i = 0; i < enc.size(); i += 16) {
    for (int k = 0; k < 16 && ++counter[k] == 0; ++k) {
    }
    alg[strength - 1]->encrypt(ctx, 16, stream, counter);
    memxor(&enc[i], stream, std::min<size_t>(16, enc.size() - i));
  }
  hmac_sha1_ctx mac;
  hmac_sha1_set_key(&mac, keyLen, keys + keyLen);
  hmac_sha1_update(&mac, enc.size(), reinterpret_cast<const uint8_t*>(enc.data()));
  uint8_t code[10];
  hmac_sha1_digest(&mac, sizeof code, code);
  return salt + std::string(reinterpret_cast<char*>(keys + 2 * keyLen), 2) + enc +
         std::string(reinterpret_cast<char*>(code), sizeof code);
}

std::string Field(uint16_t version, unsigned strength, uint16_t method) {
  std::string f;
  Put16(f, 0x9901);
  Put16(f, 7);
  Put16(f, version);
  f += "AE";
  f += char(strength);
  Put16(f, method);
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path root = FuzzRoot("dz_aes_fuzz");
  if (size < 16 || size > (1u << 18)) return 0;
  const uint8_t mode = data[0];
  const fs::path base = root / "out";
  fs::remove_all(base);
  fs::create_directories(base);
  const fs::path target = base / "f.bin";

  if (mode & 1) {
    const unsigned strength = ((mode >> 1) & 3) ? (mode >> 1) & 3 : 3;
    const uint16_t version = (mode & 8) ? 1 : 2, method = (mode & 16) ? 8 : 0;
    const std::string plain(reinterpret_cast<const char*>(data + 1), size - 1);
    const uint32_t crc = Crc32(plain);
    const std::string body = method ? RawDeflate(plain, (mode >> 5) % 10) : plain;
    const std::string a = Archive(1, 99, version == 1 ? crc : 0, uint32_t(plain.size()),
                                  Encrypt(strength, body), Field(version, strength, method));
    TRun x = Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_OVERWRITE);
    Check(x.Skipped == 0 && x.CrcErrors == 0 && x.Asks == 0);
    Check(fs::is_regular_file(target) && ReadAll(target) == plain);
  } else {
    const auto [crc, usize] = ClaimOf(data);
    std::string field;
    Put16(field, 0x9901);
    Put16(field, 7);
    field.append(reinterpret_cast<const char*>(data + 9), 7);
    // PPMd inside becomes deflate: PPMd has its own target, and its model heap of up to
    // 256 MB an entry would spend the run in the sanitizer's bookkeeping of that heap.
    if (uint8_t(field[9]) == 98 && field[10] == 0) field[9] = 8;
    const std::string enc(reinterpret_cast<const char*>(data + 16), size - 16);
    const std::string a = Archive(1, 99, crc, usize, enc, field);
    Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_OVERWRITE);
    if (fs::exists(target)) Check(ReadAll(target).size() == usize);
  }
  CheckOnlyTarget(root, base, target);
  return 0;
}
