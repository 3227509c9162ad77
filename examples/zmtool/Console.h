// Where zmtool's text goes: standard output gathered into large blocks (a listing of
// many entries costs a few writes), and lines on standard error, written so that the
// progress bar is out of the way first. Both go through the platform, which writes
// UTF-16 to a Windows console and the UTF-8 bytes everywhere else.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

namespace zmtool {

class TOutput {
 public:
  TOutput() { FBuf.reserve(kBlock + 1024); }
  ~TOutput() { Flush(); }
  TOutput(const TOutput&) = delete;
  TOutput& operator=(const TOutput&) = delete;

  TOutput& Add(const std::string& s) {
    FBuf += s;
    return *this;
  }
  TOutput& Add(const char* s) {
    FBuf += s;
    return *this;
  }
  TOutput& Add(char c) {
    FBuf += c;
    return *this;
  }
  TOutput& Add(const char* p, size_t n) {
    FBuf.append(p, n);
    return *this;
  }
  // Decimal, at least width digits (zero-padded), as printf's %0*lld.
  TOutput& Dec(long long v, int width = 0);
  // Right-aligned in width columns, as printf's %*lld.
  TOutput& Right(const std::string& s, size_t width);
  // Eight upper-case hex digits, as printf's %08X.
  TOutput& Hex8(uint32_t v);
  // A full block goes out.
  void FlushIfFull() {
    if (FBuf.size() >= kBlock) Flush();
  }
  void Flush();

 private:
  static constexpr size_t kBlock = 64 * 1024;
  std::string FBuf;
};

// Eight upper-case hex digits of v at p, as printf's %08X; the position after them.
char* PutHex8(char* p, uint32_t v);

// Text (already made safe for a terminal) to standard output, unbuffered.
void PrintOut(const std::string& text);
// One line "zmtool: TEXT" on standard error.
void Complain(const std::string& text);
// Text as it stands on standard error (prompts, the summary line).
void PrintErr(const std::string& text);
// Called before anything is written to standard error (the progress bar clears its line).
void SetBeforeErr(std::function<void()> hook);

}  // namespace zmtool
