// zmtool extract and test end to end: defaults that never lose a file, the exit
// statuses, Unix modes and links, standard input and output, passwords, and names in
// DOS and Windows code pages.
#include <sys/stat.h>

#include "TestZip.h"
#include "ZmtoolTestKit.h"

using namespace zmt;

namespace {

constexpr uint32_t kLink = 0120777u << 16;

mode_t ModeOf(const fs::path& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

size_t Lines(const std::string& s, const std::string& part) {
  size_t n = 0;
  for (size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + 1)) ++n;
  return n;
}

}  // namespace

TEST_F(TZmtoolFixture, ExtractKeepsFoldersAndNeverLosesAFile) {
  WriteAll(Src / "a" / "same.txt", "from a\n");
  WriteAll(Src / "b" / "same.txt", "from b\n");
  const std::string a = Make("zip");
  if (a.empty()) GTEST_SKIP() << "zip is not installed";
  TRun r = Run("extract '" + a + "' out --force-dirs");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "7 entries extracted\n");
  EXPECT_EQ(r.Err, "");  // no progress bar: stderr is no terminal
  EXPECT_EQ(ReadAll(Tmp.Path / "out" / "a" / "same.txt"), "from a\n");
  EXPECT_EQ(ReadAll(Tmp.Path / "out" / "b" / "same.txt"), "from b\n");

  // Without a terminal, existing files are kept, each named, and the status is 1.
  WriteAll(Tmp.Path / "out" / "a" / "same.txt", "mine\n");
  r = Run("extract '" + a + "' out");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(Lines(r.Err, ": exists; skipped"), 7u) << r.Err;
  EXPECT_NE(r.Err.find("zmtool: a/same.txt: exists; skipped"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("\n0 extracted, 7 skipped (exist)\n"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "out" / "a" / "same.txt"), "mine\n");
  // --quiet keeps the names and the closing line.
  EXPECT_EQ(Run("extract -q '" + a + "' out").Err, r.Err);
  r = Run("extract -n '" + a + "' out");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "0 entries extracted, 7 skipped (exist)\n");
  EXPECT_EQ(r.Err, "");
  r = Run("extract -o '" + a + "' out");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "out" / "a" / "same.txt"), "from a\n");

  // Flattened, the second same.txt is a conflict, not a loss.
  r = Run("extract -j '" + a + "' flat --force-dirs");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(Lines(r.Err, ": not extracted: "), 1u) << r.Err;
  EXPECT_NE(r.Err.find(" was written from "), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("\n6 extracted, 1 failed\n"), std::string::npos) << r.Err;
  const std::string kept = ReadAll(Tmp.Path / "flat" / "same.txt");
  EXPECT_TRUE(kept == "from a\n" || kept == "from b\n") << kept;
  EXPECT_FALSE(fs::exists(Tmp.Path / "flat" / "a"));
  // Also with -o: an entry never replaces a file written earlier in the same run.
  r = Run("extract -j -o '" + a + "' flat");
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(ReadAll(Tmp.Path / "flat" / "same.txt"), kept);
}

