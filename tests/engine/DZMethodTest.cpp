// The methods decoded by libraries (bzip2, LZMA, XZ, Zstandard), PPMd and AES
// encryption: archives of the real writers extract byte for byte; damaged ones are
// refused with the right message and leave no file.
#include <gtest/gtest.h>

#include "DZTestKit.h"

using namespace dzt;

namespace {

constexpr int kSkipBadPassword = 3, kSkipFormat = 7, kSkipGeneral = 8;

// One run of the engine on an archive file, into a fresh folder "out" beside it.
struct TRun {
  THarness H;
  fs::path Out;
  int Result = 0;
  TRun(const fs::path& zip, const std::string& password = "", uint32_t options = DZ_OPT_EXTRACT) {
    Out = zip.parent_path() / ("out-" + zip.stem().string());
    fs::remove_all(Out);
    fs::create_directories(Out);
    H.Archive = zip.string();
    H.Base = Out.string();
    H.Options = DZ_OPT_ALWAYS | options | DZ_OPT_DIRNAMES;
    H.Password = password;
    Result = H.Exec();
  }
};

// Extracts and tests the archive; both must take every one of the files below src.
void ExpectSameAs(const fs::path& src, const fs::path& zip, const std::string& password = "") {
  TRun x(zip, password);
  EXPECT_TRUE(x.H.Skips.empty()) << zip << ": " << x.H.AllMessages();
  EXPECT_TRUE(Tree(x.Out) == Tree(src)) << zip << ": trees differ";
  TRun t(zip, password, DZ_OPT_TEST);
  EXPECT_EQ(t.Result, x.Result) << t.H.AllMessages();
}

std::string Sample(size_t n) {
  std::string s;
  for (size_t i = 0; s.size() < n; ++i) s += "rate " + std::to_string(i * 7919 % 1000) + (i % 9 ? " " : "\n");
  s.resize(n);
  return s;
}

struct TPacked {
  const char* Name;
  uint16_t Method, Flags;
  std::string Packed;
};

std::vector<TPacked> PackEach(const std::string& data) {
  return {{"b.bz2", 12, 0, PackBzip2(data)},
          {"l-eos.lzma", 14, 2, PackLzma(data, true)},
          {"l.lzma", 14, 0, PackLzma(data, false)},
          {"x.xz", 95, 0, PackXz(data)},
          {"z.zst", 93, 0, PackZstd(data)}};
}

}  // namespace

// Built here through the libraries, so the Windows engine is proven too.
TEST(DZMethods, EachMethodDecodesToItsData) {
  const std::string data = Sample(300000);
  std::vector<TEntrySpec> entries;
  for (const TPacked& p : PackEach(data)) {
    ASSERT_FALSE(p.Packed.empty()) << p.Name;
    entries.push_back(
        {.Name = p.Name, .Data = data, .Method = p.Method, .Packed = p.Packed, .Flags = p.Flags});
  }
  const fs::path dir = FreshDir("methods_each");
  WriteFile(dir / "m.zip", BuildZip(entries));
  TRun x(dir / "m.zip");
  EXPECT_EQ(x.Result, 5) << x.H.AllMessages();
  for (const TPacked& p : PackEach(data)) EXPECT_EQ(ReadFile(x.Out / p.Name), data) << p.Name;
  EXPECT_EQ(TRun(dir / "m.zip", "", DZ_OPT_TEST).Result, 5);
}

