#include "ZMDllLoad.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "PlatDrive.h"
#include "PlatError.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMCore.h"
#include "ZMInflt.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZMXcpt.h"
#include "ZipMate.h"
#include "ZMMsg.h"
#include "ZMNameParts.h"

namespace {

constexpr uint32_t kFailCriticalErrors = 3;

bool Chatty(const TCustomZipMate& comp) { return comp.Verbosity() != 0; }

// Where the engine stands when DLLDirectory is empty, full paths only: the program's
// folder, the folder of the library that holds this code (a shared build's own), the
// library folder the build installs into, then that folder relative to the program's
// and this library's folders (an installed tree moved elsewhere; a library installed
// beside the programs). The first that holds the engine; else the program's folder, so
// that a failure names that path.
std::string DefaultEngineFolder() {
  static const char anchor = 0;
  const std::string program = plat::ProgramFolder(), module = plat::ModuleFolder(&anchor);
  std::vector<std::string> folders{program, module, ZM_INSTALL_LIBDIR};
  for (const std::string& base : {program, module})
    if (!base.empty()) folders.push_back(JoinPath(base, ZM_BIN_TO_LIBDIR));
  for (const std::string& folder : folders)
    if (plat::IsFullPath(folder) && FileIsPresent(JoinPath(folder, TZMDLLLoader::LibName))) return folder;
  return program;
}

}  // namespace

TZMDLLLoader::TZMDLLLoader() = default;

TZMDLLLoader::~TZMDLLLoader() { Shutdown(); }

void TZMDLLLoader::Shutdown() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FLibHandle) plat::LibFree(FLibHandle);
  ClearLib();
  FHolders.clear();
  if (FTempImage.Handle >= 0)
    plat::LibImageClose(FTempImage);
  else if (!FTempDll.empty() && FileIsPresent(FTempDll))
    RemoveFile(FTempDll);
  FTempDllCleanup.Release();
  FTempDll.clear();
}

void TZMDLLLoader::ClearLib() {
  FLibHandle = nullptr;
  FEntry = {};
  FVersion = 0;
  FPrivVersion = 0;
  FBanner.clear();
}

int TZMDLLLoader::FindHolder(TCustomZipMate* comp) const {
  if (!comp) return -1;
  for (size_t i = 0; i < FHolders.size(); ++i)
    if (FHolders[i].Comp == comp) return int(i);
  return -1;
}

int TZMDLLLoader::TableSize() {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  return int(FHolders.size());
}

int TZMDLLLoader::HoldCount(TCustomZipMate* comp) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int i = FindHolder(comp);
  return i < 0 ? 0 : FHolders[size_t(i)].Count;
}

bool TZMDLLLoader::Holds(TCustomZipMate* comp) { return HoldCount(comp) > 0; }

void TZMDLLLoader::RemoveHolder(TCustomZipMate* comp) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  int i = FindHolder(comp);
  if (i >= 0) FHolders[size_t(i)] = THolder{};
}

int32_t TZMDLLLoader::TryLoad(TZMCore* worker, const std::string& path, bool report) {
  if (FLibHandle) plat::LibFree(FLibHandle);
  ClearLib();
  FLastError = 0;
  FTriedPath = path;
  plat::TLibHandle h;
  {
    plat::TErrorModeScope mode(plat::SystemDrives(), kFailCriticalErrors);
    h = plat::LibLoad(path);
  }
  if (!h) {
    FLastError = plat::LastLibError();
    std::string why = plat::LastLibErrorText();
    ClearLib();
    if (report) {
      if (worker && Chatty(worker->Master())) worker->ReportFormatted(10, {int(FLastError), why, FTriedPath});
      throw EZipMate::CreateStr(ZM_CODE(zmmZMDllLoad, zmsFailedToLoad), FTriedPath + "\r\n" + why);
    }
    return 0;
  }
  FLibHandle = h;
  FEntry.Bind([h](const char* name) { return plat::LibSymbol(h, name); });
  const bool all = FEntry.HasRequired();
  if (all) {
    FPrivVersion = FEntry.PrivVersion();
    FVersion = FEntry.Version();
    char buf[261] = {};
    FEntry.Name(buf, 260, 0);
    buf[260] = 0;
    FDllName = buf;
    const char* banner = FEntry.Banner();
    FBanner = banner ? banner : "";
  }
  if (!(all && FVersion == RequiredVersion && FPrivVersion >= MinPrivVersion)) {
    std::string name = FDllName.empty() ? std::string(LibName) : FDllName;
    plat::LibFree(FLibHandle);
    ClearLib();
    if (report) {
      if (worker && Chatty(worker->Master())) worker->ReportFormatted(18, {FTriedPath});
      throw EZipMate::CreateStr(ZM_CODE(zmmZMDllLoad, zmsUnableToLoadOldOrCorrupt), name);
    }
  }
  return FPrivVersion;
}

