// Hostile archives run in a sandbox whose whole tree is recorded before and after:
// nothing may change outside the base folder, and inside it only complete, verified
// files of the archive may appear (no partial file, no temporary left behind). Covers
// names that leave the folder, link entries, links planted in the folder, overlapping
// and quoted entries, lying sizes, truncation at every point, a full disk and a cancel
// in the middle of an entry.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif
#include <cstring>

#include "DZTestKit.h"

using namespace dzt;
using testzip::Noise;

namespace {

constexpr int kSkipBadName = 4, kSkipFormat = 7;

// Path -> kind and contents, without following links: "d" folder, "f:<data>" file,
// "l:<target>" link.
using TSnapshot = std::map<std::string, std::string>;

TSnapshot Snapshot(const fs::path& root) {
  TSnapshot s;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec); it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string rel = fs::relative(p, root).generic_string();
    const fs::file_status st = fs::symlink_status(p);
    if (fs::is_symlink(st))
      s[rel] = "l:" + fs::read_symlink(p).string();
    else if (fs::is_directory(st))
      s[rel] = "d";
    else
      s[rel] = "f:" + ReadFile(p);
  }
  return s;
}

// A sandbox: the archive, the base folder "out", and a neighbour folder with a file
// that must never change.
struct TSandbox {
  fs::path Dir, Out;
  TSnapshot Before;
  THarness H;
  int Result = 0;

  explicit TSandbox(const std::string& name) : Dir(FreshDir(name)), Out(Dir / "out") {
    fs::create_directories(Out);
    WriteFile(Dir / "neighbour" / "keep.txt", "keep");
  }
  int Run(const std::string& zip, uint32_t options = DZ_OPT_DIRNAMES) {
    Prepare(zip);
    return Exec(options);
  }
  void Prepare(const std::string& zip) {
    WriteFile(Dir / "t.zip", zip);
    Before = Snapshot(Dir);
  }
  int Exec(uint32_t options) {
    H.Archive = (Dir / "t.zip").string();
    H.Base = Out.string();
    H.Options |= options;
    Result = H.Exec();
    return Result;
  }
  // Everything outside the base folder as before.
  ::testing::AssertionResult OutsideUnchanged() const {
    const TSnapshot after = Snapshot(Dir);
    auto outside = [](const TSnapshot& s) {
      TSnapshot o;
      for (const auto& [k, v] : s)
        if (k != "out" && k.rfind("out/", 0) != 0) o[k] = v;
      return o;
    };
    const TSnapshot a = outside(Before), b = outside(after);
    if (a == b) return ::testing::AssertionSuccess();
    std::string diff;
    for (const auto& [k, v] : b)
      if (!a.count(k) || a.at(k) != v) diff += " +" + k;
    for (const auto& [k, v] : a)
      if (!b.count(k)) diff += " -" + k;
    return ::testing::AssertionFailure() << "changed outside the base folder:" << diff;
  }
  // The base folder holds exactly these files (relative name -> contents) besides
  // the folders leading to them and what was there before.
  ::testing::AssertionResult OutHolds(const std::map<std::string, std::string>& files) const {
    const TSnapshot after = Snapshot(Out);
    std::string bad;
    for (const auto& [k, v] : after) {
      if (Before.count("out/" + k) && Before.at("out/" + k) == v) continue;
      if (v == "d") continue;
      auto it = files.find(k);
      if (it == files.end())
        bad += " unexpected " + k;
      else if (v != "f:" + it->second)
        bad += " wrong contents " + k;
    }
    for (const auto& [k, v] : files)
      if (!after.count(k)) bad += " missing " + k;
    if (bad.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "base folder:" << bad << "\n" << H.AllMessages();
  }
};

// Sets the external attributes (high word: Unix mode) of the n-th central header.
void SetUnixMode(std::string& zip, int n, uint32_t mode) {
  size_t pos = 0;
  for (int i = 0; i <= n; ++i) {
    pos = zip.find("PK\x01\x02", i ? pos + 4 : 0);
    ASSERT_NE(pos, std::string::npos);
  }
  const uint32_t attr = mode << 16;
  std::memcpy(&zip[pos + 38], &attr, 4);
}

}  // namespace

