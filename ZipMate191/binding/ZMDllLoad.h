// The engine loader: one object for the whole program that finds, loads, checks and
// unloads DzEngine190.dll on behalf of every component, counting the holds each
// component has. It loads only by full path, never through the system's search. It
// can also take the library from the program's "DZResDll191" resource, copied once
// into memory where the system loads libraries from there, else into a temporary file.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "DZEngineIntf.h"
#include "PlatCleanup.h"
#include "PlatDynLib.h"

class TCustomZipMate;
class TZMCore;

class TZMDLLLoader {
 public:
  static constexpr int32_t RequiredVersion = 190;
  static constexpr int32_t MinPrivVersion = 1900111;
  static constexpr const char* LibName = "DzEngine190.dll";
  static constexpr const char* ResName = "DZResDll191";
  static constexpr const char* ResOnly = "><";
  static constexpr int64_t MinResSize = 50000;
  static constexpr int64_t MaxResSize = 600000;  // exclusive

  TZMDLLLoader();
  ~TZMDLLLoader();
  TZMDLLLoader(const TZMDLLLoader&) = delete;
  TZMDLLLoader& operator=(const TZMDLLLoader&) = delete;

  // Adds a hold for the worker's component, loading the library when none is
  // loaded: the component's new hold count, or -1 when loading failed.
  int32_t Acquire(TZMCore* worker);
  // Acquire; the library's version when the result is 1 or more, else 0.
  int32_t Load(TZMCore* worker);
  // Removes a hold of the worker's component (of comp when no worker is given) and
  // unloads the library when no holder is left: the remaining count, -1 when the
  // component held nothing.
  int32_t Release(TZMCore* worker, TCustomZipMate* comp = nullptr);
  // Runs one engine command under an extra hold; -1 when the library could not be
  // had. key is cleared afterwards whatever happens.
  int32_t Exec(TZMCore* worker, const TDZCommand* cmd, uint32_t& key);
  // DZ_Abort with the key when comp holds the library and one is loaded.
  void AbortOp(TCustomZipMate* comp, uint32_t key);
  bool Holds(TCustomZipMate* comp);
  // Frees comp's entry whatever its count.
  void RemoveHolder(TCustomZipMate* comp);

  // Frees the library and deletes the temporary copy (end of the program).
  void Shutdown();

  // State, for reports and tests.
  bool Loaded() const { return FLibHandle != nullptr; }
  int32_t Version() const { return FVersion; }
  int32_t PrivVersion() const { return FPrivVersion; }
  const std::string& DllName() const { return FDllName; }
  const std::string& Banner() const { return FBanner; }
  const std::string& TriedPath() const { return FTriedPath; }
  uint32_t LastError() const { return FLastError; }
  int32_t ResVersion() const { return FResVersion; }
  const std::string& TempDll() const { return FTempDll; }
  // Size of the holder table (grows by four).
  int TableSize();
  int HoldCount(TCustomZipMate* comp);

 private:
  struct THolder {
    TCustomZipMate* Comp = nullptr;
    int32_t Count = 0;
  };
  int32_t LoadEngine(TZMCore* worker);
  int32_t TryLoad(TZMCore* worker, const std::string& path, bool report);
  int32_t ExtractResDll(TZMCore* worker, bool write);
  void ClearLib();
  void Unload(TZMCore* worker);
  int FindHolder(TCustomZipMate* comp) const;

  std::vector<THolder> FHolders;
  std::recursive_mutex FLock;
  int32_t FLoading = 0;
  plat::TLibHandle FLibHandle = nullptr;
  TDZEntryPoints FEntry;
  int32_t FVersion = 0;
  int32_t FPrivVersion = 0;
  std::string FDllName = LibName;
  std::string FBanner;
  std::string FTriedPath;
  uint32_t FLastError = 0;
  int32_t FResVersion = -99;
  std::string FTempDll;
  plat::TLibImage FTempImage;          // the copy, where no folder holds it
  plat::TCleanupPath FTempDllCleanup;  // the copy's file otherwise
};

// The program's one loader.
TZMDLLLoader& DLLLoader();

// A new unique file name in the component's TempDir (or the system's temporary
// folder): a file made by the system with the prefix is deleted at once and its name
// returned with ext in place of its own extension. Empty when no name can be made.
std::string MakeTempName(const TCustomZipMate& comp, const std::string& prefix = "zip",
                         const std::string& ext = ".zip");
