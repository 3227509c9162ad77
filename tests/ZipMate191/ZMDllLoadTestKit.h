// A component whose engine work goes to the engine binding (loader, worker,
// callbacks); temporary folders; the built engine
// libraries (their paths come from the build when it knows them).
#pragma once
#include <filesystem>
#include <string>

#include "TestTempDir.h"
#include "ZMDllLoad.h"
#include "ZMDllOpr.h"
#include "ZipMate.h"

class TBindZipMate : public TCustomZipMate {
 public:
  using TCustomZipMate::TCustomZipMate;
  ~TBindZipMate() override { ZMDropEngine(*this); }

 protected:
  void ExtractEntries() override { ZMRunExtract(*this); }
  void LoadEngine(bool load) override { ZMSetEngineHeld(*this, load); }
  bool EngineHeld() const override { return ZMEngineHeld(*this); }
};

using zmtest::TTempDir;

#ifdef ZM_ENGINE_PATH
inline std::string EnginePath() { return ZM_ENGINE_PATH; }
inline std::string OldEnginePath() { return ZM_ENGINE_OLD_PATH; }
#define ZM_NEED_ENGINE() (void)0
#else
inline std::string EnginePath() { return std::string(); }
inline std::string OldEnginePath() { return std::string(); }
#define ZM_NEED_ENGINE() GTEST_SKIP() << "the build gave no engine library path"
#endif

inline std::string EngineFolder() { return std::filesystem::path(EnginePath()).parent_path().string(); }
