// Signal handlers that remove the registered files, then let the signal take the
// course it had before: the earlier handler is called, or the default action ends the
// process with the signal's status.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

#include "PlatCleanupTable.h"

namespace plat::cleanup {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCount = int(sizeof kSignals / sizeof kSignals[0]);

struct sigaction gOld[kCount];
bool gInstalled[kCount];
std::atomic<bool> gDone{false};  // installed, or deliberately left alone
std::mutex gLock;

int IndexOf(int sig) {
  for (int i = 0; i < kCount; ++i)
    if (kSignals[i] == sig) return i;
  return -1;
}

void OnSignal(int sig, siginfo_t* info, void* context) {
  const int saved = errno;
  RemoveAll();
  const int i = IndexOf(sig);
  errno = saved;
  if (i < 0) return;
  const struct sigaction& old = gOld[i];
  if (old.sa_flags & SA_SIGINFO) {
    if (old.sa_sigaction) old.sa_sigaction(sig, info, context);
  } else if (old.sa_handler == SIG_DFL) {
    // The default action, delivered once this handler returns (the signal is
    // blocked until then).
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig);
  } else if (old.sa_handler != SIG_IGN) {
    old.sa_handler(sig);
  }
}

}  // namespace

void RemoveNative(const TChar* path) { ::unlink(path); }

void InstallNative() {
  if (gDone.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(gLock);
  for (int i = 0; i < kCount; ++i) {
    if (gInstalled[i]) continue;
    struct sigaction now;
    if (sigaction(kSignals[i], nullptr, &now) != 0) continue;
    // A signal the process was started to ignore (nohup, a background job) stays
    // ignored.
    if (!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_IGN) continue;
    struct sigaction ours = {};
    ours.sa_sigaction = OnSignal;
    ours.sa_flags = SA_SIGINFO | SA_RESTART;
    sigfillset(&ours.sa_mask);
    if (sigaction(kSignals[i], &ours, &gOld[i]) == 0) gInstalled[i] = true;
  }
  gDone.store(true, std::memory_order_release);
}

void RestoreNative() {
  std::lock_guard<std::mutex> guard(gLock);
  for (int i = 0; i < kCount; ++i) {
    struct sigaction now;
    if (sigaction(kSignals[i], nullptr, &now) != 0) continue;
    if (gInstalled[i] && (now.sa_flags & SA_SIGINFO) && now.sa_sigaction == OnSignal)
      sigaction(kSignals[i], &gOld[i], nullptr);
    gInstalled[i] = false;
  }
  gDone.store(false, std::memory_order_release);
}

}  // namespace plat::cleanup
