// The engine taken from the program's own resource, and zmtool end to end against
// peer archivers: its trees must equal unzip's.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <sstream>

#include "TestZip.h"
#include "ZMDllLoadTestKit.h"
#include "ZMUtils.h"
#include "ZMWFuncs.h"
#include "ZipMateTestKit.h"
#include "ZmtoolTestKit.h"

using namespace zmt;

// ---- The resource copy of the engine ----

struct TResourceFixture : ::testing::Test {
  TScopedUi Ui;
  TTempDir Tmp{"res"};
  TZMDLLLoader Loader;
  TBindZipMate Comp;
  void SetUp() override {
    int64_t size;
    if (EngineResourceTooLarge(size))
      GTEST_SKIP() << "the engine resource of this build is " << size << " bytes, beyond the accepted size";
    Comp.SetUnattended(true);
    Comp.SetTempDir(Tmp.Path.string());
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

TEST_F(TZmtoolFixture, ExtractMatchesUnzipForPeerArchives) {
  if (!Have("unzip")) GTEST_SKIP() << "unzip is not installed";
  int compared = 0;
  for (const char* tool : {"zip", "7z", "bsdtar", "python3"}) {
    std::string a = Make(tool);
    if (a.empty()) continue;
    fs::path mine = Tmp.Path / (std::string(tool) + "_mine"),
             theirs = Tmp.Path / (std::string(tool) + "_unzip");
    fs::create_directories(mine);
    TRun r = Run("extract -o -q '" + a + "' '" + mine.string() + "'");
    ASSERT_EQ(r.Status, 0) << tool << ": " << r.Err;
    EXPECT_EQ(r.Out + r.Err, "") << tool;
    TRun u = Shell("unzip -o -q '" + a + "' -d '" + theirs.string() + "'", Tmp.Path);
    ASSERT_EQ(u.Status, 0) << u.Err;
    auto t1 = Tree(mine), t2 = Tree(theirs);
    // Folders that hold files are made by both; empty folder entries are not at issue.
    for (auto* t : {&t1, &t2})
      for (auto it = t->begin(); it != t->end();) it = it->first.back() == '/' ? t->erase(it) : std::next(it);
    EXPECT_EQ(t1, t2) << tool;
    EXPECT_EQ(t1.size(), 5u) << tool;
    ++compared;
  }
  EXPECT_GT(compared, 0);
}

TEST_F(TZmtoolFixture, TestSelectionAndErrors) {
  std::string a = Make("zip");
  if (a.empty()) GTEST_SKIP() << "zip is not installed";
  TRun r = Run("test '" + a + "'");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "5 entries tested OK\n");
  fs::path out = Tmp.Path / "sel";
  fs::create_directories(out);
  r = Run("extract '" + a + "' '" + out.string() + "' 'data/*' -x '*.md'");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "1 entry extracted\n");
  EXPECT_TRUE(fs::exists(out / "data" / "bin.raw"));
  EXPECT_FALSE(fs::exists(out / "readme.txt"));
  // A missing destination is the component's error 129; --force-dirs makes it.
  r = Run("extract '" + a + "' '" + (Tmp.Path / "nope").string() + "'");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("zmtool: Extract directory '", 0), 0u) << r.Err;
  EXPECT_NE(r.Err.find("must exist (error 129)\n"), std::string::npos) << r.Err;
  r = Run("extract --force-dirs --quiet '" + a + "' '" + (Tmp.Path / "made").string() + "'");
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
  r = Run("test '" + stored + "'");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("zmtool: Error CRC-32 mismatch in readme.txt (found ", 0), 0u) << r.Err;
  EXPECT_NE(r.Err.find("\n4 tested OK, 1 failed\n"), std::string::npos) << r.Err;
}

