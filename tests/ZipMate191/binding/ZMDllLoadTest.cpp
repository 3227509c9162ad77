// The engine loader with real builds of the engine: the search order, the version
// rules, holds of several components and the reports.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "PlatDynLib.h"
#include "PlatPath.h"
#include "ZMUtils.h"
#include "ZMDllLoadTestKit.h"
#include "ZipMateTestKit.h"

namespace fs = std::filesystem;

namespace {

struct TLoaderFixture : ::testing::Test {
  TScopedUi Ui;
  TZMDLLLoader Loader;  // its own loader, so no test sees another's state
  TBindZipMate Comp;
  std::vector<std::string> Messages;
  void SetUp() override {
    Comp.SetUnattended(true);
    Comp.OnMessage = [this](TObject*, int, const std::string& m) { Messages.push_back(m); };
  }
  void TearDown() override { Loader.Shutdown(); }
};

}  // namespace

TEST_F(TLoaderFixture, FolderLoadsAndLastReleaseUnloads) {
  ZM_NEED_ENGINE();
  Comp.SetDLLDirectory(EngineFolder() + plat::PathDelimStr);  // the trailing delimiter is dropped
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 190);
  EXPECT_TRUE(Loader.Loaded());
  EXPECT_GE(Loader.PrivVersion(), TZMDLLLoader::MinPrivVersion);
  EXPECT_EQ(Loader.TriedPath(), JoinPath(EngineFolder(), "DzEngine190.dll"));
  EXPECT_FALSE(Loader.DllName().empty());
  EXPECT_FALSE(Loader.Banner().empty());
  EXPECT_EQ(Loader.Acquire(&w), 2);
  EXPECT_EQ(Loader.Release(&w), 1);
  EXPECT_TRUE(Loader.Loaded());
  EXPECT_EQ(Loader.Release(&w), 0);
  EXPECT_FALSE(Loader.Loaded());
  EXPECT_TRUE(Loader.DllName().empty());
  EXPECT_EQ(Loader.Version(), 0);
  EXPECT_EQ(Loader.Release(&w), -1);  // nothing held any more
  EXPECT_EQ(Comp.ErrCode(), 0);
}

TEST_F(TLoaderFixture, DotFolderIsRelativeToTheProgram) {
  ZM_NEED_ENGINE();
  std::string rel = fs::relative(EngineFolder(), plat::ProgramFolder()).string();
  if (rel.empty() || rel[0] != '.') rel = std::string(".") + plat::PathDelim + rel;
  Comp.SetDLLDirectory(rel);
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 190);
  EXPECT_EQ(Loader.TriedPath(), JoinPath(plat::ProgramFolder() + rel, "DzEngine190.dll"));
  Loader.Release(&w);
}

TEST_F(TLoaderFixture, NamedFileLoadsThatFileWhateverTheCaseOfItsExtension) {
  ZM_NEED_ENGINE();
  TTempDir tmp("named");
  std::string copy = (tmp.Path / "Other.DLL").string();
  fs::copy_file(EnginePath(), copy);
  Comp.SetDLLDirectory(copy);
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 190);
  EXPECT_EQ(Loader.TriedPath(), copy);
  Loader.Release(&w);
}

TEST_F(TLoaderFixture, OldPrivateVersionIsRejectedWithMessage18) {
  ZM_NEED_ENGINE();
  Comp.SetVerbose(true);
  Comp.SetDLLDirectory(fs::path(OldEnginePath()).parent_path().string());
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_FALSE(Loader.Loaded());
  EXPECT_EQ(Loader.PrivVersion(), 0);
  EXPECT_FALSE(Loader.Holds(&Comp));
  EXPECT_EQ(Comp.ErrCode(), zmsUnableToLoadOldOrCorrupt);
  EXPECT_NE(Comp.ErrMsg().find("It is old or corrupt"), std::string::npos) << Comp.ErrMsg();
  // The verbose report names the tried path.
  // (Windows joins the folder and the name with '\\' while the build names it with '/'.)
  auto slashes = [](std::string t) {
    for (char& c : t)
      if (c == '\\') c = '/';
    return t;
  };
  bool named = false;
  for (const auto& m : Messages) named |= slashes(m).find(slashes(OldEnginePath())) != std::string::npos;
  EXPECT_TRUE(named);
}

