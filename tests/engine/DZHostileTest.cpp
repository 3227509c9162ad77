// Archives built to harm an extractor: nothing may be written outside the base
// folder, shared or out-of-range data are refused, and lies about sizes and checks
// never produce a file.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <future>
#endif

#include "DZTestKit.h"

using namespace dzt;

namespace {

constexpr int kSkipBadName = 4, kSkipFormat = 7, kSkipGeneral = 8, kSkipSize = 17, kSkipMethod = 5;

struct TRun {
  THarness H;
  int Result = 0;
  fs::path Out;
};

void RunOn(TRun& run, const fs::path& dir, const std::string& zip, uint32_t extra = 0) {
  WriteFile(dir / "t.zip", zip);
  run.Out = dir / "out";
  fs::create_directories(run.Out);
  run.H.Archive = (dir / "t.zip").string();
  run.H.Base = run.Out.string();
  run.H.Options |= DZ_OPT_DIRNAMES | extra;
  run.Result = run.H.Exec();
}

}  // namespace

TEST(DZHostile, NamesThatLeaveTheBaseFolder) {
  const fs::path dir = FreshDir("hostile_names");
  std::vector<TEntrySpec> e = {
      {.Name = "../evil1.txt", .Data = "x"},      {.Name = "a/../../evil2.txt", .Data = "x"},
      {.Name = "/tmp/dz_evil3.txt", .Data = "x"}, {.Name = "C:\\evil4.txt", .Data = "x"},
      {.Name = "..\\evil5.txt", .Data = "x"},     {.Name = "ok/fine.txt", .Data = "fine"},
      {.Name = "ok/./also.txt", .Data = "also"},  {.Name = "bad\x01name.txt", .Data = "x"},
  };
  TRun r;
  RunOn(r, dir, BuildZip(e));
  EXPECT_EQ(r.Result, 2) << r.H.AllMessages();
  int bad = 0;
  for (const TSkip& s : r.H.Skips) bad += s.Type == kSkipBadName && s.Error == 26;
  EXPECT_EQ(bad, 6);
  int msgs = 0;
  for (const TMsg& m : r.H.Messages)
    msgs += DZErrorNumber(m.Code) == 26 && m.Text.find("evil") != std::string::npos;
  EXPECT_EQ(msgs, 5) << "each refusal is reported with its name";
  EXPECT_FALSE(fs::exists(dir / "evil1.txt"));
  EXPECT_FALSE(fs::exists(dir / "evil2.txt"));
  EXPECT_FALSE(fs::exists("/tmp/dz_evil3.txt"));
  EXPECT_FALSE(fs::exists(dir / "evil5.txt"));
  const auto t = Tree(dir);
  for (const auto& [name, data] : t) EXPECT_TRUE(name == "t.zip" || name.rfind("out", 0) == 0) << name;
  EXPECT_EQ(ReadFile(r.Out / "ok" / "fine.txt"), "fine");
  EXPECT_EQ(ReadFile(r.Out / "ok" / "also.txt"), "also");
}

TEST(DZHostile, LinkInsideTheBaseFolderIsNotFollowed) {
  const fs::path dir = FreshDir("hostile_link");
  fs::create_directories(dir / "outside");
  fs::create_directories(dir / "out");
  std::error_code ec;
  fs::create_directory_symlink(dir / "outside", dir / "out" / "link", ec);
  // Windows grants links only to privileged or developer-mode accounts.
  if (ec) GTEST_SKIP() << "no symbolic link can be made here: " << ec.message();
  TRun r;
  RunOn(r, dir, BuildZip({{.Name = "link/escaped.txt", .Data = "x"}}));
  EXPECT_EQ(r.Result, 0);
  EXPECT_FALSE(fs::exists(dir / "outside" / "escaped.txt"));
  EXPECT_FALSE(r.H.Skips.empty());
}