TEST_F(TZmtoolFixture, PasswordsAndUsage) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  std::string a = (Tmp.Path / "enc.zip").string();
  ASSERT_EQ(Shell("zip -q -P s3cret '" + a + "' readme.txt", Src).Status, 0);
  fs::path out = Tmp.Path / "enc";
  fs::create_directories(out);
  TRun r = Run("extract '" + a + "' '" + out.string() + "'");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err.rfind("zmtool: readme.txt: needs a password", 0), 0u) << r.Err;
  r = Run("extract --password s3cret '" + a + "' '" + out.string() + "'");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(out / "readme.txt"), "hello zmtool\n");

  for (const char* bad : {"", "frobnicate x", "extract onlyarchive", "test", "extract a b --freshen --update",
                          "test a --bogus", "extract a b --password"}) {
    r = Run(bad);
    EXPECT_EQ(r.Status, 2) << bad;
    EXPECT_NE(r.Err.find("usage: zmtool"), std::string::npos) << bad;
  }
  // A missing archive.
  r = Run("test none.zip");
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Err, "zmtool: none.zip: Input file does not exist (error 123)\n");
}

TEST_F(TZmtoolFixture, ListAndComment) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  std::string a = (Tmp.Path / "list.zip").string();
  ASSERT_EQ(
      Shell("zip -q -X '" + a + "' readme.txt empty.dat && echo 'archive note' | zip -q -z '" + a + "'", Src)
          .Status,
      0);
  TRun r = Run("list '" + a + "'");
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

  r = Run("list --json '" + a + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.front(), '[');
  EXPECT_NE(
      r.Out.find(
          "{\"name\": \"readme.txt\", \"size\": 13, \"compressed\": 13, \"method\": \"stored\", \"crc\": \"" +
          crc + "\""),
      std::string::npos)
      << r.Out;
  EXPECT_NE(
      r.Out.find(
          "\"comment\": \"\", \"dir\": false, \"encrypted\": false, \"mode\": \"0644\", \"link\": null}"),
      std::string::npos)
      << r.Out;

  r = Run("comment '" + a + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("archive note", 0), 0u) << r.Out;

  r = Run("list '" + (Tmp.Path / "none.zip").string() + "'");
  EXPECT_EQ(r.Status, 3);
  EXPECT_NE(r.Err.find("(error 123)"), std::string::npos) << r.Err;
  r = Run("list a.zip b.zip");
  EXPECT_EQ(r.Status, 2);
}

