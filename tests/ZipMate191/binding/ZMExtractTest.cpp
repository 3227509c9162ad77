// Extract through the component with the real engine: results, errors, cancelling and
// the hold of the engine across operations.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "TestZip.h"
#include "ZMDllLoadTestKit.h"
#include "ZMMsgStr.h"
#include "TestTempDir.h"
#include "ZipMateTestKit.h"

namespace fs = std::filesystem;

namespace {

// Info-ZIP zip, a POSIX program, makes the archives where it runs; elsewhere they are
// built here with the same entries, methods and encryption.
bool HaveZip() {
#ifdef _WIN32
  return false;
#else
  static const bool have = std::system("zip -v > /dev/null 2>&1") == 0;
  return have;
#endif
}

struct TExtractFixture : ::testing::Test {
  TScopedUi Ui;
  TTempDir Tmp{"extract"};
  TBindZipMate Comp;
  std::vector<std::pair<int, std::string>> Messages;
  fs::path Src, Out;

  void SetUp() override {
    if (EnginePath().empty()) GTEST_SKIP() << "the build gave no engine library path";
    Comp.SetUnattended(true);
    Comp.SetDLLDirectory(EngineFolder());
    Comp.OnMessage = [this](TObject*, int c, const std::string& m) { Messages.emplace_back(c, m); };
    Src = Tmp.Path / "src";
    Out = Tmp.Path / "out";
    zmtest::WriteWhole(Src / "a.txt", "alpha\n");
    zmtest::WriteWhole(Src / "sub" / "b.txt", std::string(5000, 'b'));
    fs::create_directories(Out);
  }
  // An archive of a.txt and sub/b.txt, deflated or stored, encrypted when a password is
  // given; the archive's path.
  // With kitOnly the kit writes the archive, whose encryption headers are the same on
  // every run; zip draws them at random, and one wrong password in 256 passes the check.
  std::string Zip(const std::string& name, bool stored = false, const std::string& password = {},
                  bool kitOnly = false) {
    std::string archive = (Tmp.Path / name).string();
    if (HaveZip() && !kitOnly) {
      const std::string opts = std::string(stored ? "-0 " : "") + (password.empty() ? "" : "-P " + password);
      std::string cmd = "cd '" + Src.string() + "' && zip -q " + opts + " '" + archive + "' a.txt sub/b.txt";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
      return archive;
    }
    std::vector<testzip::TEntrySpec> entries;
    for (const char* entry : {"a.txt", "sub/b.txt"})
      entries.push_back({.Name = entry,
                         .Data = zmtest::Slurp(Src / entry),
                         .Method = uint16_t(stored ? 0 : 8),
                         .Password = password});
    zmtest::WriteWhole(archive, testzip::BuildZip(entries));
    return archive;
  }
  int32_t Run(const std::string& archive, TZMExtrOpts opts) {
    Comp.SetZipFileName(archive);
    Comp.SetExtrBaseDir(Out.string());
    Comp.SetExtrOptions(opts);
    return Comp.Extract();
  }
};

}  // namespace

TEST_F(TExtractFixture, ExtractsWithFoldersAndReleasesTheEngine) {
  std::string a = Zip("plain.zip");
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 2);
  EXPECT_EQ(zmtest::Slurp(Out / "a.txt"), "alpha\n");
  EXPECT_EQ(zmtest::Slurp(Out / "sub" / "b.txt"), std::string(5000, 'b'));
  EXPECT_FALSE(DLLLoader().Loaded());
  EXPECT_FALSE(Comp.DLL_Load());
  // Test mode writes nothing and needs no base folder.
  fs::remove_all(Out);
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrTest}), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 2);
  EXPECT_FALSE(fs::exists(Out));
}

