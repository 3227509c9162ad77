// Dynamic libraries: loading by path, binding entry points by name, freeing; the
// "error mode" around a load; the folders of the running program and of a library;
// GUID texts for unique file names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

using TLibHandle = void*;

// Loads a library by its full path. A bare name or a relative path is refused
// (kErrInvalidName): the system's search would also take a library of that name
// planted in the current folder or on the library path. Null on failure; LastLibError
// then tells why.
TLibHandle LibLoad(const std::string& path);
bool IsFullPath(const std::string& path);

// A library image that no folder holds (Linux: a memory file, loaded through
// /proc/self/fd/N), so that nothing is left behind however the program ends. Path is
// what LibLoad takes while the image is open.
struct TLibImage {
  std::string Path;
  intptr_t Handle = -1;
};
// Copies size bytes into a new image labelled name (as the system lists the mappings);
// false where the system has no such files (the caller then writes a file of its own).
bool LibImageCreate(const std::string& name, const void* data, size_t size, TLibImage& image);
// Closes an open image; the library loaded from it stays loaded.
void LibImageClose(TLibImage& image);
// The address of an exported entry point, or null.
void* LibSymbol(TLibHandle lib, const char* name);
bool LibFree(TLibHandle lib);
// Error number of the last failed LibLoad on this thread (the platform's numbering;
// 0 after a success) and its text as the system gave it.
uint32_t LastLibError();
std::string LastLibErrorText();

// The folder of the running program with a trailing delimiter; empty when unknown.
std::string ProgramFolder();
// The folder, with a trailing delimiter, of the program or shared library whose code
// holds address (a library's own folder, wherever the program is); empty when unknown.
std::string ModuleFolder(const void* address);

// A new GUID as text in braces ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"); false
// when none can be made.
bool NewGuidText(std::string& text);

}  // namespace plat