TEST_F(TZmtoolFixture, ExitStatusesAndSummaries) {
  if (!Have("python3") || !Have("zip")) GTEST_SKIP() << "python3 or zip is not installed";
  ASSERT_EQ(Shell("python3 -c \"import zipfile; zipfile.ZipFile('none.zip', 'w').close()\"", Tmp.Path).Status,
            0);
  fs::create_directories(Tmp.Path / "dirs" / "d1" / "d2");
  ASSERT_EQ(Shell("zip -qr ../dirs.zip d1", Tmp.Path / "dirs").Status, 0);
  const std::string a = Make("zip");
  // Empty archives and archives of folders only: done, as the peers have it.
  TRun r = Run("test none.zip");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "0 entries tested OK\n");
  r = Run("extract none.zip . ");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "0 entries extracted\n");
  r = Run("extract dirs.zip out --force-dirs");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(fs::is_directory(Tmp.Path / "out" / "d1" / "d2"));
  EXPECT_EQ(Run("test dirs.zip").Status, 0);
  // Nothing matched: 4.
  r = Run("extract '" + a + "' out 'nothing*' 'none?'");
  EXPECT_EQ(r.Status, 4);
  EXPECT_EQ(r.Err, "zmtool: nothing matches nothing*, none?\n");
  EXPECT_EQ(Run("test '" + a + "' -x '*'").Status, 4);
  EXPECT_EQ(Run("test none.zip docs").Status, 4);
  // Unreadable: 3 (not a zip, a damaged directory).
  WriteAll(Tmp.Path / "junk.zip", std::string(5000, 'J'));
  r = Run("test junk.zip");
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Err.rfind("zmtool: junk.zip: ", 0), 0u) << r.Err;
  std::string bytes = ReadAll(a);
  const size_t central = bytes.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  bytes.replace(central, 4, "XXXX");
  WriteAll(Tmp.Path / "damaged.zip", bytes);
  EXPECT_EQ(Run("extract damaged.zip out").Status, 3);
  // Help and version go to stdout with status 0; an unknown option names itself.
  r = Run("--help");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out.rfind("usage: zmtool COMMAND", 0), 0u) << r.Out;
  r = Run("extract --help");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("--junk-paths"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("--json"), std::string::npos) << r.Out;
  r = Run("-V");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out.rfind("zmtool 1.9.1\ncomponent: TZipMate 1.9.1.0019\nengine: ", 0), 0u) << r.Out;
  EXPECT_NE(r.Out.find(", version 190, private version 19"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("\nDzEngine190 "), std::string::npos) << r.Out;  // the banner
  r = Run("extract a.zip out --bogus");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err.rfind("zmtool: unknown option '--bogus'\nusage: zmtool ", 0), 0u) << r.Err;
  EXPECT_EQ(Run("extract -jo -x").Status, 2);  // -x needs its pattern
}

