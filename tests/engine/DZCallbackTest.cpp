// What the engine does with the answers of its callbacks: passwords, CRC errors,
// overwriting, freshen and update, test mode, selection, folders, dates and progress.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "DZTestKit.h"

using namespace dzt;

namespace {

constexpr int kSkipOnFreshen = 0, kSkipNoOverwrite = 1, kSkipBadPassword = 3;

std::string MakeArchive(const fs::path& dir, const std::vector<TEntrySpec>& e) {
  WriteFile(dir / "t.zip", BuildZip(e));
  return (dir / "t.zip").string();
}

// Modification times in whole seconds since 1970.
time_t MTime(const fs::path& p) {
  const auto sys = fs::file_time_type::clock::to_sys(fs::last_write_time(p));
  return time_t(std::chrono::floor<std::chrono::seconds>(sys).time_since_epoch().count());
}

void SetMTime(const fs::path& p, time_t t) {
  const std::chrono::sys_seconds sys{std::chrono::seconds(t)};
  fs::last_write_time(p, fs::file_time_type::clock::from_sys(sys));
}

// Seconds since 1970 of a calendar time read as local time (summer time as it falls).
time_t LocalTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

// Local MS-DOS stamp of a calendar time.
uint32_t DosStamp(int y, int mo, int d, int h, int mi, int s) {
  return (uint32_t((y - 1980) << 9 | mo << 5 | d) << 16) | uint32_t(h << 11 | mi << 5 | s / 2);
}

}  // namespace

TEST(DZCallbacks, PasswordQuestions) {
  const fs::path dir = FreshDir("cb_password");
  const std::string zip = MakeArchive(dir, {{.Name = "a.txt", .Data = "secret a", .Password = "right"},
                                            {.Name = "b.txt", .Data = "secret b", .Password = "right"},
                                            {.Name = "c.txt", .Data = "plain"}});
  // Wrong first answer, right second: both encrypted files come out, asked only
  // for the first (the password is remembered).
  {
    THarness h;
    h.SetUpExtract(zip, dir / "o1");
    h.PwdReqCount = 3;
    std::vector<std::string> answers = {"wrong", "right"};
    h.OnPassword = [&](const std::string& name, int32_t& tries, std::string& pwd) {
      EXPECT_EQ(name, "a.txt");
      EXPECT_GT(tries, 0);
      pwd = answers[size_t(h.PasswordAsks - 1)];
      return 1;
    };
    EXPECT_EQ(h.Exec(), 3) << h.AllMessages();
    EXPECT_EQ(h.PasswordAsks, 2);
    EXPECT_EQ(ReadFile(dir / "o1" / "a.txt"), "secret a");
    EXPECT_EQ(ReadFile(dir / "o1" / "b.txt"), "secret b");
  }
  // Only wrong answers: asked PwdReqCount times per entry, then skipped as a bad password.
  {
    THarness h;
    h.SetUpExtract(zip, dir / "o2");
    h.PwdReqCount = 2;
    h.OnPassword = [&](const std::string&, int32_t&, std::string& pwd) {
      pwd = "nope";
      return 1;
    };
    EXPECT_EQ(h.Exec(), 1);
    EXPECT_EQ(h.PasswordAsks, 4);
    int bad = 0;
    for (const TSkip& s : h.Skips) bad += s.Type == kSkipBadPassword && s.Error == 7;
    EXPECT_EQ(bad, 2);
    EXPECT_FALSE(fs::exists(dir / "o2" / "a.txt"));
    EXPECT_EQ(ReadFile(dir / "o2" / "c.txt"), "plain");
  }
  // "No to all" (3) asks once for the whole run.
  {
    THarness h;
    h.SetUpExtract(zip, dir / "o3");
    h.OnPassword = [&](const std::string&, int32_t&, std::string&) { return 3; };
    EXPECT_EQ(h.Exec(), 1);
    EXPECT_EQ(h.PasswordAsks, 1);
    EXPECT_EQ(h.Skips.size(), 2u);
  }
  // Abort (-3) ends the run as cancelled.
  {
    THarness h;
    h.SetUpExtract(zip, dir / "o4");
    h.OnPassword = [&](const std::string&, int32_t&, std::string&) { return -3; };
    EXPECT_EQ(h.Exec(), -1);
    EXPECT_TRUE(Tree(dir / "o4").empty());
  }
  // The password given as text argument needs no question.
  {
    THarness h;
    h.Archive = zip;
    h.Password = "right";
    h.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST;
    EXPECT_EQ(h.Exec(), 3);
    EXPECT_EQ(h.PasswordAsks, 0);
  }
}

