// Dynamic libraries through LoadLibraryW, GetProcAddress and FreeLibrary.
#include <windows.h>
#include <objbase.h>

#include <cctype>
#include <cstdio>

#include "PlatDynLib.h"
#include "PlatDynLibSystem.h"
#include "PlatError.h"
#include "WinNames.h"

namespace plat {

TLibHandle LibLoad(const std::string& path) {
  detail::RecordLibError(0, {});
  uint32_t code;
  std::wstring w = win::Wide(path);
  if (w.empty() || w.find(L'\0') != std::wstring::npos || !IsFullPath(path)) {
    code = path.empty() ? ERROR_INVALID_PARAMETER : ERROR_INVALID_NAME;
  } else {
    // A path from the root of the current drive gets its drive.
    wchar_t full[32768];
    const DWORD n = ::GetFullPathNameW(w.c_str(), DWORD(sizeof full / sizeof full[0]), full, nullptr);
    if (n > 0 && n < sizeof full / sizeof full[0]) w.assign(full, n);
    // The libraries it needs come from its own folder and the system's, never from
    // the current folder or PATH; systems without these flags refuse them.
    HMODULE h =
        ::LoadLibraryExW(w.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!h && ::GetLastError() == ERROR_INVALID_PARAMETER)
      h = ::LoadLibraryExW(w.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (h) return reinterpret_cast<TLibHandle>(h);
    code = uint32_t(::GetLastError());
  }
  detail::RecordLibError(code, SysErrorMessage(code));
  ::SetLastError(code);
  return nullptr;
}

// A drive letter, a colon and a separator, or a path from a root: of the current
// drive or a network share. Only other paths are searched for by the system.
bool IsFullPath(const std::string& path) {
  if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
      (path[2] == '\\' || path[2] == '/'))
    return true;
  return !path.empty() && (path[0] == '\\' || path[0] == '/');
}

// No memory images here: the caller writes a file.
bool LibImageCreate(const std::string&, const void*, size_t, TLibImage& image) {
  image = TLibImage{};
  ::SetLastError(ERROR_NOT_SUPPORTED);
  return false;
}

void LibImageClose(TLibImage& image) { image = TLibImage{}; }

void* LibSymbol(TLibHandle lib, const char* name) {
  if (!lib || !name) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(lib), name));
}

bool LibFree(TLibHandle lib) { return lib && ::FreeLibrary(static_cast<HMODULE>(lib)) != 0; }

namespace {
// The folder of a loaded module's file (the program's for null), with its delimiter.
std::string FolderOfModule(HMODULE module) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(module, buf.data(), DWORD(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    if (buf.size() > 32768) return {};
    buf.resize(buf.size() * 2);
  }
  size_t slash = buf.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::string() : win::Narrow(buf.substr(0, slash + 1));
}
}  // namespace

std::string ProgramFolder() { return FolderOfModule(nullptr); }

std::string ModuleFolder(const void* address) {
  HMODULE module = nullptr;
  if (!address || !::GetModuleHandleExW(
                      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                      static_cast<LPCWSTR>(address), &module))
    return {};
  return FolderOfModule(module);
}

bool NewGuidText(std::string& text) {
  GUID g;
  if (FAILED(::CoCreateGuid(&g))) return false;
  char out[40];
  std::snprintf(out, sizeof out, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  text = out;
  return true;
}

}  // namespace plat
