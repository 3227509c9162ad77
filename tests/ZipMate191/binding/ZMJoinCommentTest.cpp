// Split sets made by Info-ZIP joined into one archive and extracted through the
// engine, failed joins, and archive comments rewritten in place.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "ZMDllLoadTestKit.h"
#include "ZMEOC.h"
#include "ZMEndian.h"
#include "ZMLister.h"
#include "ZMWFuncs.h"
#include "TestTempDir.h"
#include "ZipMateTestKit.h"
#include "ZMRecords.h"
#include "TestZip.h"

namespace fs = std::filesystem;

namespace {

bool Have(const std::string& tool) {
  return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

int Sh(const std::string& cmd) {
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string Q(const fs::path& p) { return "'" + p.string() + "'"; }

// A tmpfs of the given size mounted at a new folder for as long as the object lives
// (mounting needs root; Mounted says whether it worked).
struct TSmallDisk {
  TSmallDisk(fs::path at, const std::string& size) : Path(std::move(at)) {
    fs::create_directories(Path);
    Mounted = Sh("mount -t tmpfs -o size=" + size + " tmpfs " + Q(Path) + " 2> /dev/null") == 0;
  }
  ~TSmallDisk() {
    if (Mounted) Sh("umount " + Q(Path));
  }
  TSmallDisk(const TSmallDisk&) = delete;
  TSmallDisk& operator=(const TSmallDisk&) = delete;
  fs::path Path;
  bool Mounted = false;
};

// Files (relative path to contents) and folders below root.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> t;
  if (!fs::exists(root)) return t;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const std::string rel = fs::relative(e.path(), root).generic_string();
    t[e.is_directory() ? rel + "/" : rel] = e.is_directory() ? "" : zmtest::Slurp(e.path());
  }
  return t;
}

// Every peer that reads a single archive accepts it.
void ExpectPeersAccept(const fs::path& archive) {
  EXPECT_EQ(Sh("unzip -tqq " + Q(archive) + " > /dev/null"), 0) << archive;
  EXPECT_EQ(Sh("zip -T " + Q(archive) + " > /dev/null"), 0) << archive;
  if (Have("7z")) {
    EXPECT_EQ(Sh("7z t " + Q(archive) + " > /dev/null"), 0) << archive;
  }
  EXPECT_EQ(
      Sh("python3 -c \"import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\nassert z.testzip() is None\" " +
         Q(archive)),
      0)
      << archive;
}

struct TSplitFixture : ::testing::Test {
  TScopedUi Ui;
  TTempDir Tmp{"join"};
  TBindZipMate Comp;
  std::vector<std::pair<int, std::string>> Messages;
  fs::path Src;

  void SetUp() override {
    if (!Have("zip") || !Have("unzip") || !Have("python3")) GTEST_SKIP() << "zip, unzip or python3 missing";
    Comp.SetUnattended(true);
    Comp.SetHowToDelete(htdFinal);
    if (!EnginePath().empty()) Comp.SetDLLDirectory(EngineFolder());
    Comp.OnMessage = [this](TObject*, int c, const std::string& m) { Messages.emplace_back(c, m); };
    Src = Tmp.Path / "src";
    // Incompressible data spreads over several parts; text compresses.
    ASSERT_EQ(Sh("mkdir -p " + Q(Src / "sub") + " && head -c 300000 /dev/urandom > " + Q(Src / "random.bin")),
              0);
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + "\n";
    zmtest::WriteWhole(Src / "sub" / "text.txt", text);
    zmtest::WriteWhole(Src / "small.txt", "small\n");
  }
  // zip in the source folder with options; the archive's path (the last part of a set).
  fs::path Zip(const std::string& name, const std::string& opts) {
    const fs::path archive = Tmp.Path / name;
    EXPECT_EQ(Sh("cd " + Q(Src) + " && zip -q -r " + opts + " " + Q(archive) + " random.bin sub small.txt"),
              0);
    return archive;
  }
  bool HasMessage(int number) const {
    for (const auto& m : Messages)
      if ((m.first & 0x1FF) == number) return true;
    return false;
  }
};

}  // namespace

