#include "Console.h"

#include <charconv>

#include "PlatTerminal.h"

namespace zmtool {

namespace {
std::function<void()> gBeforeErr;
}

TOutput& TOutput::Dec(long long v, int width) {
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof digits, v);
  const int n = int(r.ptr - digits);
  if (v >= 0 && n < width) FBuf.append(size_t(width - n), '0');
  FBuf.append(digits, size_t(n));
  return *this;
}

TOutput& TOutput::Right(const std::string& s, size_t width) {
  if (s.size() < width) FBuf.append(width - s.size(), ' ');
  FBuf += s;
  return *this;
}

char* PutHex8(char* p, uint32_t v) {
  static const char kHex[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i, v >>= 4) p[i] = kHex[v & 15];
  return p + 8;
}

TOutput& TOutput::Hex8(uint32_t v) {
  char h[8];
  FBuf.append(h, size_t(PutHex8(h, v) - h));
  return *this;
}

void TOutput::Flush() {
  if (!FBuf.empty()) plat::WriteStdText(plat::ssOutput, FBuf);
  FBuf.clear();
}

void PrintOut(const std::string& text) { plat::WriteStdText(plat::ssOutput, text); }

void PrintErr(const std::string& text) {
  if (gBeforeErr) gBeforeErr();
  plat::WriteStdText(plat::ssError, text);
}

void Complain(const std::string& text) { PrintErr("zmtool: " + text + "\n"); }

void SetBeforeErr(std::function<void()> hook) { gBeforeErr = std::move(hook); }

}  // namespace zmtool