TEST_F(TExtractFixture, SpecificationsSelectEntries) {
  std::string a = Zip("plain.zip");
  TStringList specs{"sub/*"};
  Comp.SetFSpecArgs(specs);
  EXPECT_EQ(Run(a, TZMExtrOpts{}), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 1);
  EXPECT_TRUE(fs::exists(Out / "b.txt"));  // without folder names
  EXPECT_FALSE(fs::exists(Out / "a.txt"));
}

TEST_F(TExtractFixture, ExistingFilesNeedOverwrite) {
  std::string a = Zip("plain.zip");
  zmtest::WriteWhole(Out / "a.txt", "mine");
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 0) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(Out / "a.txt"), "mine");
  EXPECT_EQ(Comp.SuccessCnt(), 1);
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames, ExtrOverWrite}), 0) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(Out / "a.txt"), "alpha\n");
  EXPECT_EQ(Comp.SuccessCnt(), 2);
}

TEST_F(TExtractFixture, WrongAndRightPasswords) {
  std::string a = Zip("enc.zip", false, "right", true);
  Comp.SetPassword("wrong");
  Run(a, TZMExtrOpts{ExtrDirNames});
  EXPECT_EQ(Comp.SuccessCnt(), 0);
  EXPECT_FALSE(fs::exists(Out / "a.txt"));
  // The engine asked again and, unattended, nobody answered: the cause stays the wrong
  // password, not a missing one.
  EXPECT_EQ(Comp.ErrCode(), zmsEnginePasswordFailed);
  EXPECT_NE(Comp.ErrMsg().find("a.txt (wrong password)"), std::string::npos) << Comp.ErrMsg();
  // The password handler gives the right one.
  int asked = 0;
  Comp.OnPasswordError = [&](TObject*, bool, std::string& pw, const std::string&, uint32_t&, TMsgDlgBtn&) {
    ++asked;
    pw = "right";
  };
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 2);
  EXPECT_GE(asked, 1);
  EXPECT_EQ(zmtest::Slurp(Out / "a.txt"), "alpha\n");
}

// AES-encrypted entries ask through the same event, PasswordReqCount times.
TEST_F(TExtractFixture, AesPasswordsGoThroughThePasswordEvent) {
#ifndef _WIN32
  if (std::system("7z > /dev/null 2>&1") != 0) GTEST_SKIP() << "7z is not installed";
#else
  GTEST_SKIP() << "7z, a POSIX program here, makes the archive";
#endif
  const std::string a = (Tmp.Path / "aes.zip").string();
  const std::string cmd =
      "cd '" + Src.string() + "' && 7z a -tzip -mem=AES256 -pright '" + a + "' a.txt sub/b.txt > /dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  Comp.SetPasswordReqCount(3);
  std::vector<uint32_t> repeats;
  Comp.OnPasswordError = [&](TObject*, bool, std::string& pw, const std::string&, uint32_t& repeat,
                             TMsgDlgBtn&) {
    repeats.push_back(repeat);
    pw = repeats.size() < 3 ? "wrong" : "right";
  };
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 2);
  EXPECT_EQ(repeats, (std::vector<uint32_t>{3, 2, 1}));
  EXPECT_EQ(zmtest::Slurp(Out / "sub" / "b.txt"), std::string(5000, 'b'));
}

TEST_F(TExtractFixture, PasswordAbortEndsTheRunAsCancelled) {
  std::string a = Zip("enc.zip", false, "right");
  Comp.OnPasswordError = [](TObject*, bool, std::string&, const std::string&, uint32_t&, TMsgDlgBtn& act) {
    act = mbAbort;
  };
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 2);
  EXPECT_EQ(Comp.SuccessCnt(), 0);
}

TEST_F(TExtractFixture, UnattendedWithoutPasswordWarnsFirst) {
  std::string a = Zip("plain.zip");
  Run(a, TZMExtrOpts{ExtrDirNames});
  bool warned = false;
  for (const auto& m : Messages) warned |= m.second == LoadMessage(130);
  EXPECT_TRUE(warned);
}

