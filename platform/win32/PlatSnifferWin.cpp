// The monitor link through window messages.
#include <windows.h>

#include <vector>

#include "PlatSniffer.h"

namespace plat {

namespace {

class TWinSnifferLink : public TSnifferLink {
 public:
  intptr_t FindMonitor() override {
    return reinterpret_cast<intptr_t>(::FindWindowA(kSnifferClass, kSnifferTitle));
  }

  int32_t Handshake(intptr_t monitor, intptr_t ownerWindow, uint8_t verbosity) override {
    LRESULT r = ::SendMessageW(reinterpret_cast<HWND>(monitor), kSnifferHandshakeMsg, WPARAM(ownerWindow),
                               LPARAM(verbosity));
    return int32_t(uint32_t(uintptr_t(r)));
  }

  bool SendLine(intptr_t monitor, uint32_t linkId, int32_t code, const std::string& utf8) override {
    std::vector<char> data(utf8.begin(), utf8.end());
    data.push_back('\0');
    COPYDATASTRUCT cds{};
    cds.dwData = ULONG_PTR(uint32_t(code));
    cds.cbData = DWORD(data.size());
    cds.lpData = data.data();
    return ::SendMessageW(reinterpret_cast<HWND>(monitor), WM_COPYDATA, WPARAM(linkId),
                          reinterpret_cast<LPARAM>(&cds)) != 0;
  }
};

}  // namespace

TSnifferLink& SystemSnifferLink() {
  static TWinSnifferLink link;
  return link;
}

uint32_t CurrentThreadId() { return uint32_t(::GetCurrentThreadId()); }

}  // namespace plat
