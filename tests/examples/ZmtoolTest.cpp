// The engine taken from the program's own resource, and zmtool end to end against
// peer archivers: its trees must equal unzip's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "../TestZip.h"
#include "ZMDllLoadTestKit.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZipMateTestKit.h"
#include "ZmtoolTestKit.h"

namespace fs = std::filesystem;

// ---- The resource copy of the engine ----

struct TResourceFixture : ::testing::Test {
  TScopedUi Ui;
  TTempFolder Tmp{"res"};
  TZMDLLLoader Loader;
  TBindZipMate Comp;
  void SetUp() override {
    int64_t size;
    if (EngineResourceTooLarge(size))
      GTEST_SKIP() << "the engine resource of this build is " << size << " bytes, beyond the accepted size";
    Comp.SetUnattended(true);
    Comp.SetTempDir(Tmp.Str());
  }
  void TearDown() override { Loader.Shutdown(); }
};

TEST_F(TResourceFixture, ResourceOnlyMakesOneCopyAndReusesIt) {
  Comp.SetDLLDirectory("><");
  TZMDLLOpr w(Comp);
  ASSERT_EQ(Loader.Load(&w), 190) << Comp.ErrMsg();
  EXPECT_GE(Loader.ResVersion(), TZMDLLLoader::MinPrivVersion);
  std::string copy = Loader.TempDll();
  ASSERT_FALSE(copy.empty());
#ifdef __linux__
  // In memory, where no folder holds it: nothing can be left behind.
  EXPECT_EQ(copy.rfind("/proc/self/fd/", 0), 0u) << copy;
  EXPECT_TRUE(fs::is_empty(Tmp.Path));
#else
  EXPECT_EQ(fs::path(copy).parent_path(), Tmp.Path);
  EXPECT_EQ(fs::path(copy).extension(), ".dll");
  EXPECT_EQ(fs::path(copy).filename().string().front(), '{');
#endif
  EXPECT_EQ(Loader.TriedPath(), copy);
  Loader.Release(&w);
  EXPECT_FALSE(Loader.Loaded());
  EXPECT_TRUE(fs::exists(copy));  // outlives the unload
  ASSERT_EQ(Loader.Load(&w), 190);
  EXPECT_EQ(Loader.TempDll(), copy);
  Loader.Release(&w);
  Loader.Shutdown();
  EXPECT_FALSE(fs::exists(copy));
}

TEST_F(TResourceFixture, EmptyDirectoryFallsBackQuietlyToTheResource) {
  Comp.SetDLLDirectory("");
  TZMDLLOpr w(Comp);
  ASSERT_EQ(Loader.Load(&w), 190) << Comp.ErrMsg();
  EXPECT_EQ(Comp.ErrCode(), 0);  // the failed system search was not reported
  EXPECT_EQ(Loader.TriedPath(), Loader.TempDll());
  Loader.Release(&w);
}

TEST_F(TResourceFixture, AFolderStillWinsOverTheResource) {
  Comp.SetDLLDirectory(EngineFolder());
  TZMDLLOpr w(Comp);
  ASSERT_EQ(Loader.Load(&w), 190);
  EXPECT_TRUE(Loader.TempDll().empty());
  EXPECT_EQ(Loader.ResVersion(), -99);  // not even looked at
  Loader.Release(&w);
}

// ---- zmtool ----