TEST_F(TSplitFixture, InfoZipSplitSetsJoinIntoArchivesThatEveryPeerAccepts) {
  const fs::path whole = Zip("whole.zip", "");
  int serial = 0;
  for (const char* opts : {"-s 64k", "-s 100k", "-s 64k -fz"}) {
    SCOPED_TRACE(opts);
    const fs::path dir = Tmp.Path / ("set" + std::to_string(++serial));
    fs::create_directories(dir);
    const fs::path set = Zip((dir / "set.zip").string(), opts);
    ASSERT_TRUE(fs::exists(dir / "set.z01"));
    Comp.SetZipFileName(set.string());
    ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
    EXPECT_EQ(Comp.Count(), 3);  // the folder entry is not listed
    std::string dest = (dir / "joined.bin").string();
    ASSERT_EQ(Comp.JoinToSingleFile(dest), 0) << Comp.ErrMsg();
    // A named destination keeps its name with the .zip extension.
    EXPECT_EQ(dest, (dir / "joined.zip").string());
    ExpectPeersAccept(dest);
    // The same entries as the unsplit archive.
    const fs::path a = dir / "a", b = dir / "b";
    ASSERT_EQ(Sh("unzip -qq " + Q(dest) + " -d " + Q(a) + " && unzip -qq " + Q(whole) + " -d " + Q(b)), 0);
    EXPECT_EQ(Tree(a), Tree(b));
    EXPECT_EQ(Tree(a).at("random.bin"), zmtest::Slurp(Src / "random.bin"));
  }
}

TEST_F(TSplitFixture, SplitSetsExtractThroughTheEngineAsUnzipExtractsTheWhole) {
  if (EnginePath().empty()) GTEST_SKIP() << "the build gave no engine library path";
  const fs::path whole = Zip("whole.zip", "");
  const fs::path expect = Tmp.Path / "expect";
  ASSERT_EQ(Sh("unzip -qq " + Q(whole) + " -d " + Q(expect)), 0);
  const fs::path temp = Tmp.Path / "temp";
  fs::create_directories(temp);
  Comp.SetTempDir(temp.string());
  int serial = 0;
  for (const char* opts : {"-s 64k", "-s 128k -fz"}) {
    SCOPED_TRACE(opts);
    const fs::path dir = Tmp.Path / ("x" + std::to_string(++serial));
    fs::create_directories(dir);
    const fs::path set = Zip((dir / "set.zip").string(), opts);
    const fs::path out = dir / "out";
    fs::create_directories(out);
    Comp.SetZipFileName(set.string());
    Comp.SetExtrBaseDir(out.string());
    Comp.SetExtrOptions(TZMExtrOpts{ExtrDirNames, ExtrOverWrite});
    ASSERT_EQ(Comp.Extract(), 0) << Comp.ErrMsg();
    EXPECT_EQ(Comp.SuccessCnt(), 3);
    EXPECT_EQ(Tree(out), Tree(expect));
    // The joined copy made for the engine is gone again.
    EXPECT_TRUE(fs::is_empty(temp));
  }
}

TEST_F(TSplitFixture, AJoinOfATruncatedPartLeavesNothingBehind) {
  const fs::path set = Zip("set.zip", "-s 64k");
  ASSERT_TRUE(fs::exists(Tmp.Path / "set.z03"));
  Comp.SetZipFileName(set.string());
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  // The second part loses its second half.
  fs::resize_file(Tmp.Path / "set.z02", fs::file_size(Tmp.Path / "set.z02") / 2);
  Comp.SetZipFileName(set.string());
  std::string dest = (Tmp.Path / "joined.zip").string();
  EXPECT_NE(Comp.JoinToSingleFile(dest), 0);
  EXPECT_NE(Comp.ErrMsg(), "");
  EXPECT_TRUE(dest.empty());
  EXPECT_FALSE(fs::exists(Tmp.Path / "joined.zip"));
}

// The error goes back as a number; the message on the way names the part.
TEST_F(TSplitFixture, AMissingPartIsNamed) {
  const fs::path set = Zip("set.zip", "-s 64k");
  fs::remove(Tmp.Path / "set.z02");
  Comp.SetZipFileName(set.string());
  std::string dest = (Tmp.Path / "joined.zip").string();
  EXPECT_EQ(Comp.JoinToSingleFile(dest), zmsInputFileDoesNotExist);
  EXPECT_TRUE(std::any_of(Messages.begin(), Messages.end(), [&](const auto& m) {
    return m.second.find((Tmp.Path / "set.z02").string() + " (part 2 of ") != std::string::npos;
  }));
  EXPECT_FALSE(fs::exists(Tmp.Path / "joined.zip"));
}