#ifndef _WIN32
TEST(DZHostile, FifosAndDevicesInTheWayAreErrorsNotHangs) {
  using namespace std::chrono_literals;
  const fs::path dir = FreshDir("hostile_fifo");
  const fs::path out = dir / "out", fifo = out / "fifo.txt";
  fs::create_directories(out);
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  fs::create_symlink("fifo.txt", out / "link.txt");
  fs::create_symlink("/dev/null", out / "null.txt");
  const std::string zip = BuildZip({{.Name = "fifo.txt", .Data = "f"},
                                    {.Name = "link.txt", .Data = "l"},
                                    {.Name = "null.txt", .Data = "n"},
                                    {.Name = "plain.txt", .Data = "plain"}});
  for (const uint32_t opts : {0u, uint32_t(DZ_OPT_OVERWRITE)}) {
    SCOPED_TRACE(opts);
    fs::remove(out / "plain.txt");
    TRun r;
    auto run = std::async(std::launch::async, [&] { RunOn(r, dir, zip, opts); });
    if (run.wait_for(20s) != std::future_status::ready) {
      ADD_FAILURE() << "extraction blocks on the FIFO";
      // A writer releases the reader blocked in opening the FIFO.
      while (run.wait_for(100ms) != std::future_status::ready) {
        const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
      }
    }
    EXPECT_EQ(r.Result, 1) << r.H.AllMessages();
    EXPECT_EQ(ReadFile(out / "plain.txt"), "plain");
    const std::string all = r.H.AllMessages();
    const fs::path base = fs::weakly_canonical(out);
    EXPECT_NE(all.find("a FIFO is in the way: " + (base / "fifo.txt").string()), std::string::npos) << all;
    EXPECT_NE(all.find("a FIFO is in the way: " + (base / "link.txt").string()), std::string::npos) << all;
    EXPECT_NE(all.find("a device is in the way: " + (base / "null.txt").string()), std::string::npos) << all;
    EXPECT_TRUE(fs::is_fifo(fs::symlink_status(fifo)));
    EXPECT_TRUE(fs::is_symlink(fs::symlink_status(out / "null.txt")));
  }
}
#endif

TEST(DZHostile, OverlappingEntriesAreRefused) {
  // One deflated block of 1 MB, referenced by 50 directory entries.
  const std::string data(1 << 20, 'A');
  std::vector<TEntrySpec> e;
  for (int i = 0; i < 50; ++i)
    e.push_back({.Name = "f" + std::to_string(i), .Data = data, .OffsetOverride = 0});
  const fs::path dir = FreshDir("hostile_overlap");
  TRun r;
  RunOn(r, dir, BuildZip(e));
  // Only the entry whose data really start there is written.
  EXPECT_EQ(r.Result, 1) << r.H.AllMessages();
  int refused = 0;
  for (const TSkip& s : r.H.Skips) refused += s.Type == kSkipFormat;
  EXPECT_EQ(refused, 49);
  EXPECT_LE(Tree(r.Out).size(), 1u);
}

TEST(DZHostile, DataOutsideTheArchive) {
  const fs::path dir = FreshDir("hostile_range");
  TRun r;
  RunOn(r, dir,
        BuildZip({{.Name = "a.txt", .Data = "hello", .CompOverride = 0x7FFFFFF0},
                  {.Name = "b.txt", .Data = "world", .OffsetOverride = 0x10000000}}));
  EXPECT_EQ(r.Result, 0);
  EXPECT_EQ(r.H.Skips.size(), 2u);
  EXPECT_TRUE(Tree(r.Out).empty());
}

TEST(DZHostile, LyingSizes) {
  const fs::path dir = FreshDir("hostile_sizes");
  std::string big(200000, 'z');
  // Declares 100 bytes but inflates to 200000: stopped at the declared size.
  TRun r;
  RunOn(r, dir,
        BuildZip({{.Name = "bomb.txt", .Data = big, .UncompOverride = 100},
                  {.Name = "short.txt", .Data = "abc", .UncompOverride = 50},
                  {.Name = "stored.txt", .Data = "abc", .Method = 0, .UncompOverride = 5}}));
  EXPECT_EQ(r.Result, 0) << r.H.AllMessages();
  EXPECT_TRUE(Tree(r.Out).empty());
  EXPECT_TRUE(r.H.HasSkip(kSkipSize));
  EXPECT_TRUE(r.H.HasSkip(kSkipFormat));
}

TEST(DZHostile, TruncatedAndDamagedData) {
  const fs::path dir = FreshDir("hostile_trunc");
  std::string data;
  for (int i = 0; i < 50000; ++i) data += char('a' + (i * 7) % 26);
  std::string zip = BuildZip({{.Name = "a.txt", .Data = data}});
  // Cut the archive in the middle of the data: the trailer is gone.
  TRun cut;
  RunOn(cut, dir, zip.substr(0, zip.size() / 2));
  EXPECT_EQ(cut.Result, -10);
  // Damage the deflate stream in place.
  std::string bad = zip;
  for (size_t i = 38; i < 44; ++i) bad[i] = char(0xFF);
  TRun dmg;
  RunOn(dmg, FreshDir("hostile_damaged"), bad);
  EXPECT_EQ(dmg.Result, 0);
  EXPECT_TRUE(Tree(dmg.Out).empty()) << "no partial file";
  EXPECT_FALSE(dmg.H.Skips.empty());
}