struct TZmtoolFixture : ::testing::Test {
  TTempFolder Tmp{"zmtool"};
  fs::path Src;
  void SetUp() override {
    int64_t size;
    if (EngineResourceTooLarge(size))
      GTEST_SKIP() << "zmtool's engine resource in this build is " << size << " bytes, beyond the accepted size";
    Src = Tmp.Path / "src";
    WriteAll(Src / "readme.txt", "hello zmtool\n");
    WriteAll(Src / "empty.dat", "");
    std::string bin;
    for (int i = 0; i < 70000; ++i) bin += char((i * 7919) >> 3);
    WriteAll(Src / "data" / "bin.raw", bin);
    WriteAll(Src / "data" / "deep" / "more" / "notes.md", std::string(20000, 'n') + "end");
    WriteAll(Src / "zażółć.txt", "polskie litery\n");
  }
  // Incompressible data in Src (200,000 bytes in noise.bin), which it returns.
  std::string AddNoise() {
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) {
      x = x * 1103515245u + 12345u;
      noise += char(x >> 24);
    }
    WriteAll(Src / "noise.bin", noise);
    return noise;
  }
  // Src split by zip into set/set.z01, set.z02 ... set/set.zip; the last part's name.
  std::string SplitSet() {
    fs::create_directories(Tmp.Path / "set");
    const std::string set = (Tmp.Path / "set" / "set.zip").string();
    EXPECT_EQ(Shell("zip -q -r -s 64k '" + set + "' .", Src).Status, 0);
    EXPECT_TRUE(fs::exists(Tmp.Path / "set" / "set.z02"));
    return set;
  }
  // An archive of Src made by one of the peer tools; empty when the tool is missing.
  std::string Make(const std::string& tool) {
    std::string a = (Tmp.Path / (tool + ".zip")).string();
    std::string cmd;
    if (tool == "zip")
      cmd = "zip -qr '" + a + "' .";
    else if (tool == "7z")
      cmd = "7z a -tzip -bd '" + a + "' . > /dev/null";
    else if (tool == "bsdtar")
      cmd = "bsdtar --format zip -cf '" + a + "' .";
    else if (tool == "python3")
      cmd = "python3 -c \"import zipfile,os\n"
            "z=zipfile.ZipFile('" + a + "','w',zipfile.ZIP_DEFLATED)\n"
            "for r,d,f in os.walk('.'):\n"
            "  for n in f: z.write(os.path.join(r,n))\n"
            "z.close()\"";
    if (!Have(tool)) return std::string();
    TRun r = Shell(cmd, Src);
    EXPECT_EQ(r.Status, 0) << cmd << "\n" << r.Err;
    return a;
  }
};

