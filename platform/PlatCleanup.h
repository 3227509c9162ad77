// Files that must not outlive an interrupted program. A path registered here is
// removed when the process is ended by SIGINT, SIGTERM or SIGHUP (on Windows: Ctrl+C,
// Ctrl+Break, closing the console window, logging off or shutting down) before the
// signal takes its usual course: handlers that were in place before are called after
// the removal, and a default action still ends the process with the signal's status.
//
// Each module that links this code (a program, the engine library) keeps a table of
// its own and installs its handlers on its first registration; a module that can be
// unloaded calls RestoreCleanupHandlers before it goes. Registration and removal are
// safe from any thread.
#pragma once
#include <string>

namespace plat {

// Registers a path, a narrow name as the other file calls take it (the system's bytes
// on POSIX, the ANSI code page on Windows) or a UTF-16 one. Returns a slot number for
// UnregisterCleanupPath, or -1 when the table is full or the path too long (the file
// is then simply not removed by a signal).
int RegisterCleanupPath(const std::string& path);
int RegisterCleanupPathW(const std::u16string& path);
// Forgets a slot (the file was renamed into place or deleted); -1 is ignored.
void UnregisterCleanupPath(int slot);
// Installs the handlers now (the first registration does it too); idempotent.
void InstallCleanupHandlers();
// Puts back the handlers found when they were installed, when nothing has replaced
// ours since; the table is kept.
void RestoreCleanupHandlers();
// Removes every registered path now and empties the table (what the handlers do).
void RunCleanup();

// Keeps the handlers installed while at least one scope lives, and puts back those
// found when the last one ends: for a library whose files exist only while it is
// called and that may be unloaded between calls. Its handlers run before the
// program's, which they chain to. Scopes may overlap on several threads.
class TCleanupHandlersScope {
 public:
  TCleanupHandlersScope();
  ~TCleanupHandlersScope();
  TCleanupHandlersScope(const TCleanupHandlersScope&) = delete;
  TCleanupHandlersScope& operator=(const TCleanupHandlersScope&) = delete;
};

// Holds one registration for the lifetime of the object.
class TCleanupPath {
 public:
  TCleanupPath() = default;
  explicit TCleanupPath(const std::string& path) : FSlot(RegisterCleanupPath(path)) {}
  ~TCleanupPath() { UnregisterCleanupPath(FSlot); }
  TCleanupPath(const TCleanupPath&) = delete;
  TCleanupPath& operator=(const TCleanupPath&) = delete;
  TCleanupPath(TCleanupPath&& o) noexcept : FSlot(o.FSlot) { o.FSlot = -1; }
  TCleanupPath& operator=(TCleanupPath&& o) noexcept {
    if (this != &o) {
      UnregisterCleanupPath(FSlot);
      FSlot = o.FSlot;
      o.FSlot = -1;
    }
    return *this;
  }
  // Registers path in place of what was held (an empty path only forgets).
  void Reset(const std::string& path = std::string()) {
    UnregisterCleanupPath(FSlot);
    FSlot = path.empty() ? -1 : RegisterCleanupPath(path);
  }
  void ResetW(const std::u16string& path) {
    UnregisterCleanupPath(FSlot);
    FSlot = path.empty() ? -1 : RegisterCleanupPathW(path);
  }
  // Forgets the path without removing it (it was renamed into place).
  void Release() { Reset(); }
  bool Held() const { return FSlot >= 0; }

 private:
  int FSlot = -1;
};

}  // namespace plat