TEST_F(TSplitFixture, AJoinIntoAnUnwritablePlaceReportsTheCreationFailure) {
  const fs::path set = Zip("set.zip", "-s 64k");
  Comp.SetZipFileName(set.string());
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  // A folder that is a file cannot hold the destination (whatever the user's rights).
  zmtest::WriteWhole(Tmp.Path / "plainfile", "x");
  std::string dest = (Tmp.Path / "plainfile" / "joined.zip").string();
  EXPECT_EQ(Comp.JoinToSingleFile(dest), 171);
  EXPECT_TRUE(dest.empty());
  EXPECT_EQ(zmtest::Slurp(Tmp.Path / "plainfile"), "x");
}

TEST_F(TSplitFixture, AJoinReplacesAnExistingDestination) {
  const fs::path plain = Zip("plain.zip", "");
  zmtest::WriteWhole(Tmp.Path / "out.zip", "old contents");
  Comp.SetZipFileName(plain.string());
  std::string dest = (Tmp.Path / "out.zip").string();
  ASSERT_EQ(Comp.JoinToSingleFile(dest), 0) << Comp.ErrMsg();
  EXPECT_EQ(dest, (Tmp.Path / "out.zip").string());
  ExpectPeersAccept(dest);
  // A folder as destination gets a new name in that folder, not in TempDir.
  const fs::path temp = Tmp.Path / "temp", outDir = Tmp.Path / "outdir";
  fs::create_directories(temp);
  fs::create_directories(outDir);
  Comp.SetTempDir(temp.string());
  std::string folder = outDir.string() + "/";
  ASSERT_EQ(Comp.JoinToSingleFile(folder), 0) << Comp.ErrMsg();
  EXPECT_EQ(fs::path(folder).parent_path(), outDir);
  EXPECT_EQ(fs::path(folder).extension(), ".zip");
  EXPECT_TRUE(fs::is_empty(temp));
  ExpectPeersAccept(folder);
}