TEST_F(TExtractFixture, CrcErrorIsReported) {
  std::string a = Zip("stored.zip", true);
  std::string bytes = zmtest::Slurp(a);
  size_t at = bytes.find("alpha");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'A';
  zmtest::WriteWhole(a, bytes);
  Run(a, TZMExtrOpts{ExtrDirNames});
  EXPECT_EQ(Comp.ErrCode(), zmsError);
  EXPECT_NE(Comp.ErrMsg().find("a.txt"), std::string::npos) << Comp.ErrMsg();
  EXPECT_EQ(Comp.SuccessCnt(), 1);
  EXPECT_FALSE(fs::exists(Out / "a.txt"));  // a bad file is not left behind
  // A handler that sees the mismatch.
  std::string seen;
  Comp.OnCRC32Error = [&](TObject*, const std::string& f, uint32_t, uint32_t, bool& doIt) {
    seen = f;
    doIt = false;
  };
  Run(a, TZMExtrOpts{ExtrDirNames});
  EXPECT_NE(seen.find("a.txt"), std::string::npos);
}

TEST_F(TExtractFixture, CancelFromProgressHandler) {
  std::string a = Zip("plain.zip");
  Comp.OnProgress = [this](TObject*, TZMProgressDetails* d) {
    if (d->Kind() == pkNewItem) Comp.SetCancel(true);
  };
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 2);
  EXPECT_EQ(Comp.SuccessCnt(), 0);
  EXPECT_FALSE(DLLLoader().Loaded());
}

TEST_F(TExtractFixture, ExceptionInHandlerEndsTheRunWithItsDescription) {
  std::string a = Zip("plain.zip");
  zmtest::WriteWhole(Out / "a.txt", "mine");
  Comp.OnExtractOverwrite = [](TObject*, const std::string&, bool, bool&, int) {
    throw std::runtime_error("handler broke");
  };
  Run(a, TZMExtrOpts{ExtrDirNames});
  EXPECT_EQ(Comp.ErrCode(), zmsEngineCallbackException);
  EXPECT_NE(Comp.ErrMsg().find(" #12 \"handler broke\""), std::string::npos) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(Out / "a.txt"), "mine");
}

TEST_F(TExtractFixture, MissingBaseFolderAndForceDirs) {
  std::string a = Zip("plain.zip");
  Comp.SetZipFileName(a);
  Comp.SetExtrBaseDir((Out / "new" / "deeper").string());
  Comp.SetExtrOptions(TZMExtrOpts{ExtrDirNames});
  EXPECT_EQ(Comp.Extract(), 129);
  EXPECT_NE(Comp.ErrMsg().find("deeper"), std::string::npos);
  EXPECT_EQ(Comp.SuccessCnt(), 0);
  Comp.SetExtrOptions(TZMExtrOpts{ExtrDirNames, ExtrForceDirs});
  EXPECT_EQ(Comp.Extract(), 0) << Comp.ErrMsg();
  EXPECT_TRUE(fs::exists(Out / "new" / "deeper" / "sub" / "b.txt"));
}

TEST_F(TExtractFixture, EmptyMissingAndUnnamedArchives) {
  std::string empty = (Tmp.Path / "empty.zip").string();
  zmtest::WriteWhole(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  EXPECT_EQ(Run(empty, TZMExtrOpts{}), 164);
  EXPECT_EQ(Run((Tmp.Path / "none.zip").string(), TZMExtrOpts{}), 123);
  EXPECT_EQ(Run("", TZMExtrOpts{}), 133);
  EXPECT_EQ(Comp.SuccessCnt(), 0);
}

TEST_F(TExtractFixture, EngineThatCannotBeLoadedExtractsNothing) {
  std::string a = Zip("plain.zip");
  Comp.SetDLLDirectory(fs::path(OldEnginePath()).parent_path().string());
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames}), 18);
  EXPECT_EQ(Comp.SuccessCnt(), 0);
  EXPECT_FALSE(fs::exists(Out / "a.txt"));
}

