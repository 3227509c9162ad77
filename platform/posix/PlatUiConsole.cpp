// Terminal echo for the console user interface (POSIX terminals).
#include <termios.h>
#include <unistd.h>

#include "PlatUi.h"

namespace plat {

std::function<void()> HideConsoleEcho(std::FILE* in) {
  if (!in) return {};
  int fd = fileno(in);
  termios saved{};
  if (!isatty(fd) || tcgetattr(fd, &saved) != 0) return {};
  termios quiet = saved;
  quiet.c_lflag &= ~tcflag_t(ECHO);
  if (tcsetattr(fd, TCSAFLUSH, &quiet) != 0) return {};
  return [fd, saved] { tcsetattr(fd, TCSAFLUSH, &saved); };
}

}  // namespace plat
