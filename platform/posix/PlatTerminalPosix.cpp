#include "PlatTerminal.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "PlatCleanup.h"

namespace plat {

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<bool> gExitOnInterrupt{true};

// How long the work may take to stop after an interrupt before the process ends
// anyway (it may be blocked reading a pipe or a slow file system).
constexpr unsigned kGraceSeconds = 3;

[[noreturn]] void EndNow() {
  RunCleanup();
  _exit(130);
}

void OnGraceOver(int) { EndNow(); }

void OnInterrupt(int sig) {
  if (sig != SIGINT) {
    // Termination asked for by another program (SIGTERM, a hang-up): the files go and
    // the signal takes its default course, so that the caller sees it.
    RunCleanup();
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    ::raise(sig);
    return;
  }
  if (gInterrupts.fetch_add(1) > 0 || gExitOnInterrupt.load()) EndNow();
  struct sigaction grace {};
  grace.sa_handler = OnGraceOver;
  sigemptyset(&grace.sa_mask);
  ::sigaction(SIGALRM, &grace, nullptr);
  ::alarm(kGraceSeconds);
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

THandle StdHandle(TStdStream s) { return THandle(s); }

bool IsTerminal(TStdStream s) { return ::isatty(int(s)) == 1; }

int TerminalColumns(TStdStream s) {
  if (!IsTerminal(s)) return 0;
  struct winsize ws {};
  if (::ioctl(int(s), TIOCGWINSZ, &ws) != 0 || ws.ws_col == 0) return 80;
  return ws.ws_col;
}

bool ReadInputLine(const std::string& prompt, std::string& line, bool echo) {
  line.clear();
  struct termios saved {};
  const bool quiet = !echo && ::tcgetattr(0, &saved) == 0;
  if (quiet) {
    struct termios t = saved;
    t.c_lflag &= tcflag_t(~ECHO);
    t.c_lflag |= ECHONL;
    ::tcsetattr(0, TCSANOW, &t);
  }
  WriteStdText(ssError, prompt);
  bool got = false;
  for (;;) {
    char c;
    const ssize_t r = ::read(0, &c, 1);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    got = true;
    if (c == '\n') break;
    line += c;
  }
  if (quiet) ::tcsetattr(0, TCSANOW, &saved);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return got;
}

bool WriteStdText(TStdStream s, const std::string& utf8) {
  return WriteAll(int(s), utf8.data(), utf8.size());
}

bool WriteStdBytes(TStdStream s, const void* data, size_t n) {
  return WriteAll(int(s), static_cast<const char*>(data), n);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

bool IsSeekableFile(THandle h) {
  struct stat st;
  return ::fstat(int(h), &st) == 0 && S_ISREG(st.st_mode) && ::lseek(int(h), 0, SEEK_CUR) >= 0;
}

std::string ReopenName(THandle h) {
  for (const char* folder : {"/proc/self/fd/", "/dev/fd/"}) {
    const std::string name = folder + std::to_string(h);
    if (::access(name.c_str(), F_OK) == 0) return name;
  }
  return std::string();
}

bool ReopenSurvivesRemoval() {
  return ::access("/proc/self/fd", F_OK) == 0 || ::access("/dev/fd", F_OK) == 0;
}

void CatchInterrupts() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction now {};
    if (::sigaction(sig, nullptr, &now) != 0) continue;
    // A signal the program was started to ignore (nohup, a background job) stays so.
    if (!(now.sa_flags & SA_SIGINFO) && now.sa_handler == SIG_IGN) continue;
    struct sigaction ours {};
    ours.sa_handler = OnInterrupt;
    ours.sa_flags = SA_RESTART;
    sigemptyset(&ours.sa_mask);
    ::sigaction(sig, &ours, nullptr);
  }
}

bool Interrupted() { return gInterrupts.load() > 0; }

void SetExitOnInterrupt(bool on) { gExitOnInterrupt.store(on); }

}  // namespace plat
