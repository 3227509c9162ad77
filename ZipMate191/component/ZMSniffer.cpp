#include "ZMSniffer.h"

#include "PlatSniffer.h"
#include "ZMClasses.h"
#include "ZMUTF8.h"

namespace {
// The thread that initialised the program counts as its main thread.
const uint32_t gMainThreadId = plat::CurrentThreadId();
}  // namespace

TZMSnifferReply DecodeSnifferReply(int32_t r) {
  TZMSnifferReply d;
  if (r < 0) return d;
  const uint32_t top = uint32_t(r) >> 24;
  if (top >= 8) return d;
  if (top >= 4) {
    d.SetsVerbosity = true;
    d.Verbosity = uint8_t(top & 3);
  }
  d.Link = true;
  d.LinkId = uint32_t(r) & 0xFFFFFF;
  return d;
}

bool TZMSniffer::Open(intptr_t ownerWindow, uint8_t& verbosity) {
  Close();
  plat::TSnifferLink& link = plat::SnifferLink();
  intptr_t monitor = link.FindMonitor();
  if (monitor == 0) return false;
  TZMSnifferReply d = DecodeSnifferReply(link.Handshake(monitor, ownerWindow, uint8_t(verbosity & 3)));
  if (!d.Link) return false;
  if (d.SetsVerbosity) verbosity = d.Verbosity;
  FMonitor = monitor;
  FLinkId = d.LinkId;
  return true;
}

void TZMSniffer::SendLine(int32_t code, const std::string& text) {
  if (FMonitor == 0) return;
  const std::string utf8 = UTF8Mode() ? text : Utf8FromAnsi(text);
  if (!plat::SnifferLink().SendLine(FMonitor, FLinkId, code, utf8)) Close();
}

void TZMSniffer::Close() {
  FMonitor = 0;
  FLinkId = 0;
}

std::string TZMSniffer::StartingLine(const TComponent& component) {
  const std::string owner = component.Owner() ? component.Owner()->Name() + "." : std::string();
  return Format("Starting %u.%u:%s<%p>(%s)", {gMainThreadId, plat::CurrentThreadId(), owner,
                                              static_cast<const void*>(&component), component.Name()});
}
