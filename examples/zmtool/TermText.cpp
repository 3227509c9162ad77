#include "TermText.h"

#include <cstdint>

namespace zmtool {

namespace {

const char kHex[] = "0123456789abcdef";

void AddHexByte(std::string& out, unsigned char c) {
  out += "\\x";
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// Length of the well-formed UTF-8 sequence at s[i] and its code point, or 0.
size_t Utf8At(const std::string& s, size_t i, uint32_t& cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  uint32_t min;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F, min = 0x80;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F, min = 0x800;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (t & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return n;
}

bool IsBidiControl(uint32_t cp) {
  return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E || cp == 0x200F ||
         cp == 0x061C;
}

}  // namespace

bool IsPlainPrintable(const std::string& text) {
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
#ifndef _WIN32
    if (c == '\\') return false;
#endif
    if (c < 0x20 || c >= 0x7F) return false;
  }
  return true;
}

std::string TerminalSafe(const std::string& text, bool keepLines) {
  if (IsPlainPrintable(text)) return text;
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
#ifndef _WIN32
      if (c == '\\') out += '\\';  // a separator on Windows, where it stays as it is
#endif
      out += char(c);
      ++i;
      continue;
    }
    if (c < 0x80) {
      if (keepLines && (c == '\n' || c == '\t'))
        out += char(c);
      else if (c == '\n')
        out += "\\n";
      else if (c == '\r')
        out += "\\r";
      else if (c == '\t')
        out += "\\t";
      else
        AddHexByte(out, c);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    const size_t n = Utf8At(text, i, cp);
    if (n == 0 || (cp >= 0x80 && cp <= 0x9F)) {
      // Not UTF-8, or a C1 control (U+009B starts an escape sequence on some terminals).
      for (size_t k = 0; k < (n ? n : 1); ++k) AddHexByte(out, static_cast<unsigned char>(text[i + k]));
      i += n ? n : 1;
    } else if (IsBidiControl(cp)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(cp >> shift) & 15];
      i += n;
    } else {
      out.append(text, i, n);
      i += n;
    }
  }
  return out;
}

}  // namespace zmtool
