// Entry points of the engine library.
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "DZAdd.h"
#include "DZEngineIntf.h"
#include "DZExtract.h"
#include "DZHost.h"
#include "DZPack.h"
#include "PlatCleanup.h"
#include "ZMUTF8.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifdef DZ_TEST_OLD_VERSION
#define DZ_PRIV_VERSION 1900110
#else
#define DZ_PRIV_VERSION 1900111
#endif

namespace {

const char kName[] = "DzEngine190.dll";
const char kBanner[] =
    "DzEngine190 1.9.0.111 - extraction engine (stored, deflate, Deflate64, "
    "traditional encryption, Zip64)";

// The file the library was loaded from, when the system tells.
std::string LibraryPath() {
#ifdef _WIN32
  HMODULE self = nullptr;
  wchar_t buf[MAX_PATH + 1];
  if (GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&DZ_Version), &self)) {
    const DWORD n = GetModuleFileNameW(self, buf, MAX_PATH);
    if (n > 0 && n < MAX_PATH)
      return Utf8FromWideString(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
  }
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DZ_Version), &info) && info.dli_fname) return info.dli_fname;
#endif
  return kName;
}

}  // namespace

extern "C" {

DZ_EXPORT int32_t DZ_CALL DZ_Exec(const TDZCommand* cmd) {
  if (!cmd || cmd->Magic != DZ_CMD_MAGIC || cmd->CmdVersion != DZ_CMD_VERSION || !cmd->Callback)
    return -dz::deBadOptions;
  try {
    // Every text of the engine is UTF-8.
    SetUTF8Mode(true);
    // Temporary files made during the call are removed by a signal that ends the
    // program; the handlers go again before the library can be unloaded.
    const plat::TCleanupHandlersScope cleanup;
    dz::TDZHost host(*cmd);
    try {
      host.SendKey();
      host.CheckStop();
      int r;
      if ((cmd->Options & DZ_OPT_ADD) && (cmd->Options & DZ_OPT_PACK)) {
        r = dz::RunPack(host);
      } else if (cmd->Options & DZ_OPT_ADD) {
        r = dz::RunStreamConvert(host);
      } else {
        dz::TDZExtractor ex(host);
        r = ex.Run();
      }
      if (host.Stopped()) return host.StopResult();
      return r;
    } catch (const dz::EDZStop& s) {
      return -s.Error;
    } catch (const std::bad_alloc&) {
      host.ErrorMsg(dz::deNoMemory, "");
      return -dz::deNoMemory;
    } catch (const std::exception& e) {
      host.ErrorMsg(dz::deFatal, std::string(" ") + e.what());
      return -dz::deFatal;
    }
  } catch (const std::bad_alloc&) {
    return -dz::deNoMemory;
  } catch (...) {
    return -dz::deFatal;
  }
}

DZ_EXPORT int32_t DZ_CALL DZ_Abort(uint32_t key) { return dz::TDZHost::AbortByKey(key) ? 1 : 0; }

DZ_EXPORT int32_t DZ_CALL DZ_Version(void) { return DZ_VERSION; }

DZ_EXPORT int32_t DZ_CALL DZ_PrivVersion(void) { return DZ_PRIV_VERSION; }

DZ_EXPORT int32_t DZ_CALL DZ_Name(char* buffer, int32_t size, int32_t wide) {
  if (!buffer || size <= 0) return 0;
  const std::string path = LibraryPath();
  if (wide) {
    const std::u16string w = WideFromUtf8String(path);
    const size_t n = std::min<size_t>(w.size(), size_t(size));
    auto* out = reinterpret_cast<char16_t*>(buffer);
    std::memcpy(out, w.data(), n * sizeof(char16_t));
    out[n] = 0;
    return int32_t(n);
  }
  const size_t n = std::min<size_t>(path.size(), size_t(size));
  std::memcpy(buffer, path.data(), n);
  buffer[n] = 0;
  return int32_t(n);
}

DZ_EXPORT const char* DZ_CALL DZ_Banner(void) { return kBanner; }

DZ_EXPORT const char* DZ_CALL DZ_Path(void) {
  static const std::string path = LibraryPath();
  return path.c_str();
}

}  // extern "C"