TEST(DZRobust, NamesLeavingTheFolderChangeNothingOutside) {
  TSandbox s("robust_names");
  const std::string zip = BuildZip({
      {.Name = "../neighbour/keep.txt", .Data = "overwritten"},
      {.Name = "../../escape.txt", .Data = "x"},
      {.Name = "a/../../neighbour/new.txt", .Data = "x"},
      {.Name = (s.Dir / "neighbour" / "abs.txt").generic_string(), .Data = "x"},
      {.Name = "..\\neighbour\\win.txt", .Data = "x"},
      {.Name = "C:/drive.txt", .Data = "x"},
      {.Name = "good/ok.txt", .Data = "ok"},
  });
  s.Run(zip);
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_TRUE(s.OutHolds({{"good/ok.txt", "ok"}}));
  int bad = 0;
  for (const TSkip& k : s.H.Skips) bad += k.Type == kSkipBadName;
  EXPECT_EQ(bad, 6) << s.H.AllMessages();
}

TEST(DZRobust, LinkEntriesAreNeverFollowed) {
  // A link entry pointing out of the folder, then entries written "through" it, as
  // archives made with zip -y can hold.
  TSandbox s("robust_linkentry");
  const std::string outside = (s.Dir / "neighbour").string();
  std::string zip = BuildZip({
      {.Name = "ln", .Data = outside, .Method = 0},
      {.Name = "ln/planted.txt", .Data = "x"},
      {.Name = "up", .Data = "../neighbour", .Method = 0},
      {.Name = "up/keep.txt", .Data = "overwritten"},
  });
  SetUnixMode(zip, 0, 0120777);
  SetUnixMode(zip, 2, 0120777);
  s.Run(zip, DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE);
  EXPECT_TRUE(s.OutsideUnchanged());
  // The engine makes no links: a link entry may only become a plain file.
  for (const auto& [k, v] : Snapshot(s.Out)) EXPECT_NE(v[0], 'l') << k;
  EXPECT_FALSE(fs::exists(s.Dir / "neighbour" / "planted.txt"));
  EXPECT_EQ(ReadFile(s.Dir / "neighbour" / "keep.txt"), "keep");
}

TEST(DZRobust, LinksPlantedInTheFolderAreNotFollowed) {
  // Links made before the run (a previous archive, another program) to a folder and
  // to a file outside: writes through them are refused, the targets stay as they were.
  TSandbox s("robust_planted");
  std::error_code ec;
  fs::create_directory_symlink(s.Dir / "neighbour", s.Out / "dirlink", ec);
  if (!ec) fs::create_symlink(s.Dir / "neighbour" / "keep.txt", s.Out / "filelink.txt", ec);
  // Windows grants links only to privileged or developer-mode accounts.
  if (ec) GTEST_SKIP() << "no symbolic link can be made here: " << ec.message();
  const std::string zip = BuildZip({
      {.Name = "dirlink/keep.txt", .Data = "overwritten"},
      {.Name = "dirlink/new.txt", .Data = "new"},
      {.Name = "filelink.txt", .Data = "overwritten"},
      {.Name = "fine.txt", .Data = "fine"},
  });
  s.Run(zip, DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE);
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_EQ(ReadFile(s.Dir / "neighbour" / "keep.txt"), "keep");
  EXPECT_FALSE(fs::exists(s.Dir / "neighbour" / "new.txt"));
  EXPECT_EQ(ReadFile(s.Out / "fine.txt"), "fine");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(s.Out / "dirlink")));
  // The file link may have been replaced by a plain file (the link itself is inside
  // the folder) but its target is untouched.
  const fs::file_status st = fs::symlink_status(s.Out / "filelink.txt");
  if (!fs::is_symlink(st)) {
    EXPECT_EQ(ReadFile(s.Out / "filelink.txt"), "overwritten");
  }
}

