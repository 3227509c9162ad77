// Directory entry records: header parsing, Zip64 and Unicode extra fields, name
// decoding, versions, header writing and the editing operations.
#include <gtest/gtest.h>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "ZMUTF8.h"
#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

const std::string D(1, plat::PathDelim);

struct TModeGuard {
  bool Prev;
  unsigned PrevOem;
  explicit TModeGuard(bool utf8) : Prev(SetUTF8Mode(utf8)), PrevOem(plat::SetOemCodePageOverride(437)) {}
  ~TModeGuard() {
    SetUTF8Mode(Prev);
    plat::SetOemCodePageOverride(PrevOem);
  }
};

class ZMIRecTest : public ::testing::Test {
 protected:
  TReaderFixture F;
  TModeGuard Mode{true};

  // Parses the central header of e from memory.
  int32_t Parse(TZMZRec& rec, const TEntrySpec& e, uint32_t offset = 0) {
    const std::string h = CentralHeader(e, offset);
    size_t used = 0;
    const int32_t r = rec.ParseCentral(reinterpret_cast<const uint8_t*>(h.data()), h.size(), used);
    if (r >= 0) {
      EXPECT_EQ(used, h.size());
    }
    return r;
  }
  std::unique_ptr<TZMZRec> Rec(const TEntrySpec& e) {
    auto rec = std::make_unique<TZMZRec>(F.Reader.get());
    EXPECT_GE(Parse(*rec, e), 0);
    return rec;
  }
};

TEST_F(ZMIRecTest, ParsesEveryFieldOfTheCentralHeader) {
  TEntrySpec e;
  e.Name = "dir/sub/";
  e.Data = "";
  e.Comment = "note";
  e.Extra = Block(0x5455, std::string(5, 'x'));
  e.MadeBy = 0x0314;
  e.Needed = 20;
  e.Flag = 0x0008;
  e.Method = 8;
  e.ExtAttr = 0x41ED0010;
  e.CSize = 1234;
  e.USize = 5678;
  e.Offset = 99;
  auto r = Rec(e);
  EXPECT_EQ(r->VersionMadeBy(), 0x0314);
  EXPECT_EQ(r->VersionNeeded(), 20);
  EXPECT_EQ(r->Flag(), 8);
  EXPECT_EQ(r->CompressionMethod(), 8);
  EXPECT_EQ(r->DateTime(), e.DosTime);
  EXPECT_EQ(r->CompressedSize(), 1234);
  EXPECT_EQ(r->UncompressedSize(), 5678);
  EXPECT_EQ(r->RelOffLocalHdr(), 99);
  EXPECT_EQ(r->ExtFileAttrib(), 0x41ED0010u);
  EXPECT_EQ(r->FileNameLength(), 8);
  EXPECT_EQ(r->FileCommentLen(), 4);
  EXPECT_EQ(r->ExtraFieldLength(), 9);
  EXPECT_EQ(r->HeaderName(), "dir/sub/");
  EXPECT_EQ(r->FileName(), "dir" + D + "sub" + D);
  EXPECT_EQ(r->FileComment(), "note");
  EXPECT_EQ(r->ExtraData(0x5455), std::string(5, 'x'));
  EXPECT_TRUE(r->StatusBits() & zsbDirOnly);
  EXPECT_FALSE(r->StatusBits() & zsbInvalid);
  EXPECT_FALSE(r->Encrypted());
}

TEST_F(ZMIRecTest, ShortOrWrongHeadersGiveTheirMessages) {
  TEntrySpec e;
  e.Name = "name.txt";
  e.Extra = Block(0x5455, "abcd");
  e.Comment = "comment";
  const std::string h = CentralHeader(e, 0);
  const auto* p = reinterpret_cast<const uint8_t*>(h.data());
  TZMZRec r(F.Reader.get());
  size_t used = 0;
  EXPECT_EQ(MsgOf(r.ParseCentral(p, 45, used)), zmsErrorWhileReadingCentralHeader);
  EXPECT_EQ(MsgOf(r.ParseCentral(p, 46 + 3, used)), zmsErrorReadingCentralFileName);
  EXPECT_EQ(MsgOf(r.ParseCentral(p, 46 + 8 + 2, used)), zmsSeekErrorReadingZipArchive);
  EXPECT_EQ(MsgOf(r.ParseCentral(p, h.size() - 1, used)), 151);
  std::string bad = h;
  bad[1] = 'X';
  EXPECT_EQ(MsgOf(r.ParseCentral(reinterpret_cast<const uint8_t*>(bad.data()), bad.size(), used)), 119);
  EXPECT_TRUE(r.StatusBits() & zsbInvalid);
}

