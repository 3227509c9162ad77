// The names a record keeps: the decoded name (kept once when it equals the stored
// one), the name as last read or written (which the local header must match), and
// how both follow renaming, writing and copying.
#include <gtest/gtest.h>

#include "PlatCodePage.h"
#include "PlatPath.h"
#include "ZMMatch.h"
#include "ZMUTF8.h"
#include "ZMZipFileTestKit.h"

using namespace zmtest;

namespace {

const std::string D(1, plat::PathDelim);

struct TUtf8Mode {
  bool Prev;
  TUtf8Mode() : Prev(SetUTF8Mode(true)) {}
  ~TUtf8Mode() { SetUTF8Mode(Prev); }
};

class ZMIRecNames : public ::testing::Test {
 protected:
  TUtf8Mode Mode;
  TReaderFixture F;

  std::unique_ptr<TZMZRec> Parsed(const TEntrySpec& e) {
    const std::string h = CentralHeader(e, 0);
    auto rec = std::make_unique<TZMZRec>(F.Reader.get());
    size_t used = 0;
    EXPECT_GE(rec->ParseCentral(reinterpret_cast<const uint8_t*>(h.data()), h.size(), used), 0);
    return rec;
  }
  static TEntrySpec Named(const std::string& name) {
    TEntrySpec e;
    e.Name = name;
    e.Data = "data";
    return e;
  }
};

}  // namespace

TEST_F(ZMIRecNames, DecodedNameFollowsTheStoredOneOrStandsApart) {
  // Plain, with either separator, UTF-8 flagged, and from a Unicode path block.
  auto plain = Parsed(Named("dir/file.txt"));
  EXPECT_EQ(plain->FileName(), "dir" + D + "file.txt");
  EXPECT_EQ(plain->NameRef().data(), plain->NameRef().data());  // kept, not made anew
  // A name that decodes to itself is not kept twice.
  auto bare = Parsed(Named("file.txt"));
  EXPECT_EQ(bare->NameRef().data(), bare->StoredName().data());
  EXPECT_EQ(plain->NameRef(), plain->FileName());

  auto back = Parsed(Named("dir\\sub\\file.txt"));
  EXPECT_EQ(back->FileName(), "dir" + D + "sub" + D + "file.txt");
  EXPECT_EQ(back->HeaderName(), "dir\\sub\\file.txt");
  EXPECT_EQ(back->Hash(), NameHashUpper("dir" + D + "sub" + D + "file.txt"));

  TEntrySpec flagged = Named("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87.txt");
  flagged.Flag = 0x0800;
  auto utf8 = Parsed(flagged);
  EXPECT_EQ(utf8->FileName(), flagged.Name);

  TEntrySpec upath = Named("zaz.txt");
  upath.Extra = UnicodeBlock(kUPathTag, "zaz.txt", "za\xC5\xBC.txt");
  auto unicode = Parsed(upath);
  EXPECT_EQ(unicode->FileName(), "za\xC5\xBC.txt");
  EXPECT_EQ(unicode->HeaderName(), "zaz.txt");
  EXPECT_EQ(unicode->Hash(), NameHashUpper("za\xC5\xBC.txt"));

  // A new stored name drops the decoded one.
  unicode->SetHeaderName("other/name.txt");
  EXPECT_EQ(unicode->FileName(), "other" + D + "name.txt");
  back->SetHeaderName("flat.txt");
  EXPECT_EQ(back->FileName(), "flat.txt");
  EXPECT_EQ(back->Hash(), NameHashUpper("flat.txt"));
}

TEST_F(ZMIRecNames, ReadNameStaysUntilTheHeaderIsWritten) {
  auto rec = Parsed(Named("old/name.txt"));
  EXPECT_EQ(rec->ReadName(), "old/name.txt");
  rec->SetHeaderName("new/name.txt");
  EXPECT_EQ(rec->ReadName(), "old/name.txt");
  EXPECT_EQ(rec->HeaderName(), "new/name.txt");
  rec->SetHeaderName("newer.txt");
  EXPECT_EQ(rec->ReadName(), "old/name.txt");
  // Writing the central header makes the written name the one a local header must carry.
  const std::string bytes = rec->CentralBytes();
  EXPECT_NE(bytes.find("newer.txt"), std::string::npos);
  EXPECT_EQ(rec->ReadName(), "newer.txt");
  rec->SetHeaderName("again.txt");
  EXPECT_EQ(rec->ReadName(), "newer.txt");

  // A copy takes both names as they are.
  TZMZRec copy(F.Reader.get());
  copy.AssignFrom(*rec);
  EXPECT_EQ(copy.HeaderName(), "again.txt");
  EXPECT_EQ(copy.ReadName(), "newer.txt");
  TZMZRec same(F.Reader.get());
  same.AssignFrom(*Parsed(Named("plain.txt")));
  EXPECT_EQ(same.ReadName(), "plain.txt");
  same.SetHeaderName("changed.txt");
  EXPECT_EQ(same.ReadName(), "plain.txt");

  // A record built from nothing has an empty read name until it is written.
  TZMZRec fresh(F.Reader.get());
  EXPECT_EQ(fresh.ReadName(), "");
  fresh.SetHeaderName("built.txt");
  EXPECT_EQ(fresh.ReadName(), "");
}

TEST_F(ZMIRecNames, RenamedEntryStillMatchesItsLocalHeader) {
  TTempDir dir;
  TArchiveSpec layout;
  layout.Entries = {Named("first.txt"), Named("second.txt")};
  ASSERT_GE(F.Open(dir.Write("r.zip", BuildArchive(layout))), 0);
  TZMZRec* rec = F.Reader->Items(1);
  ASSERT_EQ(rec->SetFileName("renamed.txt"), 0);
  EXPECT_EQ(rec->HeaderName(), "renamed.txt");
  EXPECT_EQ(rec->ReadName(), "second.txt");
  ASSERT_TRUE(F.Reader->File_Open(TZMWorkFile::kReadShareDenyWrite));
  EXPECT_EQ(rec->CheckLocal(), 0);
  // Against a record that claims the other entry's header, the names differ.
  TZMZRec* first = F.Reader->Items(0);
  TZMZRec wrong(F.Reader.get());
  wrong.AssignFrom(*rec);
  wrong.SetRelOffLocal(first->RelOffLocalHdr());
  EXPECT_NE(wrong.CheckLocal(), 0);
  F.Reader->File_Close();
}

TEST_F(ZMIRecNames, DoubleByteNamesKeepTheirTrailBytes) {
  // 表だよ\一覧表.txt in the ANSI code page 932 without UTF-8 mode: 表 ends in the byte
  // 0x5C, which is no separator.
  SetUTF8Mode(false);
  const unsigned ansi = plat::SetAnsiCodePageOverride(932);
  const std::string dir("\x95\x5C\x82\xBE\x82\xE6", 6), file("\x88\xEA\x97\x97\x95\x5C.txt", 10);
  TEntrySpec e = Named(dir + "\\" + file);
  e.MadeBy = 0x0B14;  // NTFS: the native code page
  auto rec = Parsed(e);
  EXPECT_EQ(rec->FileName(), dir + D + file);
  plat::SetAnsiCodePageOverride(ansi);
}