namespace {

// Sets (or, with a null value, removes) an environment variable for a scope.
struct TScopedEnv {
  std::string Name, Old;
  bool Had;
  TScopedEnv(const char* name, const char* value) : Name(name), Had(std::getenv(name) != nullptr) {
    if (Had) Old = std::getenv(name);
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~TScopedEnv() {
    if (Had)
      setenv(Name.c_str(), Old.c_str(), 1);
    else
      unsetenv(Name.c_str());
  }
};

}  // namespace

TEST_F(TSplitFixture, AJoinOntoItsSourceOrAPartOfItIsRefusedAndChangesNothing) {
  const fs::path plain = Zip("plain.zip", "");
  const fs::path dir = Tmp.Path / "set";
  fs::create_directories(dir);
  const fs::path set = Zip((dir / "set.zip").string(), "-s 64k");
  fs::create_hard_link(plain, Tmp.Path / "hard.zip");
  fs::create_symlink(plain, Tmp.Path / "sym.zip");
  fs::create_hard_link(dir / "set.z02", dir / "part.zip");
  // A set whose end record claims more parts than can be named (64,513): reading moves
  // to set.z01, but set.zip is still its last part.
  const fs::path claimed = Tmp.Path / "claimed";
  fs::create_directories(claimed);
  zmtest::WriteWhole(claimed / "set.z01", std::string("PK\x07\x08", 4));
  zmtest::WriteWhole(claimed / "set.zip", "PK\x05\x06" + testzip::Le16(0xFC00) + std::string(16, '\0'));
  const TScopedEnv trash("XDG_DATA_HOME", (Tmp.Path / "xdg").c_str());
  Comp.SetHowToDelete(htdAllowUndo);
  const auto before = Tree(Tmp.Path);
  // The same name, a hard and a symbolic link; a part by its name (set.z01 becomes
  // set.zip, the last part) and through a link.
  for (const auto& [source, target] :
       std::vector<std::pair<fs::path, fs::path>>{{plain, plain},
                                                  {plain, Tmp.Path / "hard.zip"},
                                                  {plain, Tmp.Path / "sym.zip"},
                                                  {set, dir / "set.z01"},
                                                  {set, dir / "part.zip"},
                                                  {claimed / "set.zip", claimed / "set.z01"}}) {
    SCOPED_TRACE(target);
    Comp.SetZipFileName(source.string());
    ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
    std::string dest = target.string();
    EXPECT_EQ(Comp.JoinToSingleFile(dest), 116);
    EXPECT_NE(Comp.ErrMsg().find("Source archive is the same as the destination"), std::string::npos)
        << Comp.ErrMsg();
    EXPECT_TRUE(dest.empty());
    EXPECT_EQ(Tree(Tmp.Path), before);
  }
}

TEST_F(TSplitFixture, ReplacingSendsTheOldFileToTheTrashOnlyOnceTheNewOneIsComplete) {
  const fs::path plain = Zip("plain.zip", "");
  const fs::path out = Tmp.Path / "out" / "old.zip";
  zmtest::WriteWhole(out, "old contents");
  fs::permissions(out, fs::perms::owner_read | fs::perms::owner_write);
  Comp.SetHowToDelete(htdAllowUndo);
  Comp.SetZipFileName(plain.string());
  {
    // No trash can be found: the old file stays and the join fails.
    const TScopedEnv xdg("XDG_DATA_HOME", nullptr), home("HOME", nullptr);
    std::string dest = out.string();
    EXPECT_EQ(Comp.JoinToSingleFile(dest), 261);
    EXPECT_NE(Comp.ErrMsg().find(out.string()), std::string::npos) << Comp.ErrMsg();
    EXPECT_EQ(Tree(out.parent_path()), (std::map<std::string, std::string>{{"old.zip", "old contents"}}));
  }
  const fs::path xdg = Tmp.Path / "xdg";
  const TScopedEnv trash("XDG_DATA_HOME", xdg.c_str());
  std::string dest = out.string();
  ASSERT_EQ(Comp.JoinToSingleFile(dest), 0) << Comp.ErrMsg();
  ExpectPeersAccept(out);
  EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(zmtest::Slurp(xdg / "Trash" / "files" / "old.zip"), "old contents");
  EXPECT_NE(zmtest::Slurp(xdg / "Trash" / "info" / "old.zip.trashinfo").find("Path=" + out.string() + "\n"),
            std::string::npos);
  EXPECT_EQ(Tree(out.parent_path()).size(), 1u);
}

TEST_F(TSplitFixture, AJoinOntoAFullDiskLeavesTheOldFileAndNoTemporary) {
  const fs::path plain = Zip("plain.zip", "");  // about 300 KB of noise
  const TSmallDisk small(Tmp.Path / "disk", "128k");
  if (!small.Mounted)
    GTEST_SKIP() << "a small tmpfs could not be mounted (needs root), so no disk can be filled";
  const fs::path& disk = small.Path;
  zmtest::WriteWhole(disk / "old.zip", "old contents");
  Comp.SetZipFileName(plain.string());
  for (const char* name : {"old.zip", ""}) {
    SCOPED_TRACE(name);
    std::string dest = (disk / name).string();
    EXPECT_NE(Comp.JoinToSingleFile(dest), 0);
    EXPECT_TRUE(dest.empty());
    EXPECT_EQ(Tree(disk), (std::map<std::string, std::string>{{"old.zip", "old contents"}}));
  }
}

// ---- comments ----

namespace {

std::string UnzipComment(const fs::path& archive) {
  const fs::path out = archive.string() + ".z.txt";
  Sh("unzip -z " + Q(archive) + " > " + Q(out));
  return zmtest::Slurp(out);
}

}  // namespace

TEST_F(TSplitFixture, ACommentIsRewrittenInPlaceAndAnEmptyOneTruncates) {
  const fs::path a = Zip("c.zip", "");
  const auto before = fs::file_size(a);
  Comp.SetZipFileName(a.string());
  ASSERT_EQ(Comp.ErrCode(), 0);
  Comp.SetZipComment("a new comment");
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.ZipComment(), "a new comment");
  EXPECT_NE(UnzipComment(a).find("a new comment"), std::string::npos);
  EXPECT_EQ(fs::file_size(a), before + 13);
  ExpectPeersAccept(a);
  // A longer one, then garbage after it, then an empty one that cuts everything after
  // the end record.
  Comp.SetZipComment(std::string(3000, 'c'));
  EXPECT_EQ(fs::file_size(a), before + 3000);
  std::ofstream(a, std::ios::binary | std::ios::app) << "trailing garbage";
  Comp.SetZipFileName(a.string());
  Comp.SetZipComment("");
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  EXPECT_EQ(fs::file_size(a), before);
  EXPECT_EQ(Comp.ZipComment(), "");
  ExpectPeersAccept(a);
  const std::string bytes = zmtest::Slurp(a);
  EXPECT_EQ(zm::GetLE32(reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - 22),
            zm::layout::TEndOfCentral::Signature);
}

