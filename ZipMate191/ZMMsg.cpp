// Reader of decompressed language tables.
#include "ZMMsg.h"

#include "PlatCodePage.h"

namespace {

uint16_t WordAt(const TZMLangBlok& t, size_t at) {
  return uint16_t(t[at] | (t[at + 1] << 8));
}

// UTF-16 text to the ANSI code page; characters that code page lacks are lost.
std::string WideToAnsi(const std::u16string& w) {
  if (w.empty()) return {};
  const int len = int(w.size());
  const int need = plat::WideToMultiByte(plat::kCpAcp, 0, w.data(), len, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return {};
  std::string out(size_t(need), '\0');
  const int got =
      plat::WideToMultiByte(plat::kCpAcp, 0, w.data(), len, out.data(), need, nullptr, nullptr);
  out.resize(got > 0 ? size_t(got) : 0);
  return out;
}

}  // namespace

bool FindMessageInTable(const TZMLangBlok& table, int n, std::string& text) {
  text.clear();
  const size_t size = table.size();
  if (size < ZMMinLangTable || n < 1 || n > ZMMsgNumberMask) return false;
  const bool wide = WordAt(table, 6) != 0;
  // Skip the range entries that end below n; the walk stops at the end mark or
  // where an entry would run past the table.
  size_t at = 8;
  for (;;) {
    if (at + 2 > size) return false;
    const uint16_t last = WordAt(table, at);
    if (last == 0xFFFF) return false;
    if (last >= n) break;
    at += 6;
  }
  if (at + 6 > size) return false;
  const int first = WordAt(table, at + 2);
  if (n < first) return false;
  const size_t slot = (size_t(WordAt(table, at + 4)) + size_t(n - first)) * 2;
  if (slot + 2 > size) return false;
  const size_t offset = WordAt(table, slot);
  if (offset == 0) return false;
  if (wide) {
    std::u16string w;
    for (size_t p = offset * 2; p + 2 <= size; p += 2) {
      const char16_t c = char16_t(WordAt(table, p));
      if (c == 0) break;
      w += c;
    }
    text = WideToAnsi(w);
  } else {
    for (size_t p = offset; p < size && table[p] != 0; ++p) text += char(table[p]);
  }
  return !text.empty();
}