TEST_F(ZMIRecTest, Zip64ExtraReplacesOnlyMarkedFields) {
  TEntrySpec e;
  e.Name = "big";
  e.Needed = 45;
  e.CSize = 0xFFFFFFFF;
  std::string d;
  Put64(d, 0x123456789ULL);
  e.Extra = Block(1, d);
  auto r = Rec(e);
  EXPECT_EQ(r->CompressedSize(), 0x123456789LL);
  EXPECT_EQ(r->UncompressedSize(), 0);

  // Both sizes marked but only 8 bytes: the uncompressed size takes them, then 181.
  e.USize = 0xFFFFFFFF;
  TZMZRec r2(F.Reader.get());
  EXPECT_EQ(MsgOf(Parse(r2, e)), zmsErrorReadingZip64Field);
  EXPECT_EQ(r2.UncompressedSize(), 0x123456789LL);

  // Version needed 2.0 (Info-ZIP writes folders so): a block holding every marked
  // value is taken, a short one is ignored without an error.
  e.Needed = 10;
  e.USize = -1;
  TZMZRec r3(F.Reader.get());
  EXPECT_EQ(Parse(r3, e), 1);
  EXPECT_EQ(r3.CompressedSize(), 0x123456789LL);
  e.USize = 0xFFFFFFFF;
  TZMZRec r3b(F.Reader.get());
  EXPECT_EQ(Parse(r3b, e), 0);
  EXPECT_EQ(r3b.CompressedSize(), 0xFFFFFFFFLL);
  EXPECT_EQ(r3b.UncompressedSize(), 0xFFFFFFFFLL);
  // Without markers the block is not consulted.
  e.CSize = e.USize = -1;
  TZMZRec r3c(F.Reader.get());
  EXPECT_EQ(Parse(r3c, e), 0);
  EXPECT_EQ(r3c.CompressedSize(), 0);

  // All four values, result 1.
  TEntrySpec f;
  f.Name = "all";
  f.Needed = 45;
  f.CSize = f.USize = f.Offset = 0xFFFFFFFF;
  std::string all;
  Put64(all, 1ULL << 33);
  Put64(all, 1ULL << 34);
  Put64(all, 1ULL << 35);
  f.Extra = Block(0x000A, std::string(32, '\0')) + Block(1, all);
  TZMZRec r4(F.Reader.get());
  EXPECT_EQ(Parse(r4, f), 1);
  EXPECT_EQ(r4.UncompressedSize(), int64_t(1) << 33);
  EXPECT_EQ(r4.CompressedSize(), int64_t(1) << 34);
  EXPECT_EQ(r4.RelOffLocalHdr(), int64_t(1) << 35);
}

TEST_F(ZMIRecTest, ExtraBlocksAreFoundOnlyWhenWhollyInside) {
  TEntrySpec e;
  e.Name = "x";
  e.Extra = Block(0x1111, "ab") + Block(0x2222, "cdef");
  auto r = Rec(e);
  EXPECT_EQ(r->ExtraData(0x2222), "cdef");
  EXPECT_EQ(r->ExtraData(0x3333), "");
  // A block claiming more than the field holds.
  std::string lying;
  Put16(lying, 0x4444);
  Put16(lying, 200);
  lying += "xyz";
  e.Extra = Block(0x1111, "ab") + lying;
  auto r2 = Rec(e);
  EXPECT_EQ(r2->ExtraData(0x4444), "");
  EXPECT_EQ(r2->ExtraData(0x1111), "ab");
  // Fewer than 4 bytes.
  e.Extra = "ab";
  EXPECT_EQ(Rec(e)->ExtraData(0x6261), "");
}