TEST(DZMethods, DamagedOrCutDataAreRefusedAndLeaveNoFile) {
  const std::string data = Sample(100000);
  const fs::path dir = FreshDir("methods_damaged");
  for (const TPacked& p : PackEach(data)) {
    std::string flipped = p.Packed, cut = p.Packed.substr(0, p.Packed.size() / 2);
    flipped[flipped.size() / 2] = char(flipped[flipped.size() / 2] ^ 0x55);
    for (const std::string& bad : {flipped, cut}) {
      WriteFile(
          dir / "d.zip",
          BuildZip({{.Name = p.Name, .Data = data, .Method = p.Method, .Packed = bad, .Flags = p.Flags}}));
      TRun x(dir / "d.zip");
      EXPECT_EQ(x.Result, 0) << p.Name;
      EXPECT_TRUE(Tree(x.Out).empty()) << p.Name << ": no partial file";
      // Bits the method's format does not notice still change the size or the CRC.
      const std::string m = x.H.AllMessages();
      EXPECT_TRUE(m.find("(compressed data are damaged)") != std::string::npos ||
                  m.find("CRC-32 mismatch") != std::string::npos ||
                  m.find(" data than its stated size)") != std::string::npos)
          << p.Name << ": " << m;
    }
  }
}

TEST(DZMethods, AWindowBeyondTheMemoryLimitIsNamedAsSuch) {
  // A Zstandard frame asking for a 2 GiB window, then one raw block.
  const std::string frame("\x28\xB5\x2F\xFD\x00\xA8\x09\x00\x00x", 10);
  const fs::path dir = FreshDir("methods_memory");
  WriteFile(dir / "w.zip", BuildZip({{.Name = "w.txt", .Data = "x", .Method = 93, .Packed = frame}}));
  TRun x(dir / "w.zip");
  EXPECT_EQ(x.Result, 0);
  EXPECT_TRUE(x.H.HasSkip(kSkipGeneral));
  EXPECT_NE(x.H.AllMessages().find("(decoding needs more memory than the engine allows)"), std::string::npos)
      << x.H.AllMessages();
  // An LZMA entry of 3 GB with a 2 GiB dictionary: the dictionary would be taken whole.
  const std::string lzma("\x09\x14\x05\x00\x5D\x00\x00\x00\x80\x00\x00\x00\x00", 13);
  WriteFile(
      dir / "l.zip",
      BuildZip({{.Name = "l.txt", .Data = "x", .Method = 14, .Packed = lzma, .UncompOverride = 3000000000}}));
  TRun l(dir / "l.zip");
  EXPECT_TRUE(l.H.HasSkip(kSkipGeneral));
  EXPECT_NE(l.H.AllMessages().find("(decoding needs more memory than the engine allows)"), std::string::npos)
      << l.H.AllMessages();
}

class DZMethodPeers : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the peers (7z, zip, python3, xz, zstd, bsdtar) are POSIX programs";
#endif
    Dir = FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
    Src = Dir / "src";
    MakeSampleTree(Src);
  }
  // Makes the archive with a shell command run in Src; false (the test skips) without the tool.
  bool Make(const std::string& tool, const std::string& cmd) {
    if (!HaveTool(tool)) return false;
    EXPECT_EQ(Shell("cd " + Src.string() + " && (" + cmd + ")"), 0) << cmd;
    return true;
  }
  fs::path Dir, Src;
};

TEST_F(DZMethodPeers, SevenZipInfoZipAndPython) {
  int made = 0;
  for (const char* m : {"BZip2", "LZMA"})
    if (Make("7z", std::string("7z a -tzip -mm=") + m + " ../7" + m + ".zip .")) {
      ExpectSameAs(Src, Dir / (std::string("7") + m + ".zip"));
      ++made;
    }
  if (Make("zip", "zip -q -r -Z bzip2 ../zb.zip .")) {
    ExpectSameAs(Src, Dir / "zb.zip");
    ++made;
  }
  for (const char* m : {"ZIP_BZIP2", "ZIP_LZMA"}) {
    const std::string zip = (Dir / (std::string(m) + ".zip")).string();
    if (Make("python3",
             std::string("python3 -c \"import zipfile,os\nwith zipfile.ZipFile('") + zip + "','w',zipfile." +
                 m +
                 ") as z:\n  for r,d,f in os.walk('.'):\n    if r!='.': z.write(r)\n    for n in f: "
                 "z.write(os.path.join(r,n))\"")) {
      ExpectSameAs(Src, zip);
      ++made;
    }
  }
  if (!made) GTEST_SKIP() << "none of 7z, zip, python3 is installed";
}