TEST(DZCallbacks, CrcErrorAnswers) {
  const fs::path dir = FreshDir("cb_crc");
  const std::string zip = MakeArchive(dir, {{.Name = "a.txt", .Data = "payload", .CrcOverride = 0xDEADBEEF}});
  THarness keep;
  keep.Archive = zip;
  keep.Base = dir.string();
  uint32_t found = 0, expected = 0;
  keep.OnCrc = [&](const std::string&, uint32_t f, uint32_t e) {
    found = f;
    expected = e;
    return 1;  // keep the file all the same
  };
  EXPECT_EQ(keep.Exec(), 1);
  EXPECT_EQ(expected, 0xDEADBEEFu);
  EXPECT_EQ(found, Crc32("payload"));
  EXPECT_EQ(ReadFile(dir / "a.txt"), "payload");
  fs::remove(dir / "a.txt");

  THarness drop;
  drop.Archive = zip;
  drop.Base = dir.string();
  drop.OnCrc = [&](const std::string&, uint32_t, uint32_t) { return 3; };
  EXPECT_EQ(drop.Exec(), 0);
  EXPECT_FALSE(fs::exists(dir / "a.txt"));
  EXPECT_EQ(Tree(dir).size(), 1u);
}

TEST(DZCallbacks, OverwriteRules) {
  const fs::path dir = FreshDir("cb_overwrite");
  const std::string zip = MakeArchive(dir, {{.Name = "a.txt", .Data = "new"}});
  const fs::path out = dir / "out", file = out / "a.txt";
  auto run = [&](uint32_t opts, std::function<int(const std::string&, int32_t, int32_t, int32_t)> f,
                 int32_t* dflt = nullptr) {
    WriteFile(file, "old");
    THarness h;
    h.Archive = zip;
    h.Base = out.string();
    h.Options |= opts;
    h.OnOverwrite = [&](const std::string& n, int32_t d, int32_t i, int32_t o) {
      if (dflt) *dflt = d;
      return f ? f(n, d, i, o) : 0;
    };
    h.Exec();
    return h;
  };
  int32_t dflt = -1;
  // Without the option, no answer keeps the file and reports the skip.
  THarness h1 = run(0, nullptr, &dflt);
  EXPECT_EQ(dflt, 0);
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_TRUE(h1.HasSkip(kSkipNoOverwrite));
  // With it, no answer replaces.
  run(DZ_OPT_OVERWRITE, nullptr, &dflt);
  EXPECT_EQ(dflt, 1);
  EXPECT_EQ(ReadFile(file), "new");
  // Answer 1 replaces, 2 keeps, whatever the option.
  run(0, [](auto&, int32_t, int32_t, int32_t) { return 1; });
  EXPECT_EQ(ReadFile(file), "new");
  run(DZ_OPT_OVERWRITE, [](auto&, int32_t, int32_t, int32_t) { return 2; });
  EXPECT_EQ(ReadFile(file), "old");
  EXPECT_EQ(Tree(out).size(), 1u);
}