TEST_F(TZmtoolFixture, UnixModesAndSafeLinks) {
  fs::create_directories(Src / "tools");
  WriteAll(Src / "tools" / "run.sh", "#!/bin/sh\n");
  WriteAll(Src / "secret.key", "k");
  WriteAll(Src / "setuid", "s");
  ::chmod((Src / "tools" / "run.sh").c_str(), 0755);
  ::chmod((Src / "secret.key").c_str(), 0600);
  ::chmod((Src / "setuid").c_str(), 04755);
  ::chmod((Src / "tools").c_str(), 0750);
  fs::create_symlink("../readme.txt", Src / "tools" / "readme");
  fs::create_symlink("/etc/passwd", Src / "abs");
  fs::create_symlink("../../outside", Src / "tools" / "escape");
  int compared = 0;
  for (const char* tool : {"zip", "bsdtar", "7z"}) {
    const std::string a = Make(tool);
    if (a.empty()) continue;
    ++compared;
    const fs::path out = Tmp.Path / (std::string(tool) + "_out");
    TRun r = Shell("umask 027 && " + Zm("extract '" + a + "' '" + out.string() + "' --force-dirs"), Tmp.Path);
    EXPECT_EQ(r.Status, 0) << tool << ": " << r.Err;
    EXPECT_EQ(ModeOf(out / "tools" / "run.sh"), 0750u) << tool;
    EXPECT_EQ(ModeOf(out / "secret.key"), 0600u) << tool;
    EXPECT_EQ(ModeOf(out / "setuid"), 0750u) << tool;  // never setuid
    EXPECT_EQ(ModeOf(out / "tools"), 0750u) << tool;
    EXPECT_TRUE(fs::is_symlink(out / "tools" / "readme")) << tool;
    EXPECT_EQ(ReadAll(out / "tools" / "readme"), "hello zmtool\n") << tool;
    // Targets outside DEST: files holding the target, with a warning each.
    EXPECT_FALSE(fs::is_symlink(out / "abs")) << tool;
    EXPECT_EQ(ReadAll(out / "abs"), "/etc/passwd") << tool;
    EXPECT_EQ(ReadAll(out / "tools" / "escape"), "../../outside") << tool;
    EXPECT_EQ(Lines(r.Err, "zmtool: warning: "), 2u) << r.Err;
    EXPECT_NE(
        r.Err.find("zmtool: warning: abs: symbolic link written as a file holding its target (its target "
                   "/etc/passwd is absolute)"),
        std::string::npos)
        << r.Err;
    r = Run("extract --no-symlinks '" + a + "' nolinks" + tool + " --force-dirs");
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(ReadAll(Tmp.Path / ("nolinks" + std::string(tool)) / "tools" / "readme"), "../readme.txt");
  }
  if (!compared) GTEST_SKIP() << "none of zip, bsdtar and 7z is installed";

  // No entry is written through a link: not one from the archive (links come last),
  // not one that was there before.
  fs::create_directories(Tmp.Path / "outside");
  fs::create_directories(Tmp.Path / "trap");
  fs::create_symlink(Tmp.Path / "outside", Tmp.Path / "trap" / "evil");
  WriteAll(Tmp.Path / "links.zip",
           testzip::BuildZip({{.Name = "sub/", .Data = "", .Method = 0, .ExtAttr = 040755u << 16},
                              {.Name = "l", .Data = "sub", .Method = 0, .ExtAttr = kLink},
                              {.Name = "l/x.txt", .Data = "through l"},
                              {.Name = "evil/y.txt", .Data = "through evil"},
                              {.Name = "up", .Data = "sub/../..", .Method = 0, .ExtAttr = kLink}}));
  TRun r = Run("extract links.zip trap");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("\n2 extracted, 2 failed\n"), std::string::npos) << r.Err;
  EXPECT_TRUE(fs::is_empty(Tmp.Path / "outside"));
  EXPECT_TRUE(fs::is_empty(Tmp.Path / "trap" / "sub"));
  EXPECT_EQ(fs::read_symlink(Tmp.Path / "trap" / "l"), "sub");
  EXPECT_FALSE(fs::is_symlink(Tmp.Path / "trap" / "up"));  // ".." after a name: not made
}

TEST_F(TZmtoolFixture, StandardInputAndOutput) {
  const std::string a = Make("zip");
  if (a.empty()) GTEST_SKIP() << "zip is not installed";
  const fs::path tmp = Tmp.Path / "tmpdir";
  fs::create_directories(tmp);
  const std::string env = "TMPDIR='" + tmp.string() + "' ";
  const std::string listing = Run("list '" + a + "'").Out;
  // A pipe is copied into a file without a name; a redirected file is read as it is.
  TRun r = Shell("cat '" + a + "' | " + env + Zm("list -"), Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, listing);
  r = Shell("cat '" + a + "' | " + env + Zm("extract -q - piped --force-dirs"), Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  r = Shell(env + Zm("extract -q - redirected --force-dirs") + " < '" + a + "'", Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Tree(Tmp.Path / "piped"), Tree(Tmp.Path / "redirected"));
  EXPECT_EQ(Tree(Tmp.Path / "piped").size(), 8u);  // 5 files, 3 folders
  EXPECT_TRUE(fs::is_empty(tmp));
  r = Shell("printf 'not a zip' | " + Zm("test -"), Tmp.Path);
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Err.rfind("zmtool: standard input: ", 0), 0u) << r.Err;
  EXPECT_EQ(Run("comment - text").Status, 2);

  // -p: the contents of the selected entries in their order, and nothing else.
  std::string want;
  for (const auto& name : {"data/bin.raw", "data/deep/more/notes.md"}) want += ReadAll(Src / name);
  const std::string order = Run("list '" + a + "'").Out;
  if (order.find("data/deep/more/notes.md") < order.find("data/bin.raw"))
    want = ReadAll(Src / "data/deep/more/notes.md") + ReadAll(Src / "data/bin.raw");
  r = Run("extract -p '" + a + "' 'data/*' -x '*.txt'");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Out == want) << r.Out.size() << " bytes, not " << want.size();
  EXPECT_EQ(r.Err, "");
  r = Shell("cat '" + a + "' | " + Zm("extract -p - readme.txt"), Tmp.Path);
  EXPECT_EQ(r.Out, "hello zmtool\n");
  EXPECT_EQ(Run("extract -p '" + a + "' missing").Status, 4);
  EXPECT_EQ(Run("extract -p -o '" + a + "'").Status, 2);
}

