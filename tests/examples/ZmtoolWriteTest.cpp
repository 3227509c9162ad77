// zmtool writing archives: every peer accepts what it writes and extracts the same
// files, modes and times; update, freshen and delete change only what they should; a
// write that fails leaves the old archive as it was.
#include <sys/statvfs.h>

#include "ZmtoolTestKit.h"

using namespace zmt;

namespace {

struct ZmtoolWrite : TZmtoolFixture {
  void SetUp() override {
    TZmtoolFixture::SetUp();
    AddNoise();
    fs::create_directories(Src / "empty folder");
    WriteAll(Src / "日本" / "ファイル.txt", std::string(3000, 'j'));
    WriteAll(Src / ".hidden", "dot\n");
    fs::permissions(Src / "readme.txt", fs::perms(0750));
  }
  // A file large enough to be compressed in pieces that join into one stream.
  void AddLarge() {
    std::string text;
    uint32_t x = 7;
    while (text.size() < (9u << 20)) {
      x = x * 1103515245u + 12345u;
      text += "line " + std::to_string(x >> 20) + (x & 0x100 ? " of text\n" : " more words\n");
    }
    WriteAll(Src / "large.txt", text);
  }
  // Extracts archive with zmtool and with unzip; both give the tree and stamps of Src.
  void ExpectRoundTrip(const std::string& archive, const std::string& password = "", bool withUnzip = true) {
    for (const char* how : {"zmtool", "unzip"}) {
      if (!withUnzip && std::string(how) == "unzip") continue;
      const fs::path out = Tmp.Path / (std::string("out-") + how);
      fs::remove_all(out);
      fs::create_directories(out);
      const std::string pw = password.empty() ? "" : " --password " + password;
      const TRun r =
          std::string(how) == "zmtool"
              ? Run("extract -q" + pw + " '" + archive + "' '" + out.string() + "'")
              : Shell("unzip -q" + (password.empty() ? "" : " -P " + password) + " '" + archive + "'", out);
      ASSERT_EQ(r.Status, 0) << how << r.Err;
      EXPECT_EQ(Tree(out / "src"), Tree(Src)) << how;
      EXPECT_EQ(Stamps(out / "src"), Stamps(Src)) << how;
    }
  }
};

TEST_F(ZmtoolWrite, CreatedArchivesPassEveryPeerAndRoundTrip) {
  AddLarge();
  for (const char* level : {"-6", "-0", "-9 --store-suffixes .bin:.raw"}) {
    const std::string archive = (Tmp.Path / "made.zip").string();
    fs::remove(archive);
    const TRun r = Run(std::string("create -r ") + level + " made.zip src");
    ASSERT_EQ(r.Status, 0) << level << r.Err;
    EXPECT_NE(r.Out.find("entries written"), std::string::npos) << r.Out;
    EXPECT_EQ(PeerComplaints(archive), "") << level;
    ExpectRoundTrip(archive);
  }
  // create refuses to replace an archive; the suffixes asked for are stored.
  EXPECT_EQ(Run("create -r made.zip src").Status, 2);
  const TRun l = Shell("unzip -v made.zip", Tmp.Path);
  for (const std::string line : {"src/noise.bin", "src/data/bin.raw"}) {
    const size_t at = l.Out.find(line);
    ASSERT_NE(at, std::string::npos);
    const size_t bol = l.Out.rfind('\n', at);
    EXPECT_NE(l.Out.substr(bol, at - bol).find("Stored"), std::string::npos) << line;
  }
}

TEST_F(ZmtoolWrite, NamesAreStoredBelowTheArchivesRoot) {
  // "." adds the folder's contents without a "./" part, and ".." parts never reach
  // the names, also through patterns.
  ASSERT_EQ(
      Shell(Zm("create -q -r ../dot.zip . '../src/data/../readme.txt' '../src/data/*.raw'"), Src).Status, 0);
  const std::string names = Shell("unzip -Z1 dot.zip", Tmp.Path).Out;
  EXPECT_NE(names.find("\ndata/bin.raw\n"), std::string::npos) << names;
  EXPECT_NE(names.find("\nsrc/readme.txt\n"), std::string::npos) << names;
  EXPECT_NE(names.find("\nsrc/data/bin.raw\n"), std::string::npos) << names;
  EXPECT_EQ(names.find("./"), std::string::npos) << names;
}

TEST_F(ZmtoolWrite, EncryptedArchivesOpenWithThePassword) {
  AddLarge();  // its sizes follow its data
  ASSERT_EQ(Run("create -r --password 's3cret' locked.zip src").Status, 0);
  EXPECT_EQ(PeerComplaints(Tmp.Path / "locked.zip", "s3cret"), "");
  EXPECT_NE(Shell("unzip -tq -P wrong locked.zip", Tmp.Path).Status, 0);
  ExpectRoundTrip((Tmp.Path / "locked.zip").string(), "s3cret");
  // AES-256, which Info-ZIP's unzip and Python cannot read; 7-Zip and bsdtar can.
  ASSERT_EQ(Run("create -r --aes --password 's3cret' aes.zip src").Status, 0);
  EXPECT_NE(Run("list aes.zip").Out.find("AES-256, deflated"), std::string::npos);
  if (Have("7z")) {
    EXPECT_EQ(Shell("7z t -ps3cret aes.zip", Tmp.Path).Status, 0);
    EXPECT_NE(Shell("7z t -pwrong aes.zip", Tmp.Path).Status, 0);
  }
  if (Have("bsdtar")) {
    fs::create_directories(Tmp.Path / "out-bsdtar");
    ASSERT_EQ(Shell("bsdtar --passphrase s3cret -xf aes.zip -C out-bsdtar", Tmp.Path).Status, 0);
    EXPECT_EQ(Tree(Tmp.Path / "out-bsdtar" / "src"), Tree(Src));
  }
  ExpectRoundTrip((Tmp.Path / "aes.zip").string(), "s3cret", false);
}

TEST_F(ZmtoolWrite, UpdateFreshenAndDeleteChangeOnlyWhatTheySay) {
  ASSERT_EQ(Run("create -r a.zip src").Status, 0);
  const auto later = fs::last_write_time(Src / "readme.txt") + std::chrono::seconds(10);
  WriteAll(Src / "readme.txt", "changed\n");
  fs::last_write_time(Src / "readme.txt", later);
  WriteAll(Src / "new.txt", "new file\n");
  auto names = [&] { return Shell("unzip -Z1 a.zip | sort", Tmp.Path).Out; };
  const std::string before = names();

  // freshen replaces the newer file and adds nothing.
  TRun r = Run("freshen -r a.zip src");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(names(), before);
  EXPECT_EQ(Shell("unzip -p a.zip src/readme.txt", Tmp.Path).Out, "changed\n");
  // update adds the new file; nothing else is newer.
  r = Run("update -r a.zip src");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(names().find("src/new.txt"), std::string::npos);
  // Each name stays once (a replaced folder too).
  EXPECT_EQ(Shell("unzip -Z1 a.zip | sort | uniq -d", Tmp.Path).Out, "");
  // delete removes the matching entries and copies the rest as they were.
  r = Run("delete a.zip 'src/data/*' -x '*notes.md'");
  ASSERT_EQ(r.Status, 0) << r.Err;
  const std::string after = names();
  EXPECT_EQ(after.find("src/data/bin.raw"), std::string::npos);
  EXPECT_NE(after.find("src/data/deep/more/notes.md"), std::string::npos);
  EXPECT_EQ(PeerComplaints(Tmp.Path / "a.zip"), "");
  EXPECT_EQ(Run("delete a.zip 'nothing*'").Status, 4);
  EXPECT_EQ(Run("add a.zip no-such-file").Status, 4);
}

TEST_F(ZmtoolWrite, SplitArchivesAreReadWholeAndJoined) {
  ASSERT_EQ(Run("create -r --split 64k s.zip src").Status, 0);
  for (const char* part : {"s.z01", "s.z02", "s.z03", "s.zip"}) {
    ASSERT_TRUE(fs::exists(Tmp.Path / part)) << part;
    EXPECT_LE(fs::file_size(Tmp.Path / part), 65536u) << part;
  }
  EXPECT_EQ(Run("test -q s.zip").Status, 0);
  if (Have("7z")) {
    EXPECT_EQ(Shell("7z t s.zip", Tmp.Path).Status, 0);
  }
  // Info-ZIP's zip -s 0 mangles entries that span parts, of its own sets too; the
  // set joined by zmtool is read by every peer.
  ASSERT_EQ(Run("join s.zip whole.zip").Status, 0);
  EXPECT_EQ(PeerComplaints(Tmp.Path / "whole.zip"), "");
  ExpectRoundTrip((Tmp.Path / "whole.zip").string());
  // A split archive is written as a new one.
  EXPECT_EQ(Run("add -q --split 64k s.zip src").Status, 1);
  EXPECT_EQ(fs::file_size(Tmp.Path / "s.z01"), 65536u);
}

TEST_F(ZmtoolWrite, AFailedWriteLeavesTheOldArchive) {
  // A tmpfs too small for the new archive: the old one stays byte for byte, and no
  // temporary is left beside it.
  const fs::path mnt = Tmp.Path / "mnt";
  const std::string cmd = "cp -r src mnt/ && cd mnt && " + Zm("create -q -r a.zip src") +
                          " && cp a.zip ../before.zip && head -c 1500000 /dev/urandom > src/big.bin && " +
                          Zm("add -q -r -0 a.zip src") +
                          "; echo status=$?; ls -a; cmp a.zip ../before.zip && echo same";
  const TRun r = InTmpfs("size=3m", mnt, cmd, Tmp.Path);
  if (r.Status == 77) GTEST_SKIP() << "no tmpfs can be mounted here";
  EXPECT_NE(r.Out.find("status=1"), std::string::npos) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("same"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find(".tmp"), std::string::npos) << r.Out;
  EXPECT_NE(r.Err.find("is unchanged"), std::string::npos) << r.Err;
}

TEST_F(ZmtoolWrite, AnInterruptLeavesTheOldArchive) {
  ASSERT_EQ(Run("create -q a.zip src/readme.txt").Status, 0);
  const std::string before = ReadAll(Tmp.Path / "a.zip");
  std::string noise(64 << 20, '\0');
  uint64_t x = 99;
  for (char& c : noise) c = char((x = x * 6364136223846793005ULL + 1442695040888963407ULL) >> 56);
  WriteAll(Tmp.Path / "big.bin", noise);
  const auto names = Names(Tmp.Path);
  const pid_t pid =
      Spawn({Tool(), "add", "-q", "-9", (Tmp.Path / "a.zip").string(), (Tmp.Path / "big.bin").string()}, {});
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(ReadAll(Tmp.Path / "a.zip"), before);
  EXPECT_EQ(Names(Tmp.Path), names);
}

TEST_F(ZmtoolWrite, MoreThanFourGibibytesGoToZip64) {
  // A sparse file of 4.5 GiB: the archive needs Zip64 sizes; written and read back
  // where the disk has room for the extracted copy.
  struct statvfs fsinfo {};
  if (statvfs(Tmp.Path.c_str(), &fsinfo) != 0 || uint64_t(fsinfo.f_bavail) * fsinfo.f_frsize < (6ULL << 30))
    GTEST_SKIP() << "less than 6 GiB free at " << Tmp.Path;
  fs::remove_all(Src);
  fs::create_directories(Src);
  const uint64_t size = (9ULL << 29);
  {
    std::ofstream(Src / "sparse.bin").close();
    fs::resize_file(Src / "sparse.bin", size);
    WriteAll(Src / "tail.txt", "after the big one\n");
  }
  ASSERT_EQ(Run("create -q -r -1 big.zip src").Status, 0);
  EXPECT_EQ(Shell("unzip -tq big.zip", Tmp.Path).Status, 0);
  EXPECT_EQ(Shell("7z t big.zip", Tmp.Path).Status, 0);
  const TRun l = Shell(
      "python3 -c \"import zipfile;i=zipfile.ZipFile('big.zip').getinfo('src/sparse.bin');"
      "print(i.file_size)\"",
      Tmp.Path);
  EXPECT_EQ(l.Out, std::to_string(size) + "\n");
  fs::create_directories(Tmp.Path / "out");
  ASSERT_EQ(Run("extract -q big.zip out").Status, 0);
  EXPECT_EQ(fs::file_size(Tmp.Path / "out" / "src" / "sparse.bin"), size);
  EXPECT_EQ(
      Shell("cmp out/src/sparse.bin src/sparse.bin && cmp out/src/tail.txt src/tail.txt", Tmp.Path).Status,
      0);
}

}  // namespace
