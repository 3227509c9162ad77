// Fuzzes the engine's decryption of traditional-encrypted entries end to end: a one-entry
// archive is built around the fuzzed bytes and tested and extracted by DZ_Exec.
// First byte, bit 0 set: the rest is the plain content (after 11 header bytes), encrypted
// here with the password the engine is given; the test must pass and the extracted file
// must hold exactly that content. Bit 0 clear: the rest is taken as encrypted data with
// a fuzzed CRC and size; whatever the engine keeps must match them, and a refused entry
// leaves no file behind. Bits 1-2 pick the method (stored, deflate, Deflate64), bit 3 a
// data descriptor flag (header check byte taken from the time).
#include "DZCrypt.h"
#include "DZFuzzKit.h"

using namespace dzfuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const fs::path root = FuzzRoot("dz_decrypt_fuzz");
  if (size < 12 || size > (1u << 18)) return 0;
  const uint8_t mode = data[0];
  const bool proper = mode & 1;
  const uint16_t methods[] = {0, 8, 9, 8};
  const uint16_t method = methods[(mode >> 1) & 3];
  const uint16_t flags = uint16_t(1 | ((mode & 8) ? 8 : 0));
  const fs::path base = root / "out";
  fs::remove_all(base);
  fs::create_directories(base);
  const fs::path target = base / "f.bin";

  if (proper) {
    const std::string plain(reinterpret_cast<const char*>(data + 12), size - 12);
    const uint32_t crc = Crc32(plain);
    const uint16_t m = method == 0 ? 0 : 8;
    std::string body = m == 0 ? plain : RawDeflate(plain, (mode >> 4) % 10);
    std::string head(reinterpret_cast<const char*>(data + 1), 11);
    head += char((flags & 8) ? (kTime >> 8) : (crc >> 24));
    std::string enc = head + body;
    dz::TDZCrypt crypt;
    crypt.Init(kPassword);
    crypt.Encrypt(reinterpret_cast<uint8_t*>(enc.data()), enc.size());
    const std::string a = Archive(flags, m, crc, uint32_t(plain.size()), enc);

    TRun t = Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_TEST);
    Check(t.Skipped == 0 && t.CrcErrors == 0 && t.Asks == 0);
    TRun x = Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_OVERWRITE);
    Check(x.Skipped == 0 && x.CrcErrors == 0);
    Check(fs::is_regular_file(target) && ReadAll(target) == plain);
  } else {
    const auto [crc, usize] = ClaimOf(data);
    const std::string enc(reinterpret_cast<const char*>(data + 9), size - 9);
    const std::string a = Archive(flags, method, crc, usize, enc);
    Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_TEST);
    TRun x = Exec(a, base, DZ_OPT_ALWAYS | DZ_OPT_EXTRACT | DZ_OPT_OVERWRITE);
    if (fs::exists(target)) {
      // Only a verified entry is kept.
      const std::string got = ReadAll(target);
      Check(got.size() == usize);
      Check(Crc32(got) == crc);
    }
  }
  CheckOnlyTarget(root, base, target);
  return 0;
}
