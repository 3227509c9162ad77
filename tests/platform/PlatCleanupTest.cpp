// Registered files are removed when a signal ends the process, and the signal then
// takes its usual course: an earlier handler still runs, the default action still
// ends the process with the signal's status, an ignored signal stays ignored.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "PlatCleanup.h"

namespace fs = std::filesystem;

namespace {

fs::path NewFolder() {
  char tmpl[] = "/tmp/zm-cleanup-XXXXXX";
  return fs::path(mkdtemp(tmpl));
}

void Touch(const fs::path& p) { std::ofstream(p) << "x"; }

// Runs body in a child process and returns its wait status.
template <class F>
int InChild(F body) {
  const pid_t pid = fork();
  if (pid == 0) {
    // As a fresh process has them, whatever ran in this one before.
    plat::RestoreCleanupHandlers();
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

// In a child: sets handler for sig, registers path, raises sig and, when the signal
// did not end it, exits with 1 when after() holds, else 0. Its exit code, -1 when the
// signal ended it.
template <class F>
int RaiseInChild(int sig, void (*handler)(int), const fs::path& path, F after) {
  const int status = InChild([&] {
    signal(sig, handler);
    plat::TCleanupPath a(path.string());
    raise(sig);
    _exit(after() ? 1 : 0);
  });
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

volatile sig_atomic_t gEarlier = 0;
void EarlierHandler(int) { gEarlier = 1; }

}  // namespace

TEST(PlatCleanup, SignalRemovesRegisteredFilesAndKeepsItsCourse) {
  const fs::path dir = NewFolder();
  const fs::path kept = dir / "kept", gone = dir / "gone", released = dir / "released";
  for (const fs::path& p : {kept, gone, released}) Touch(p);

  // Default action: the files go, the process ends by the signal.
  int status = InChild([&] {
    plat::TCleanupPath a(gone.string());
    plat::TCleanupPath b(released.string());
    b.Release();
    raise(SIGTERM);
    _exit(3);  // not reached
  });
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_FALSE(fs::exists(gone));
  EXPECT_TRUE(fs::exists(released));
  EXPECT_TRUE(fs::exists(kept));

  // A handler installed earlier is called after the removal.
  Touch(gone);
  EXPECT_EQ(RaiseInChild(SIGINT, EarlierHandler, gone, [] { return gEarlier != 0; }), 1);
  EXPECT_FALSE(fs::exists(gone));

  // An ignored signal stays ignored, and the registration stays until released.
  Touch(gone);
  EXPECT_EQ(RaiseInChild(SIGHUP, SIG_IGN, gone, [&] { return fs::exists(gone); }), 1);
  fs::remove_all(dir);
}

// A library's handlers live only while it is called: the last of overlapping scopes
// puts back what was there, so nothing calls into a library that is gone.
TEST(PlatCleanup, HandlersScopePutsBackTheHandlersFound) {
  const int status = InChild([] {
    signal(SIGTERM, EarlierHandler);
    auto current = [] {
      struct sigaction now;
      sigaction(SIGTERM, nullptr, &now);
      return !(now.sa_flags & SA_SIGINFO) && now.sa_handler == EarlierHandler;
    };
    bool inside = true;
    {
      plat::TCleanupHandlersScope outer;
      { plat::TCleanupHandlersScope inner; }
      inside = current();
    }
    _exit(!inside && current() ? 0 : 1);
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