TEST(DZRobust, OverlappingAndQuotedEntriesAreRefused) {
  // Entries whose data share bytes with another entry (the kernel of an overlap bomb),
  // and an entry whose local header lies inside another entry's data.
  const std::string kernel(2 << 20, 'K');
  std::vector<TEntrySpec> e;
  e.push_back({.Name = "first", .Data = kernel});
  e.push_back({.Name = "inner", .Data = "quoted", .Method = 0});
  for (int i = 0; i < 30; ++i)
    e.push_back({.Name = "copy" + std::to_string(i), .Data = kernel, .OffsetOverride = 0});
  // The second entry's header is placed 10 bytes into the first entry's data.
  e[1].OffsetOverride = 30 + 5 + 10;
  TSandbox s("robust_overlap");
  s.Run(BuildZip(e));
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_TRUE(s.OutHolds({{"first", kernel}}));
  int refused = 0;
  for (const TSkip& k : s.H.Skips) refused += k.Type == kSkipFormat;
  EXPECT_EQ(refused, 31) << s.H.AllMessages();
  EXPECT_LT(s.H.StepBytes, int64_t(3 * kernel.size())) << "shared data are not decoded again";
}

TEST(DZRobust, LyingSizesProduceNoFile) {
  const std::string data = Noise(100000, 7);
  const std::string runs(300000, 'r');
  TSandbox s("robust_lies");
  s.Run(BuildZip({
      {.Name = "small-claim.bin", .Data = runs, .UncompOverride = 10},
      {.Name = "large-claim.bin", .Data = data, .UncompOverride = 200000},
      {.Name = "stored-short.bin", .Data = data, .Method = 0, .UncompOverride = 99999},
      {.Name = "comp-too-long.bin", .Data = data, .CompOverride = 0x7FFFFFFF},
      {.Name = "comp-too-short.bin", .Data = data, .CompOverride = 100},
      {.Name = "honest.bin", .Data = data},
  }));
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_TRUE(s.OutHolds({{"honest.bin", data}}));
  EXPECT_EQ(s.H.Skips.size(), 5u) << s.H.AllMessages();
}

TEST(DZRobust, TruncationAtAnyPointLeavesNoPartialFile) {
  const std::string a = Noise(40000, 3), b = std::string(60000, 'b') + Noise(5000, 9);
  const std::string zip =
      BuildZip({{.Name = "a.bin", .Data = a}, {.Name = "d/b.bin", .Data = b, .Method = 0}});
  // Cut points: inside each header, inside each entry's data, inside the directory.
  for (size_t cut = 0; cut < zip.size(); cut += zip.size() / 23 + 1) {
    TSandbox s("robust_cut" + std::to_string(cut));
    s.Run(zip.substr(0, cut));
    EXPECT_TRUE(s.OutsideUnchanged()) << "cut at " << cut;
    EXPECT_TRUE(s.OutHolds({})) << "cut at " << cut;
    EXPECT_LT(s.Result, 0) << "cut at " << cut << ": the directory is gone";
  }
  // Data damaged where the directory survives: the broken entry goes, the other stays.
  std::string hole = zip;
  for (size_t i = 30 + 5 + 2000; i < 30 + 5 + 2100; ++i) hole[i] = char(i);
  TSandbox s("robust_hole");
  s.Run(hole);
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_TRUE(s.OutHolds({{"d/b.bin", b}}));
}

TEST(DZRobust, FullDiskKeepsOldFilesAndLeavesNoTemporary) {
#ifdef _WIN32
  GTEST_SKIP() << "a full disk is simulated with a file-size limit (RLIMIT_FSIZE), which Windows lacks";
#else
  // RLIMIT_FSIZE with SIGXFSZ ignored makes write() fail with EFBIG, as a full disk does.
  TSandbox s("robust_full");
  const std::string big = Noise(1 << 20, 11);
  WriteFile(s.Out / "big.bin", "precious");
  const std::string zip = BuildZip({{.Name = "small.txt", .Data = "small"},
                                    {.Name = "big.bin", .Data = big},
                                    {.Name = "sub/big2.bin", .Data = big, .Method = 0}});
  s.Prepare(zip);
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto prev = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = old;
  lim.rlim_cur = 300000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  s.Exec(DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, prev);
  EXPECT_TRUE(s.OutsideUnchanged());
  EXPECT_TRUE(s.OutHolds({{"small.txt", "small"}}));
  EXPECT_EQ(ReadFile(s.Out / "big.bin"), "precious");
  int writeErrors = 0;
  for (const TSkip& k : s.H.Skips) writeErrors += k.Error == 23;
  EXPECT_EQ(writeErrors, 2) << s.H.AllMessages();
#endif
}

