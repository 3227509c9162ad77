// A console control handler that removes the registered files; returning FALSE lets
// the handlers installed before it, and finally the default one, run as they would.
#include <windows.h>

#include <atomic>
#include <mutex>

#include "PlatCleanupTable.h"

namespace plat::cleanup {

namespace {

std::atomic<bool> gInstalled{false};
std::mutex gLock;

BOOL WINAPI OnControl(DWORD) {
  RemoveAll();
  return FALSE;
}

}  // namespace

void RemoveNative(const TChar* path) { DeleteFileW(path); }

void InstallNative() {
  if (gInstalled.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(gLock);
  if (!gInstalled.load() && SetConsoleCtrlHandler(OnControl, TRUE)) gInstalled.store(true);
}

void RestoreNative() {
  std::lock_guard<std::mutex> guard(gLock);
  if (gInstalled.load() && SetConsoleCtrlHandler(OnControl, FALSE)) gInstalled.store(false);
}

}  // namespace plat::cleanup