int32_t TZMDLLLoader::ExtractResDll(TZMCore* worker, bool write) {
  int32_t result = -1;
  if (FResVersion != -99 && FResVersion < MinPrivVersion) return result;
  std::unique_ptr<TStream> res = OpenResourceStream(ResName, 10);
  if (FResVersion == -99) FResVersion = -1;
  if (!res) return result;
  int64_t size = res->Size();
  if (size < MinResSize || size >= MaxResSize) return result;
  int32_t version = 0;
  res->SetPosition(0);
  if (res->Read(&version, 4) != 4) return result;
  result = version;
  FResVersion = version;
  if (version < MinPrivVersion || !write) return result;

  TMemoryStream image;
  bool good = false;
  try {
    res->SetPosition(4);
    good = InflateResource(&image, res.get(), size - 4) == 0;
  } catch (const std::exception&) {
    good = false;
  }
  res.reset();
  if (!good) {
    FResVersion = 0;
    return result;
  }
  // Where the system can load a library that no folder holds, the copy leaves
  // nothing behind however the program ends.
  if (plat::LibImageCreate(LibName, image.Memory(), size_t(image.Size()), FTempImage)) {
    FTempDll = FTempImage.Path;
    return result;
  }

  std::string folder = worker && !worker->TempDir().empty() ? SetTrailingDelimiter(worker->TempDir(), true)
                                                            : plat::TempFolder();
  if (folder.empty() || folder.size() > 260)
    throw EZipMate::CreateCode(ZM_CODE(zmmZMDllLoad, zmsTemporaryFileCouldNotBeCreated), true);
  std::string guid, name;
  if (plat::NewGuidText(guid))
    name = folder + guid + ".dll";
  else if (worker)
    name = MakeTempName(worker->Master(), "DZ_", ".dll");
  if (name.empty())
    throw EZipMate::CreateCode(ZM_CODE(zmmZMDllLoad, zmsTemporaryFileCouldNotBeCreated), true);

  // A signal that ends the program removes the file; so does the end of the program.
  FTempDllCleanup.Reset(name);
  try {
    TFileStream out(name, fmCreate);
    out.WriteBuffer(image.Memory(), int(image.Size()));
  } catch (const std::exception&) {
    good = false;
  }
  if (!good) {
    FResVersion = 0;
    if (FileIsPresent(name)) RemoveFile(name);
  }
  FTempDll = FileIsPresent(name) ? name : std::string();
  if (FTempDll.empty()) FTempDllCleanup.Release();
  return result;
}

int32_t TZMDLLLoader::LoadEngine(TZMCore* worker) {
  if (FLibHandle) return FVersion;
  FVersion = 0;
  std::string f;
  const TCustomZipMate& comp = worker->Master();
  std::string d = SetTrailingDelimiter(comp.DLLDirectory(), false);

  if (d == ResOnly) {
    if (!FTempDll.empty())
      TryLoad(worker, FTempDll, true);
    else if (ExtractResDll(worker, true) >= MinPrivVersion && !FTempDll.empty())
      TryLoad(worker, FTempDll, true);
    if (FVersion <= 0) throw EZipMate::CreateStr(ZM_CODE(zmmZMDllLoad, zmsFailedToLoad), LibName);
    return FVersion;
  }

  if (!d.empty()) {
    // Relative to the program's folder after a leading full stop, else to the current
    // folder: the library is only ever loaded by its full path.
    f = d[0] == '.' ? plat::ProgramFolder() + d : d;
    if (!plat::IsFullPath(f)) f = JoinPath(plat::CurrentFolder(), f);
    if (!BareFileName(d).empty() && zmname::Upper(zmname::ExtOf(d)) == ".DLL") {
      TryLoad(worker, f, true);
      return FVersion;
    }
    size_t cut = f.find_last_of("\\/:");
    std::string head = cut == std::string::npos ? std::string() : f.substr(0, cut + 1);
    if (!head.empty() && !FolderExists(head)) f.clear();
  }

  bool quiet = false;
  if (d.empty()) {
    if (FResVersion == -99) ExtractResDll(worker, false);
    quiet = FResVersion >= MinPrivVersion;
  }
  // Never the system's search, which would also take a library of that name planted
  // in the current folder or on the library path: without a folder, the program's own
  // or the installed engine's.
  if (f.empty()) f = d.empty() ? DefaultEngineFolder() : plat::ProgramFolder();
  int32_t r = TryLoad(worker, f.empty() ? std::string(LibName) : JoinPath(f, LibName), !quiet);
  if (r < MinPrivVersion) {
    bool haveCopy = !FTempDll.empty() || ExtractResDll(worker, true) > 0;
    if (haveCopy && TryLoad(worker, FTempDll, false) < MinPrivVersion) FResVersion = 0;
  }
  // A quiet search that found nothing usable, resource copy included, is a failure to
  // load, not an operation that silently does nothing.
  if (FVersion <= 0) throw EZipMate::CreateStr(ZM_CODE(zmmZMDllLoad, zmsFailedToLoad), LibName);
  return FVersion;
}