// XZ and Zstandard entries assembled from the tools' output, with streams and frames
// that follow each other as the tools concatenate them.
TEST_F(DZMethodPeers, XzAndZstdToolOutput) {
  if (!HaveTool("xz") || !HaveTool("zstd")) GTEST_SKIP() << "xz or zstd is not installed";
  const std::string a = Sample(200000), b = Sample(5000);
  const std::string xz = Filter("xz -c -9", a) + Filter("xz -c -0", b);
  const std::string zst = Filter("zstd -q -c -19", a) + Filter("zstd -q -c --no-check", b);
  ASSERT_FALSE(xz.empty() || zst.empty());
  WriteFile(Dir / "x.zip", BuildZip({{.Name = "a.txt", .Data = a + b, .Method = 95, .Packed = xz},
                                     {.Name = "b.txt", .Data = a + b, .Method = 93, .Packed = zst}}));
  TRun x(Dir / "x.zip");
  EXPECT_EQ(x.Result, 2) << x.H.AllMessages();
  EXPECT_EQ(ReadFile(x.Out / "a.txt"), a + b);
  EXPECT_EQ(ReadFile(x.Out / "b.txt"), a + b);
}

TEST_F(DZMethodPeers, SevenZipAesBothStrengthsAndBothForms) {
  if (!Make("7z",
            "7z a -tzip -mem=AES128 -pPa55 ../a128.zip . && 7z a -tzip -mem=AES256 -mm=BZip2 -pPa55 "
            "../a256.zip ."))
    GTEST_SKIP() << "7z is not installed";
  ExpectSameAs(Src, Dir / "a128.zip", "Pa55");
  ExpectSameAs(Src, Dir / "a256.zip", "Pa55");
  // 7-Zip writes the second form (no CRC). As the first form, with the CRC in the
  // central header, the CRC is checked as well.
  const std::string zip = ReadFile(Dir / "a128.zip");
  const TCentralSummary sum = SummarizeCentral(zip);
  ASSERT_TRUE(sum.Has(sum.Methods, 99) && sum.Has(sum.ExtraTags, 0x9901));
  const size_t field = zip.find(std::string("\x01\x99\x07\x00\x02\x00"
                                            "AE",
                                            8),
                                zip.find("PK\x01\x02"));
  ASSERT_NE(field, std::string::npos);
  const size_t cen = zip.rfind("PK\x01\x02", field);
  const size_t nameLen = uint8_t(zip[cen + 28]) | uint8_t(zip[cen + 29]) << 8;
  const std::string name = zip.substr(cen + 46, nameLen);
  const uint32_t crc = Crc32(ReadFile(Src / name));
  auto asFirstForm = [&](uint32_t c) {
    std::string z = zip;
    z[field + 4] = 1;
    for (int i = 0; i < 4; ++i) z[cen + 16 + size_t(i)] = char(c >> (8 * i));
    return z;
  };
  WriteFile(Dir / "ae1.zip", asFirstForm(crc));
  TRun good(Dir / "ae1.zip", "Pa55", DZ_OPT_TEST);
  EXPECT_TRUE(good.H.Skips.empty()) << good.H.AllMessages();
  WriteFile(Dir / "ae1bad.zip", asFirstForm(crc ^ 1));
  TRun bad(Dir / "ae1bad.zip", "Pa55", DZ_OPT_TEST);
  ASSERT_EQ(bad.H.Skips.size(), 1u) << bad.H.AllMessages();
  EXPECT_NE(bad.H.AllMessages().find("CRC-32 mismatch in " + name), std::string::npos);
}