TEST_F(ZMIRecTest, EncodingKindFollowsFlagExtraAndHost) {
  TEntrySpec e;
  e.Name = "caf\x82";  // OEM 437: é
  e.MadeBy = 0x0014;   // MS-DOS
  EXPECT_EQ(Rec(e)->Encoded(), zeoOEM);
  EXPECT_EQ(Rec(e)->FileName(), "caf\xC3\xA9");

  e.MadeBy = 0x0B32;
  EXPECT_EQ(Rec(e)->Encoded(), zeoOEM);

  e.Name = "caf\xC3\xA9";
  e.MadeBy = 0x0014;
  e.Flag = 0x0800;
  EXPECT_EQ(Rec(e)->Encoded(), zeoUTF8);
  EXPECT_EQ(Rec(e)->FileName(), "caf\xC3\xA9");

  // Unicode path with the right CRC wins over the host.
  TEntrySpec u;
  u.Name = "caf?";
  u.MadeBy = 0x0014;
  u.Extra = UnicodeBlock(0x7075, u.Name, "caf\xC3\xA9");
  EXPECT_EQ(Rec(u)->Encoded(), zeoUPath);
  EXPECT_EQ(Rec(u)->FileName(), "caf\xC3\xA9");

  // A wrong CRC, version or bad UTF-8: the block is ignored.
  u.Extra = UnicodeBlock(0x7075, "other", "caf\xC3\xA9");
  EXPECT_EQ(Rec(u)->Encoded(), zeoOEM);
  EXPECT_EQ(Rec(u)->FileName(), "caf?");
  u.Extra = UnicodeBlock(0x7075, u.Name, "caf\xC3\xA9", 2);
  EXPECT_EQ(Rec(u)->Encoded(), zeoOEM);
  u.Extra = UnicodeBlock(0x7075, u.Name, "caf\xC3");
  EXPECT_EQ(Rec(u)->Encoded(), zeoOEM);

  // Unix host, no flag: native.
  TEntrySpec n;
  n.Name = "plain";
  EXPECT_EQ(Rec(n)->Encoded(), zeoNone);
}

TEST_F(ZMIRecTest, UnicodeCommentAndEncodingSetting) {
  TEntrySpec e;
  e.Name = "a.txt";
  e.Comment = "x\x82y";
  e.MadeBy = 0x0014;
  e.Extra = UnicodeBlock(0x6375, e.Comment, "x\xE2\x82\xACy");
  auto r = Rec(e);
  EXPECT_EQ(r->Encoded(), zeoUPath);
  EXPECT_EQ(r->FileComment(), "x\xE2\x82\xACy");
  EXPECT_EQ(r->FileName(), "a.txt");

  // The component's setting overrides the stored kind.
  F.Zip.SetEncoding(zeoOEM);
  r->ClearCache();
  EXPECT_EQ(r->FileComment(), "x\xC3\xA9y");
  F.Zip.SetEncoding(zeoAuto);
}

TEST_F(ZMIRecTest, AnsiModeConvertsToTheAnsiCodePage) {
  TModeGuard ansi(false);
  const unsigned prevAnsi = plat::SetAnsiCodePageOverride(1252);
  TEntrySpec e;
  e.Name = "caf\xC3\xA9";
  e.Flag = 0x0800;
  EXPECT_EQ(Rec(e)->FileName(), "caf\xE9");
  TEntrySpec o;
  o.Name = "caf\x82";
  o.MadeBy = 0x0014;
  EXPECT_EQ(Rec(o)->FileName(), "caf\xE9");
  plat::SetAnsiCodePageOverride(prevAnsi);
}

TEST_F(ZMIRecTest, BackslashesInStoredNamesAreSeparators) {
  TEntrySpec e;
  e.Name = "a\\b/c";
  EXPECT_EQ(Rec(e)->FileName(), "a" + D + "b" + D + "c");
}

TEST_F(ZMIRecTest, StatusOperationsReportPreviousBits) {
  TEntrySpec e;
  e.Name = "s";
  auto r = Rec(e);
  EXPECT_EQ(r->SetStatusBit(zsbSelected | zsbError), 0u);
  EXPECT_EQ(r->SetStatusBit(zsbSelected), uint32_t(zsbSelected));
  EXPECT_EQ(r->TestStatusBit(zsbSelected | zsbError), 1u);
  EXPECT_EQ(r->TestStatusBit(zsbHashed), 0u);
  r->Hash();
  EXPECT_EQ(r->TestStatusBit(zsbHashed), uint32_t(zsbHashed));
  EXPECT_EQ(r->ClearStatusBit(zsbError | zsbChanged), uint32_t(zsbError));
  EXPECT_FALSE(r->StatusBits() & zsbError);
}