TEST_F(TLoaderFixture, LibraryWithoutTheEntryPointsIsRejected) {
  TTempDir tmp("foreign");
  std::string lib;
#ifdef _WIN32
  for (const char* p : {"C:\\windows\\system32\\version.dll", "C:\\windows\\system32\\lz32.dll"})
#else
  for (const char* p :
       {"/lib/x86_64-linux-gnu/libz.so.1", "/usr/lib/x86_64-linux-gnu/libz.so.1", "/lib64/libz.so.1"})
#endif
    if (lib.empty() && fs::exists(p)) lib = p;
  if (lib.empty()) GTEST_SKIP() << "no system library to stand in for a foreign library";
  std::string copy = (tmp.Path / "foreign.dll").string();
  fs::copy_file(lib, copy);
  Comp.SetDLLDirectory(copy);
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_FALSE(Loader.Loaded());
  EXPECT_EQ(Comp.ErrCode(), zmsUnableToLoadOldOrCorrupt);
}

TEST_F(TLoaderFixture, MissingLibraryGivesMessage19WithThePath) {
  TTempDir tmp("missing");
  Comp.SetDLLDirectory(tmp.Path.string());  // an existing folder without the library
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_EQ(Comp.ErrCode(), zmsFailedToLoad);
  EXPECT_NE(Comp.ErrMsg().find(JoinPath(tmp.Path.string(), "DzEngine190.dll")), std::string::npos)
      << Comp.ErrMsg();
  EXPECT_NE(Loader.LastError(), 0u);
  EXPECT_FALSE(Loader.Holds(&Comp));
  EXPECT_EQ(Loader.TableSize(), 4);  // the entry was taken and freed again
}

// Never the system's search, which would also take a library planted in the current
// folder or on the library path: without a folder, the program's own folder is tried.
TEST_F(TLoaderFixture, MissingParentFolderFallsBackToTheProgramsFolder) {
  // Without a resource copy in this program, that fails loudly.
  Comp.SetDLLDirectory("/no/such/folder/engine");
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_EQ(Loader.TriedPath(), JoinPath(plat::ProgramFolder(), "DzEngine190.dll"));
  EXPECT_EQ(Comp.ErrCode(), zmsFailedToLoad);
}

TEST_F(TLoaderFixture, ARelativeLibraryNameIsTakenFromTheCurrentFolder) {
  ZM_NEED_ENGINE();
  const fs::path before = fs::current_path();
  fs::current_path(EngineFolder());
  Comp.SetDLLDirectory("DzEngine190.dll");
  TZMDLLOpr w(Comp);
  const int32_t version = Loader.Load(&w);
  fs::current_path(before);
  EXPECT_EQ(version, 190) << Comp.ErrMsg();
  EXPECT_TRUE(plat::IsFullPath(Loader.TriedPath())) << Loader.TriedPath();
  EXPECT_TRUE(fs::equivalent(Loader.TriedPath(), EnginePath())) << Loader.TriedPath();
  Loader.Release(&w);
}

TEST_F(TLoaderFixture, EmptyDirectoryWithoutResourceFailsWithMessage19) {
  Comp.SetDLLDirectory("");
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_EQ(Loader.TriedPath(), JoinPath(plat::ProgramFolder(), "DzEngine190.dll"));
  EXPECT_EQ(Loader.ResVersion(), -1);  // examined: this program carries no copy
  EXPECT_EQ(Comp.ErrCode(), zmsFailedToLoad);
}

TEST_F(TLoaderFixture, ResourceOnlyWithoutResourceFailsWithMessage19) {
  Comp.SetDLLDirectory("><");
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_EQ(Comp.ErrCode(), zmsFailedToLoad);
  EXPECT_NE(Comp.ErrMsg().find("DzEngine190.dll"), std::string::npos);
  EXPECT_TRUE(Loader.TempDll().empty());
}

TEST_F(TLoaderFixture, GarbageFileNamedAsLibraryGivesMessage19) {
  TTempDir tmp("garbage");
  std::string path = (tmp.Path / "DzEngine190.dll").string();
  {
    TFileStream f(path, fmCreate);
    f.WriteBuffer("MZ not a library at all", 23);
  }
  Comp.SetDLLDirectory(path);
  TZMDLLOpr w(Comp);
  EXPECT_EQ(Loader.Load(&w), 0);
  EXPECT_EQ(Comp.ErrCode(), zmsFailedToLoad);
}

TEST_F(TLoaderFixture, VerboseLoadAndUnloadAreReported) {
  ZM_NEED_ENGINE();
  Comp.SetVerbose(true);
  Comp.SetDLLDirectory(EngineFolder());
  TZMDLLOpr w(Comp);
  ASSERT_EQ(Loader.Load(&w), 190);
  std::string name = Loader.DllName();
  Loader.Release(&w);
  ASSERT_GE(Messages.size(), 2u);
  EXPECT_EQ(Messages[Messages.size() - 2], "Loaded " + name);
  EXPECT_EQ(Messages.back(), "Unloaded " + name);
}

