// The component's side of the monitor ("sniffer") link: the handshake at the start of
// an operation, the lines sent while it runs (as UTF-8) and the closing at its end or
// after a failed send.
#pragma once
#include <cstdint>
#include <string>

class TComponent;

// What a monitor's handshake reply means.
struct TZMSnifferReply {
  bool Link = false;           // the monitor accepted the link
  uint32_t LinkId = 0;         // the id that tags every line sent
  bool SetsVerbosity = false;  // the monitor chose Verbose and Trace
  uint8_t Verbosity = 0;       // bit 0 Verbose, bit 1 Trace (when SetsVerbosity)
};

// Decodes a reply r: negative, or a top byte of 8 or more, refuses the link; a top
// byte of 4 to 7 carries the verbosity in its low two bits; the low 24 bits are the id.
TZMSnifferReply DecodeSnifferReply(int32_t r);

class TZMSniffer {
 public:
  // Looks for the monitor window and shakes hands with it, offering ownerWindow and
  // verbosity; the monitor may change verbosity. True when the link is open.
  bool Open(intptr_t ownerWindow, uint8_t& verbosity);
  // Sends one line when the link is open: text is in the component's 8-bit form
  // (UTF-8 in UTF-8 mode, else ANSI) and goes out as UTF-8. A refused send closes the
  // link for the rest of the operation.
  void SendLine(int32_t code, const std::string& text);
  void Close();
  bool IsOpen() const { return FMonitor != 0; }
  uint32_t LinkId() const { return FLinkId; }

  // The line that announces an operation of component: main thread id, current
  // thread id, the owner's name and a dot (nothing without an owner), the
  // component's address and its name.
  static std::string StartingLine(const TComponent& component);

 private:
  intptr_t FMonitor = 0;
  uint32_t FLinkId = 0;
};
