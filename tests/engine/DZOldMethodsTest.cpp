// Shrink, Reduce and Implode: archives from the tests' own compressors and hand-made
// streams extract byte for byte (and unzip agrees on them where it reads the method);
// damaged streams are refused as damaged and leave no file.
#include <gtest/gtest.h>

#include "DZTestKit.h"
#include "TestOldMethods.h"

using namespace dzt;

namespace {

constexpr int kSkipFormat = 7;

// Text with the escape byte of Reduce (144) and some binary noise.
std::string Sample(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"stawka ",  "robocizny ", "ROB216 ", "\x90",
                                       "\x90\x90", "zl/h ",      "\n",      "Informacje kwartalne "};
  std::string s;
  while (s.size() < n) {
    seed = seed * 1103515245u + 12345u;
    const uint32_t r = seed >> 16;
    if (r % 7 == 0)
      s += char(r >> 3);
    else
      s += kWords[r % 8];
  }
  s.resize(n);
  return s;
}

std::string Repeat(const std::string& s, size_t n) {
  std::string r;
  while (n--) r += s;
  return r;
}

struct TRun {
  THarness H;
  int Result = 0;
};

TRun Extract(const fs::path& dir, const std::vector<TEntrySpec>& entries, uint32_t mode = DZ_OPT_EXTRACT) {
  WriteFile(dir / "t.zip", BuildZip(entries));
  fs::create_directories(dir / "out");
  TRun r;
  r.H.Archive = (dir / "t.zip").string();
  r.H.Base = (dir / "out").string();
  r.H.Options = DZ_OPT_ALWAYS | mode;
  r.Result = r.H.Exec();
  return r;
}

std::map<std::string, std::string> Expected(const std::vector<TEntrySpec>& entries) {
  std::map<std::string, std::string> m;
  for (const TEntrySpec& e : entries) m[e.Name] = e.Data;
  return m;
}

}  // namespace

TEST(DZOldMethods, ExtractWhatAnIndependentWriterMade) {
  const fs::path dir = FreshDir("old_methods");
  std::vector<TEntrySpec> peer, all;
  // 150000 bytes fill the Shrink table (leaves freed when it is full) and pass the
  // 64 KiB history; clearing every 3 codes reuses codes all the time.
  for (size_t n : {size_t(0), size_t(1), size_t(3000), size_t(150000)}) {
    const std::string d = Sample(n, uint32_t(n)), tag = std::to_string(n);
    using namespace testzip;
    peer.push_back({.Name = "shrink" + tag, .Data = d, .Method = 1, .Packed = Shrink(d)});
    peer.push_back({.Name = "shrink-clear" + tag, .Data = d, .Method = 1, .Packed = Shrink(d, 3)});
    for (unsigned flags = 0; flags <= 6; flags += 2)
      peer.push_back({.Name = "implode" + std::to_string(flags) + "-" + tag,
                      .Data = d,
                      .Method = 6,
                      .Packed = Implode(d, flags & 2, flags & 4),
                      .Flags = uint16_t(flags)});
    for (unsigned f = 1; f <= 4; ++f)
      all.push_back({.Name = "reduce" + std::to_string(f) + "-" + tag,
                     .Data = d,
                     .Method = uint16_t(1 + f),
                     .Packed = Reduce(d, f,
                                      f == 2   ? 1
                                      : f == 3 ? 3
                                               : 32)});
  }
  all.insert(all.end(), peer.begin(), peer.end());
  const TRun r = Extract(dir, all);
  EXPECT_EQ(r.Result, int(all.size())) << r.H.AllMessages();
  EXPECT_TRUE(Tree(dir / "out") == Expected(all));
  EXPECT_EQ(Extract(FreshDir("old_methods_test"), all, DZ_OPT_TEST).Result, int(all.size()));
  // Info-ZIP's unzip reads Shrink and Implode (Debian's build of it no Reduce).
  if (HaveTool("unzip")) {
    WriteFile(dir / "peer.zip", BuildZip(peer));
    EXPECT_EQ(Shell("unzip -tq " + (dir / "peer.zip").string()), 0);
  }
}