TEST_F(TExtractFixture, DllLoadKeepsTheEngineBetweenOperations) {
  std::string a = Zip("plain.zip");
  TBindZipMate other;
  other.SetUnattended(true);
  other.SetDLLDirectory(EngineFolder());
  // Two components in turn: each loads and unloads.
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames, ExtrOverWrite}), 0);
  EXPECT_FALSE(DLLLoader().Loaded());
  other.SetZipFileName(a);
  other.SetExtrBaseDir(Out.string());
  other.SetExtrOptions(TZMExtrOpts{ExtrDirNames, ExtrOverWrite});
  EXPECT_EQ(other.Extract(), 0) << other.ErrMsg();
  EXPECT_FALSE(DLLLoader().Loaded());
  // With DLL_Load on one of them the library stays.
  other.SetDLL_Load(true);
  EXPECT_TRUE(other.DLL_Load());
  EXPECT_TRUE(DLLLoader().Loaded());
  EXPECT_EQ(Run(a, TZMExtrOpts{ExtrDirNames, ExtrOverWrite}), 0);
  EXPECT_TRUE(DLLLoader().Loaded());
  EXPECT_FALSE(Comp.DLL_Load());
  other.SetDLL_Load(false);
  EXPECT_FALSE(other.DLL_Load());
  EXPECT_FALSE(DLLLoader().Loaded());
  // A component destroyed while holding releases its hold.
  {
    TBindZipMate third;
    third.SetUnattended(true);
    third.SetDLLDirectory(EngineFolder());
    third.SetDLL_Load(true);
    TZMDLLOpr w(third);
    EXPECT_EQ(DLLLoader().Acquire(&w), 2);  // a second hold of the same component
    EXPECT_TRUE(DLLLoader().Loaded());
  }
  EXPECT_FALSE(DLLLoader().Loaded());
}

// An archive that is not listed extracts and tests as a listed one does, with the same
// results and errors, and the listing of ZipFileName stays as it was.
TEST_F(TExtractFixture, AnArchiveThatIsNotListedExtractsAsAListedOne) {
  const std::string listed = Zip("listed.zip", true);
  const std::string other = Zip("other.zip");
  std::string damaged = Zip("damaged.zip", true);
  std::string bytes = zmtest::Slurp(damaged);
  bytes[bytes.find("alpha")] = 'A';
  zmtest::WriteWhole(damaged, bytes);
  const std::string empty = (Tmp.Path / "empty.zip").string();
  zmtest::WriteWhole(empty, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
  auto unlisted = [&](const std::string& archive, TZMExtrOpts opts) {
    Comp.SetZipFileName(listed);
    Comp.SetExtrBaseDir(Out.string());
    Comp.SetExtrOptions(opts);
    const int32_t r = Comp.ExtractArchive(archive);
    EXPECT_EQ(Comp.ZipFileName(), listed);
    EXPECT_EQ(Comp.Count(), 2);
    return r;
  };
  for (const std::string& a : {other, damaged, empty, (Tmp.Path / "none.zip").string(), std::string()})
    for (const TZMExtrOpts& opts : {TZMExtrOpts{ExtrTest}, TZMExtrOpts{ExtrDirNames, ExtrOverWrite}}) {
      SCOPED_TRACE(a);
      const int32_t expected = Run(a, opts);
      const std::string msg = Comp.ErrMsg();
      const int done = Comp.SuccessCnt();
      fs::remove_all(Out);
      fs::create_directories(Out);
      EXPECT_EQ(unlisted(a, opts), expected);
      EXPECT_EQ(Comp.ErrMsg(), msg);
      EXPECT_EQ(Comp.SuccessCnt(), done);
      if (a == other && !opts.Contains(ExtrTest)) {
        EXPECT_EQ(zmtest::Slurp(Out / "sub" / "b.txt"), std::string(5000, 'b'));
      }
    }
}
