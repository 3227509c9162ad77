// The table behind PlatCleanup.h, shared by the POSIX and Windows handlers. Slots are
// claimed and freed with atomic operations, so the handlers (a signal handler on POSIX,
// a console thread on Windows) may walk it at any moment.
#pragma once
#include <cstddef>

namespace plat::cleanup {

#ifdef _WIN32
using TChar = wchar_t;
#else
using TChar = char;
#endif

inline constexpr int kSlots = 64;
inline constexpr size_t kMaxPath = 4096;

// A slot holding a copy of path (n characters, no terminator needed), or -1.
int Claim(const TChar* path, size_t n);
void Free(int slot);
// Removes every held path and frees its slot; safe inside a signal handler.
void RemoveAll();

// Per system: removes one file, safe inside a signal handler; installs the handlers.
void RemoveNative(const TChar* path);
void InstallNative();
void RestoreNative();

}  // namespace plat::cleanup
