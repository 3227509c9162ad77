// Fuzzes the readers of message tables. The first byte picks what the rest is:
//  0: a language resource (a run of compressed blocks), selected by identifier and by
//     code, then every message looked up and the block information read;
//  1: one compressed block, decompressed and searched;
//  2: a decompressed table, searched for every message number.
// Lookups never give an empty text and never read outside the table (every message
// number of a language on a share of the inputs, every seventh otherwise).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzSample.h"
#include "ZMClasses.h"
#include "ZMMsg.h"
#include "ZMMsgStr.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// Every message number, or every seventh: each search walks the table.
void SearchTable(const TZMLangBlok& table, int step) {
  std::string text;
  for (int n = 0; n <= 512; n += step)
    if (FindMessageInTable(table, n, text)) Check(!text.empty() && n >= 1 && n <= 511);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0] % 3;
  const uint8_t* p = data + 1;
  const size_t n = size - 1;
  const int step = fuzzkit::Sampled(data, size, 8) ? 1 : 7;
  if (mode == 2) {
    SearchTable(TZMLangBlok(p, p + n), step);
    return 0;
  }
  if (mode == 1) {
    TReadOnlyMemoryStream s(p, n);
    TZMLangBlok table;
    const int id = DecompressLanguageBlock(s, table);
    if (id == 0) Check(table.empty());
    Check(table.size() < ZMMaxLangTable);
    SearchTable(table, step);
    return 0;
  }
  // The bytes stand in for the program's "DZResStr191" resource.
  const std::string bytes(reinterpret_cast<const char*>(p), n);
  SetLanguageSource([bytes] { return std::make_unique<TReadOnlyMemoryStream>(bytes.data(), bytes.size()); });
  // The code of a block may be empty; the identifier form never is.
  for (int i = 0; i <= 4; ++i)
    for (int kind : {-1, 0, 2, 3}) Check(!LanguageInfo(i, kind).empty() || kind != 0);
  std::string code;
  if (n >= 6) code.assign(reinterpret_cast<const char*>(p + 4), 2);
  for (const std::string& name : {code, std::string("DE"), std::string("esp"), std::string("*")}) {
    SelectLanguageByName(name);
    for (int m = 1; m <= 511; m += 3 * step) Check(!LoadMessage(m).empty());
  }
  const int id = n >= 2 ? (p[0] | p[1] << 8) : 1031;
  for (int want : {id, id & 0x3FF, 1031, 1033}) {
    SelectLanguageById(want);
    CurrentLanguageId();
    CurrentLanguageCode();
    for (int m = 0; m <= 520; m += step) Check(!LoadMessage(m).empty());
  }
  SelectLanguageById(ZMEnglishLangId);
  SetLanguageSource(nullptr);
  ReleaseMessageTables();
  return 0;
}
