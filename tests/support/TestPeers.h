// Running peer tools (zip, unzip, 7z, bsdtar, python3) and other shell commands from
// tests and benchmarks. The peers are POSIX programs run through sh: on Windows
// HaveTool is false and the suites that need them skip.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace zmtest {

// Runs a shell command; its standard output, and its exit status in status (-1 when it
// did not run or did not exit).
inline std::string RunCapture(const std::string& cmd, int* status = nullptr) {
  std::string out;
#ifdef _WIN32
  FILE* p = _popen(cmd.c_str(), "rb");
#else
  FILE* p = popen(cmd.c_str(), "r");
#endif
  if (!p) {
    if (status) *status = -1;
    return out;
  }
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
#ifdef _WIN32
  const int rc = _pclose(p);
  if (status) *status = rc;
#else
  const int rc = pclose(p);
  if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
#endif
  return out;
}

// Runs a shell command with its output discarded; its exit status.
inline int Shell(const std::string& cmd) {
#ifdef _WIN32
  return std::system((cmd + " >NUL 2>&1").c_str());
#else
  const int r = std::system((cmd + " >/dev/null 2>&1").c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : -1;
#endif
}

// Whether a peer tool can be run.
inline bool HaveTool(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return false;
#else
  return Shell("command -v " + name) == 0;
#endif
}

// A word for sh, in single quotes.
inline std::string Quote(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'')
      r += "'\\''";
    else
      r += c;
  }
  return r + "'";
}

}  // namespace zmtest