// A comment that does not fit on the disk leaves the archive byte for byte as it was,
// and the message names the cause (once the end record already carried the new length
// and the comment was cut short).
TEST_F(TSplitFixture, ACommentThatDoesNotFitLeavesTheArchiveAsItWas) {
  const TSmallDisk small(Tmp.Path / "disk", "64k");
  if (!small.Mounted)
    GTEST_SKIP() << "a small tmpfs could not be mounted (needs root), so no disk can be filled";
  const fs::path& disk = small.Path;
  const fs::path a = disk / "c.zip";
  ASSERT_EQ(Sh("cd " + Q(disk) + " && echo hello > a.txt && zip -q c.zip a.txt && rm a.txt"), 0);
  const std::string before = zmtest::Slurp(a);
  // Fill the disk but for a few blocks.
  Sh("dd if=/dev/zero of=" + Q(disk / "fill") +
     " bs=1k count=" + std::to_string(64 - 8 - (before.size() + 1023) / 1024) + " 2> /dev/null");
  Comp.SetZipFileName(a.string());
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  Comp.SetZipComment(std::string(60000, 'c'));
  EXPECT_NE(Comp.ErrCode(), 0);
  EXPECT_NE(Comp.ErrMsg().find("space"), std::string::npos) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(a), before);
  ExpectPeersAccept(a);
}

TEST_F(TSplitFixture, CommentsOfZip64AndSplitArchives) {
  const fs::path z64 = Zip("z64.zip", "-fz");
  Comp.SetZipFileName(z64.string());
  Comp.SetZipComment("zip64 comment");
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  EXPECT_NE(UnzipComment(z64).find("zip64 comment"), std::string::npos);
  ExpectPeersAccept(z64);

  const fs::path set = Zip("set.zip", "-s 64k");
  Comp.SetZipFileName(set.string());
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  Comp.SetZipComment("split comment");
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  EXPECT_EQ(Comp.ZipComment(), "split comment");
  // Only the last part changed; the joined set carries the new comment.
  std::string joined = (Tmp.Path / "merged.zip").string();
  ASSERT_EQ(Comp.JoinToSingleFile(joined), 0) << Comp.ErrMsg();
  EXPECT_NE(UnzipComment(joined).find("split comment"), std::string::npos);
  ExpectPeersAccept(joined);
}

TEST_F(TSplitFixture, ATooLongCommentLeavesTheArchiveAlone) {
  const fs::path a = Zip("c.zip", "");
  const std::string before = zmtest::Slurp(a);
  Comp.SetZipFileName(a.string());
  Comp.SetZipComment(std::string(70000, 'x'));
  EXPECT_EQ(Comp.ErrCode(), zmsErrorWritingEndOfCentral);
  EXPECT_EQ(Comp.ZipComment(), "");
  EXPECT_EQ(zmtest::Slurp(a), before);
}

TEST_F(TSplitFixture, ACommentHoldingAnEndRecordSignatureIsRefused) {
  const fs::path a = Zip("c.zip", "");
  const std::string before = zmtest::Slurp(a);
  Comp.SetZipFileName(a.string());
  // An end record of an empty archive, as readers searching backwards would take it.
  Comp.SetZipComment("see PK\5\6" + std::string(18, '\0') + " for more");
  EXPECT_EQ(Comp.ErrCode(), zmsErrorWritingEndOfCentral);
  EXPECT_NE(Comp.ErrMsg().find("PK\\5\\6 at byte 4"), std::string::npos) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(a), before);
}

