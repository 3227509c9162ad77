// rob216-update: writes the corrected rate table ROB216.dbf into a folder the user
// picks. No command-line arguments are used. The front end is the platform's window
// (Win32; GTK where a display opens) or the terminal; ROB216_UI=console|gtk|win32
// chooses one explicitly.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FrontEnd.h"

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  const char* env = std::getenv("ROB216_UI");
  std::string choice = env ? env : "";
  if (choice == "console") return RunConsoleFrontEnd();
  if (choice == "gtk") {
#ifdef ZM_HAVE_GTK
    int code = RunGtkFrontEnd(argc, argv);
    if (code != -1) return code;
    std::fprintf(stderr, "rob216-update: no display can be opened for the GTK window\n");
#else
    std::fprintf(stderr, "rob216-update: this build has no GTK window\n");
#endif
    return 2;
  }
  if (choice == "win32") {
#ifdef ZM_HAVE_WIN32UI
    return RunWin32FrontEnd();
#else
    std::fprintf(stderr, "rob216-update: this build has no Windows window\n");
    return 2;
#endif
  }
  if (!choice.empty()) {
    std::fprintf(stderr, "rob216-update: ROB216_UI must be console, gtk or win32, not '%s'\n",
                 choice.c_str());
    return 2;
  }
#if defined(ZM_HAVE_WIN32UI)
  return RunWin32FrontEnd();
#else
#ifdef ZM_HAVE_GTK
  int code = RunGtkFrontEnd(argc, argv);
  if (code != -1) return code;
#endif
  return RunConsoleFrontEnd();
#endif
}