TEST_F(ZMIRecTest, VersionsFollowMethodFlagsAndZip64) {
  TEntrySpec e;
  e.Name = "v";
  e.MadeBy = 0x032D;  // 4.5
  e.Needed = 0x0114;
  auto r = Rec(e);
  r->SetVersions(false);
  EXPECT_EQ(r->VersionMadeBy(), 0x031E);
  EXPECT_EQ(r->VersionNeeded(), 0x010A);  // stored; high byte kept
  r->SetCompressionMethod(8);
  r->SetFlag(0x20);
  r->SetVersions(false);
  EXPECT_EQ(r->VersionNeeded() & 0xFF, 27);
  r->SetVersions(true);
  EXPECT_EQ(r->VersionNeeded() & 0xFF, 45);
  EXPECT_EQ(r->VersionMadeBy() & 0xFF, 45);
  const int methods[][2] = {{9, 21}, {10, 25}, {12, 46}, {14, 45}};
  for (const auto& m : methods) {
    r->SetFlag(0);
    r->SetCompressionMethod(uint16_t(m[0]));
    r->SetVersionNeeded(20);
    r->SetVersions(false);
    EXPECT_EQ(r->VersionNeeded(), m[1]) << m[0];
  }
  // Above 4.5 nothing changes.
  r->SetVersionNeeded(63);
  r->SetVersionMadeBy(0x033F);
  r->SetVersions(true);
  EXPECT_EQ(r->VersionNeeded(), 63);
  EXPECT_EQ(r->VersionMadeBy(), 0x033F);
}

TEST_F(ZMIRecTest, LocalExtraCarriesZip64AndDropsCentralOnlyBlocks) {
  TEntrySpec e;
  e.Name = "L";
  e.Extra = Block(0x000A, std::string(32, 't')) + Block(0x5455, "12345") + Block(0x6375, "c");
  auto r = Rec(e);
  r->BuildLocalExtra();
  EXPECT_EQ(r->LocalExtra(), Block(0x5455, "12345"));
  EXPECT_FALSE(r->StatusBits() & zsbLocal64);
  EXPECT_TRUE(r->StatusBits() & zsbLocalDone);
  EXPECT_EQ(r->LocalHeaderSize(), 30 + 1 + 9);

  r->SetUncompressedSize(0x100000000LL);
  r->SetCompressedSize(0xFFFFFFFFLL);
  r->BuildLocalExtra();
  std::string z;
  Put64(z, 0x100000000ULL);
  Put64(z, 0xFFFFFFFFULL);
  EXPECT_EQ(r->LocalExtra(), Block(1, z) + Block(0x5455, "12345"));
  EXPECT_TRUE(r->StatusBits() & zsbLocal64);
  const std::string local = r->LocalBytes(0x11223344, 0xAABBCCDD);
  EXPECT_EQ(zm::GetLE32(local.data() + 10), 0x11223344u);
  EXPECT_EQ(zm::GetLE32(local.data() + 14), 0xAABBCCDDu);
  EXPECT_EQ(zm::GetLE32(local.data() + 18), 0xFFFFFFFFu);
  EXPECT_EQ(zm::GetLE32(local.data() + 22), 0xFFFFFFFFu);
  EXPECT_EQ(local.substr(30, 1), "L");
}

TEST_F(ZMIRecTest, LocalHeaderOfADescriptorEntry) {
  TEntrySpec e;
  e.Name = "d";
  e.Flag = 0x0009;  // encrypted, sizes in a descriptor
  e.Data = "0123456789";
  auto r = Rec(e);
  const std::string local = r->LocalBytes(1, 2);
  EXPECT_EQ(zm::GetLE32(local.data() + 18), 0u);
  EXPECT_EQ(zm::GetLE16(local.data() + 4) & 0xFF, 45);
  // Without encryption the descriptor flag is dropped and the sizes are written.
  e.Flag = 0x0008;
  auto r2 = Rec(e);
  const std::string l2 = r2->LocalBytes(1, 2);
  EXPECT_EQ(zm::GetLE16(l2.data() + 6), 0);
  EXPECT_EQ(zm::GetLE32(l2.data() + 18), 10u);
}

