// zmtool as a planted library, a signal or a full or read-only disk meets it: it loads
// only its own engine, leaves no file behind, and every failure names its cause.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "TestZip.h"
#include "ZMDllLoadTestKit.h"
#include "ZmtoolTestKit.h"

using namespace zmt;

namespace fs = std::filesystem;

namespace {

struct TTrustFixture : ::testing::Test {
  TTempDir Tmp{"trust"};
  void SetUp() override {
    int64_t size;
    if (EngineResourceTooLarge(size))
      GTEST_SKIP() << "zmtool's engine resource in this build is " << size
                   << " bytes, beyond the accepted size";
  }
  std::string Archive(const std::string& name, const std::vector<testzip::TEntrySpec>& entries) {
    const fs::path a = Tmp.Path / name;
    WriteAll(a, testzip::BuildZip(entries));
    return a.string();
  }
};

bool AnyStartsWith(const fs::path& folder, const std::string& prefix) {
  for (const std::string& n : Names(folder))
    if (n.rfind(prefix, 0) == 0) return true;
  return false;
}

}  // namespace

TEST_F(TTrustFixture, ALibraryFoundByTheSystemSearchIsNeverLoaded) {
#ifndef ZM_PLANTED_ENGINE
  GTEST_SKIP() << "no planted library in this build";
#else
  const fs::path plant = Tmp.Path / "plant", marker = Tmp.Path / "marker";
  fs::create_directories(plant);
  fs::copy_file(ZM_PLANTED_ENGINE, plant / "DzEngine190.dll");
  const std::string a = Archive("a.zip", {{.Name = "a.txt", .Data = "alpha\n"}});
  // An empty element of the library path is the current folder.
  for (const std::string& libPath : {std::string(":"), plant.string()}) {
    TRun r = Shell("LD_LIBRARY_PATH='" + libPath + "' ZM_PLANTED_MARKER='" + marker.string() + "' '" +
                       Tool() + "' test '" + a + "'",
                   plant);
    EXPECT_FALSE(fs::exists(marker)) << "planted library loaded with LD_LIBRARY_PATH=" << libPath;
    EXPECT_EQ(r.Status, 0) << r.Err;  // from its own packed copy
    fs::remove(marker);
  }
#endif
}

// Installed, zmtool finds the engine in the library folder beside its own (by full path,
// before its packed copy), wherever the tree was moved.
TEST_F(TTrustFixture, TheEngineInstalledBesideTheProgramIsLoaded) {
  const fs::path bin = Tmp.Path / "bin", lib = (bin / ZM_BIN_TO_LIBDIR).lexically_normal();
  fs::create_directories(lib);
  fs::create_directories(bin);
  fs::copy_file(Tool(), bin / "zmtool");
  fs::copy_file(EnginePath(), lib / "DzEngine190.dll");
  const TRun r = Shell("'" + (bin / "zmtool").string() + "' --version", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const size_t at = r.Out.find("engine: "), end = r.Out.find(", version ", at);
  ASSERT_NE(end, std::string::npos) << r.Out;
  std::error_code ec;
  EXPECT_TRUE(fs::equivalent(r.Out.substr(at + 8, end - at - 8), lib / "DzEngine190.dll", ec)) << r.Out;
}

TEST_F(TTrustFixture, SignalsLeaveNeitherTheEngineCopyNorATemporaryFile) {
  // Large enough to be caught while it is written; zeros pack small.
  const std::string a = Archive("big.zip", {{.Name = "big.bin", .Data = std::string(192u << 20, '\0')}});
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    const fs::path tmp = Tmp.Path / ("tmp" + std::to_string(sig)),
                   dest = Tmp.Path / ("dest" + std::to_string(sig));
    fs::create_directories(tmp);
    fs::create_directories(dest);
    // Without files that have no name, the engine writes a named temporary beside the
    // target: its appearance shows the engine at work.
    const pid_t pid =
        Spawn({Tool(), "extract", a, dest.string()}, {"TMPDIR=" + tmp.string(), "ZM_NO_UNNAMED_FILES=1"});
    bool seen = false;
    for (int i = 0; i < 60000 && !seen; ++i) {
      seen = AnyStartsWith(dest, ".dz");
      if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    // A moment for the engine to register the file it has just made, then stopped, so
    // that the signal finds the file still being written.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(pid, SIGSTOP);
    kill(pid, sig);
    kill(pid, SIGCONT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(seen) << "no temporary file appeared";
    // Ctrl+C ends zmtool with status 130; the others end it by the signal.
    if (sig == SIGINT)
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << "status " << status;
    else
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig)
          << "signal " << sig << ", status " << status;
    EXPECT_EQ(Names(tmp), std::vector<std::string>{}) << "signal " << sig;
    // A killed process cannot remove its named temporary file; it can avoid the copy.
    if (sig != SIGKILL) {
      EXPECT_EQ(Names(dest), std::vector<std::string>{}) << "signal " << sig;
    }
  }
}

TEST_F(TTrustFixture, FailuresOnAFullOrReadOnlyDiskNameTheirCauseAndPath) {
  std::string noise(2u << 20, '\0');
  uint32_t x = 12345;
  for (char& c : noise) c = char((x = x * 1103515245u + 12345u) >> 24);
  const std::string a =
      Archive("two.zip", {{.Name = "a.txt", .Data = "alpha\n"}, {.Name = "big.bin", .Data = noise}});
  const fs::path dest = Tmp.Path / "dest";
  const std::string extract = "\"" + Tool() + "\" extract \"" + a + "\" \"" + dest.string() + "\"";
  const std::string left = "; echo left: $(ls -A \"" + dest.string() + "\")";

  TRun r = InTmpfs("ro", dest, extract, Tmp.Path);
  if (r.Status == 77) GTEST_SKIP() << "no mount namespace: " << r.Err;
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Access denied a.txt (" + dest.string() + "/: The media is write protected)"),
            std::string::npos)
      << r.Err;

  // The small entry fits, the large one does not; nothing of it stays.
  for (const char* unnamed : {"", "ZM_NO_UNNAMED_FILES=1 "}) {
    r = InTmpfs("size=1m", dest, unnamed + extract + left, Tmp.Path);
    EXPECT_NE(r.Err.find("Error writing file! big.bin (" + dest.string() + "/"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find(": There is not enough space on the disk)"), std::string::npos) << r.Err;
    EXPECT_NE(r.Out.find("left: a.txt\n"), std::string::npos) << unnamed << r.Out;
  }
}