TEST(DZRobust, CancelInTheMiddleOfAnEntry) {
  const std::string big = Noise(3 << 20, 5);
  const std::string zip = BuildZip({{.Name = "first.txt", .Data = "first"},
                                    {.Name = "big.bin", .Data = big},
                                    {.Name = "last.txt", .Data = "last"}});
  // Through DZ_Abort from the progress callback, and through a negative answer.
  for (int how = 0; how < 2; ++how) {
    TSandbox s("robust_cancel" + std::to_string(how));
    WriteFile(s.Out / "big.bin", "old");
    int steps = 0;
    bool inBig = false;
    s.H.OnProgress = [&](int action, int64_t size) {
      if (action == DZ_CB_ITEM) inBig = size > 1000;
      if (action == DZ_CB_STEP && inBig && ++steps == 2) {
        if (how == 0)
          TEngine::Main().Abort(s.H.Key);
        else
          return -1;
      }
      return 0;
    };
    s.Run(zip, DZ_OPT_DIRNAMES | DZ_OPT_OVERWRITE);
    EXPECT_LT(s.Result, 0);
    EXPECT_EQ(steps, 2) << "the big entry was cut off in the middle";
    EXPECT_TRUE(s.OutsideUnchanged());
    EXPECT_TRUE(s.OutHolds({{"first.txt", "first"}}));
    EXPECT_EQ(ReadFile(s.Out / "big.bin"), "old");
  }
}

TEST(DZRobust, DirectoryLargerThanTheReadWindowKeepsEveryEntry) {
  // Records with extra fields near their largest size, so that the directory is read
  // in several windows and records start and end at every offset within them; the
  // last record is cut short by the end of the directory.
  std::vector<TEntrySpec> e;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 12; ++i) {
    std::string extra;
    testzip::Put16(extra, 0xCAFE);
    testzip::Put16(extra, 65000u - 977u * unsigned(i));
    extra += std::string(65000 - 977 * i, char('a' + i));
    const std::string name = "f" + std::to_string(i) + ".txt";
    e.push_back({.Name = name, .Data = Noise(100 + i, uint32_t(i)), .Extra = extra});
    files[name] = e.back().Data;
  }
  std::string zip = BuildZip(e);
  TSandbox whole("robust_window");
  whole.Run(zip);
  EXPECT_EQ(whole.Result, 12) << whole.H.AllMessages();
  EXPECT_TRUE(whole.OutHolds(files));
  // The directory's stated size ends 10 bytes into the last record's extra field.
  const size_t last = zip.rfind("PK\x01\x02");
  const size_t end = zip.rfind("PK\x05\x06");
  const size_t keep = 46 + e.back().Name.size() + 10;
  const uint32_t cut = uint32_t(end - last - keep);
  uint32_t size = 0;
  std::memcpy(&size, &zip[end + 12], 4);
  size -= cut;
  std::memcpy(&zip[end + 12], &size, 4);
  zip.erase(last + keep, cut);
  TSandbox cutShort("robust_window_cut");
  EXPECT_LT(cutShort.Run(zip), 0) << cutShort.H.AllMessages();
}

TEST(DZRobust, NamesBeyondOneNameStoreBlockStayIntact) {
  // 1,500 names of about 200 bytes: more than one block of the engine's name store, so
  // that names lie in several blocks, one of them across a block's end.
  std::vector<TEntrySpec> e;
  std::map<std::string, std::string> files;
  for (int i = 0; i < 1500; ++i) {
    const std::string name = "d" + std::to_string(i % 7) + "/" + std::string(190, char('a' + i % 26)) + "_" +
                             std::to_string(i) + ".txt";
    e.push_back({.Name = name, .Data = std::to_string(i), .Method = 0});
    files[name] = e.back().Data;
  }
  TSandbox s("robust_names");
  EXPECT_EQ(s.Run(BuildZip(e)), 1500) << s.H.AllMessages();
  EXPECT_TRUE(s.OutHolds(files));
}