TEST_F(ZMIRecTest, CentralBytesRoundTripWithZip64) {
  TEntrySpec e;
  e.Name = "round/trip.bin";
  e.Comment = "c";
  e.Extra = Block(0x5455, "12345") + Block(1, std::string(8, 'z'));
  e.Method = 8;
  e.Needed = 20;
  auto r = Rec(e);
  r->SetUncompressedSize(0x1FFFFFFFFLL);
  r->SetRelOffLocal(0x2FFFFFFFFLL);
  const std::string h = r->CentralBytes();
  TZMZRec back(F.Reader.get());
  size_t used = 0;
  ASSERT_EQ(back.ParseCentral(reinterpret_cast<const uint8_t*>(h.data()), h.size(), used), 1);
  EXPECT_EQ(used, h.size());
  EXPECT_EQ(back.UncompressedSize(), 0x1FFFFFFFFLL);
  EXPECT_EQ(back.RelOffLocalHdr(), 0x2FFFFFFFFLL);
  EXPECT_EQ(back.CompressedSize(), 0);
  EXPECT_EQ(back.VersionNeeded() & 0xFF, 45);
  EXPECT_EQ(back.ExtraData(1).size(), 16u);
  EXPECT_EQ(back.ExtraData(0x5455), "12345");
  EXPECT_EQ(back.HeaderName(), e.Name);
  EXPECT_EQ(back.FileComment(), "c");

  // Small values again: the old Zip64 block goes.
  r->SetUncompressedSize(5);
  r->SetRelOffLocal(7);
  const std::string h2 = r->CentralBytes();
  TZMZRec back2(F.Reader.get());
  ASSERT_EQ(back2.ParseCentral(reinterpret_cast<const uint8_t*>(h2.data()), h2.size(), used), 0);
  EXPECT_EQ(back2.ExtraData(1), "");
  EXPECT_EQ(back2.RelOffLocalHdr(), 7);
}

TEST_F(ZMIRecTest, HeaderFormEscapesReservedCharacters) {
  EXPECT_EQ(TZMZRec::HeaderForm("a:b"), "a#$3Ab");
  EXPECT_EQ(TZMZRec::HeaderForm("d\\e/f"), "d/e/f");
  EXPECT_EQ(TZMZRec::HeaderForm(std::string("x\x01y*?|<>", 8)), "x#$01y#$2A#$3F#$7C#$3C#$3E");
}

TEST_F(ZMIRecTest, InvalidNames) {
  EXPECT_TRUE(TZMZRec::IsInvalidName(""));
  EXPECT_TRUE(TZMZRec::IsInvalidName(std::string(256, 'a')));
  EXPECT_FALSE(TZMZRec::IsInvalidName(std::string(255, 'a')));
  EXPECT_FALSE(TZMZRec::IsInvalidName(std::string(200, 'a') + D + std::string(50, 'b')));
  EXPECT_TRUE(TZMZRec::IsInvalidName(std::string(260, 'a')));
  for (const char* bad : {"/abs", ".hidden", " lead", "trail ", "a*b", "a:b", "a<b", "a>b", "a?b", "a|b",
                          "dir./x", "name.", "a /b", "a//b", "a/.b", "a/ b", "../up", "a/../b"})
    EXPECT_TRUE(TZMZRec::IsInvalidName(bad)) << bad;
  EXPECT_TRUE(TZMZRec::IsInvalidName(std::string("a\0b", 3)));
  for (const char* good : {"a.txt", "dir/sub/file.c", "x y/z", "dir/"})
    EXPECT_FALSE(TZMZRec::IsInvalidName(good)) << good;
}

TEST_F(ZMIRecTest, CleanNameDropsDrivesSharesAndDotPrefix) {
  TZMZRec r(F.Reader.get());
  EXPECT_EQ(r.CleanName("C:\\dir\\f.txt", false), "dir" + D + "f.txt");
  EXPECT_EQ(r.CleanName("c:f.txt", false), "f.txt");
  EXPECT_EQ(r.CleanName("\\\\server\\share\\a\\b", false), "a" + D + "b");
  EXPECT_EQ(r.CleanName("./x/y", false), "x" + D + "y");
  EXPECT_EQ(r.CleanName("x/y/z", true), "z");
  EXPECT_EQ(r.CleanName(std::string(300, 'q'), false).size(), 260u);
  F.Zip.SetVerbose(true);
  EXPECT_EQ(r.CleanName("\\\\server", false), "");
  EXPECT_TRUE(F.HasText("Invalid filespec: \\\\server"));
  std::string out;
  // Cut to 260 characters, which is one too many for a valid name.
  EXPECT_EQ(MsgOf(r.CheckedName(std::string(300, 'q'), out)), 103);
  EXPECT_EQ(out.size(), 260u);
  EXPECT_EQ(r.CheckedName("C:\\dir\\ok.txt", out), 0);
  EXPECT_EQ(out, "dir" + D + "ok.txt");
  EXPECT_TRUE(F.HasText("Truncated "));
  EXPECT_EQ(MsgOf(r.CheckedName("a*b", out)), zmsInvalidFilename);
}

}  // namespace
