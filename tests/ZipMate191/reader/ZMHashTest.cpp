// The name hash table: slot counts, keys, growth, the order of equal names, duplicates
// and marked entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "ZMMatch.h"
#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

class ZMHashTest : public ::testing::Test {
 protected:
  TTempDir Dir;
  TReaderFixture F;

  void Load(const std::vector<std::string>& names) {
    TArchiveSpec a;
    for (const auto& n : names) {
      TEntrySpec e;
      e.Name = n;
      a.Entries.push_back(e);
    }
    ASSERT_EQ(F.Open(Dir.Write("h.zip", BuildArchive(a))), 0);
  }
};

TEST_F(ZMHashTest, SlotCountsKeepUpWithTheEntries) {
  EXPECT_EQ(TZMDirHashList::SizeFor(0), 64);
  EXPECT_EQ(TZMDirHashList::SizeFor(42), 64);  // at most two thirds full
  EXPECT_EQ(TZMDirHashList::SizeFor(43), 128);
  EXPECT_EQ(TZMDirHashList::SizeFor(1000), 2048);
  EXPECT_EQ(TZMDirHashList::SizeFor(1000000), 2097152);
  EXPECT_EQ(TZMDirHashList::SizeFor(0x7FFFFFFF), TZMDirHashList::kMaxSlots);
  TZMDirHashList h(F.Reader.get());
  h.SetSize(5);
  EXPECT_EQ(h.SlotCount(), 64);
  h.SetSize(1000000);
  EXPECT_EQ(h.SlotCount(), 1048576);
  h.SetSize(0);
  EXPECT_EQ(h.SlotCount(), 0);
  EXPECT_EQ(h.Find("x", true), -1);
}

// Numbered names in numbered folders collide in bulk under the published name hash;
// the table's own keys must not, whatever the names.
TEST_F(ZMHashTest, NumberedNamesGetDistinctKeys) {
  std::set<uint32_t> published, keys;
  const int n = 20000;
  for (int i = 0; i < n; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "d%04d/f%07d.txt", i / 1000, i);
    published.insert(NameHashUpper(name));
    keys.insert(TZMDirHashList::KeyOf(name));
  }
  EXPECT_LT(published.size(), size_t(n / 2));
  EXPECT_GE(keys.size(), size_t(n - 2));  // 32-bit keys: a chance collision or two at most
  EXPECT_EQ(TZMDirHashList::KeyOf("Dir\\Read.Me"), TZMDirHashList::KeyOf("dir\\READ.ME"));
}

// A table filled without being sized grows, and still finds the first of equal names,
// also for runs that wrap from the last slot to the first.
TEST_F(ZMHashTest, AGrowingTableKeepsTheOrderOfEqualNames) {
  std::vector<std::string> names;
  for (int i = 0; i < 5000; ++i) names.push_back("n" + std::to_string(i % 2500));
  Load(names);
  TZMDirHashList h(F.Reader.get());
  for (int i = 0; i < 5000; ++i) h.Add(i, true);
  EXPECT_EQ(h.Count(), 5000);
  EXPECT_GE(h.SlotCount(), 7500);
  for (int i = 0; i < 2500; i += 97) EXPECT_EQ(h.Find("N" + std::to_string(i), true), i);
  F.Reader->Items(7)->SetStatusBit(128);
  EXPECT_EQ(h.Find("n7", false), 2507);
  h.ResizeFor(100000);
  EXPECT_EQ(h.SlotCount(), 262144);
  EXPECT_EQ(h.Find("n7", true), 7);
  EXPECT_EQ(h.Find("n7", false), 2507);
}

