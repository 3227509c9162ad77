// The link to the monitor ("sniffer") window: a top-level window of class
// "TSnifferForm" titled "ZipMate Sniffer" that mirrors the component's messages. The
// link shakes hands with a registered message and sends one copy-data message per
// line. Windows only; on POSIX no monitor is ever found.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

inline constexpr uint32_t kSnifferHandshakeMsg = 0xBF42;
inline constexpr const char* kSnifferClass = "TSnifferForm";
inline constexpr const char* kSnifferTitle = "ZipMate Sniffer";

class TSnifferLink {
 public:
  virtual ~TSnifferLink() = default;
  // The monitor window's handle, or 0 when no monitor is open.
  virtual intptr_t FindMonitor() = 0;
  // Sends the handshake message synchronously (ownerWindow and the verbosity byte as
  // its parameters) and returns the reply, taken as a signed 32-bit value.
  virtual int32_t Handshake(intptr_t monitor, intptr_t ownerWindow, uint8_t verbosity) = 0;
  // Sends one line (UTF-8, sent with its terminating zero) tagged with code; false
  // when the monitor did not take it (the send returned 0).
  virtual bool SendLine(intptr_t monitor, uint32_t linkId, int32_t code, const std::string& utf8) = 0;
};

// The system's link (Windows messages; none on POSIX) unless another was installed.
TSnifferLink& SnifferLink();
// Installs link as the current one (null restores the system's) and returns the
// previous one. The caller keeps ownership.
TSnifferLink* SetSnifferLink(TSnifferLink* link);

// The calling thread's id as the system numbers threads.
uint32_t CurrentThreadId();

}  // namespace plat