TEST(DZHostile, UnsupportedMethodsAreSkipped) {
  const fs::path dir = FreshDir("hostile_method");
  TRun r;
  // Methods no decoder takes, and AES encryption without its extra field.
  RunOn(r, dir,
        BuildZip({{.Name = "w.wv", .Data = "wvpk", .Method = 97},
                  {.Name = "l.lz77", .Data = "xxxxxxxx", .Method = 19},
                  {.Name = "a.aes", .Data = "xxxxxxxxxxxxxxxx", .Method = 99, .Flags = 1},
                  {.Name = "ok.txt", .Data = "ok"}}));
  EXPECT_EQ(r.Result, 1);
  int n = 0;
  for (const TSkip& s : r.H.Skips) n += s.Type == kSkipMethod;
  EXPECT_EQ(n, 3);
  EXPECT_NE(r.H.AllMessages().find("(method 97, WavPack, is not supported)"), std::string::npos);
  EXPECT_NE(r.H.AllMessages().find("(AES encryption without a valid AES extra field)"), std::string::npos);
  EXPECT_EQ(Tree(r.Out).size(), 1u);
}

TEST(DZHostile, CrcMismatchKeepsTheOldFile) {
  const fs::path dir = FreshDir("hostile_crc");
  WriteFile(dir / "out" / "a.txt", "precious");
  TRun r;
  RunOn(r, dir, BuildZip({{.Name = "a.txt", .Data = "new data", .CrcOverride = 0x12345678}}),
        DZ_OPT_OVERWRITE);
  EXPECT_EQ(r.Result, 0);
  EXPECT_EQ(ReadFile(r.Out / "a.txt"), "precious");
  EXPECT_TRUE(r.H.HasSkip(kSkipGeneral));
  EXPECT_EQ(Tree(r.Out).size(), 1u);
}

TEST(DZHostile, FullDiskLeavesTheOldFileAndNoTemporary) {
#ifdef _WIN32
  GTEST_SKIP() << "a full disk is simulated with a file-size limit (RLIMIT_FSIZE), which Windows lacks";
#else
  // A file-size limit makes writes fail as on a full disk.
  const fs::path dir = FreshDir("hostile_full");
  std::string big(1 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 2654435761u) >> 13);
  WriteFile(dir / "out" / "big.bin", "precious");
  WriteFile(dir / "t.zip", BuildZip({{.Name = "big.bin", .Data = big}}));
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Base = (dir / "out").string();
  h.Options |= DZ_OPT_OVERWRITE;
  // The limit and the ignored signal stay in a child process, which leaves through
  // _exit: the test process itself never runs under them, nor checks for leaks after
  // them. The child sends back the result and the first skip's error.
  int link[2];
  ASSERT_EQ(pipe(link), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(link[0]);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim {};
    getrlimit(RLIMIT_FSIZE, &lim);
    lim.rlim_cur = 200000;
    setrlimit(RLIMIT_FSIZE, &lim);
    const int32_t got[2] = {h.Exec(), h.Skips.empty() ? -1 : h.Skips[0].Error};
    const bool sent = write(link[1], got, sizeof got) == ssize_t(sizeof got);
    _exit(sent ? 0 : 1);
  }
  close(link[1]);
  int32_t got[2] = {-2, -2};
  const ssize_t n = read(link[0], got, sizeof got);
  close(link[0]);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(n, ssize_t(sizeof got)) << "the child ended without an answer, status " << status;
  EXPECT_EQ(got[0], 0);
  EXPECT_EQ(ReadFile(dir / "out" / "big.bin"), "precious");
  EXPECT_EQ(Tree(dir / "out").size(), 1u);
  EXPECT_EQ(got[1], 23);  // error writing file
#endif
}

TEST(DZHostile, ClaimsOfHugeDirectories) {
  const fs::path dir = FreshDir("hostile_counts");
  std::string zip = BuildZip({{.Name = "a.txt", .Data = "a"}});
  // The end record claims 65535 entries in a directory of one.
  std::string many = zip;
  const size_t end = many.size() - 22;
  many[end + 8] = many[end + 9] = many[end + 10] = many[end + 11] = char(0xFF);
  TRun r1;
  RunOn(r1, dir, many);
  EXPECT_EQ(r1.Result, -9);
  // A directory that claims to be larger than the archive: only the bytes in front of
  // the end record are read, at the stated offset, where the component lists it too.
  std::string large = zip;
  large[end + 12] = large[end + 13] = char(0xFF);
  large[end + 14] = char(0x7F);
  TRun r2;
  RunOn(r2, FreshDir("hostile_counts2"), large);
  EXPECT_EQ(r2.Result, 1);
  // Multi-part archives are refused as such.
  std::string multi = zip;
  multi[end + 4] = char(2);
  multi[end + 6] = char(2);
  TRun r3;
  RunOn(r3, FreshDir("hostile_counts3"), multi);
  EXPECT_EQ(r3.Result, -14);
}