int32_t TZMDLLLoader::Acquire(TZMCore* worker) {
  if (!worker) return -1;
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TCustomZipMate* comp = &worker->Master();
  int32_t result;
  int idx = FindHolder(comp);
  if (idx >= 0) {
    result = ++FHolders[size_t(idx)].Count;
  } else {
    for (size_t i = 0; i < FHolders.size(); ++i)
      if (!FHolders[i].Comp) {
        idx = int(i);
        break;
      }
    if (idx < 0) {
      idx = int(FHolders.size());
      FHolders.resize(FHolders.size() + 4);
    }
    FHolders[size_t(idx)] = THolder{comp, 1};
    result = 1;
  }
  if (!FLibHandle) {
    struct TCountScope {
      int32_t& N;
      explicit TCountScope(int32_t& n) : N(++n) {}
      ~TCountScope() { --N; }
    } loading(FLoading);
    if (FLoading == 1) {
      int32_t version;
      try {
        version = LoadEngine(worker);
      } catch (const std::exception& e) {
        version = -1;
        try {
          worker->ShowExceptionError(e);
        } catch (...) {
          // A handler raising while the failure is reported; the failure stands.
        }
      }
      if (version < RequiredVersion) {
        FHolders[size_t(idx)] = THolder{};
        if (Chatty(*comp))
          worker->ReportFormatted(10, {int(FLastError), plat::SysErrorMessage(FLastError), FTriedPath});
        result = -1;
      } else if (Chatty(*comp)) {
        worker->ReportFormatted(8, {FDllName});
      }
    }
  }
  return result;
}

int32_t TZMDLLLoader::Load(TZMCore* worker) {
  int32_t r = Acquire(worker);
  return r >= 1 ? FVersion : 0;
}

void TZMDLLLoader::Unload(TZMCore* worker) {
  std::string name = FDllName;
  if (FLibHandle) plat::LibFree(FLibHandle);
  ClearLib();
  FDllName.clear();
  if (worker && Chatty(worker->Master())) worker->ReportFormatted(9, {name});
}

int32_t TZMDLLLoader::Release(TZMCore* worker, TCustomZipMate* comp) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  TCustomZipMate* c = worker ? &worker->Master() : comp;
  int32_t result = -1;
  int idx = FindHolder(c);
  if (idx >= 0) {
    THolder& h = FHolders[size_t(idx)];
    result = --h.Count;
    if (h.Count <= 0) {
      h = THolder{};
      result = 0;
    }
  }
  if (FLoading == 0 && FLibHandle) {
    bool held =
        std::any_of(FHolders.begin(), FHolders.end(), [](const THolder& x) { return x.Comp && x.Count > 0; });
    if (!held) Unload(worker);
  }
  return result;
}

int32_t TZMDLLLoader::Exec(TZMCore* worker, const TDZCommand* cmd, uint32_t& key) {
  if (Acquire(worker) < 1) return -1;
  // The program's handlers first: the engine's, put in place while it runs, chain to
  // them and are taken away again before the library can go.
  plat::InstallCleanupHandlers();
  TDZExecFunc exec = FEntry.Exec;
  struct TEnd {
    TZMDLLLoader& L;
    TZMCore* W;
    uint32_t& K;
    ~TEnd() {
      K = 0;
      try {
        L.Release(W);
      } catch (...) {
        // Only a report of the unload can raise; the library is released already.
      }
    }
  } end{*this, worker, key};
  return exec ? exec(cmd) : -1;
}

void TZMDLLLoader::AbortOp(TCustomZipMate* comp, uint32_t key) {
  std::lock_guard<std::recursive_mutex> guard(FLock);
  if (FLibHandle && FEntry.Abort && FindHolder(comp) >= 0 && FHolders[size_t(FindHolder(comp))].Count > 0)
    FEntry.Abort(key);
}

TZMDLLLoader& DLLLoader() {
  // Never destroyed, so components that outlive the end of main still find it; the
  // library and the temporary copy go when the program ends.
  static TZMDLLLoader* loader = new TZMDLLLoader();
  static struct TAtEnd {
    ~TAtEnd() { loader->Shutdown(); }
  } atEnd;
  return *loader;
}

std::string MakeTempName(const TCustomZipMate& comp, const std::string& prefix, const std::string& ext) {
  std::string folder =
      comp.TempDir().empty() ? plat::TempFolder() : SetTrailingDelimiter(comp.TempDir(), true);
  if (folder.empty()) return std::string();
  std::string name = plat::UniqueTempName(folder, prefix.empty() ? std::string("zip") : prefix);
  if (name.empty()) return name;
  plat::FileDelete(name);
  size_t dot = name.find_last_of('.');
  size_t delim = name.find_last_of("\\/");
  if (dot != std::string::npos && (delim == std::string::npos || dot > delim)) name.erase(dot);
  return name + (ext.empty() ? std::string(".zip") : ext);
}