TEST(DZCallbacks, FreshenAndUpdateByDate) {
  const fs::path dir = FreshDir("cb_freshen");
  const uint32_t stamp = DosStamp(2020, 6, 15, 12, 0, 0);
  const std::string zip = MakeArchive(dir, {{.Name = "old.txt", .Data = "zip old", .DosTime = stamp},
                                            {.Name = "new.txt", .Data = "zip new", .DosTime = stamp},
                                            {.Name = "absent.txt", .Data = "zip absent", .DosTime = stamp}});
  // Runs h with the option over a folder holding an old.txt from 2019 and a new.txt
  // from now: either way the older file is replaced and the newer one kept.
  const auto run = [&](THarness& h, const fs::path& out, uint32_t option) {
    WriteFile(out / "old.txt", "disk old");
    WriteFile(out / "new.txt", "disk new");
    SetMTime(out / "old.txt", LocalTime(2019, 1, 1));
    h.SetUpExtract(zip, out);
    h.Options |= option;
    const int r = h.Exec();
    EXPECT_EQ(ReadFile(out / "old.txt"), "zip old");
    EXPECT_EQ(ReadFile(out / "new.txt"), "disk new");
    return r;
  };
  const fs::path f = dir / "fresh", u = dir / "upd";
  THarness hf;
  EXPECT_EQ(run(hf, f, DZ_OPT_FRESHEN), 1);
  EXPECT_FALSE(fs::exists(f / "absent.txt"));
  int fresh = 0;
  for (const TSkip& s : hf.Skips) fresh += s.Type == kSkipOnFreshen;
  EXPECT_EQ(fresh, 2);

  THarness hu;
  EXPECT_EQ(run(hu, u, DZ_OPT_UPDATE), 2);
  EXPECT_EQ(ReadFile(u / "absent.txt"), "zip absent");
}

TEST(DZCallbacks, TestModeWritesNothing) {
  const fs::path dir = FreshDir("cb_test");
  const std::string zip = MakeArchive(
      dir, {{.Name = "a/b.txt", .Data = "one"}, {.Name = "c.txt", .Data = "two", .CrcOverride = 1}});
  THarness h;
  h.Archive = zip;
  h.Base = (dir / "never").string();
  h.Options = DZ_OPT_ALWAYS | DZ_OPT_TEST | DZ_OPT_DIRNAMES;
  EXPECT_EQ(h.Exec(), 1);
  EXPECT_FALSE(fs::exists(dir / "never"));
  EXPECT_EQ(Tree(dir).size(), 1u);
  EXPECT_FALSE(h.Skips.empty());
}

TEST(DZCallbacks, SelectionFoldersAndProgress) {
  const fs::path dir = FreshDir("cb_select");
  const std::string zip = MakeArchive(dir, {{.Name = "docs/", .Data = "", .Method = 0},
                                            {.Name = "docs/readme.txt", .Data = "readme"},
                                            {.Name = "docs/skip.log", .Data = "log"},
                                            {.Name = "src/main.cpp", .Data = "int main(){}"},
                                            {.Name = "src/deep/x.h", .Data = "#pragma once"}});
  // Specifications and exclusions, folders kept.
  THarness h;
  h.SetUpExtract(zip, dir / "o1");
  h.Options |= DZ_OPT_DIRNAMES;
  h.Specs = {"docs/*", "*.h"};
  h.Excludes = {"*.log"};
  EXPECT_EQ(h.Exec(), 2);
  EXPECT_EQ(Tree(dir / "o1"), (std::map<std::string, std::string>{{"docs", "/"},
                                                                  {"docs/readme.txt", "readme"},
                                                                  {"src", "/"},
                                                                  {"src/deep", "/"},
                                                                  {"src/deep/x.h", "#pragma once"}}));
  EXPECT_EQ(h.TotalItems, 3);  // the folder entry, readme.txt and x.h
  EXPECT_EQ(h.TotalBytes, int64_t(6 + 12));
  EXPECT_EQ(h.StepBytes, int64_t(6 + 12));
  EXPECT_EQ(h.Actions.back(), DZ_CB_BATCH_END);
  EXPECT_EQ(h.Actions.front(), DZ_CB_OP_KEY);

  // Without folder names every file lands in the base folder.
  THarness flat;
  flat.SetUpExtract(zip, dir / "o2");
  EXPECT_EQ(flat.Exec(), 4);
  EXPECT_EQ(Tree(dir / "o2").size(), 4u);
  EXPECT_EQ(ReadFile(dir / "o2" / "x.h"), "#pragma once");
}