TEST_F(TZmtoolFixture, ExtractMatchesUnzipForPeerArchives) {
  if (!Have("unzip")) GTEST_SKIP() << "unzip is not installed";
  int compared = 0;
  for (const char* tool : {"zip", "7z", "bsdtar", "python3"}) {
    std::string a = Make(tool);
    if (a.empty()) continue;
    fs::path mine = Tmp.Path / (std::string(tool) + "_mine"), theirs = Tmp.Path / (std::string(tool) + "_unzip");
    fs::create_directories(mine);
    TRun r = Shell("'" + Tool() + "' extract --dirnames --overwrite --quiet '" + a + "' '" + mine.string() + "'",
                   Tmp.Path);
    ASSERT_EQ(r.Status, 0) << tool << ": " << r.Err;
    TRun u = Shell("unzip -o -q '" + a + "' -d '" + theirs.string() + "'", Tmp.Path);
    ASSERT_EQ(u.Status, 0) << u.Err;
    auto t1 = Tree(mine), t2 = Tree(theirs);
    // Folders that hold files are made by both; empty folder entries are not at issue.
    for (auto* t : {&t1, &t2})
      for (auto it = t->begin(); it != t->end();)
        it = it->first.back() == '/' ? t->erase(it) : std::next(it);
    EXPECT_EQ(t1, t2) << tool;
    EXPECT_EQ(t1.size(), 5u) << tool;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

TEST_F(TZmtoolFixture, TestSelectionAndErrors) {
  std::string a = Make("zip");
  if (a.empty()) GTEST_SKIP() << "zip is not installed";
  TRun r = Shell("'" + Tool() + "' test '" + a + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "5 entries tested OK\n");
  fs::path out = Tmp.Path / "sel";
  fs::create_directories(out);
  r = Shell("'" + Tool() + "' extract '" + a + "' '" + out.string() + "' 'data/*' -x '*.md' --dirnames", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "1 entries extracted\n");
  EXPECT_TRUE(fs::exists(out / "data" / "bin.raw"));
  EXPECT_FALSE(fs::exists(out / "readme.txt"));
  // A missing destination is the component's error 129; --force-dirs makes it.
  r = Shell("'" + Tool() + "' extract '" + a + "' '" + (Tmp.Path / "nope").string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 129: ", 0), 0u) << r.Err;
  r = Shell("'" + Tool() + "' extract --force-dirs --quiet '" + a + "' '" + (Tmp.Path / "made").string() + "'",
            Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::exists(Tmp.Path / "made" / "readme.txt"));
  // A damaged entry fails the test run.
  std::string bytes = ReadAll(a);
  std::string stored = (Tmp.Path / "stored.zip").string();
  TRun z = Shell("zip -q0r '" + stored + "' .", Src);
  ASSERT_EQ(z.Status, 0);
  bytes = ReadAll(stored);
  size_t at = bytes.find("hello zmtool");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'H';
  WriteAll(stored, bytes);
  r = Shell("'" + Tool() + "' test '" + stored + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 258: ", 0), 0u) << r.Err;
}

TEST_F(TZmtoolFixture, PasswordsAndUsage) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  std::string a = (Tmp.Path / "enc.zip").string();
  ASSERT_EQ(Shell("zip -q -P s3cret '" + a + "' readme.txt", Src).Status, 0);
  fs::path out = Tmp.Path / "enc";
  fs::create_directories(out);
  TRun r = Shell("'" + Tool() + "' extract '" + a + "' '" + out.string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 22: ", 0), 0u) << r.Err;
  r = Shell("'" + Tool() + "' extract --password s3cret '" + a + "' '" + out.string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(out / "readme.txt"), "hello zmtool\n");

  for (const char* bad : {"", "frobnicate x", "extract onlyarchive", "test", "extract a b --freshen --update",
                          "test a --bogus", "extract a b --password"}) {
    r = Shell("'" + Tool() + "' " + bad, Tmp.Path);
    EXPECT_EQ(r.Status, 2) << bad;
    EXPECT_NE(r.Err.find("usage: zmtool"), std::string::npos) << bad;
  }
  // A missing archive.
  r = Shell("'" + Tool() + "' test '" + (Tmp.Path / "none.zip").string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 123: ", 0), 0u) << r.Err;
}

TEST_F(TZmtoolFixture, ListAndComment) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  std::string a = (Tmp.Path / "list.zip").string();
  ASSERT_EQ(Shell("zip -q -X '" + a + "' readme.txt empty.dat && echo 'archive note' | zip -q -z '" + a + "'", Src).Status, 0);
  TRun r = Shell("'" + Tool() + "' list '" + a + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  std::string crc = Format("%.8X", {Crc32("hello zmtool\n", 13)});
  std::istringstream lines(r.Out);
  std::string first, second, extra;
  std::getline(lines, first);
  std::getline(lines, second);
  EXPECT_FALSE(std::getline(lines, extra));
  EXPECT_EQ(first.rfind("readme.txt\t13\t13\tstored\t" + crc + "\t", 0), 0u) << first;
  // YYYY-MM-DD HH:MM:SS
  std::string when = first.substr(first.rfind('\t') + 1);
  EXPECT_EQ(when.size(), 19u);
  EXPECT_EQ(when[4], '-');
  EXPECT_EQ(when[13], ':');
  EXPECT_EQ(second.rfind("empty.dat\t0\t0\tstored\t00000000\t", 0), 0u) << second;

  r = Shell("'" + Tool() + "' list --json '" + a + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.front(), '[');
  EXPECT_NE(r.Out.find("{\"name\": \"readme.txt\", \"size\": 13, \"compressed\": 13, \"method\": \"stored\", \"crc\": \"" +
                       crc + "\""),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("\"comment\": \"\"}"), std::string::npos);

  r = Shell("'" + Tool() + "' comment '" + a + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("archive note", 0), 0u) << r.Out;

  r = Shell("'" + Tool() + "' list '" + (Tmp.Path / "none.zip").string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 123: ", 0), 0u) << r.Err;
  r = Shell("'" + Tool() + "' list a.zip b.zip", Tmp.Path);
  EXPECT_EQ(r.Status, 2);
}

// Names and comments with control characters cannot forge a listing or drive the
// terminal: the plain listing and every message write them out C-style, the JSON
// listing keeps the exact text.
TEST_F(TZmtoolFixture, ControlCharactersInNamesAreEscaped) {
  const std::string title = "t\x1b]0;owned\x07.txt", forged = "a\rreadme.txt";
  const fs::path a = Tmp.Path / "spoof.zip";
  WriteAll(a, testzip::BuildZip({{title, "x"}, {forged, "y"}, {"\xe2\x80\xaetxt.exe", "z"}}));
  TRun r = Shell("'" + Tool() + "' list '" + a.string() + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.find_first_of("\x1b\r\x07"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("t\\x1b]0;owned\\x07.txt\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("a\\rreadme.txt\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\\u202etxt.exe\t"), std::string::npos) << r.Out;

  r = Shell("'" + Tool() + "' list --json '" + a.string() + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("\"t\\u001b]0;owned\\u0007.txt\""), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"a\\rreadme.txt\""), std::string::npos) << r.Out;

  // The engine refuses such names; its messages name them escaped.
  fs::create_directories(Tmp.Path / "out");
  r = Shell("'" + Tool() + "' extract --verbose '" + a.string() + "' out", Tmp.Path);
  EXPECT_EQ(r.Err.find_first_of("\x1b\r\x07"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("owned\\x07"), std::string::npos) << r.Err;
}

TEST_F(TZmtoolFixture, ListNamesTheMethodAndTheEncryption) {
  if (!Have("7z")) GTEST_SKIP() << "7z is not installed";
  std::string a = (Tmp.Path / "methods.zip").string();
  ASSERT_EQ(Shell("7z a -tzip -mm=BZip2 '" + a + "' data/deep/more/notes.md > /dev/null && 7z a -tzip -mem=AES192 -ppw '" + a +
                  "' data/bin.raw > /dev/null", Src).Status, 0);
  TRun r = Shell("'" + Tool() + "' list '" + a + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("notes.md\t20003\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\tbzip2\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\tAES-192, deflated\t"), std::string::npos) << r.Out;
  r = Shell("'" + Tool() + "' test --password pw '" + a + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
}

TEST_F(TZmtoolFixture, CommentTextRewritesTheArchivesComment) {
  if (!Have("zip") || !Have("unzip")) GTEST_SKIP() << "zip or unzip is not installed";
  std::string a = (Tmp.Path / "note.zip").string();
  ASSERT_EQ(Shell("zip -q -X '" + a + "' readme.txt && echo 'old note' | zip -q -z '" + a + "'", Src).Status, 0);
  const auto withOld = fs::file_size(a);
  TRun r = Shell("'" + Tool() + "' comment '" + a + "' 'weekly backup'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  r = Shell("unzip -z '" + a + "'", Tmp.Path);
  EXPECT_NE(r.Out.find("weekly backup"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("old note"), std::string::npos) << r.Out;
  r = Shell("'" + Tool() + "' comment '" + a + "'", Tmp.Path);
  EXPECT_EQ(r.Out, "weekly backup\n");
  // A comment with an end record's signature would hide the archive: refused.
  const std::string kept = ReadAll(a);
  r = Shell("'" + Tool() + "' comment '" + a + "' \"$(printf 'see PK\\005\\006 too')\"", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 159: ", 0), 0u) << r.Err;
  EXPECT_EQ(ReadAll(a), kept);
  // An empty text removes the comment: the file ends with the end record.
  r = Shell("'" + Tool() + "' comment '" + a + "' ''", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string bytes = ReadAll(a);
  ASSERT_GT(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(bytes.size() - 22, 4), std::string("PK\x05\x06"));
  EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
  EXPECT_LT(bytes.size(), withOld);
  EXPECT_EQ(Shell("unzip -tqq '" + a + "'", Tmp.Path).Status, 0);
  r = Shell("'" + Tool() + "' comment '" + a + "' one two", Tmp.Path);
  EXPECT_EQ(r.Status, 2);
  r = Shell("'" + Tool() + "' comment '" + (Tmp.Path / "none.zip").string() + "' text", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 123: ", 0), 0u) << r.Err;
}

TEST_F(TZmtoolFixture, JoinMakesOneArchiveOfASplitSet) {
  if (!Have("zip") || !Have("unzip")) GTEST_SKIP() << "zip or unzip is not installed";
  const std::string noise = AddNoise();
  const std::string set = SplitSet();
  TRun r = Shell("'" + Tool() + "' join '" + set + "' '" + (Tmp.Path / "whole.zip").string() + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("joined ", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find(" entries into " + (Tmp.Path / "whole.zip").string() + "\n"), std::string::npos) << r.Out;
  EXPECT_EQ(Shell("unzip -tqq whole.zip", Tmp.Path).Status, 0);
  EXPECT_EQ(Shell("zip -T whole.zip", Tmp.Path).Status, 0);
  fs::path out = Tmp.Path / "out";
  ASSERT_EQ(Shell("unzip -qq whole.zip -d out", Tmp.Path).Status, 0);
  EXPECT_EQ(ReadAll(out / "noise.bin"), noise);
  // The set extracts directly too (joined behind the scenes).
  fs::path direct = Tmp.Path / "direct";
  fs::create_directories(direct);
  r = Shell("'" + Tool() + "' extract --dirnames --quiet '" + set + "' '" + direct.string() + "'", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Tree(direct), Tree(out));
  // A destination that cannot be created: error 171 and no file.
  WriteAll(Tmp.Path / "afile", "x");
  r = Shell("'" + Tool() + "' join '" + set + "' '" + (Tmp.Path / "afile" / "j.zip").string() + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 171: ", 0), 0u) << r.Err;
  r = Shell("'" + Tool() + "' join '" + set + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 2);
  // Onto itself: refused, nothing changed (and nothing in the trash).
  const std::string whole = ReadAll(Tmp.Path / "whole.zip");
  r = Shell("XDG_DATA_HOME='" + (Tmp.Path / "xdg").string() + "' '" + Tool() + "' join whole.zip ./whole.zip", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error 116: ", 0), 0u) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "whole.zip"), whole);
  EXPECT_FALSE(fs::exists(Tmp.Path / "xdg"));
}

namespace {

// Started with extra environment settings (NAME=value first, so that they win) and
// without output; the process id.
pid_t StartTool(const std::vector<std::string>& args, const std::vector<std::string>& env) {
  std::vector<std::string> all = env;
  for (char** e = environ; *e; ++e) all.push_back(*e);
  std::vector<char*> envp, argv{const_cast<char*>(ZMTOOL_PATH)};
  for (std::string& e : all) envp.push_back(e.data());
  envp.push_back(nullptr);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t quiet;
  posix_spawn_file_actions_init(&quiet);
  posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, ZMTOOL_PATH, &quiet, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&quiet);
  return pid;
}

// Whether the process holds a file of folder open (named or unnamed).
bool HoldsFileIn(pid_t pid, const fs::path& folder) {
  std::error_code ec;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    const std::string to = fs::read_symlink(fd.path(), ec).string();
    if (!ec && to.rfind(folder.string() + "/", 0) == 0) return true;
  }
  return false;
}

}  // namespace

// The second part of the set is a FIFO: zmtool blocks reading it in the middle of the
// join (into a scratch file for extract, beside the destination for join) until the
// signal comes.
TEST_F(TZmtoolFixture, ASignalInTheMiddleOfAJoinLeavesNoTemporaryAndTheOldFile) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  AddNoise();
  const std::string set = SplitSet();
  const fs::path fifo = Tmp.Path / "set" / "set.z02";
  fs::remove(fifo);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const fs::path tmp = Tmp.Path / "tmp", out = Tmp.Path / "out", dest = Tmp.Path / "dest";
  fs::create_directories(tmp);
  fs::create_directories(out);
  WriteAll(dest / "old.zip", "old contents");
  const std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
  for (const bool unnamed : {true, false}) {
    std::vector<std::string> env{"TMPDIR=" + tmp.string(), "XDG_DATA_HOME=" + (Tmp.Path / "xdg").string()};
    // A sanitizer's runtime wants to come first; the preloaded library may come first.
    if (!unnamed) {
      env.push_back(std::string("LD_PRELOAD=") + ZM_NO_UNNAMED_PATH);
      env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:" + asan);
    }
    for (const auto& [args, where] : std::vector<std::pair<std::vector<std::string>, fs::path>>{
             {{"extract", set, out.string()}, tmp}, {{"join", set, (dest / "old.zip").string()}, dest}}) {
      SCOPED_TRACE(args[0] + (unnamed ? "" : " without unnamed files"));
      const pid_t pid = StartTool(args, env);
      ASSERT_GT(pid, 0);
      // Opening the FIFO for writing succeeds once zmtool has opened it for reading.
      int fd = -1;
      for (int i = 0; i < 6000 && fd < 0; ++i)
        if ((fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) < 0) usleep(10000);
      EXPECT_GE(fd, 0);
      EXPECT_TRUE(HoldsFileIn(pid, where));  // the new file exists by now
      kill(pid, SIGTERM);
      int status = 0;
      waitpid(pid, &status, 0);
      if (fd >= 0) close(fd);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
      EXPECT_TRUE(fs::is_empty(tmp));
      EXPECT_TRUE(fs::is_empty(out));
      EXPECT_EQ(Tree(dest), (std::map<std::string, std::string>{{"old.zip", "old contents"}}));
    }
  }
}

TEST_F(TZmtoolFixture, ListShowsADirectoryLoadedAfterAWarning) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  // Bytes put before an archive without adjusting its offsets: the directory is
  // found where it really is, after warning 20; bytes after it give warning 151.
  std::string a = (Tmp.Path / "plain.zip").string();
  ASSERT_EQ(Shell("zip -q -X '" + a + "' readme.txt", Src).Status, 0);
  std::string body = ReadAll(a);
  std::string before = (Tmp.Path / "before.zip").string();
  std::string after = (Tmp.Path / "after.zip").string();
  WriteAll(before, std::string(100, 'J') + body);
  WriteAll(after, body + std::string(100, 'J'));
  const std::pair<std::string, std::string> cases[] = {{before, "20"}, {after, "151"}};
  for (const auto& [path, code] : cases) {
    TRun r = Shell("'" + Tool() + "' list '" + path + "'", Tmp.Path);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("readme.txt\t13\t13\tstored\t", 0), 0u) << r.Out;
    EXPECT_EQ(r.Err.rfind("warning " + code + ": ", 0), 0u) << r.Err;
  }
  // Not an archive at all still fails.
  WriteAll(Tmp.Path / "junk.zip", std::string(300, 'J'));
  TRun r = Shell("'" + Tool() + "' list junk.zip", Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("error ", 0), 0u) << r.Err;
}

TEST_F(TZmtoolFixture, ListingOfManyEntriesIsExactlyWhatPythonReads) {
  if (!Have("python3")) GTEST_SKIP() << "python3 is not installed";
  // Python writes an archive of thousands of entries (names with quotes and Polish
  // letters, sizes, methods, dates and comments of every kind) and renders the text
  // and JSON listings from its own reading of it; both must match byte for byte. The
  // output is several times larger than zmtool's write block.
  const std::string script = R"PY(
import json, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path, 'w') as z:
    for i in range(2500):
        name = 'dir%02d/entry%05d.txt' % (i % 37, i)
        if i % 500 == 7: name = 'quote"and\u017c\u00f3\u0142w%d.txt' % i
        info = zipfile.ZipInfo(name, date_time=(1980 + i % 128, 1 + i % 12, 1 + i % 28, i % 24, i % 60, i % 60))
        info.compress_type = zipfile.ZIP_DEFLATED if i % 3 else zipfile.ZIP_STORED
        if i % 250 == 3: info.comment = b'say "hi"\\ back\tslash'
        z.writestr(info, (b'%d ' % i) * (i % 50))
methods = {0: 'stored', 8: 'deflated'}
def esc(s):
    out = '"'
    for c in s:
        if c == '"': out += '\\"'
        elif c == '\\': out += '\\\\'
        elif c == '\n': out += '\\n'
        elif c == '\r': out += '\\r'
        elif c == '\t': out += '\\t'
        elif ord(c) < 0x20: out += '\\u%04x' % ord(c)
        else: out += c
    return out + '"'
text, items = [], []
with zipfile.ZipFile(path) as z:
    for e in z.infolist():
        y, mo, d, h, mi, s = e.date_time
        when = '%04d-%02d-%02d %02d:%02d:%02d' % (y, mo, d, h, mi, s)
        crc = '%08X' % e.CRC
        text.append('%s\t%d\t%d\t%s\t%s\t%s\n' % (e.filename, e.file_size, e.compress_size, methods[e.compress_type], crc, when))
        items.append('\n  {"name": %s, "size": %d, "compressed": %d, "method": "%s", "crc": "%s", "time": "%s", "comment": %s}'
                     % (esc(e.filename), e.file_size, e.compress_size, methods[e.compress_type], crc, when, esc(e.comment.decode())))
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(''.join(text))
open(sys.argv[3], 'w', encoding='utf-8', newline='').write('[' + ','.join(items) + '\n]\n')
)PY";
  WriteAll(Tmp.Path / "many.py", script);
  TRun made = Shell("python3 many.py many.zip want.txt want.json", Tmp.Path);
  ASSERT_EQ(made.Status, 0) << made.Err;
  TRun r = Shell("'" + Tool() + "' list many.zip", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_GT(r.Out.size(), 150000u);
  EXPECT_TRUE(r.Out == ReadAll(Tmp.Path / "want.txt")) << r.Out.substr(0, 400);
  r = Shell("'" + Tool() + "' list --json many.zip", Tmp.Path);
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Out == ReadAll(Tmp.Path / "want.json")) << r.Out.substr(0, 400);
  // An empty archive: an empty listing, and an empty JSON list.
  ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('none.zip', 'w').close()\"", Tmp.Path).Status, 0);
  r = Shell("'" + Tool() + "' list none.zip", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  r = Shell("'" + Tool() + "' list --json none.zip", Tmp.Path);
  EXPECT_EQ(r.Out, "[]\n");
}