// A run that wraps from the last slot to the first keeps its order when the table grows.
TEST_F(ZMHashTest, AWrappedRunKeepsItsOrder) {
  std::vector<std::string> last;  // names whose home is the last of 64 slots
  for (int i = 0; last.size() < 2; ++i) {
    const std::string n = "w" + std::to_string(i);
    if ((TZMDirHashList::KeyOf(n) & 63) == 63) last.push_back(n);
  }
  Load({last[0], last[1], last[0]});
  TZMDirHashList h(F.Reader.get());
  h.SetSize(64);
  for (int i = 0; i < 3; ++i) h.Add(i, true);  // slots 63, 0 and 1
  h.ResizeFor(1000);
  EXPECT_EQ(h.Count(), 3);
  EXPECT_EQ(h.Find(last[0], true), 0);
  F.Reader->Items(0)->SetStatusBit(128);
  EXPECT_EQ(h.Find(last[0], false), 2);
}

TEST_F(ZMHashTest, AddReportsDuplicatesAndFindHonoursMarks) {
  Load({"One.txt", "two.txt", "ONE.TXT", "dir/one.txt", "one.txt"});
  TZMDirHashList h(F.Reader.get());
  EXPECT_EQ(h.Add(0, false), nullptr);
  EXPECT_EQ(h.SlotCount(), TZMDirHashList::kDefaultSlots);  // made on first use
  EXPECT_EQ(h.Add(1, false), nullptr);
  EXPECT_EQ(h.Add(2, false), F.Reader->Items(0));  // not entered
  EXPECT_EQ(h.Add(3, false), nullptr);
  EXPECT_EQ(h.Add(4, true), F.Reader->Items(0));  // entered after the first
  EXPECT_EQ(h.Find("one.TXT", true), 0);
  EXPECT_EQ(h.Find("dir\\ONE.txt", true), 3);
  EXPECT_EQ(h.Find("three.txt", true), -1);
  F.Reader->Items(0)->SetStatusBit(128);
  EXPECT_EQ(h.Find("one.txt", true), 0);
  EXPECT_EQ(h.Find("one.txt", false), 4);
}

// Records added after the names were decoded afresh (the table is off) and past the
// reserved slots: a lookup through the table still finds the records from before.
TEST_F(ZMHashTest, ATableMadeWhileGrowingHoldsTheEarlierRecords) {
  Load({"a", "b"});
  TZMZipFile& r = *F.Reader;
  r.ClearCachedNames();
  const int before = r.Capacity();
  for (int i = 0; r.Capacity() == before; ++i) {
    TZMZRec* rec = r.NewRecFrom(*r.Items(0));
    rec->SetHeaderName("n" + std::to_string(i));
    r.Add(rec);
  }
  int idx = -1;
  EXPECT_EQ(r.FindName("b", idx, false), r.Items(1));
  EXPECT_EQ(idx, 1);
  idx = -1;
  EXPECT_EQ(r.FindName("N3", idx, false), r.Items(5));
  const int again = r.Add(r.NewRecFrom(*r.Items(1)));
  EXPECT_EQ(r.CheckDuplicate(r.Items(again)), 1);
}

TEST_F(ZMHashTest, RebuildHashHonoursTheMask) {
  Load({"a", "b", "c", "a"});
  TZMZipFile& r = *F.Reader;
  EXPECT_EQ(r.RebuildHash(-1, false), 1);  // the second "a"
  EXPECT_EQ(r.RebuildHash(-1, true), 1);
  r.Items(0)->SetStatusBit(8);
  r.Items(1)->SetStatusBit(2);
  EXPECT_EQ(r.RebuildHash(0, false), 0);  // "a" at 0 is left out
  EXPECT_EQ(r.HashList().Find("a", true), 3);
  EXPECT_EQ(r.RebuildHash(2, false), 0);  // only selected records
  EXPECT_EQ(r.HashList().Find("b", true), 1);
  EXPECT_EQ(r.HashList().Find("c", true), -1);
  r.SetUseHash(false);
  EXPECT_EQ(r.RebuildHash(-1, false), 0);
  EXPECT_EQ(r.HashList().SlotCount(), 0);
  int idx = -1;
  EXPECT_EQ(r.FindName("c", idx, false), r.Items(2));
}

}  // namespace
