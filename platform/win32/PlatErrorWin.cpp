// Last error and error texts from the system.
#include <windows.h>

#include "PlatError.h"
#include "WinNames.h"

namespace plat {

uint32_t GetLastError() { return uint32_t(::GetLastError()); }
void SetLastError(uint32_t code) { ::SetLastError(DWORD(code)); }

std::string SysErrorMessage(uint32_t code) {
  std::wstring text = win::SystemMessage(code);
  if (text.empty()) return "System error " + std::to_string(code);
  return win::Narrow(text);
}

EPlatError::EPlatError(uint32_t code)
    : std::runtime_error("System Error.  Code: " + std::to_string(code) + ".\n" + SysErrorMessage(code)),
      FCode(code) {}

void RaiseLastError() { throw EPlatError(GetLastError()); }

}  // namespace plat