// A central record whose name runs on through the end record: a new comment would
// change that record, so it is refused and the file stays as it was. The same for a
// one-part set (marked as spanned), whose directory is in the file with the end record.
TEST_F(TSplitFixture, ACommentIsRefusedWhenTheDirectoryRunsIntoTheEndRecord) {
  for (const bool marked : {false, true}) {
    SCOPED_TRACE(marked ? "one-part set" : "single archive");
    const std::string marker = marked ? std::string("PK\x07\x08", 4) : std::string();
    std::string zip =
        marker +
        testzip::BuildZip(
            {{.Name = "a.txt", .Data = "hello", .Method = 0, .OffsetOverride = int64_t(marker.size())}});
    const size_t eoc = zip.size() - 22, cd = zm::GetLE32(reinterpret_cast<const uint8_t*>(&zip[eoc + 16]));
    zm::PutLE32(reinterpret_cast<uint8_t*>(&zip[eoc + 16]), uint32_t(cd + marker.size()));
    zm::PutLE16(reinterpret_cast<uint8_t*>(&zip[cd + marker.size() + 28]), uint16_t(5 + 22));
    const fs::path a = Tmp.Path / "runs-on.zip";
    zmtest::WriteWhole(a, zip);
    Comp.SetZipFileName(a.string());
    ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
    Comp.SetZipComment("new");
    EXPECT_EQ(Comp.ErrCode(), zmsErrorWritingEndOfCentral);
    EXPECT_NE(Comp.ErrMsg().find("runs into its end record"), std::string::npos) << Comp.ErrMsg();
    EXPECT_EQ(zmtest::Slurp(a), zip);
  }
  // The end record stands inside the record's fixed part (its last 8 bytes are the end
  // record's first 8: attributes, and a local header at 0), and the record's name of 13
  // bytes runs on to the first byte of the comment length.
  using testzip::Put16;
  using testzip::Put32;
  std::string zip = "PK\3\4";
  for (const uint32_t v : {20, 0, 0, 0x6B2C, 0x5A21}) Put16(zip, v);
  for (const uint32_t v : {testzip::Crc32("hello"), 5u, 5u}) Put32(zip, v);
  Put16(zip, 1);
  Put16(zip, 0);
  zip += "ahello";
  const uint32_t cd = uint32_t(zip.size());
  zip += "PK\1\2";
  for (const uint32_t v : {20, 20, 0, 0, 0x6B2C, 0x5A21}) Put16(zip, v);
  for (const uint32_t v : {testzip::Crc32("hello"), 5u, 5u}) Put32(zip, v);
  for (const uint32_t v : {13, 0, 0, 0, 0}) Put16(zip, v);
  zip += "PK\5\6";
  for (const uint32_t v : {0, 0, 1, 1}) Put16(zip, v);
  Put32(zip, uint32_t(zip.size()) - 4 - 8 - cd);
  Put32(zip, cd);
  Put16(zip, 0);
  const fs::path a = Tmp.Path / "inside.zip";
  zmtest::WriteWhole(a, zip);
  Comp.SetZipFileName(a.string());
  ASSERT_EQ(Comp.ErrCode(), 0) << Comp.ErrMsg();
  ASSERT_EQ(Comp.Count(), 1);
  Comp.SetZipComment("new");
  EXPECT_EQ(Comp.ErrCode(), zmsErrorWritingEndOfCentral);
  EXPECT_NE(Comp.ErrMsg().find("runs into its end record"), std::string::npos) << Comp.ErrMsg();
  EXPECT_EQ(zmtest::Slurp(a), zip);
}

TEST_F(TSplitFixture, ACommentWithoutAnArchiveIsOnlyStored) {
  Comp.SetZipFileName((Tmp.Path / "missing.zip").string());
  Comp.SetZipComment("kept");
  EXPECT_EQ(Comp.ZipComment(), "kept");
  EXPECT_FALSE(fs::exists(Tmp.Path / "missing.zip"));
}
