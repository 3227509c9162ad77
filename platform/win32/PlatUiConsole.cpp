// Console echo for the console user interface (Windows consoles).
#include "PlatUi.h"

#include <io.h>
#include <windows.h>

namespace plat {

std::function<void()> HideConsoleEcho(std::FILE* in) {
  if (!in) return {};
  HANDLE h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(in)));
  DWORD saved = 0;
  // Only a console has a mode; pipes and files fail here.
  if (h == INVALID_HANDLE_VALUE || ::GetConsoleMode(h, &saved) == 0) return {};
  if (::SetConsoleMode(h, saved & ~DWORD(ENABLE_ECHO_INPUT)) == 0) return {};
  return [h, saved] { ::SetConsoleMode(h, saved); };
}

}  // namespace plat