// Names and comments with control characters cannot forge a listing or drive the
// terminal: the plain listing and every message write them out C-style, the JSON
// listing keeps the exact text.
TEST_F(TZmtoolFixture, ControlCharactersInNamesAreEscaped) {
  const std::string title = "t\x1b]0;owned\x07.txt", forged = "a\rreadme.txt";
  const fs::path a = Tmp.Path / "spoof.zip";
  WriteAll(a, testzip::BuildZip({{title, "x"}, {forged, "y"}, {"\xe2\x80\xaetxt.exe", "z"}}));
  TRun r = Run("list '" + a.string() + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.find_first_of("\x1b\r\x07"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("t\\x1b]0;owned\\x07.txt\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("a\\rreadme.txt\t"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\\u202etxt.exe\t"), std::string::npos) << r.Out;

  r = Run("list --json '" + a.string() + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("\"t\\u001b]0;owned\\u0007.txt\""), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\"a\\rreadme.txt\""), std::string::npos) << r.Out;

  // The engine refuses such names; its messages name them escaped.
  fs::create_directories(Tmp.Path / "out");
  r = Run("extract --verbose '" + a.string() + "' out");
  EXPECT_EQ(r.Err.find_first_of("\x1b\r\x07"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("owned\\x07"), std::string::npos) << r.Err;
}

TEST_F(TZmtoolFixture, ListNamesTheMethodAndTheEncryption) {
  if (!Have("7z")) GTEST_SKIP() << "7z is not installed";
  std::string a = (Tmp.Path / "methods.zip").string();
  ASSERT_EQ(Shell("7z a -tzip -mm=BZip2 '" + a +
                      "' data/deep/more/notes.md > /dev/null && 7z a -tzip -mem=AES192 -ppw '" + a +
                      "' data/bin.raw > /dev/null",
                  Src)
                .Status,
            0);
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
  ASSERT_EQ(Shell("zip -q -X '" + a + "' readme.txt && echo 'old note' | zip -q -z '" + a + "'", Src).Status,
            0);
  const auto withOld = fs::file_size(a);
  TRun r = Run("comment '" + a + "' 'weekly backup'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  r = Shell("unzip -z '" + a + "'", Tmp.Path);
  EXPECT_NE(r.Out.find("weekly backup"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("old note"), std::string::npos) << r.Out;
  r = Run("comment '" + a + "'");
  EXPECT_EQ(r.Out, "weekly backup\n");
  // A comment with an end record's signature would hide the archive: refused.
  const std::string kept = ReadAll(a);
  r = Run("comment '" + a + "' \"$(printf 'see PK\\005\\006 too')\"");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("(error 159)"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(a), kept);
  // An empty text removes the comment: the file ends with the end record.
  r = Run("comment '" + a + "' ''");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string bytes = ReadAll(a);
  ASSERT_GT(bytes.size(), 22u);
  EXPECT_EQ(bytes.substr(bytes.size() - 22, 4), std::string("PK\x05\x06"));
  EXPECT_EQ(bytes.substr(bytes.size() - 2), std::string(2, '\0'));
  EXPECT_LT(bytes.size(), withOld);
  EXPECT_EQ(Shell("unzip -tqq '" + a + "'", Tmp.Path).Status, 0);
  r = Run("comment '" + a + "' one two");
  EXPECT_EQ(r.Status, 2);
  r = Run("comment '" + (Tmp.Path / "none.zip").string() + "' text");
  EXPECT_EQ(r.Status, 3);
  EXPECT_NE(r.Err.find("(error 123)"), std::string::npos) << r.Err;
}

TEST_F(TZmtoolFixture, JoinMakesOneArchiveOfASplitSet) {
  if (!Have("zip") || !Have("unzip")) GTEST_SKIP() << "zip or unzip is not installed";
  const std::string noise = AddNoise();
  const std::string set = SplitSet();
  TRun r = Run("join '" + set + "' '" + (Tmp.Path / "whole.zip").string() + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("joined ", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find(" entries into " + (Tmp.Path / "whole.zip").string() + "\n"), std::string::npos)
      << r.Out;
  EXPECT_EQ(Shell("unzip -tqq whole.zip", Tmp.Path).Status, 0);
  EXPECT_EQ(Shell("zip -T whole.zip", Tmp.Path).Status, 0);
  fs::path out = Tmp.Path / "out";
  ASSERT_EQ(Shell("unzip -qq whole.zip -d out", Tmp.Path).Status, 0);
  EXPECT_EQ(ReadAll(out / "noise.bin"), noise);
  // The set extracts directly too (joined behind the scenes).
  fs::path direct = Tmp.Path / "direct";
  fs::create_directories(direct);
  r = Run("extract -q '" + set + "' '" + direct.string() + "'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Tree(direct), Tree(out));
  // A destination that cannot be created: error 171 and no file.
  WriteAll(Tmp.Path / "afile", "x");
  r = Run("join '" + set + "' '" + (Tmp.Path / "afile" / "j.zip").string() + "'");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("(error 171)\n"), std::string::npos) << r.Err;
  r = Run("join '" + set + "'");
  EXPECT_EQ(r.Status, 2);
  // Onto itself: refused, nothing changed (and nothing in the trash).
  const std::string whole = ReadAll(Tmp.Path / "whole.zip");
  r = Shell("XDG_DATA_HOME='" + (Tmp.Path / "xdg").string() + "' " + Zm("join whole.zip ./whole.zip"),
            Tmp.Path);
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("(error 116)"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "whole.zip"), whole);
  EXPECT_FALSE(fs::exists(Tmp.Path / "xdg"));
  // A missing part is named beside the error.
  fs::remove(fs::path(set).replace_extension(".z01"));
  r = Run("join '" + set + "' '" + (Tmp.Path / "again.zip").string() + "'");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("Input file does not exist: " + fs::path(set).replace_extension(".z01").string() +
                       " (part 1 of "),
            std::string::npos)
      << r.Err;
  EXPECT_FALSE(fs::exists(Tmp.Path / "again.zip"));
}

namespace {

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
             {{Tool(), "extract", set, out.string()}, tmp},
             {{Tool(), "join", set, (dest / "old.zip").string()}, dest}}) {
      SCOPED_TRACE(args[1] + (unnamed ? "" : " without unnamed files"));
      const pid_t pid = Spawn(args, env);
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
      // Ended by the signal, or by zmtool's own exit on it.
      EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) ||
                  (WIFEXITED(status) && WEXITSTATUS(status) >= 128))
          << status;
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
    TRun r = Run("list '" + path + "'");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out.rfind("readme.txt\t13\t13\tstored\t", 0), 0u) << r.Out;
    EXPECT_EQ(r.Err.rfind("zmtool: warning: ", 0), 0u) << r.Err;
    EXPECT_NE(r.Err.find("(warning " + code + ")\n"), std::string::npos) << r.Err;
    // Testing reads the directory as the listing does, and tests what it found.
    r = Run("test '" + path + "'");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "1 entry tested OK\n");
    EXPECT_EQ(r.Err.rfind("zmtool: warning: ", 0), 0u) << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << "one warning: " << r.Err;
  }
  // Not an archive at all still fails.
  WriteAll(Tmp.Path / "junk.zip", std::string(300, 'J'));
  TRun r = Run("list junk.zip");
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Err.rfind("zmtool: junk.zip: ", 0), 0u) << r.Err;
  // A directory that breaks after its first record: the lines for scripts stop there,
  // and the other forms print nothing.
  std::string two = (Tmp.Path / "two.zip").string();
  ASSERT_EQ(Shell("zip -q -X '" + two + "' readme.txt empty.dat", Src).Status, 0);
  std::string bytes = ReadAll(two);
  const size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
  ASSERT_NE(second, std::string::npos);
  bytes[second + 3] = 9;
  WriteAll(two, bytes);
  for (const char* form : {"list ", "list -l ", "list --json ", "test "}) {
    r = Run(std::string(form) + "'" + two + "'");
    EXPECT_EQ(r.Status, 3) << form;
    if (form == std::string("list ")) {
      EXPECT_EQ(r.Out.rfind("readme.txt\t13\t13\tstored\t", 0), 0u) << r.Out;
    }
    EXPECT_EQ(std::count(r.Out.begin(), r.Out.end(), '\n'), form == std::string("list ") ? 1 : 0) << form;
    EXPECT_NE(r.Err.find("(error "), std::string::npos) << r.Err;
  }
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
        if i % 7 == 1: info.external_attr = (0o100644 + i % 3 * 0o111) << 16
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
        mode = e.external_attr >> 16 if e.create_system in (3, 19) else 0
        items.append('\n  {"name": %s, "size": %d, "compressed": %d, "method": "%s", "crc": "%s", "time": "%s", "comment": %s, '
                     '"dir": %s, "encrypted": %s, "mode": %s, "link": null}'
                     % (esc(e.filename), e.file_size, e.compress_size, methods[e.compress_type], crc, when, esc(e.comment.decode()),
                        'true' if e.is_dir() else 'false', 'true' if e.flag_bits & 1 else 'false',
                        '"%04o"' % (mode & 0o7777) if mode else 'null'))
open(sys.argv[2], 'w', encoding='utf-8', newline='').write(''.join(text))
open(sys.argv[3], 'w', encoding='utf-8', newline='').write('[' + ','.join(items) + '\n]\n')
)PY";
  WriteAll(Tmp.Path / "many.py", script);
  TRun made = Shell("python3 many.py many.zip want.txt want.json", Tmp.Path);
  ASSERT_EQ(made.Status, 0) << made.Err;
  TRun r = Run("list many.zip");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_GT(r.Out.size(), 150000u);
  EXPECT_TRUE(r.Out == ReadAll(Tmp.Path / "want.txt")) << r.Out.substr(0, 400);
  r = Run("list --json many.zip");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Out == ReadAll(Tmp.Path / "want.json")) << r.Out.substr(0, 400);
  // An empty archive: an empty listing, and an empty JSON list.
  ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('none.zip', 'w').close()\"", Tmp.Path).Status,
            0);
  r = Run("list none.zip");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "");
  r = Run("list --json none.zip");
  EXPECT_EQ(r.Out, "[]\n");
}