TEST(DZCallbacks, FileDates) {
  const fs::path dir = FreshDir("cb_dates");
  // Extended timestamp: 2001-09-09 01:46:40 UTC.
  std::string ut = "UT";
  ut += char(5);
  ut += char(0);
  ut += char(1);
  const uint32_t unixTime = 1000000000;
  for (int i = 0; i < 4; ++i) ut += char((unixTime >> (8 * i)) & 0xFF);
  const uint32_t stamp = DosStamp(2015, 3, 4, 10, 20, 30);
  const std::string zip = MakeArchive(dir, {{.Name = "a.txt", .Data = "a", .DosTime = stamp, .Extra = ut}});
  THarness dos;
  dos.SetUpExtract(zip, dir / "dos");
  EXPECT_EQ(dos.Exec(), 1);
  EXPECT_EQ(MTime(dir / "dos" / "a.txt"), LocalTime(2015, 3, 4, 10, 20, 30));

  THarness ntfs;
  ntfs.SetUpExtract(zip, dir / "ntfs");
  ntfs.Options |= DZ_OPT_NTFS;
  EXPECT_EQ(ntfs.Exec(), 1);
  EXPECT_EQ(MTime(dir / "ntfs" / "a.txt"), time_t(unixTime));
}

TEST(DZCallbacks, SkipAnswerEndsTheRun) {
  const fs::path dir = FreshDir("cb_skipstop");
  const std::string zip = MakeArchive(dir, {{.Name = "../bad", .Data = "x"}, {.Name = "ok", .Data = "y"}});
  THarness h;
  h.Archive = zip;
  h.Base = dir.string();
  h.OnSkipped = [](const TSkip&) { return 1; };
  EXPECT_EQ(h.Exec(), -26);
  EXPECT_FALSE(fs::exists(dir / "ok"));
}

TEST(DZCallbacks, RenamedEntriesObeyTheNameRules) {
  const fs::path dir = FreshDir("cb_rename");
  const std::string zip = MakeArchive(dir, {{.Name = "a/one.txt", .Data = "1"},
                                            {.Name = "a/two.txt", .Data = "2"},
                                            {.Name = "a/three.txt", .Data = "3"}});
  THarness h;
  h.SetUpExtract(zip, dir / "out");
  h.Options |= DZ_OPT_DIRNAMES;
  h.OnExtName = [](std::string& name, const std::string& base) {
    EXPECT_FALSE(base.empty());
    // Names come with the platform's separator.
    if (name == NativeName("a/one.txt"))
      name = "renamed/uno.txt";
    else if (name == NativeName("a/two.txt"))
      name = "../../escape.txt";
    else
      return 0;
    return 1;
  };
  EXPECT_EQ(h.Exec(), 2);
  EXPECT_EQ(ReadFile(dir / "out" / "renamed" / "uno.txt"), "1");
  EXPECT_EQ(ReadFile(dir / "out" / "a" / "three.txt"), "3");
  EXPECT_FALSE(fs::exists(dir / "escape.txt"));
  EXPECT_FALSE(fs::exists(dir.parent_path() / "escape.txt"));
  EXPECT_TRUE(h.HasSkip(4));
}

TEST(DZCallbacks, NameEncodings) {
  const fs::path dir = FreshDir("cb_names");
  // "caf\x82.txt" from an MS-DOS host is "café.txt" in code page 437; the UTF-8 flag
  // and the Unicode path field give UTF-8 directly.
  const std::string raw = "x.txt", uni = "\xc5\xbc\xc3\xb3\xc5\x82w.txt";  // żółw.txt
  std::string field;
  field += char(1);
  const uint32_t crc = Crc32(raw);
  for (int i = 0; i < 4; ++i) field += char((crc >> (8 * i)) & 0xFF);
  field += uni;
  std::string extra = "up";  // tag 0x7075
  extra += char(field.size() & 0xFF);
  extra += char(field.size() >> 8);
  extra += field;
  const std::string zip =
      MakeArchive(dir, {{.Name = "caf\x82.txt", .Data = "dos", .MadeBy = 0x0014},
                        {.Name = "\xc3\xa9t\xc3\xa9.txt", .Data = "utf8", .Flags = 0x800, .MadeBy = 0x0014},
                        {.Name = raw, .Data = "unicode path", .Extra = extra}});
  THarness h;
  h.SetUpExtract(zip, dir / "out");
  EXPECT_EQ(h.Exec(), 3) << h.AllMessages();
  EXPECT_EQ(ReadFile(dir / "out" / PathOf("caf\xc3\xa9.txt")), "dos");
  EXPECT_EQ(ReadFile(dir / "out" / PathOf("\xc3\xa9t\xc3\xa9.txt")), "utf8");
  EXPECT_EQ(ReadFile(dir / "out" / PathOf(uni)), "unicode path");
}
