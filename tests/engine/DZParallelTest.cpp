// Extraction and testing while decoding threads decode ahead and write files: callbacks
// stay on the calling thread and in entry order, entries that are skipped, renamed,
// replaced, damaged or cancelled get exactly their own outcome, and no temporary file or
// open handle is left behind.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <thread>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "DZTestKit.h"
#include "PlatCpu.h"

using namespace dzt;

namespace {

std::string Text(size_t n, unsigned seed) {
  static const char* words[] = {"rate ", "table ", "labour ", "index\n", "quarter ", "unit "};
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) s += words[rng() % 6];
  s.resize(n);
  return s;
}

// count entries named prefix0.txt, prefix1.txt ..., each then filled by fill(i, entry).
template <class F>
std::vector<TEntrySpec> NumberedEntries(const std::string& prefix, int count, F fill) {
  std::vector<TEntrySpec> entries(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    entries[size_t(i)].Name = prefix + std::to_string(i) + ".txt";
    fill(i, entries[size_t(i)]);
  }
  return entries;
}

// count numbered entries of size bytes of text each (seed + i).
std::vector<TEntrySpec> TextEntries(const std::string& prefix, int count, size_t size, unsigned seed) {
  return NumberedEntries(prefix, count,
                         [&](int i, TEntrySpec& e) { e.Data = Text(size, seed + unsigned(i)); });
}

// Files below root whose names mark them as the engine's temporary files.
std::vector<std::string> Leftovers(const fs::path& root) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string n = e.path().filename().string();
    if (n.rfind(".dz", 0) == 0 && n.size() > 4 && n.substr(n.size() - 4) == ".tmp")
      found.push_back(Utf8Of(e.path()));
  }
  return found;
}

// Handles this process has open, where the system tells (-1 elsewhere).
long OpenHandles() {
  std::error_code ec;
  fs::directory_iterator it("/proc/self/fd", ec);
  if (ec) return -1;
  return long(std::distance(it, fs::directory_iterator()));
}

// Where the compressed data of entry i start in an archive built by BuildZip.
size_t DataStart(const std::string& zip, uint64_t localOffset) {
  const auto* p = reinterpret_cast<const uint8_t*>(zip.data()) + localOffset;
  return size_t(localOffset) + 30 + (p[26] | p[27] << 8) + (p[28] | p[29] << 8);
}

// Threads of this process, where the system tells (-1 elsewhere).
long Threads() {
#ifdef __linux__
  std::error_code ec;
  fs::directory_iterator it("/proc/self/task", ec);
  if (ec) return -1;
  return long(std::distance(it, fs::directory_iterator()));
#else
  return -1;
#endif
}

// Decoding threads the engine runs on this machine while many entries decode.
long DecodingThreads() {
  const unsigned n = plat::UsableProcessors();
  return n > 1 ? long(std::min(n, 8u)) : 0;
}

// The process's threads before a run and the most seen during it, counted in each
// progress callback before the handler answers.
struct TThreadPeak {
  long Before = Threads();
  long Most = Before;
  // A progress handler that counts, then answers as handler (kept by reference) does.
  template <class F>
  std::function<int(int, int64_t)> Around(F& handler) {
    return [this, &handler](int action, int64_t size) {
      Most = std::max(Most, Threads());
      return handler(action, size);
    };
  }
  // Where threads can be counted: the run added as many as the engine decodes with.
  void ExpectDecodingThreads() const {
    if (Before > 0) {
      EXPECT_EQ(Most - Before, DecodingThreads());
    }
  }
};

// Follows the progress callbacks: every item ends before the next begins, and its
// steps add up to its size.
struct TItemCheck {
  std::vector<std::string> Problems;
  std::set<std::thread::id> Threads;
  bool Open = false;
  int64_t Size = 0, Steps = 0;
  int Items = 0;

  int operator()(int action, int64_t size) {
    Threads.insert(std::this_thread::get_id());
    if (action == DZ_CB_ITEM && size >= 0) {
      if (Open) Problems.push_back("item " + std::to_string(Items) + " began inside another");
      Open = true;
      Size = size;
      Steps = 0;
      ++Items;
    } else if (action == DZ_CB_ITEM) {
      if (!Open) Problems.push_back("an item ended twice");
      Open = false;
    } else if (action == DZ_CB_STEP) {
      if (!Open) Problems.push_back("step outside an item");
      Steps += size;
      if (Steps > Size) Problems.push_back("item " + std::to_string(Items) + " got more steps than its size");
    }
    return 0;
  }
};

}  // namespace

