// Loading the central directory of archives built byte by byte: notifications,
// warnings and recovery, failures and clean-up, lookups, change detection, local
// header checks, editing and header writing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PlatPath.h"
#include "ZMUTF8.h"
#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

const std::string D(1, plat::PathDelim);

class ZMCentralTest : public ::testing::Test {
 protected:
  TTempDir Dir;
  TReaderFixture F;
  bool PrevMode = SetUTF8Mode(true);
  ~ZMCentralTest() override { SetUTF8Mode(PrevMode); }

  static TEntrySpec E(const std::string& name, const std::string& data = "data") {
    TEntrySpec e;
    e.Name = name;
    e.Data = data;
    return e;
  }
  int32_t OpenBuilt(const TArchiveSpec& a, const std::string& file = "a.zip") {
    return F.Open(Dir.Write(file, BuildArchive(a)));
  }
  std::vector<int> Kinds() const {
    std::vector<int> k;
    for (const auto& c : F.Changes) k.push_back(c.first);
    return k;
  }
};

TEST_F(ZMCentralTest, LoadsEntriesAndNotifiesEachStep) {
  TArchiveSpec a;
  a.Entries = {E("one.txt", "hello"), E("dir/", ""), E("dir/two.bin", std::string(300, 'z'))};
  a.Entries[0].Comment = "first";
  a.Comment = "archive comment";
  ASSERT_EQ(OpenBuilt(a), 0);
  TZMZipFile& r = *F.Reader;
  ASSERT_EQ(r.Count(), 3);
  EXPECT_EQ(r.Items(0)->FileName(), "one.txt");
  EXPECT_EQ(r.Items(0)->FileComment(), "first");
  EXPECT_EQ(r.Items(0)->CRC32(), Crc("hello"));
  EXPECT_EQ(r.Items(2)->UncompressedSize(), 300);
  EXPECT_EQ(r.Items(2)->FileName(), "dir" + D + "two.bin");
  EXPECT_TRUE(r.Items(1)->StatusBits() & zsbDirOnly);
  EXPECT_EQ(r.ZipComment(), "archive comment");
  EXPECT_EQ(Kinds(), (std::vector<int>{1, 2, 3, 3, 3, 6}));
  EXPECT_EQ(F.Changes[0].second, r.Generation());
  EXPECT_EQ(F.Changes[1].second, 3);
  EXPECT_EQ(F.Changes[4].second, 2);
  EXPECT_EQ(F.Changes[5].second, 3);
  EXPECT_TRUE(r.Info() & kInfoLoaded);
  EXPECT_TRUE(r.Info() & kInfoNewSettings);
  EXPECT_EQ(r.OpenResult(), 0);
  EXPECT_EQ(r.EntryAt(r.Generation(), 1), r.Items(1));
  EXPECT_EQ(r.EntryAt(r.Generation() + 1, 1), nullptr);
  EXPECT_EQ(r.EntryAt(r.Generation(), 3), nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(r.Items(i)->CheckLocal(), 0) << i;
}

TEST_F(ZMCentralTest, EmptyArchiveLoadsWithKinds126) {
  TArchiveSpec a;
  ASSERT_EQ(OpenBuilt(a), 0);
  EXPECT_EQ(F.Reader->Count(), 0);
  EXPECT_EQ(Kinds(), (std::vector<int>{1, 2, 6}));
}

TEST_F(ZMCentralTest, WrongRecordedOffsetWarnsAndUsesTheComputedPosition) {
  TArchiveSpec a;
  a.Entries = {E("x.txt"), E("y.txt")};
  a.CentralOffset = 5;
  ASSERT_EQ(OpenBuilt(a), 0);
  EXPECT_EQ(F.Reader->Count(), 2);
  EXPECT_TRUE(F.HasText("Warning - Error in zip structure!"));

  // Data in front of the archive (as in a self-extractor): found at the computed place.
  TReaderFixture g;
  TArchiveSpec b;
  b.Prefix = std::string(1000, '\x90');
  b.Entries = {E("in.txt")};
  ASSERT_EQ(g.Open(Dir.Write("b.zip", BuildArchive(b))), 0);
  ASSERT_EQ(g.Reader->Count(), 1);
  EXPECT_EQ(g.Reader->Items(0)->FileName(), "in.txt");
  EXPECT_EQ(g.Reader->CentralPos(), 1000 + 30 + 6 + 4);
}

TEST_F(ZMCentralTest, TruncatedDirectoryFailsAndCleansUp) {
  TArchiveSpec a;
  a.Entries = {E("a1"), E("a2"), E("a3")};
  std::string bytes = BuildArchive(a);
  // Keep the first record and a part of the second, then a fresh end record that
  // still announces three records.
  const size_t cen = bytes.find(std::string("PK\x01\x02", 4));
  std::string cut = bytes.substr(0, cen + 48 + 20);
  std::string eocd;
  Put32(eocd, 0x06054B50);
  Put32(eocd, 0);
  Put16(eocd, 3);
  Put16(eocd, 3);
  Put32(eocd, 68);
  Put32(eocd, uint32_t(cen));
  Put16(eocd, 0);
  cut += eocd;
  const int32_t r = F.Open(Dir.Write("t.zip", cut));
  EXPECT_LT(r, 0);
  EXPECT_EQ(MsgOf(r), zmsErrorWhileReadingCentralHeader);  // the second record runs into the end record
  EXPECT_FALSE(F.Reader->IsOpen());
  EXPECT_EQ(F.Reader->FileName(), "");
  ASSERT_FALSE(F.Changes.empty());
  EXPECT_EQ(F.Changes.back(), std::make_pair(6, 1));
}

TEST_F(ZMCentralTest, LyingCountsNeverOverAllocateOrOverRead) {
  TArchiveSpec a;
  a.Entries = {E("only")};
  a.TotalEntries = 0xFFFF;
  const int32_t r = OpenBuilt(a);
  EXPECT_LT(r, 0);
  EXPECT_LE(F.Reader->Capacity(), 16);
  // Sizes, offsets and a central size beyond the file are just values: the recorded
  // offset still points at the directory, which loads after the warning.
  TReaderFixture g;
  TArchiveSpec b;
  b.Entries = {E("big")};
  b.Entries[0].CSize = 0xFFFFFFF0;
  b.Entries[0].Offset = 0x7FFFFFF0;
  b.CentralSize = 0x7FFFFFFF;
  ASSERT_EQ(g.Open(Dir.Write("b.zip", BuildArchive(b))), 0);
  EXPECT_TRUE(g.HasText("Warning - Error in zip structure!"));
  EXPECT_EQ(g.Reader->Items(0)->CompressedSize(), 0xFFFFFFF0LL);
  EXPECT_EQ(g.Reader->Items(0)->RelOffLocalHdr(), 0x7FFFFFF0LL);
  EXPECT_EQ(MsgOf(g.Reader->Items(0)->CheckLocal()), 165);
  // Neither the recorded nor the computed place holds the directory.
  TReaderFixture h;
  b.CentralOffset = 7;
  EXPECT_EQ(MsgOf(h.Open(Dir.Write("c.zip", BuildArchive(b)))), 204);
}

TEST_F(ZMCentralTest, ItemsOutsideTheRangeRaise199) {
  TArchiveSpec a;
  a.Entries = {E("a"), E("b")};
  ASSERT_EQ(OpenBuilt(a), 0);
  try {
    F.Reader->Items(2);
    FAIL() << "no exception";
  } catch (const EZMException& e) {
    EXPECT_EQ(e.MsgId, zmsIndexOutsideRange);
    EXPECT_NE(e.Message().find("0..1"), std::string::npos) << e.Message();
  }
  EXPECT_THROW(F.Reader->Items(-1), EZMException);
  EXPECT_THROW(F.Reader->SetItem(5, nullptr), EZMException);
}

TEST_F(ZMCentralTest, DuplicateNamesLoadAndAreReported) {
  TArchiveSpec a;
  a.Entries = {E("a.txt"), E("b.txt"), E("A.TXT")};
  ASSERT_EQ(OpenBuilt(a), 0);
  TZMZipFile& r = *F.Reader;
  EXPECT_EQ(r.Count(), 3);
  int idx = -1;
  EXPECT_EQ(r.FindName("a.txt", idx, false), r.Items(0));
  EXPECT_EQ(idx, 0);
  // Continuing from a hit runs linearly and finds the second one.
  EXPECT_EQ(r.FindName("a.txt", idx, false), r.Items(2));
  EXPECT_EQ(idx, 2);
  EXPECT_EQ(r.FindName("a.txt", idx, false), nullptr);
  EXPECT_EQ(idx, kNotFoundIndex);
  EXPECT_EQ(r.CheckDuplicate(r.Items(2)), 0);
  EXPECT_EQ(r.CheckDuplicate(r.Items(0)), 2);
  EXPECT_LT(r.CheckDuplicate(r.Items(1)), 0);
  // The same answers without the table.
  r.SetUseHash(false);
  EXPECT_EQ(r.CheckDuplicate(r.Items(2)), 0);
  EXPECT_EQ(r.CheckDuplicate(r.Items(0)), 2);
  EXPECT_FALSE(r.Items(0)->StatusBits() & zsbIgnore);
  // Entries marked 128 are passed over.
  r.SetUseHash(true);
  r.Items(0)->SetStatusBit(zsbError);
  EXPECT_LT(r.CheckDuplicate(r.Items(2)), 0);
  EXPECT_EQ(r.HashList().Find("a.txt", false), -1);  // A.TXT was never entered
  EXPECT_EQ(r.HashList().Find("a.txt", true), 0);
}

TEST_F(ZMCentralTest, LookupsByHashLinearAndWildcard) {
  TArchiveSpec a;
  for (int i = 0; i < 500; ++i) a.Entries.push_back(E("dir/file" + std::to_string(i) + ".dat", ""));
  ASSERT_EQ(OpenBuilt(a), 0);
  TZMZipFile& r = *F.Reader;
  EXPECT_EQ(r.HashList().SlotCount(), 1024);
  int idx = -1;
  EXPECT_EQ(r.FindName("DIR/FILE321.DAT", idx, false), r.Items(321));
  idx = -1;
  EXPECT_EQ(r.FindName("dir\\file7.dat", idx, false), r.Items(7));
  idx = -1;
  EXPECT_EQ(r.FindName("", idx, false), nullptr);
  idx = -1;
  EXPECT_EQ(r.FindName("*file49?.dat", idx, true), r.Items(490));
  EXPECT_EQ(r.FindName("*file49?.dat", idx, true), r.Items(491));
  // Without the table lookups still succeed.
  r.ClearCachedNames();
  EXPECT_EQ(r.HashList().SlotCount(), 0);
  idx = -1;
  EXPECT_EQ(r.FindName("dir/file499.dat", idx, false), r.Items(499));
  idx = -1;
  EXPECT_EQ(r.FindName("dir\\file498.dat", idx, false), r.Items(498));
  EXPECT_EQ(r.RebuildHash(-1, false), 0);
  EXPECT_EQ(r.HashList().SlotCount(), 1024);
  // Truncate keeps the table in step.
  EXPECT_EQ(r.Truncate(100), 400);
  EXPECT_EQ(r.Count(), 100);
  idx = -1;
  EXPECT_EQ(r.FindName("dir/file99.dat", idx, false), r.Items(99));
  idx = -1;
  EXPECT_EQ(r.FindName("dir/file100.dat", idx, false), nullptr);
}

// Between two operations the archive is closed: it reopens while unchanged, a new write
// time is noticed once and then taken, new contents make reopening fail, and a file that
// is gone cannot be opened.
TEST_F(ZMCentralTest, AChangedArchiveIsNoticed) {
  TArchiveSpec a;
  a.Entries = {E("r.txt")};
  const std::string path = Dir.Write("r.zip", BuildArchive(a));
  ASSERT_EQ(F.Open(path), 0);
  F.Reader->File_Close();
  EXPECT_EQ(F.Reader->File_Reopen(TZMWorkFile::kReadShareDenyWrite), 0);
  F.Reader->File_Close();
  EXPECT_EQ(F.Reader->CheckUnchanged(), 0);
  F.Reader->File_Close();
  std::filesystem::last_write_time(path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
  EXPECT_EQ(MsgOf(F.Reader->CheckUnchanged()), zmsFileChanged);
  EXPECT_EQ(F.Reader->CheckUnchanged(), 0);
  F.Reader->File_Close();
  a.Entries.push_back(E("s.txt"));
  std::filesystem::remove(path);
  Dir.Write("r.zip", BuildArchive(a) + "more");
  F.Zip.SetVerbose(true);
  EXPECT_EQ(MsgOf(F.Reader->File_Reopen(TZMWorkFile::kReadShareDenyWrite)), zmsZipFileWasChanged);
  EXPECT_TRUE(F.HasText("File has changed! "));
  F.Reader->File_Close();
  std::filesystem::remove(path);
  EXPECT_EQ(MsgOf(F.Reader->CheckUnchanged()), zmsZipFileCouldNotBeOpened);
  EXPECT_GT(F.Reader->CheckUnchanged(), 0);
}

TEST_F(ZMCentralTest, MissingFileIs123) {
  const int32_t r = F.Open(Dir.File("none.zip"));
  EXPECT_EQ(MsgOf(r), zmsInputFileDoesNotExist);
  EXPECT_EQ(F.Reader->Count(), 0);
}

TEST_F(ZMCentralTest, CheckLocalComparesOnlyTheName) {
  TArchiveSpec a;
  a.Entries = {E("same.txt"), E("other.txt"), E("gone.txt")};
  a.Entries[1].LocalName = "OTHER.txt";
  a.Entries[2].Offset = 3;  // not a local header
  ASSERT_EQ(OpenBuilt(a), 0);
  F.Zip.SetVerbose(true);
  EXPECT_EQ(F.Reader->Items(0)->CheckLocal(), 0);
  EXPECT_EQ(MsgOf(F.Reader->Items(1)->CheckLocal()), 167);
  EXPECT_EQ(MsgOf(F.Reader->Items(2)->CheckLocal()), 165);
  EXPECT_TRUE(F.HasText("Trace: could not read local header: gone.txt"));
  F.Reader->File_Close();
  EXPECT_EQ(MsgOf(F.Reader->Items(0)->CheckLocal()), 164);
}

TEST_F(ZMCentralTest, HostileNamesAndExtraFieldsLoadVerbatim) {
  TArchiveSpec a;
  a.Entries = {E(std::string("nul\0name", 8)), E("../../etc/passwd"), E("/abs/path"), E("c:\\win.ini")};
  std::string badExtra;
  Put16(badExtra, 0x7075);
  Put16(badExtra, 0xFFF0);
  badExtra += "\x01\x02";
  a.Entries[0].Extra = badExtra;
  a.Entries[1].Extra = Block(1, "1234");
  a.Entries[1].Needed = 45;
  a.Entries[1].CSize = 0xFFFFFFFF;
  ASSERT_LT(OpenBuilt(a), 0);  // the empty Zip64 block cannot supply the size: 181
  EXPECT_EQ(MsgOf(OpenBuilt(a)), zmsErrorReadingZip64Field);

  TReaderFixture g;
  a.Entries[1].Extra.clear();
  a.Entries[1].Needed = 20;
  ASSERT_EQ(g.Open(Dir.Write("h.zip", BuildArchive(a))), 0);
  EXPECT_EQ(g.Reader->Items(0)->FileNameLength(), 8);
  EXPECT_EQ(g.Reader->Items(0)->ExtraData(0x7075), "");
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(TZMZRec::IsInvalidName(g.Reader->Items(i)->FileName())) << i;
}

TEST_F(ZMCentralTest, EditingOperations) {
  TArchiveSpec a;
  a.Entries = {E("a.txt"), E("b.txt"), E("folder/", "")};
  a.Entries[1].Flag = 1;
  ASSERT_EQ(OpenBuilt(a), 0);
  TZMZRec* r0 = F.Reader->Items(0);
  TZMZRec* r1 = F.Reader->Items(1);
  TZMZRec* r2 = F.Reader->Items(2);
  EXPECT_EQ(MsgOf(r0->SetFileName("B.TXT")), zmsDuplicateFilename);
  EXPECT_EQ(MsgOf(r0->SetFileName("a.txt")), zmsCannotChangePath);
  EXPECT_EQ(MsgOf(r0->SetFileName("x/")), zmsCannotChangePath);
  EXPECT_EQ(MsgOf(r2->SetFileName("plain")), zmsCannotChangePath);
  EXPECT_EQ(MsgOf(r0->SetFileName("bad|name")), zmsInvalidFilename);
  EXPECT_FALSE(r0->StatusBits() & zsbChanged);
  EXPECT_EQ(r0->SetFileName("A.txt"), 0);  // only the case changes: not a duplicate of itself
  EXPECT_EQ(MsgOf(r0->SetFileName("new" + D + "name:x.txt")), zmsInvalidFilename);
  EXPECT_EQ(r0->SetFileName("C:" + D + "new" + D + "n.txt"), 0);
  EXPECT_EQ(r0->HeaderName(), "new/n.txt");
  EXPECT_EQ(r0->FileName(), "new" + D + "n.txt");
  EXPECT_TRUE(r0->StatusBits() & zsbChanged);
  EXPECT_EQ(r0->VersionMadeBy(), 30);

  // A non-ASCII comment on a plain name: Unicode comment block, OEM stored text.
  EXPECT_EQ(r0->SetFileComment("caf\xC3\xA9"), 0);
  EXPECT_EQ(r0->HeaderComment(), "caf\x82");
  EXPECT_EQ(r0->ExtraData(0x6375).substr(5), "caf\xC3\xA9");
  EXPECT_EQ(r0->FileComment(), "caf\xC3\xA9");
  EXPECT_EQ(r0->Encoded(), zeoUPath);
  // Name and comment both non-ASCII: UTF-8 with flag bit 11.
  EXPECT_EQ(r0->SetFileName("\xC3\xA9t\xC3\xA9.txt"), 0);
  EXPECT_TRUE(r0->Flag() & 0x0800);
  EXPECT_EQ(r0->HeaderName(), "\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(r0->ExtraData(0x6375), "");
  EXPECT_EQ(r0->FileName(), "\xC3\xA9t\xC3\xA9.txt");
  int idx = -1;
  EXPECT_EQ(F.Reader->FindName("\xC3\xA9t\xC3\xA9.txt", idx, false), r0);

  // Dates.
  EXPECT_EQ(MsgOf(r1->SetDateStamp(0x5A2C6000)), zmsCannotChangeEncryptedDetails);
  F.Zip.SetVerbose(true);
  EXPECT_EQ(MsgOf(r2->SetDateStamp(0x5A406000)), zmsInvalidDateTimeArgumentFor);  // day 0
  EXPECT_TRUE(F.HasText("Trace: Invalid date folder"));
  EXPECT_EQ(MsgOf(r2->SetDateStamp(0x5A5D6000)), zmsInvalidDateTimeArgumentFor);  // 2025-02-29
  EXPECT_EQ(r2->SetDateStamp(0x5A2D6000), 0);
  EXPECT_EQ(r2->DateTime(), 0x5A2D6000u);

  // Extra fields keep the record's own Unicode blocks.
  TZMZRec* r = F.Reader->Items(0);
  r->ClearStatusBit(zsbChanged);
  const std::string own = r->ExtraField();
  EXPECT_EQ(r->SetExtraField(own), 0);
  EXPECT_FALSE(r->StatusBits() & zsbChanged);
  EXPECT_EQ(r->SetExtraField(Block(0x5455, "abcde") + UnicodeBlock(0x7075, "zz", "zz")), 0);
  EXPECT_EQ(r->ExtraField(), Block(0x5455, "abcde"));
  EXPECT_EQ(
      MsgOf(r->SetExtraField(Block(0x5455, std::string(65000, 'e')) + Block(0x5456, std::string(600, 'f')))),
      112);

  EXPECT_EQ(r->SetExtFileAttrib(0x20), 0);
  EXPECT_EQ(r->ExtFileAttrib(), 0x20u);
}

TEST_F(ZMCentralTest, HeadersWrittenThroughTheWorkFileReadBack) {
  TArchiveSpec a;
  a.Entries = {E("w.txt", "payload")};
  a.Entries[0].Flag = 8 | 1;
  a.Entries[0].Extra = Block(0x5455, "12345");
  ASSERT_EQ(OpenBuilt(a), 0);
  TZMZRec* rec = F.Reader->Items(0);

  TReaderFixture w;
  const std::string out = Dir.File("out.bin");
  ASSERT_TRUE(w.Reader->File_Create(out));
  TZMZRec* copy = w.Reader->NewRecFrom(*rec);
  w.Reader->Add(copy);
  EXPECT_EQ(copy->WriteLocal(copy->DateTime(), copy->CRC32()), 0);
  EXPECT_EQ(copy->WriteDataDesc(), 24);  // the local header raised the version to 4.5
  EXPECT_EQ(copy->WriteCentral(), 0);
  w.Reader->File_Close();
  const std::string bytes = ReadFile(out);
  ASSERT_EQ(bytes.size(), size_t(30 + 5 + 9 + 24 + 46 + 5 + 9));
  EXPECT_EQ(zm::GetLE32(bytes.data()), 0x04034B50u);
  EXPECT_EQ(zm::GetLE32(bytes.data() + 44), 0x08074B50u);
  TZMZRec back(w.Reader.get());
  size_t used = 0;
  ASSERT_EQ(back.ParseCentral(reinterpret_cast<const uint8_t*>(bytes.data()) + 68, bytes.size() - 68, used),
            0);
  EXPECT_EQ(back.HeaderName(), "w.txt");
  EXPECT_EQ(back.CRC32(), Crc("payload"));
  EXPECT_EQ(back.ExtraData(0x5455), "12345");
  // Writing without an open file.
  EXPECT_EQ(copy->WriteCentral(), -1);
}

TEST_F(ZMCentralTest, AssignFromCopiesTheDirectory) {
  TArchiveSpec a;
  a.Entries = {E("k1"), E("k2"), E("k3")};
  a.Comment = "cc";
  ASSERT_EQ(OpenBuilt(a), 0);
  F.Reader->Items(1)->SetStatusBit(zsbDiscard);
  F.Reader->Items(2)->SetStatusBit(zsbSelected);
  TReaderFixture g;
  g.Reader->AssignFrom(*F.Reader);
  ASSERT_EQ(g.Reader->Count(), 2);
  EXPECT_EQ(g.Reader->Items(1)->FileName(), "k3");
  EXPECT_EQ(g.Reader->SelCount(), 1);
  EXPECT_EQ(g.Reader->ZipComment(), "cc");
  EXPECT_EQ(g.Reader->LoadedWriteTime(), F.Reader->LoadedWriteTime());
  int idx = -1;
  EXPECT_EQ(g.Reader->FindName("k3", idx, false), g.Reader->Items(1));
}

TEST_F(ZMCentralTest, LargeDirectoryLoadsAndFinds) {
  TArchiveSpec a;
  for (int i = 0; i < 70000; ++i) a.Entries.push_back(E("n/" + std::to_string(i), ""));
  ASSERT_EQ(OpenBuilt(a), 0);
  ASSERT_EQ(F.Reader->Count(), 70000);
  EXPECT_EQ(F.Reader->HashList().SlotCount(), 131072);  // sized to the entries
  int idx = -1;
  EXPECT_EQ(F.Reader->FindName("n/69999", idx, false), F.Reader->Items(69999));
  EXPECT_EQ(F.Reader->HashList().Count(), 70000);
}

}  // namespace
