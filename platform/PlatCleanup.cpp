#include "PlatCleanup.h"

#include <atomic>
#include <mutex>

#include "PlatCleanupTable.h"
#include "PlatFileSys.h"

namespace plat {

namespace cleanup {

namespace {

enum : int { kFree = 0, kFilling = 1, kHeld = 2, kRemoving = 3 };

struct TSlot {
  std::atomic<int> State{kFree};
  TChar Path[kMaxPath];
};

TSlot gSlots[kSlots];

static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs lock-free slots");

}  // namespace

int Claim(const TChar* path, size_t n) {
  if (n == 0 || n >= kMaxPath) return -1;
  for (int i = 0; i < kSlots; ++i) {
    int expected = kFree;
    if (!gSlots[i].State.compare_exchange_strong(expected, kFilling)) continue;
    for (size_t k = 0; k < n; ++k) gSlots[i].Path[k] = path[k];
    gSlots[i].Path[n] = 0;
    gSlots[i].State.store(kHeld, std::memory_order_release);
    return i;
  }
  return -1;
}

void Free(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  int expected = kHeld;
  gSlots[slot].State.compare_exchange_strong(expected, kFree);
}

void RemoveAll() {
  for (TSlot& s : gSlots) {
    int expected = kHeld;
    if (!s.State.compare_exchange_strong(expected, kRemoving)) continue;
    RemoveNative(s.Path);
    s.State.store(kFree, std::memory_order_release);
  }
}

}  // namespace cleanup

int RegisterCleanupPath(const std::string& path) {
#ifdef _WIN32
  return RegisterCleanupPathW(WideName(path));
#else
  InstallCleanupHandlers();
  return cleanup::Claim(path.data(), path.size());
#endif
}

int RegisterCleanupPathW(const std::u16string& path) {
#ifdef _WIN32
  InstallCleanupHandlers();
  const std::wstring w(path.begin(), path.end());
  return cleanup::Claim(w.data(), w.size());
#else
  return RegisterCleanupPath(NativeName(path));
#endif
}

void UnregisterCleanupPath(int slot) { cleanup::Free(slot); }

void InstallCleanupHandlers() { cleanup::InstallNative(); }

void RestoreCleanupHandlers() { cleanup::RestoreNative(); }

void RunCleanup() { cleanup::RemoveAll(); }

namespace {
std::mutex gScopeLock;
int gScopes = 0;
}  // namespace

TCleanupHandlersScope::TCleanupHandlersScope() {
  std::lock_guard<std::mutex> guard(gScopeLock);
  if (gScopes++ == 0) InstallCleanupHandlers();
}

TCleanupHandlersScope::~TCleanupHandlersScope() {
  std::lock_guard<std::mutex> guard(gScopeLock);
  if (--gScopes == 0) RestoreCleanupHandlers();
}

}  // namespace plat
