// Writing archives through the component with the real engine: the events of Add, a
// cancel that leaves the old archive, Move after the commit only, unreadable files.
#include <gtest/gtest.h>

#include "PlatPath.h"
#include "ZMDllLoadTestKit.h"
#include "ZMListingTestKit.h"
#include "ZMWFuncs.h"
#include "ZipMateTestKit.h"

namespace fs = std::filesystem;

namespace {

using zmlist::ReadFile;

void WriteAll(const fs::path& p, const std::string& data) { zmlist::WriteFile(p.string(), data); }

struct TAddFixture : ::testing::Test {
  TScopedUi Ui;
  zmtest::TTempDir Tmp{"add"};
  TBindZipMate Comp;
  fs::path Src, Archive;
  std::vector<TZMSkipTypes> Skips;

  void SetUp() override {
    if (EnginePath().empty()) GTEST_SKIP() << "the build gave no engine library path";
    Comp.SetUnattended(true);
    Comp.SetUseUTF8(true);
    Comp.SetUseDirOnlyEntries(true);
    Comp.SetDLLDirectory(EngineFolder());
    Comp.SetHowToDelete(htdFinal);
    Comp.OnSkipped = [this](TObject*, const std::string&, TZMSkipTypes t, int&) { Skips.push_back(t); };
    Src = Tmp.Path / "src";
    WriteAll(Src / "a.txt", std::string(4000, 'a'));
    WriteAll(Src / "b.jpg", std::string(4000, 'b'));
    WriteAll(Src / "sub" / "c.txt", std::string(9 << 20, 'c'));  // in pieces
    Archive = Tmp.Path / "t.zip";
    Comp.SetRootDir(Src.string());
    Comp.SetZipFileName(Archive.string());
  }
  int32_t Add(std::initializer_list<const char*> specs, TZMAddOpts opts) {
    TStringList l;
    for (const char* s : specs) l.Add(s);
    Comp.SetFSpecArgs(l);
    Comp.SetAddOptions(opts);
    return Comp.Add();
  }
  // Name to method of every entry of the listing.
  std::map<std::string, int> Methods() {
    std::map<std::string, int> m;
    for (int i = 0; i < Comp.Count(); ++i)
      m[Comp.DirEntry(i)->FileName()] = Comp.DirEntry(i)->CompressionMethod();
    return m;
  }
};

TEST_F(TAddFixture, EventsNameLevelAndSkipEachFile) {
  Comp.SetExtAddStoreSuffixes("jpg");
  WriteAll(Src / "gone.txt", "x");
  Comp.OnSetAddName = [](TObject*, std::string& name, const std::string& path, bool& changed) {
    if (name == "gone.txt") fs::remove(path);  // found, then missing when it is read
    if (name == "a.txt") {
      name = "renamed.txt";
      changed = true;
    }
  };
  Comp.OnSetCompLevel = [](TObject*, const std::string& name, int& level, bool& changed) {
    if (name.find("c.txt") != std::string::npos) {
      level = 0;
      changed = true;
    }
  };
  TZMAddOpts o;
  o.Include(AddDirNames);
  o.Include(AddRecurseDirs);
  EXPECT_EQ(Add({"*"}, o), 0) << Comp.ErrMsg();
  const auto m = Methods();
  EXPECT_EQ(m.count("renamed.txt"), 1u);
  EXPECT_EQ(m.at("renamed.txt"), 8);
  EXPECT_EQ(m.at("b.jpg"), 0);  // a store suffix
  EXPECT_EQ(m.at(std::string("sub") + plat::PathDelim + "c.txt"), 0);
  // The file that could not be opened is reported and left out; the rest is written.
  EXPECT_EQ(m.count("gone.txt"), 0u);
  EXPECT_EQ(Skips, std::vector<TZMSkipTypes>{stNoOpen});
  EXPECT_EQ(Comp.SuccessCnt(), int(m.size()));
  // AddFromDate leaves out the files older than AddFrom: here all of them.
  Comp.SetZipFileName((Tmp.Path / "later.zip").string());
  Comp.SetAddFrom(DosToDateTime(FileStamp((Src / "b.jpg").string())) + 1.0);
  o.Include(AddFromDate);
  EXPECT_EQ(Add({"*"}, o), 11);
  EXPECT_FALSE(fs::exists(Tmp.Path / "later.zip"));
}

TEST_F(TAddFixture, CancelLeavesTheOldArchiveAndMoveWaitsForTheCommit) {
  TZMAddOpts o;
  o.Include(AddDirNames);
  ASSERT_EQ(Add({"a.txt"}, o), 0) << Comp.ErrMsg();
  const std::string before = ReadFile(Archive.string());
  // A cancel from the progress event while the large file is written.
  Comp.OnProgress = [this](TObject*, TZMProgressDetails* d) {
    if (d && d->CurrentName().find("c.txt") != std::string::npos && d->CurrentDone() > 0)
      Comp.SetCancel(true);
  };
  o.Include(AddRecurseDirs);
  o.Include(AddMove);
  EXPECT_EQ(Add({"sub", "b.jpg"}, o), 2);
  EXPECT_EQ(ReadFile(Archive.string()), before);
  EXPECT_TRUE(fs::exists(Src / "sub" / "c.txt"));
  EXPECT_TRUE(fs::exists(Src / "b.jpg"));
  size_t files = 0;
  for (auto& e : fs::directory_iterator(Tmp.Path)) files += e.path() != Src;
  EXPECT_EQ(files, 1u) << "a temporary was left";
  // Without the cancel the moved files go once the archive holds them.
  Comp.OnProgress = nullptr;
  EXPECT_EQ(Add({"sub", "b.jpg"}, o), 0) << Comp.ErrMsg();
  EXPECT_FALSE(fs::exists(Src / "sub"));
  EXPECT_FALSE(fs::exists(Src / "b.jpg"));
  EXPECT_EQ(Methods().size(), 4u) << Comp.Count();  // a.txt, b.jpg, sub/, sub/c.txt
}

}  // namespace
