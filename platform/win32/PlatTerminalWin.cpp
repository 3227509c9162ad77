#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <iterator>

#include "PlatCleanup.h"
#include "PlatTerminal.h"
#include "WinNames.h"

namespace plat {

namespace {

std::atomic<int> gInterrupts{0};
std::atomic<bool> gExitOnInterrupt{true};

HANDLE Std(TStdStream s) {
  static const DWORD kIds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  return ::GetStdHandle(kIds[int(s)]);
}

bool IsConsole(HANDLE h) {
  DWORD mode;
  return h != INVALID_HANDLE_VALUE && h != nullptr && ::GetConsoleMode(h, &mode);
}

bool WriteAll(HANDLE h, const char* p, size_t n) {
  while (n) {
    DWORD done = 0;
    const DWORD part = DWORD(n > (1u << 30) ? (1u << 30) : n);
    if (!::WriteFile(h, p, part, &done, nullptr) || done == 0) return false;
    p += done;
    n -= done;
  }
  return true;
}

BOOL WINAPI OnConsoleEvent(DWORD) {
  if (gInterrupts.fetch_add(1) > 0 || gExitOnInterrupt.load()) {
    RunCleanup();
    ::ExitProcess(130);
  }
  return TRUE;  // handled: the program stops by itself
}

}  // namespace

THandle StdHandle(TStdStream s) { return reinterpret_cast<THandle>(Std(s)); }

bool IsTerminal(TStdStream s) { return IsConsole(Std(s)); }

int TerminalColumns(TStdStream s) {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(Std(s), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool ReadInputLine(const std::string& prompt, std::string& line, bool echo) {
  line.clear();
  HANDLE in = Std(ssInput);
  if (!IsConsole(in)) {
    WriteStdText(ssError, prompt);
    bool got = false;
    for (;;) {
      char c;
      DWORD n = 0;
      if (!::ReadFile(in, &c, 1, &n, nullptr) || n == 0) break;
      got = true;
      if (c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return got;
  }
  DWORD saved = 0;
  ::GetConsoleMode(in, &saved);
  if (!echo) ::SetConsoleMode(in, saved & ~DWORD(ENABLE_ECHO_INPUT));
  WriteStdText(ssError, prompt);
  std::wstring text;
  bool got = false;
  for (;;) {
    wchar_t buf[256];
    DWORD n = 0;
    if (!::ReadConsoleW(in, buf, 256, &n, nullptr) || n == 0) break;
    got = true;
    text.append(buf, n);
    if (text.find(L'\n') != std::wstring::npos) break;
  }
  if (!echo) {
    ::SetConsoleMode(in, saved);
    WriteStdText(ssError, "\r\n");
  }
  const size_t end = text.find_first_of(L"\r\n");
  if (end != std::wstring::npos) text.resize(end);
  line = win::Utf8FromWide(text.data(), text.size());
  return got;
}

bool WriteStdText(TStdStream s, const std::string& utf8) {
  HANDLE h = Std(s);
  if (!IsConsole(h)) return WriteAll(h, utf8.data(), utf8.size());
  const std::wstring w = win::WideFromUtf8(utf8);
  for (size_t at = 0; at < w.size();) {
    DWORD done = 0;
    const DWORD part = DWORD(w.size() - at > 8192 ? 8192 : w.size() - at);
    if (!::WriteConsoleW(h, w.data() + at, part, &done, nullptr) || done == 0) return false;
    at += done;
  }
  return true;
}

bool WriteStdBytes(TStdStream s, const void* data, size_t n) {
  return WriteAll(Std(s), static_cast<const char*>(data), n);
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int n = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &n);
  if (!wide) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < n; ++i) args.push_back(win::Utf8FromWide(wide[i], wcslen(wide[i])));
  ::LocalFree(wide);
  return args;
}

bool IsSeekableFile(THandle h) { return ::GetFileType(reinterpret_cast<HANDLE>(h)) == FILE_TYPE_DISK; }

std::string ReopenName(THandle h) {
  wchar_t buf[MAX_PATH * 4];
  const DWORD n = ::GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(h), buf, DWORD(std::size(buf)), 0);
  if (n == 0 || n >= std::size(buf)) return std::string();
  std::wstring name(buf, n);
  if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
    name = L"\\\\" + name.substr(8);
  else if (name.rfind(L"\\\\?\\", 0) == 0)
    name = name.substr(4);
  return win::Utf8FromWide(name.data(), name.size());
}

bool ReopenSurvivesRemoval() { return false; }

void CatchInterrupts() { ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

bool Interrupted() { return gInterrupts.load() > 0; }

void SetExitOnInterrupt(bool on) { gExitOnInterrupt.store(on); }

}  // namespace plat
