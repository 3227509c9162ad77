// The library's entry points and the checks of the command block.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <cstring>
#include <thread>

#include "DZTestKit.h"
#include "PlatDynLib.h"

using namespace dzt;

#ifdef _WIN32
namespace {

// The names in the export table of a loaded module.
std::vector<std::string> ExportedNames(void* module) {
  std::vector<std::string> names;
  const auto* base = static_cast<const uint8_t*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return names;
  const auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* rvas = reinterpret_cast<const DWORD*>(base + exp->AddressOfNames);
  for (DWORD i = 0; i < exp->NumberOfNames; ++i)
    names.emplace_back(reinterpret_cast<const char*>(base + rvas[i]));
  return names;
}

}  // namespace
#endif

TEST(DZEngineApi, VersionsNameAndBanner) {
  TEngine& e = TEngine::Main();
  EXPECT_EQ(e.Version(), 190);
  EXPECT_GE(e.PrivVersion(), 1900111);
  char buf[261];
  std::memset(buf, 'x', sizeof buf);
  e.Name(buf, 260, 0);
  const std::string name(buf);
  ASSERT_LT(name.size(), 261u);
  EXPECT_NE(name.find("DzEngine190.dll"), std::string::npos) << name;
  // A short buffer is cut, and still terminated.
  char small[8];
  e.Name(small, 7, 0);
  EXPECT_EQ(std::strlen(small), 7u);
  ASSERT_NE(e.Banner(), nullptr);
  EXPECT_NE(std::string(e.Banner()).find("DzEngine190"), std::string::npos);
}

TEST(DZEngineApi, OldVariantReportsOlderPrivateVersion) {
  TEngine old;
  ASSERT_TRUE(old.Load(DZ_ENGINE_OLD_PATH)) << old.Error;
  EXPECT_EQ(old.Version(), 190);
  EXPECT_EQ(old.PrivVersion(), 1900110);
}

TEST(DZEngineApi, ExportsOnlyEntryPoints) {
  TEngine& e = TEngine::Main();
#ifdef _WIN32
  // Exactly the entry points, under their undecorated names.
  std::vector<std::string> names = ExportedNames(e.Handle);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"DZ_Abort", "DZ_Banner", "DZ_Exec", "DZ_Name", "DZ_Path",
                                             "DZ_PrivVersion", "DZ_Version"}));
#else
  // Internal symbols stay hidden, also those of the linked support code.
  EXPECT_EQ(
      plat::LibSymbol(e.Handle, "_Z13FileNameMatchRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEES6_"),
      nullptr);
  EXPECT_EQ(plat::LibSymbol(e.Handle, "_ZN2zm16Crc32UpdateFastEjPKvm"), nullptr);
#endif
}

TEST(DZEngineApi, RejectsBadCommandBlocks) {
  TEngine& e = TEngine::Main();
  EXPECT_EQ(e.Exec(nullptr), -18);
  THarness h;
  TDZCommand cmd{};
  cmd.Worker = &h;
  cmd.CmdVersion = DZ_CMD_VERSION;
  cmd.Magic = 0x03070504;
  EXPECT_EQ(e.Exec(&cmd), -18);
  cmd.Magic = DZ_CMD_MAGIC;
  cmd.CmdVersion = 189;
  EXPECT_EQ(e.Exec(&cmd), -18);
  // Neither extract nor test asked for.
  h.Options = DZ_OPT_ALWAYS;
  h.Archive = "/nonexistent.zip";
  EXPECT_EQ(h.Exec(), -18);
}

TEST(DZEngineApi, MissingOrEmptyArchive) {
  const fs::path dir = FreshDir("api_missing");
  THarness h;
  h.Archive = (dir / "nothere.zip").string();
  h.Base = dir.string();
  EXPECT_EQ(h.Exec(), -15);  // file not found
  ASSERT_FALSE(h.Messages.empty());
  EXPECT_EQ(DZErrorNumber(h.Messages.back().Code), 15);
  EXPECT_EQ(h.Messages.back().Code & 0xF00, 0xA00);  // error with the receiver's text in front

  WriteFile(dir / "zero.zip", "");
  THarness z;
  z.Archive = (dir / "zero.zip").string();
  z.Base = dir.string();
  EXPECT_EQ(z.Exec(), -25);

  WriteFile(dir / "junk.zip", std::string(5000, 'j'));
  THarness j;
  j.Archive = (dir / "junk.zip").string();
  j.Base = dir.string();
  EXPECT_EQ(j.Exec(), -10);  // no central directory
}

TEST(DZEngineApi, MissingBaseFolderIsAnError) {
  const fs::path dir = FreshDir("api_nobase");
  WriteFile(dir / "a.zip", BuildZip({{.Name = "a.txt", .Data = "a"}}));
  THarness h;
  h.Archive = (dir / "a.zip").string();
  h.Base = (dir / "missing").string();
  EXPECT_EQ(h.Exec(), -20);
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST(DZEngineApi, KeyAbortAndCancel) {
  const fs::path dir = FreshDir("api_abort");
  std::string big(3 << 20, 'q');
  for (size_t i = 0; i < big.size(); i += 7) big[i] = char(i * 13);
  WriteFile(dir / "a.zip", BuildZip({{.Name = "big.bin", .Data = big}, {.Name = "b.txt", .Data = "b"}}));
  WriteFile(dir / "out" / "big.bin", "old contents");

  // DZ_Abort with the key handed over in action 18, from inside a progress callback.
  THarness h;
  h.SetUpExtract((dir / "a.zip").string(), dir / "out");
  h.Options |= DZ_OPT_OVERWRITE;
  h.OnProgress = TAbortAt{h, 1, 2};
  EXPECT_EQ(h.Exec(), -2);
  EXPECT_NE(h.Key, 0u);
  EXPECT_EQ(ReadFile(dir / "out" / "big.bin"), "old contents");
  EXPECT_FALSE(fs::exists(dir / "out" / "b.txt"));
  EXPECT_EQ(Tree(dir / "out").size(), 1u) << "no temporary file left behind";
  // A key that is not running does nothing.
  EXPECT_EQ(TEngine::Main().Abort(h.Key), 0);

  // The request may also come from another thread.
  THarness t;
  t.Archive = h.Archive;
  t.Base = h.Base;
  t.Options |= DZ_OPT_OVERWRITE;
  t.OnProgress = [&](int action, int64_t) {
    if (action == DZ_CB_STEP) std::thread([&] { TEngine::Main().Abort(t.Key); }).join();
    return 0;
  };
  EXPECT_EQ(t.Exec(), -2);
  EXPECT_EQ(ReadFile(dir / "out" / "big.bin"), "old contents");

  // A negative callback answer stops the run as cancelled.
  THarness c;
  c.Archive = h.Archive;
  c.Base = h.Base;
  c.Options |= DZ_OPT_OVERWRITE;
  c.OnProgress = [&](int action, int64_t) { return action == DZ_CB_STEP ? -2 : 0; };
  EXPECT_EQ(c.Exec(), -1);
  EXPECT_EQ(ReadFile(dir / "out" / "big.bin"), "old contents");
  EXPECT_EQ(Tree(dir / "out").size(), 1u);
}