TEST(DZDecodeAhead, CallbacksInEntryOrderOnTheCallingThread) {
  const fs::path dir = FreshDir("ahead_order");
  std::vector<TEntrySpec> entries;
  std::map<std::string, std::string> expected;
  // Many small entries, with larger ones among them that fill several slots, stored
  // and deflated, folders, and an encrypted entry decoded on the calling thread.
  for (int i = 0; i < 300; ++i) {
    const std::string folder = "d" + std::to_string(i / 40);
    if (i % 40 == 0) {
      entries.push_back({.Name = folder + "/", .Data = "", .Method = 0});
      expected[folder] = "/";
    }
    TEntrySpec e;
    e.Name = folder + "/f" + std::to_string(i) + ".txt";
    if (i % 50 == 7)
      e.Data = Text(1500000 + size_t(i) * 37, unsigned(i));
    else if (i % 50 == 21)
      e.Data = testzip::Noise(700000, unsigned(i));
    else
      e.Data = Text(size_t(i * 13 % 3000), unsigned(i));
    e.Method = (i % 3 == 0) ? 0 : 8;
    if (i == 150) e.Password = "secret";
    expected[e.Name] = e.Data;
    entries.push_back(e);
  }
  WriteFile(dir / "t.zip", BuildZip(entries));
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Base = (dir / "out").string();
  h.Password = "secret";
  fs::create_directories(h.Base);
  h.Options |= DZ_OPT_DIRNAMES;
  TItemCheck check;
  std::set<std::thread::id> nameThreads;
  h.OnProgress = [&](int action, int64_t size) { return check(action, size); };
  h.OnExtName = [&](std::string&, const std::string&) {
    nameThreads.insert(std::this_thread::get_id());
    return 0;
  };
  EXPECT_EQ(h.Exec(), 300) << h.AllMessages();
  EXPECT_EQ(Tree(dir / "out"), expected);
  EXPECT_TRUE(check.Problems.empty()) << check.Problems.front();
  EXPECT_EQ(check.Items, 308);  // files and folder entries
  EXPECT_EQ(check.Threads, std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(nameThreads, std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(h.PasswordAsks, 0);
  EXPECT_TRUE(Leftovers(dir / "out").empty());
}

TEST(DZDecodeAhead, SkippedAndRenamedEntriesKeepTheirOwnData) {
  const fs::path dir = FreshDir("ahead_skip");
  const std::string big1 = Text(3000000, 1), big2 = testzip::Noise(900000, 2), big3 = Text(2500000, 3);
  const std::string zip = BuildZip({{.Name = "a/keep.txt", .Data = big1},
                                    {.Name = "../escape.txt", .Data = "no"},
                                    {.Name = "a/small.txt", .Data = "small"},
                                    {.Name = "a/keep2.bin", .Data = big2, .Method = 0},
                                    {.Name = "a/moved.txt", .Data = big3},
                                    {.Name = "a/last.txt", .Data = "last"}});
  WriteFile(dir / "t.zip", zip);
  const fs::path out = dir / "out";
  fs::create_directories(out / "a");
  WriteFile(out / "a" / "keep.txt", "old one");
  WriteFile(out / "a" / "keep2.bin", "old two");
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Base = out.string();
  h.Options |= DZ_OPT_DIRNAMES;
  const long handles = OpenHandles();
  std::vector<std::string> asked;
  h.OnOverwrite = [&](const std::string& name, int32_t, int32_t, int32_t) {
    asked.push_back(fs::path(name).filename().string());
    return 2;  // keep the existing file
  };
  h.OnExtName = [](std::string& name, const std::string&) {
    if (name.find("moved") == std::string::npos) return 0;
    name = "b" + std::string(1, fs::path::preferred_separator) + "moved.txt";
    return 1;
  };
  EXPECT_EQ(h.Exec(), 3) << h.AllMessages();
  EXPECT_EQ(OpenHandles(), handles);  // the files written for skipped entries are gone
  EXPECT_EQ(asked, (std::vector<std::string>{"keep.txt", "keep2.bin"}));
  EXPECT_EQ(Tree(out), (std::map<std::string, std::string>{{"a", "/"},
                                                           {"a/keep.txt", "old one"},
                                                           {"a/keep2.bin", "old two"},
                                                           {"a/small.txt", "small"},
                                                           {"a/last.txt", "last"},
                                                           {"b", "/"},
                                                           {"b/moved.txt", big3}}));
  ASSERT_EQ(h.Skips.size(), 3u);
  EXPECT_EQ(h.Skips[0].Name, "a/keep.txt");
  EXPECT_EQ(h.Skips[1].Name, "../escape.txt");
  EXPECT_EQ(h.Skips[2].Name, "a/keep2.bin");
}

TEST(DZDecodeAhead, DamagedEntriesAreReportedByTheirOwnName) {
  const fs::path dir = FreshDir("ahead_damage");
  std::vector<TEntrySpec> entries;
  for (int i = 0; i < 12; ++i)
    entries.push_back(
        {.Name = "e" + std::to_string(i) + ".txt", .Data = Text(size_t(200000 + i * 1000), unsigned(i))});
  entries[3].CrcOverride = 0x12345678;
  entries[6].UncompOverride = 1000;    // the data run on past the stated size
  entries[8].UncompOverride = 900000;  // the data end before it
  std::vector<uint64_t> offsets;
  std::string zip = BuildZip(entries, &offsets);
  zip[DataStart(zip, offsets[10])] = char(0x07);  // a final block of the reserved type
  WriteFile(dir / "t.zip", zip);
  THarness h;
  h.SetUpExtract((dir / "t.zip").string(), dir / "out");
  std::vector<std::string> crcAsked;
  h.OnCrc = [&](const std::string& name, uint32_t, uint32_t expected) {
    crcAsked.push_back(name);
    EXPECT_EQ(expected, 0x12345678u);
    return 3;  // drop the file
  };
  EXPECT_EQ(h.Exec(), 8);
  EXPECT_EQ(crcAsked, std::vector<std::string>{"e3.txt"});
  EXPECT_EQ(h.SkipTypes(),
            (std::map<std::string, int>{{"e3.txt", 8}, {"e6.txt", 17}, {"e8.txt", 17}, {"e10.txt", 7}}));
  const auto tree = Tree(dir / "out");
  EXPECT_EQ(tree.size(), 8u);
  for (int i : {0, 1, 2, 4, 5, 7, 9, 11})
    EXPECT_EQ(tree.at("e" + std::to_string(i) + ".txt"), entries[size_t(i)].Data) << i;
  EXPECT_TRUE(Leftovers(dir / "out").empty());
}

TEST(DZDecodeAhead, CancelBetweenAndInsideEntriesLeavesNoPartialFile) {
  const fs::path dir = FreshDir("ahead_cancel");
  const std::vector<TEntrySpec> entries = TextEntries("big", 6, 4000000, 10);
  WriteFile(dir / "t.zip", BuildZip(entries));
  const long handles = OpenHandles();

  // Inside: DZ_Abort during the steps of the third entry.
  {
    THarness h;
    h.SetUpExtract((dir / "t.zip").string(), dir / "in");
    h.OnProgress = TAbortAt{h, 3, 3};
    EXPECT_LT(h.Exec(), 0);
    const auto tree = Tree(dir / "in");
    EXPECT_EQ(tree, (std::map<std::string, std::string>{{"big0.txt", entries[0].Data},
                                                        {"big1.txt", entries[1].Data}}));
  }
  // Between: the end of the second item answers stop.
  {
    THarness h;
    h.SetUpExtract((dir / "t.zip").string(), dir / "between");
    int ended = 0;
    h.OnProgress = [&](int action, int64_t size) {
      return action == DZ_CB_ITEM && size == -1 && ++ended == 2 ? 1 : 0;
    };
    EXPECT_LT(h.Exec(), 0);
    EXPECT_EQ(Tree(dir / "between").size(), 2u);
  }
  // A stop from another thread while the first entry is written.
  {
    THarness h;
    h.SetUpExtract((dir / "t.zip").string(), dir / "other");
    h.OnProgress = [&](int action, int64_t) {
      if (action == DZ_CB_STEP) std::thread([&] { TEngine::Main().Abort(h.Key); }).join();
      return 0;
    };
    EXPECT_LT(h.Exec(), 0);
    EXPECT_TRUE(Tree(dir / "other").empty());
  }
  EXPECT_TRUE(Leftovers(dir).empty());
  EXPECT_EQ(OpenHandles(), handles);
}

TEST(DZDecodeAhead, ReplacedFilesGetNewDataAndTheEntryTime) {
  const fs::path dir = FreshDir("ahead_replace");
  // Small and large entries, stored and deflated; the encrypted one is written by the
  // calling thread alone, and its time is the one every other file must get.
  const std::vector<TEntrySpec> entries = NumberedEntries("r", 40, [](int i, TEntrySpec& e) {
    e.Data = i % 10 == 3 ? Text(2000000 + size_t(i), unsigned(i)) : Text(size_t(i * 97 % 5000), unsigned(i));
    e.Method = i % 4 == 0 ? 0 : 8;
    e.DosTime = 0x5A2B6000;
    if (i == 20) e.Password = "secret";
  });
  WriteFile(dir / "t.zip", BuildZip(entries));
  const fs::path out = dir / "out";
  fs::create_directories(out);
  // Half of the targets exist, one of them as a link that must be replaced, not followed.
  for (int i = 0; i < 40; i += 2) WriteFile(out / entries[size_t(i)].Name, "previous");
  WriteFile(dir / "outside.txt", "outside");
  std::error_code ec;
  fs::remove(out / "r6.txt");
  fs::create_symlink(dir / "outside.txt", out / "r6.txt", ec);
  if (ec) WriteFile(out / "r6.txt", "previous");  // no links here
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Base = out.string();
  h.Password = "secret";
  h.Options |= DZ_OPT_OVERWRITE;
  int asked = 0;
  h.OnOverwrite = [&](const std::string&, int32_t, int32_t, int32_t) {
    ++asked;
    return 1;
  };
  EXPECT_EQ(h.Exec(), 40) << h.AllMessages();
  EXPECT_EQ(asked, 20);
  std::map<std::string, std::string> expected;
  for (const TEntrySpec& e : entries) expected[e.Name] = e.Data;
  EXPECT_EQ(Tree(out), expected);
  EXPECT_EQ(ReadFile(dir / "outside.txt"), "outside");
  const auto stamp = fs::last_write_time(out / "r20.txt");
  for (const TEntrySpec& e : entries) EXPECT_EQ(fs::last_write_time(out / e.Name), stamp) << e.Name;
  EXPECT_TRUE(Leftovers(out).empty());
}

#ifndef _WIN32
// The files are made on the base folder's file system; a target folder on another one
// (a mount below the base) gets a copy. /dev and /dev/shm are two such file systems
// where this process may write there (as the superuser).
TEST(DZDecodeAhead, TargetOnAnotherFileSystemGetsACopy) {
  struct stat dev {
  }, shm{};
  if (access("/dev", W_OK) != 0 || stat("/dev", &dev) != 0 || stat("/dev/shm", &shm) != 0 ||
      dev.st_dev == shm.st_dev)
    GTEST_SKIP() << "no writable base folder with another file system below it";
  const fs::path dir = FreshDir("ahead_xdev");
  const std::string sub = "zm-xdev-" + std::to_string(getpid());
  const std::string big = Text(1500000, 5);
  WriteFile(dir / "t.zip", BuildZip({{.Name = "shm/" + sub + "/big.txt", .Data = big},
                                     {.Name = "shm/" + sub + "/small.txt", .Data = "small"}}));
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Base = "/dev";
  h.Options |= DZ_OPT_DIRNAMES;
  const int r = h.Exec();
  const fs::path made = fs::path("/dev/shm") / sub;
  const auto tree = Tree(made);
  std::error_code ec;
  fs::remove_all(made, ec);
  EXPECT_EQ(r, 2) << h.AllMessages();
  EXPECT_EQ(tree, (std::map<std::string, std::string>{{"big.txt", big}, {"small.txt", "small"}}));
}

TEST(DZDecodeAhead, WriteFailureSkipsOnlyItsEntry) {
  const fs::path dir = FreshDir("ahead_write");
  const std::string big = Text(3 << 20, 7);
  WriteFile(dir / "t.zip", BuildZip({{.Name = "a.txt", .Data = "first"},
                                     {.Name = "big.txt", .Data = big},
                                     {.Name = "b.txt", .Data = Text(300000, 8)},
                                     {.Name = "c.txt", .Data = "last"}}));
  THarness h;
  h.SetUpExtract((dir / "t.zip").string(), dir / "out");
  // Files of this process may not grow past 1 MiB while the engine runs.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  struct rlimit small = old;
  small.rlim_cur = 1 << 20;
  auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int r = h.Exec();
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r, 3);
  ASSERT_EQ(h.Skips.size(), 1u);
  EXPECT_EQ(h.Skips[0].Name, "big.txt");
  EXPECT_EQ(h.Skips[0].Type, 8);
  EXPECT_EQ(Tree(dir / "out"), (std::map<std::string, std::string>{
                                   {"a.txt", "first"}, {"b.txt", Text(300000, 8)}, {"c.txt", "last"}}));
}
#endif

// Entries of mixed sizes and methods, LZMA and Zstandard among them (which one decoding
// thread takes while the others wait), and two damaged ones: the order of every
// callback, each entry's outcome and the number of decoding threads, when testing and
// when extracting.
TEST(DZDecodeAhead, SeveralThreadsKeepEntryOrderWhenTestingAndExtracting) {
  const fs::path dir = FreshDir("ahead_threads");
  std::vector<TEntrySpec> entries = NumberedEntries("m", 90, [](int i, TEntrySpec& e) {
    const size_t size = i % 9 == 4 ? 1200000 + size_t(i) * 1000
                        : i % 3    ? 20000 + size_t(i * 2777 % 180000)
                                   : size_t(i * 31 % 4000);
    e.Data = i % 8 == 5 ? testzip::Noise(size, unsigned(i)) : Text(size, unsigned(i));
    if (i % 5 == 0)
      e.Method = 0;
    else if (i % 7 == 3)
      e = {.Name = e.Name, .Data = e.Data, .Method = 14, .Packed = PackLzma(e.Data, false)};
    else if (i % 11 == 5)
      e = {.Name = e.Name, .Data = e.Data, .Method = 93, .Packed = PackZstd(e.Data)};
    else if (i % 13 == 6)
      e = {.Name = e.Name, .Data = e.Data, .Method = 12, .Packed = PackBzip2(e.Data)};
  });
  entries[17].CrcOverride = 1;
  std::vector<uint64_t> offsets;
  std::string zip = BuildZip(entries, &offsets);
  ASSERT_EQ(entries[41].Method, 8);
  zip[DataStart(zip, offsets[41])] = char(0x07);  // a final block of the reserved type
  WriteFile(dir / "t.zip", zip);
  std::vector<std::string> names;
  std::map<std::string, std::string> expected;
  for (const TEntrySpec& e : entries) {
    names.push_back(e.Name);
    if (e.Name != "m17.txt" && e.Name != "m41.txt") expected[e.Name] = e.Data;
  }
  for (const bool test : {true, false}) {
    SCOPED_TRACE(test ? "testing" : "extracting");
    THarness h;
    h.SetUpExtract((dir / "t.zip").string(), dir / "out");
    if (test) h.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
    TItemCheck check;
    TThreadPeak peak;
    h.OnProgress = peak.Around(check);
    h.OnCrc = [](const std::string&, uint32_t, uint32_t) { return 3; };
    EXPECT_EQ(h.Exec(), 88) << h.AllMessages();
    EXPECT_EQ(h.Items, names);
    EXPECT_TRUE(check.Problems.empty()) << check.Problems.front();
    EXPECT_EQ(check.Threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(h.SkipTypes(), (std::map<std::string, int>{{"m17.txt", 8}, {"m41.txt", 7}}));
    peak.ExpectDecodingThreads();
    EXPECT_EQ(Tree(dir / "out"), test ? decltype(expected){} : expected);
    EXPECT_TRUE(Leftovers(dir / "out").empty());
  }
}

// A stop while several entries decode, when testing: it ends the run inside the entry
// where it came, and the threads end.
TEST(DZDecodeAhead, CancelWhileSeveralThreadsTest) {
  const fs::path dir = FreshDir("ahead_threads_cancel");
  const std::vector<TEntrySpec> entries = TextEntries("c", 40, 600000, 50);
  WriteFile(dir / "t.zip", BuildZip(entries));
  TThreadPeak peak;
  THarness h;
  h.Archive = (dir / "t.zip").string();
  h.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
  TAbortAt stop{h, 5, 2};
  h.OnProgress = peak.Around(stop);
  EXPECT_LT(h.Exec(), 0);
  peak.ExpectDecodingThreads();
  EXPECT_EQ(h.Items.size(), 5u);
  EXPECT_TRUE(h.Skips.empty());
  EXPECT_EQ(Threads(), peak.Before);
}