TEST_F(DZMethodPeers, WrongPasswordAndAlteredDataAreDifferentErrors) {
  if (!Make("7z", "7z a -tzip -mem=AES256 -pPa55 ../a.zip top.txt dir0/text1.txt"))
    GTEST_SKIP() << "7z is not installed";
  TRun wrong(Dir / "a.zip", "nope");
  EXPECT_EQ(wrong.Result, 0);
  EXPECT_EQ(wrong.H.Skips.size(), 2u);
  EXPECT_TRUE(wrong.H.HasSkip(kSkipBadPassword));
  EXPECT_EQ(wrong.H.AllMessages().find("authentication"), std::string::npos);
  // The right password at the second question; kept for the second entry.
  THarness asked;
  asked.Archive = (Dir / "a.zip").string();
  asked.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
  asked.PwdReqCount = 2;
  int n = 0;
  asked.OnPassword = [&](const std::string&, int32_t&, std::string& pwd) {
    pwd = ++n == 1 ? "nope" : "Pa55";
    return 1;
  };
  EXPECT_EQ(asked.Exec(), 2) << asked.AllMessages();
  EXPECT_EQ(n, 2);
  // One byte of the second entry's encrypted data flipped: the code does not match.
  std::string zip = ReadFile(Dir / "a.zip");
  const size_t second = zip.find("dir0/text1.txt");
  ASSERT_NE(second, std::string::npos);
  zip[second + 40 + 100] = char(zip[second + 40 + 100] ^ 4);
  WriteFile(Dir / "t.zip", zip);
  TRun altered(Dir / "t.zip", "Pa55");
  EXPECT_EQ(altered.Result, 1);
  EXPECT_NE(altered.H.AllMessages().find("authentication failed for dir0/text1.txt"), std::string::npos)
      << altered.H.AllMessages();
  EXPECT_TRUE(altered.H.HasSkip(kSkipGeneral));
  EXPECT_FALSE(fs::exists(altered.Out / "dir0" / "text1.txt"));
  EXPECT_EQ(Tree(altered.Out).size(), 2u) << "top.txt and its folder dir0 only";
  // A large entry (stored: 3 MiB), decrypted on a thread of its own: whole, and altered
  // near its end.
  WriteFile(Src / "big.txt", Sample(3 << 20));
  ASSERT_TRUE(Make("7z", "7z a -tzip -mem=AES256 -mm=Copy -pPa55 ../big.zip big.txt"));
  TRun big(Dir / "big.zip", "Pa55");
  EXPECT_EQ(big.Result, 1) << big.H.AllMessages();
  EXPECT_EQ(ReadFile(big.Out / "big.txt"), ReadFile(Src / "big.txt"));
  zip = ReadFile(Dir / "big.zip");
  const size_t end = zip.find("PK\x01\x02");
  zip[end - 200] = char(zip[end - 200] ^ 1);
  WriteFile(Dir / "bigt.zip", zip);
  TRun bigAltered(Dir / "bigt.zip", "Pa55");
  EXPECT_NE(bigAltered.H.AllMessages().find("authentication failed for big.txt"), std::string::npos)
      << bigAltered.H.AllMessages();
  EXPECT_TRUE(Tree(bigAltered.Out).empty());
}

