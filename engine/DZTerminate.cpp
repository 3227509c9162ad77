// The Windows engine carries the language runtime inside its image, which must stay
// below the component's resource limit. The runtime's default handler for an exception
// nobody catches prints the exception's type by its readable name, and brings a name
// decoder of some 40 KB along for it. The engine catches every exception at its entry
// points; this handler, which takes that default's place, only ends the process.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