TEST_F(TLoaderFixture, ComponentsHoldInTurnAndAFifthHolderGrowsTheTable) {
  ZM_NEED_ENGINE();
  std::vector<std::unique_ptr<TBindZipMate>> comps;
  std::vector<std::unique_ptr<TZMDLLOpr>> workers;
  for (int i = 0; i < 5; ++i) {
    comps.push_back(std::make_unique<TBindZipMate>());
    comps.back()->SetUnattended(true);
    comps.back()->SetDLLDirectory(EngineFolder());
    workers.push_back(std::make_unique<TZMDLLOpr>(*comps.back()));
  }
  for (int i = 0; i < 4; ++i) EXPECT_EQ(Loader.Acquire(workers[size_t(i)].get()), 1);
  EXPECT_EQ(Loader.TableSize(), 4);
  EXPECT_EQ(Loader.Acquire(workers[4].get()), 1);
  EXPECT_EQ(Loader.TableSize(), 8);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(Loader.Holds(comps[size_t(i)].get()));
  // The library stays while anyone holds it.
  for (int i = 0; i < 4; ++i) Loader.Release(workers[size_t(i)].get());
  EXPECT_TRUE(Loader.Loaded());
  // A freed entry is reused before the table grows again.
  EXPECT_EQ(Loader.Acquire(workers[0].get()), 1);
  EXPECT_EQ(Loader.TableSize(), 8);
  Loader.RemoveHolder(comps[0].get());
  EXPECT_FALSE(Loader.Holds(comps[0].get()));
  Loader.Release(workers[4].get());
  EXPECT_FALSE(Loader.Loaded());
  // A component released without a worker.
  EXPECT_EQ(Loader.Acquire(workers[1].get()), 1);
  EXPECT_EQ(Loader.Release(nullptr, comps[1].get()), 0);
  EXPECT_FALSE(Loader.Loaded());
}

TEST_F(TLoaderFixture, ExecWithoutALibraryAnswersMinusOneAndClearsTheKey) {
  TTempDir tmp("exec");
  Comp.SetDLLDirectory(tmp.Path.string());
  TZMDLLOpr w(Comp);
  uint32_t key = 1234;
  TDZCommand cmd{};
  EXPECT_EQ(Loader.Exec(&w, &cmd, key), -1);
  EXPECT_FALSE(Loader.Holds(&Comp));
}

TEST_F(TLoaderFixture, AbortWithoutAHoldCallsNothing) {
  ZM_NEED_ENGINE();
  Comp.SetDLLDirectory(EngineFolder());
  TBindZipMate other;
  TZMDLLOpr w(Comp);
  ASSERT_EQ(Loader.Load(&w), 190);
  Loader.AbortOp(&other, 77);  // other holds nothing: no call, no failure
  Loader.AbortOp(&Comp, 77);   // no operation runs under that key: the engine ignores it
  EXPECT_TRUE(Loader.Loaded());
  Loader.Release(&w);
}

TEST(ZMDllLoadTempName, MakesANameInTempDirWithTheExtension) {
  TTempDir tmp("tempname");
  TBindZipMate comp;
  comp.SetTempDir(tmp.Path.string());
  std::string a = MakeTempName(comp, "DZ_", ".dll");
  std::string b = MakeTempName(comp);
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(fs::path(a).parent_path(), tmp.Path);
  EXPECT_EQ(fs::path(a).extension(), ".dll");
  EXPECT_EQ(fs::path(a).filename().string().rfind("DZ_", 0), 0u);
  EXPECT_EQ(fs::path(b).extension(), ".zip");
  EXPECT_EQ(fs::path(b).filename().string().rfind("zip", 0), 0u);
  EXPECT_FALSE(fs::exists(a));  // only a name
  EXPECT_NE(a, b);
  comp.SetTempDir(tmp.Path.string() + "/missing");
  EXPECT_TRUE(MakeTempName(comp).empty());
}

TEST(ZMDllLoadPlatform, GuidTextsAreUniqueAndBraced) {
  std::string a, b;
  ASSERT_TRUE(plat::NewGuidText(a));
  ASSERT_TRUE(plat::NewGuidText(b));
  EXPECT_EQ(a.size(), 38u);
  EXPECT_EQ(a.front(), '{');
  EXPECT_EQ(a.back(), '}');
  EXPECT_NE(a, b);
  EXPECT_FALSE(plat::ProgramFolder().empty());
  EXPECT_EQ(plat::ProgramFolder().back(), plat::PathDelim);
}