// Entries below and above the size from which the code is computed on a second thread,
// and keys derived ahead with the first password that the entries of a second one
// refuse: that one is asked for once, and every entry comes out whole.
TEST_F(DZMethodPeers, AesEntriesOfTwoPasswordsAndSizes) {
  WriteFile(Src / "s1.txt", Sample(600 << 10));
  WriteFile(Src / "s2.txt", Sample(1000));
  WriteFile(Src / "d1.txt", Sample(4 << 20));
  WriteFile(Src / "d2.txt", Sample(300 << 10));
  if (!Make("7z",
            "7z a -tzip -mem=AES256 -mm=Copy -pPa55 ../two.zip s1.txt s2.txt && 7z a -tzip -mem=AES128 "
            "-pOther ../two.zip d1.txt d2.txt && 7z a -tzip -mem=AES256 -pPa55 ../two.zip top.txt"))
    GTEST_SKIP() << "7z is not installed";
  auto run = [&](const fs::path& zip, int& asked) {
    auto h = std::make_unique<THarness>();
    const fs::path out = Dir / ("out-" + zip.stem().string());
    fs::create_directories(out);
    h->Archive = zip.string();
    h->Base = out.string();
    h->Options = DZ_OPT_ALWAYS | DZ_OPT_EXTRACT;
    h->Password = "Pa55";
    h->OnPassword = [&asked](const std::string&, int32_t&, std::string& pwd) {
      ++asked;
      pwd = "Other";
      return 1;
    };
    h->Exec();
    return h;
  };
  int asked = 0;
  auto whole = run(Dir / "two.zip", asked);
  EXPECT_TRUE(whole->Skips.empty()) << whole->AllMessages();
  EXPECT_EQ(asked, 1);
  for (const char* name : {"s1.txt", "s2.txt", "d1.txt", "d2.txt", "top.txt"})
    EXPECT_EQ(ReadFile(Dir / "out-two" / name), ReadFile(Src / name)) << name;
  // A byte of the stored 600 KiB entry altered: that entry alone is refused.
  std::string zip = ReadFile(Dir / "two.zip");
  const size_t at = zip.find("s1.txt") + 300000;
  zip[at] = char(zip[at] ^ 0x20);
  WriteFile(Dir / "alt.zip", zip);
  asked = 0;
  auto altered = run(Dir / "alt.zip", asked);
  EXPECT_NE(altered->AllMessages().find("authentication failed for s1.txt"), std::string::npos)
      << altered->AllMessages();
  EXPECT_EQ(altered->Skips.size(), 1u);
  EXPECT_FALSE(fs::exists(Dir / "out-alt" / "s1.txt"));
  EXPECT_EQ(ReadFile(Dir / "out-alt" / "d1.txt"), ReadFile(Src / "d1.txt"));
}

// PPMd as 7-Zip writes it, at the orders, heap sizes and ways of going on with a full
// heap that it can be told to use. The 3 MiB of mixed data fill a 1 MiB heap many
// times over, so the model starts afresh, or cuts its branches off, again and again.
TEST_F(DZMethodPeers, SevenZipPpmdOrdersHeapsAndFullHeaps) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  std::string mixed = Sample(1 << 20);
  uint32_t x = 7;
  for (int i = 0; i < (1 << 20); ++i)
    mixed += char((x = x * 1103515245u + 12345u) >> (i & 0x10000 ? 24 : 29));
  mixed += ReadFile(Src / "dir0" / "sub" / "data0.bin") + Sample(1 << 20).substr(4096);
  WriteFile(Src / "mixed.bin", mixed);
  WriteFile(Src / "one.txt", "1");
  // The settings and the head word each must give: order less one, MiB less one,
  // and (bit 12) cutting off rather than starting afresh.
  const std::pair<const char*, uint16_t> settings[] = {
      {"-mx=1", 0x003},           {"-m0=PPMd:o=2:mem=1m", 0x001},    {"-mo=6 -mmem=3m", 0x025},
      {"-mo=16 -mmem=1m", 0x00F}, {"-mx=9 -mo=16 -mmem=1m", 0x100F}, {"-mx=9 -mo=3 -mmem=1m", 0x1002}};
  for (const auto& [opts, word] : settings) {
    const std::string zip = "../p" + std::to_string(word) + ".zip";
    ASSERT_TRUE(Make("7z", std::string("7z a -tzip -mm=PPMd ") + opts + " " + zip + " ."));
    ExpectSameAs(Src, Dir / zip.substr(3));
    const std::string z = ReadFile(Dir / zip.substr(3));
    ASSERT_TRUE(SummarizeCentral(z).Has(SummarizeCentral(z).Methods, 98)) << opts;
    bool seen = false;
    for (size_t i = 0; i < SummarizeCentral(z).Methods.size(); ++i) {
      const std::string packed = PackedData(z, i);
      if (packed.size() > 2 && (uint8_t(packed[0]) | uint8_t(packed[1]) << 8) == word) seen = true;
    }
    EXPECT_TRUE(seen) << opts << ": no entry with head word " << word;
  }
}

