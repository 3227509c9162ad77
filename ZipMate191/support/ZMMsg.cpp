// Reader of decompressed language tables.
#include "ZMMsg.h"

#include "ZMUTF8.h"

namespace {

uint16_t WordAt(const TZMLangBlok& t, size_t at) { return uint16_t(t[at] | (t[at + 1] << 8)); }

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
    text = AnsiFromWide(w);
  } else {
    for (size_t p = offset; p < size && table[p] != 0; ++p) text += char(table[p]);
  }
  return !text.empty();
}