// Worked out by hand; unzip and 7z read the Shrink and Implode ones alike.
TEST(DZOldMethods, HandMadeStreams) {
  const std::string noSets(192, '\0');  // 256 empty follower sets of Reduce
  const std::vector<TEntrySpec> e = {
      // LZW codes 65 66 257 259 of 9 bits; 259 is the code its own step defines.
      {.Name = "shrink", .Data = "ABABABA", .Method = 1, .Packed = "\x41\x84\x04\x1c\x08"},
      // A, code size up to 10 bits, B, leaves freed (257 = AB), then 257 again, now BB.
      {.Name = "shrink-clear",
       .Data = "ABBB",
       .Method = 1,
       .Packed = std::string("\x41\x00\x06\x10\x02\x20\x01\x02\x02", 9)},
      // Factor 1: abc, then 6 bytes from 3 back, then an escaped 144.
      {.Name = "reduce",
       .Data = "abcabcabc\x90",
       .Method = 2,
       .Packed = noSets + "abc\x90\x03\x02\x90" + '\0'},
      // Factor 1: ab, then 127 + 4 + 3 bytes from 2 back (the length byte follows).
      {.Name = "reduce-long", .Data = Repeat("ab", 68), .Method = 2, .Packed = noSets + "ab\x90\x7f\x04\x01"},
      // Factor 4: 8 bytes from 266 back, before the start: zeros.
      {.Name = "reduce-zeros", .Data = std::string(8, '\0'), .Method = 5, .Packed = noSets + "\x90\x15\x09"},
      // The follower set of byte 0 is {x}: x by index (one bit), then y as it is.
      {.Name = "reduce-followers",
       .Data = "xy",
       .Method = 3,
       .Packed = std::string(191, '\0') + "\x04\x78\xe4\x01"},
      // Two trees of 64 codes of 6 bits (symbol s has code 63 - s), 4 KiB: a literal,
      // then 4 bytes from 1 back.
      {.Name = "implode",
       .Data = "aaaaa",
       .Method = 6,
       .Packed = std::string("\x03\xf5\xf5\xf5\xf5\x03\xf5\xf5\xf5\xf5\xc3\x00\xff\x0b", 14)},
      // Empty files with no data at all: no sets, no trees.
      {.Name = "reduce-empty", .Data = "", .Method = 4},
      {.Name = "implode-empty", .Data = "", .Method = 6},
  };
  const fs::path dir = FreshDir("old_methods_hand");
  const TRun r = Extract(dir, e);
  EXPECT_EQ(r.Result, int(e.size())) << r.H.AllMessages();
  EXPECT_TRUE(Tree(dir / "out") == Expected(e));
}

TEST(DZOldMethods, DamagedDataAreRefusedAndLeaveNoFile) {
  const std::string d = Sample(20000, 7);
  const std::string shrunk = testzip::Shrink(d), reduced = testzip::Reduce(d, 4),
                    imploded = testzip::Implode(d, true, true);
  const std::string noSets(192, '\0');
  const std::vector<TEntrySpec> e = {
      {.Name = "shrink-undefined", .Data = "AB", .Method = 1, .Packed = "\x2c\x01"},  // 300 first
      {.Name = "shrink-control",
       .Data = "AB",
       .Method = 1,
       .Packed = std::string("\x41\x00\x0e", 3)},  // A, 256, 3
      {.Name = "shrink-cut", .Data = d, .Method = 1, .Packed = shrunk.substr(0, shrunk.size() / 2)},
      {.Name = "reduce-set", .Data = "ab", .Method = 5, .Packed = "\x3f\xff\xff"},  // 63 followers
      {.Name = "reduce-cut", .Data = d, .Method = 5, .Packed = reduced.substr(0, reduced.size() - 9)},
      // 64 codes of 1 bit, and runs that give 80 lengths for 64 codes.
      {.Name = "implode-oversubscribed",
       .Data = "ab",
       .Method = 6,
       .Packed = "\x03\xf0\xf0\xf0\xf0\x03\xf5\xf5\xf5\xf5\xff\xff"},
      {.Name = "implode-runs",
       .Data = "ab",
       .Method = 6,
       .Packed = "\x04\xf5\xf5\xf5\xf5\xf5\x03\xf5\xf5\xf5\xf5\xff\xff"},
      {.Name = "implode-cut",
       .Data = d,
       .Method = 6,
       .Packed = imploded.substr(0, imploded.size() - 9),
       .Flags = 6},
      {.Name = "reduce-empty", .Data = "abc", .Method = 2, .Packed = noSets},
  };
  const fs::path dir = FreshDir("old_methods_damaged");
  const TRun r = Extract(dir, e);
  EXPECT_EQ(r.Result, 0);
  ASSERT_EQ(r.H.Skips.size(), e.size()) << r.H.AllMessages();
  for (const TSkip& s : r.H.Skips) EXPECT_EQ(s.Type, kSkipFormat) << s.Name;
  size_t damaged = 0;
  for (const TMsg& m : r.H.Messages)
    damaged += m.Text.find("compressed data are damaged") != std::string::npos;
  EXPECT_EQ(damaged, e.size()) << r.H.AllMessages();
  EXPECT_TRUE(Tree(dir / "out").empty());
}