TEST_F(TZmtoolFixture, PasswordSources) {
  if (!Have("zip")) GTEST_SKIP() << "zip is not installed";
  ASSERT_EQ(Shell("zip -q -P s3cret ../enc.zip readme.txt empty.dat", Src).Status, 0);
  WriteAll(Tmp.Path / "pw.txt", "s3cret\nsecond line\n");
  TRun r = Run("extract --password-file pw.txt enc.zip file --force-dirs");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "file" / "readme.txt"), "hello zmtool\n");
  r = Shell("ZMTOOL_PASSWORD=s3cret " + Zm("test enc.zip"), Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  r = Run("test --password wrong enc.zip");
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("zmtool: readme.txt: wrong password\n"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("\n0 tested OK, 2 failed\n"), std::string::npos) << r.Err;
  r = Run("test --password-file missing.txt enc.zip");
  EXPECT_EQ(r.Status, 2);
  EXPECT_EQ(r.Err.rfind("zmtool: the password file missing.txt cannot be read\n", 0), 0u) << r.Err;
}

// "zażółć.txt" as Polish DOS (code page 852) and Windows (1250) programs store it.
TEST_F(TZmtoolFixture, NamesInDosAndWindowsCodePages) {
  const std::string want = "za\xc5\xbc\xc3\xb3\xc5\x82\xc4\x87.txt";
  WriteAll(Tmp.Path / "dos.zip",
           testzip::BuildZip({{.Name = "za\xbe\xa2\x88\x86.txt", .Data = "dos", .MadeBy = 0x0014}}));
  WriteAll(Tmp.Path / "win.zip",
           testzip::BuildZip({{.Name = "za\xbf\xf3\xb3\xe6.txt", .Data = "win", .MadeBy = 0x0A14}}));
  const std::pair<std::string, std::string> cases[] = {{"--codepage 852 dos.zip", "dos"},
                                                       {"--encoding oem --codepage 852 dos.zip", "dos"},
                                                       {"--encoding ansi --codepage 1250 win.zip", "win"}};
  for (const auto& [args, data] : cases) {
    TRun r = Run("list " + args);
    EXPECT_EQ(r.Out.rfind(want + "\t", 0), 0u) << args << ": " << r.Out;
    const fs::path out = Tmp.Path / ("out_" + std::to_string(&args - &cases[0].first));
    r = Run("extract " + args + " '" + out.string() + "' --force-dirs");
    EXPECT_EQ(r.Status, 0) << args << ": " << r.Err;
    EXPECT_EQ(ReadAll(out / want), data) << args;
  }
  // Without options, the user's language chooses the OEM code page, for the listing
  // and the extraction alike.
  TRun r = Shell("LC_ALL=pl_PL.UTF-8 " + Zm("list dos.zip"), Tmp.Path);
  EXPECT_EQ(r.Out.rfind(want + "\t", 0), 0u) << r.Out;
  r = Shell("LC_ALL=pl_PL.UTF-8 " + Zm("extract dos.zip pl --force-dirs"), Tmp.Path);
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(ReadAll(Tmp.Path / "pl" / want), "dos");
  EXPECT_EQ(Run("list --codepage 12x dos.zip").Status, 2);
}
