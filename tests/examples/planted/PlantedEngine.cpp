// A stand-in for a library planted under the engine's name: loading it runs its
// constructor, which leaves the file named by ZM_PLANTED_MARKER. It has none of the
// engine's entry points.
#include <cstdio>
#include <cstdlib>

__attribute__((constructor)) static void Planted() {
  if (const char* marker = std::getenv("ZM_PLANTED_MARKER"))
    if (FILE* f = std::fopen(marker, "w")) {
      std::fputs("loaded\n", f);
      std::fclose(f);
    }
}