// Shapes that drive the model to its edges: long runs (binary contexts at their
// highest counts, long streaks of hits), fixed-size records and pieces repeated from
// far back, at the highest order on a full heap, started afresh and cut off.
TEST_F(DZMethodPeers, SevenZipPpmdRunsRecordsAndRepeats) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  const fs::path shapes = Dir / "shapes";
  std::string runs = std::string(200000, 'A'), records, repeats;
  for (int i = 0; i < 50000; ++i) runs += "AB";
  for (int i = 0; i < 100000; ++i) runs += char(i & 0xFF);
  runs += std::string(300000, '\0');
  for (uint32_t i = 0; i < 200000; ++i)
    for (int b = 0; b < 4; ++b) records += char(i % 7 ? (b == 3) : (i * 2654435761u) >> (8 * b));
  uint32_t x = 11;
  auto next = [&](uint32_t n) { return ((x = x * 1103515245u + 12345u) >> 8) % n; };
  std::string base(5000, ' ');
  for (char& c : base) c = char(next(256));
  while (repeats.size() < 2000000)
    repeats +=
        next(10) < 7 ? base.substr(next(4000), 50 + next(950)) : std::string(1 + next(300), char(next(256)));
  WriteFile(shapes / "runs.bin", runs);
  WriteFile(shapes / "records.bin", records);
  WriteFile(shapes / "repeats.bin", repeats);
  for (const char* opts : {"-mo=16 -mmem=1m", "-mx=9 -mo=16 -mmem=1m"}) {
    ASSERT_EQ(Shell("cd " + shapes.string() + " && 7z a -tzip -mm=PPMd " + opts + " ../s.zip ."), 0) << opts;
    ExpectSameAs(shapes, Dir / "s.zip");
    fs::remove(Dir / "s.zip");
  }
}

// Entries 7-Zip keeps stored (empty and tiny ones) made as PPMd entries: the head
// alone, and a stream of which a declared size of 1 takes the first byte only.
TEST_F(DZMethodPeers, PpmdEmptyAndOneByteEntries) {
  if (!Make("7z", "7z a -tzip -mm=PPMd ../t.zip dir0/text0.txt")) GTEST_SKIP() << "7z is not installed";
  const std::string packed = PackedData(ReadFile(Dir / "t.zip"));
  const std::string first = ReadFile(Src / "dir0" / "text0.txt").substr(0, 1);
  ASSERT_GT(packed.size(), 6u);
  WriteFile(Dir / "e.zip",
            BuildZip({{.Name = "empty", .Data = "", .Method = 98, .Packed = packed.substr(0, 2)},
                      {.Name = "empty2", .Data = "", .Method = 98, .Packed = packed},
                      {.Name = "one", .Data = first, .Method = 98, .Packed = packed}}));
  TRun r(Dir / "e.zip");
  EXPECT_EQ(r.Result, 3) << r.H.AllMessages();
  EXPECT_EQ(ReadFile(r.Out / "empty"), "");
  EXPECT_EQ(ReadFile(r.Out / "empty2"), "");
  EXPECT_EQ(ReadFile(r.Out / "one"), first);
}

