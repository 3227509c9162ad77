// Dynamic libraries: loading by path, binding entry points by name, freeing; the
// "error mode" around a load; the running program's own folder; GUID texts for
// unique file names.
#pragma once
#include <cstdint>
#include <string>

namespace plat {

using TLibHandle = void*;

// Loads a library by path (a bare name is left to the system's search). Null on
// failure; LastLibError then tells why.
TLibHandle LibLoad(const std::string& path);
// The address of an exported entry point, or null.
void* LibSymbol(TLibHandle lib, const char* name);
bool LibFree(TLibHandle lib);
// Error number of the last failed LibLoad on this thread (the platform's numbering;
// 0 after a success) and its text as the system gave it.
uint32_t LastLibError();
std::string LastLibErrorText();

// Sets the process error mode (where the platform has one) and returns the previous
// mode; a no-op answering 0 elsewhere.
uint32_t SetLibErrorMode(uint32_t mode);

// The folder of the running program with a trailing delimiter; empty when unknown.
std::string ProgramFolder();

// A new GUID as text in braces ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"); false
// when none can be made.
bool NewGuidText(std::string& text);

}  // namespace plat