TEST_F(DZMethodPeers, DamagedPpmdIsRefusedAndLeavesNoFile) {
  const std::string text = ReadFile(Src / "dir1" / "text2.txt");
  if (!Make("7z", "7z a -tzip -mm=PPMd -mo=8 ../t.zip dir1/text2.txt")) GTEST_SKIP() << "7z is not installed";
  const std::string packed = PackedData(ReadFile(Dir / "t.zip"));
  ASSERT_GT(packed.size(), 1000u);
  std::string flipped = packed, order1 = packed, restore2 = packed, huge = packed;
  flipped[packed.size() / 3] = char(flipped[packed.size() / 3] ^ 0x21);
  order1[0] = char(order1[0] & 0xF0);  // order 1
  restore2[1] = char((restore2[1] & 0x0F) | 0x20);
  huge[0] = char(huge[0] | 0xF0);  // 256 MiB
  huge[1] = char(huge[1] | 0x0F);
  // Cut at the head, in the code's first bytes, halfway, and before the last bytes.
  for (const std::string& bad : {flipped, order1, restore2, packed.substr(0, 1), packed.substr(0, 4),
                                 packed.substr(0, packed.size() / 2), packed.substr(0, packed.size() - 8)}) {
    WriteFile(Dir / "d.zip", BuildZip({{.Name = "t.txt", .Data = text, .Method = 98, .Packed = bad}}));
    TRun x(Dir / "d.zip");
    EXPECT_EQ(x.Result, 0) << bad.size();
    EXPECT_TRUE(Tree(x.Out).empty()) << "no partial file";
    const std::string m = x.H.AllMessages();
    EXPECT_TRUE(m.find("(compressed data are damaged)") != std::string::npos ||
                (&bad == &flipped && m.find("CRC-32 mismatch") != std::string::npos))
        << bad.size() << ": " << m;
  }
  // The compressor's end mark comes before a size stated too large.
  WriteFile(Dir / "l.zip",
            BuildZip({{.Name = "t.txt", .Data = text + "more", .Method = 98, .Packed = packed}}));
  TRun longer(Dir / "l.zip");
  EXPECT_NE(longer.H.AllMessages().find("t.txt (less data than its stated size)"), std::string::npos)
      << longer.H.AllMessages();
  EXPECT_TRUE(Tree(longer.Out).empty());
  // The largest heap the head can declare is allocated; while it is not full, the
  // model's steps are those of the smaller one.
  WriteFile(Dir / "h.zip", BuildZip({{.Name = "t.txt", .Data = text, .Method = 98, .Packed = huge}}));
  TRun h(Dir / "h.zip");
  EXPECT_EQ(h.Result, 1) << h.H.AllMessages();
  EXPECT_EQ(ReadFile(h.Out / "t.txt"), text);
}

// The corpus archives of these methods extract as 7-Zip extracts them.
TEST(DZMethodCorpus, ExtractsAs7zDoes) {
#ifdef _WIN32
  GTEST_SKIP() << "compared with 7z, a POSIX program";
#endif
  const fs::path corpus = fs::path(DZ_CORPUS_DIR) / "libarchive";
  if (!fs::exists(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  const fs::path dir = FreshDir("methods_corpus");
  int compared = 0;
  for (const auto& de : fs::directory_iterator(corpus)) {
    const std::string name = de.path().filename().string();
    const bool aes = name.find("winzip_aes") != std::string::npos;
    // Left out: archives that are not valid ones, one whose password is not known, and a
    // link that 7z refuses to make.
    if (name.find("crash") != std::string::npos || name.find("ppmd8_aes") != std::string::npos ||
        name.find("oom") != std::string::npos || name.find("leak") != std::string::npos ||
        name.find("7z_lzma") != std::string::npos ||
        (!aes && name.find("bzip2") == std::string::npos && name.find("lzma") == std::string::npos &&
         name.find("_xz") == std::string::npos && name.find("zstd") == std::string::npos &&
         name.find("ppmd") == std::string::npos))
      continue;
    const fs::path zip = dir / name;
    fs::copy_file(de.path(), zip, fs::copy_options::overwrite_existing);
    TRun x(zip, aes ? "password" : "");
    EXPECT_GT(x.Result, 0) << name << ": " << x.H.AllMessages();
    const fs::path ref = dir / ("ref-" + name);
    fs::create_directories(ref);
    ASSERT_EQ(Shell("7z x -y -p" + std::string(aes ? "password" : "none") + " -o" + ref.string() + " " +
                    zip.string()),
              0)
        << name;
    EXPECT_TRUE(Tree(x.Out) == Tree(ref)) << name << ": trees differ";
    ++compared;
  }
  EXPECT_GE(compared, 17);
}
