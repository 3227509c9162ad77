// The lister through the component: events, missing and invalid archives, stale
// entries, directory-only entries, reading a directory without keeping it, re-listing after a rewrite, failed
// operations and the settings taken over from self-extractor stubs.
#include "ZMLister.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "ZMListingTestKit.h"
#include "ZMUtilsPeImage.h"
#include "ZMZipFile.h"
#include "ZMMsg.h"

using namespace zmlist;

namespace {

// Exposes the operation frame so that a test can act as a worker inside an operation.
struct TOpZipMate : TZipMate {
  using TCustomZipMate::RunOperation;
};

struct ZMListerFixture : ::testing::Test {
  TTempDir Dir;
  TListingProbe P;
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = Dir / name;
    WriteFile(path, bytes);
    return path;
  }
};

}  // namespace

using ZMListerEvents = ZMListerFixture;

TEST_F(ZMListerEvents, OneEntryArchiveRaisesThreeDirUpdatesAndOneNewName) {
  const std::string arc = Write("one.zip", BuildZip({{"only.txt", "content"}}));
  P.Z.SetZipFileName(arc);
  EXPECT_EQ(P.Z.ErrCode(), 0);
  EXPECT_EQ(P.DirUpdates, 3);
  ASSERT_EQ(P.NewNames.size(), 1u);
  EXPECT_EQ(P.NewNames[0], 0);
  EXPECT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.View().Count(), 1);
  EXPECT_EQ(P.Z.DirEntry(0)->FileName(), "only.txt");
  EXPECT_EQ(P.Z.DirEntry(0)->UncompressedSize(), 7);
  EXPECT_FALSE(P.Z.DirEntry(1));
  EXPECT_FALSE(P.Z.DirEntry(-1));
  EXPECT_TRUE(P.Z.ZipLister()->CanProcess());
}

TEST_F(ZMListerEvents, MissingFileGivesSilentError123AndNoFile) {
  const std::string missing = Dir / "absent.zip";
  P.Z.SetZipFileName(missing);
  EXPECT_EQ(P.Z.Count(), 0);
  EXPECT_EQ(P.Z.ErrCode(), zmsInputFileDoesNotExist);
  EXPECT_EQ(P.Z.FullErrCode(), kMissingArchiveCode);
  EXPECT_EQ(P.Z.ErrMsg(), P.Z.LoadMessageText(123));
  EXPECT_TRUE(P.Messages.empty());
  EXPECT_GE(P.DirUpdates, 1);
  EXPECT_FALSE(fs::exists(missing));
  EXPECT_FALSE(P.Z.ZipLister()->CanProcess());
  EXPECT_EQ(P.Z.ZipFileName(), missing);
}

TEST_F(ZMListerEvents, NotAnArchiveIsReportedAndListsNothing) {
  const std::string junk = Write("junk.zip", std::string(5000, 'x'));
  P.Z.SetZipFileName(junk);
  EXPECT_EQ(P.Z.Count(), 0);
  EXPECT_NE(P.Z.ErrCode(), 0);
  EXPECT_NE(P.Z.ErrCode(), zmsInputFileDoesNotExist);
  ASSERT_FALSE(P.Messages.empty());
  EXPECT_EQ(P.Messages.back().second, P.Z.ErrMsg());
  EXPECT_GE(P.DirUpdates, 1);
}

TEST_F(ZMListerEvents, EmptyNameEmptiesTheListing) {
  P.Z.SetZipFileName(Write("a.zip", BuildZip({{"x", "1"}, {"y", "2"}})));
  ASSERT_EQ(P.Z.Count(), 2);
  P.Reset();
  P.Z.SetZipFileName("");
  EXPECT_EQ(P.Z.Count(), 0);
  EXPECT_EQ(P.Z.ErrCode(), 0);
  EXPECT_EQ(P.DirUpdates, 1);
}

TEST_F(ZMListerEvents, ArchiveCommentBecomesZipComment) {
  P.Z.SetZipFileName(Write("c.zip", BuildZip({{"x", "1"}}, "stored comment")));
  EXPECT_EQ(P.Z.ZipComment(), "stored comment");
  EXPECT_EQ(P.View().ArchiveComment(), "stored comment");
  EXPECT_FALSE(P.View().IsMultiPart());
}

using ZMListerView = ZMListerFixture;

TEST_F(ZMListerView, DirectoryOnlyEntriesAreSkippedUntilAskedFor) {
  P.Z.SetZipFileName(Write("d.zip", BuildZip({{"folder/", ""}, {"folder/file.txt", "data"}})));
  ASSERT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.View().Skipped(), 1);
  EXPECT_EQ(P.Z.DirEntry(0)->HeaderName(), "folder/file.txt");
  P.Reset();
  P.Z.SetUseDirOnlyEntries(true);
  EXPECT_EQ(P.DirUpdates, 0);
  EXPECT_TRUE(P.NewNames.empty());
  ASSERT_EQ(P.Z.Count(), 2);
  EXPECT_EQ(P.View().Skipped(), 0);
  EXPECT_EQ(P.Z.DirEntry(0)->HeaderName(), "folder/");
  EXPECT_NE(P.Z.DirEntry(0)->StatusBits() & zsbDirOnly, 0u);
  EXPECT_EQ(P.Z.DirEntry(1)->UncompressedSize(), 4);
  P.Z.SetUseDirOnlyEntries(false);
  ASSERT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.Z.DirEntry(0)->HeaderName(), "folder/file.txt");
}

TEST_F(ZMListerView, ScanPassesEntriesAsTheViewShowsThemAndLeavesTheListingAlone) {
  const std::string listed = Write("l.zip", BuildZip({{"kept.txt", "1"}}));
  const std::string other =
      Write("o.zip", BuildZip({{"folder/", ""}, {"folder/a.txt", "aa"}, {"b.txt", "b"}}));
  P.Z.SetZipFileName(listed);
  P.Reset();
  auto names = [&](int stopAfter) {
    std::vector<std::string> seen;
    EXPECT_TRUE(P.Z.ScanArchive(other, [&](const TZMDirEntry& e) {
      seen.push_back(e.HeaderName());
      return int(seen.size()) != stopAfter;
    }));
    return seen;
  };
  EXPECT_EQ(names(0), (std::vector<std::string>{"folder/a.txt", "b.txt"}));
  EXPECT_EQ(names(1), (std::vector<std::string>{"folder/a.txt"}));
  P.Z.SetUseDirOnlyEntries(true);
  EXPECT_EQ(names(0), (std::vector<std::string>{"folder/", "folder/a.txt", "b.txt"}));
  EXPECT_EQ(P.Z.ZipFileName(), listed);
  ASSERT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.Z.DirEntry(0)->FileName(), "kept.txt");
  EXPECT_TRUE(P.NewNames.empty());
  EXPECT_EQ(P.Z.ErrCode(), 0);
  // A missing archive reads nothing and says why, as a listing does.
  EXPECT_FALSE(P.Z.ScanArchive(Dir / "missing.zip", [](const TZMDirEntry&) { return true; }));
  EXPECT_NE(P.Z.ErrCode(), 0);
  EXPECT_FALSE(P.Z.ScanArchive("", [](const TZMDirEntry&) { return true; }));
  EXPECT_EQ(P.Z.ErrCode(), 133);
  EXPECT_EQ(P.Z.DirEntry(0)->FileName(), "kept.txt");
}

TEST_F(ZMListerView, HeldEntryTurnsStaleAfterANewListing) {
  const std::string arc = Write("s.zip", BuildZip({{"first.txt", "12345"}}));
  P.Z.SetZipFileName(arc);
  std::shared_ptr<const TZMDirEntry> held = P.Z.DirEntry(0);
  ASSERT_TRUE(held);
  EXPECT_EQ(held->FileName(), "first.txt");
  // The same lister lists again: a record sits at the same index, yet the old entry
  // must not show it.
  WriteFile(arc, BuildZip({{"second.txt", "abc"}}));
  P.Z.ZipLister()->LoadArchive(arc, true);
  ASSERT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.Z.DirEntry(0)->FileName(), "second.txt");
  EXPECT_EQ(held->FileName(), "");
  EXPECT_EQ(held->HeaderName(), "");
  EXPECT_EQ(held->UncompressedSize(), 0);
  EXPECT_EQ(held->CRC32(), 0u);
  EXPECT_EQ(held->Encoded(), zeoOEM);
  EXPECT_EQ(held->ExtraData(1), "");
}

TEST_F(ZMListerView, HeldEntryOutlivesItsListerAndComponent) {
  std::shared_ptr<const TZMDirEntry> held;
  {
    TListingProbe p;
    p.Z.SetZipFileName(Write("a.zip", BuildZip({{"a", "1"}})));
    held = p.Z.DirEntry(0);
    ASSERT_TRUE(held);
    p.Z.SetZipFileName(Write("b.zip", BuildZip({{"b", "2"}})));
    EXPECT_EQ(held->FileName(), "");
    EXPECT_EQ(p.Z.DirEntry(0)->FileName(), "b");
    held = p.Z.DirEntry(0);
  }
  EXPECT_EQ(held->FileName(), "");
  EXPECT_EQ(held->CompressedSize(), 0);
}

TEST_F(ZMListerView, ExtraDataFindsLaterBlocksAndRefusesOverruns) {
  std::string extra = Block(0x5455, std::string("\x01\x02\x03\x04\x05", 5)) + Block(0xCAFE, "payload");
  // A last block that claims more bytes than the field holds.
  std::string overrun = Block(0x1234, "ab");
  overrun += std::string("\xEF\xBE\x10\x00xyz", 7);
  P.Z.SetZipFileName(
      Write("x.zip", BuildZip({{"a", "1", extra}, {"b", "2", overrun}, {"c", "3", "\x01\x00"}})));
  ASSERT_EQ(P.Z.Count(), 3);
  EXPECT_EQ(P.Z.DirEntry(0)->ExtraData(0xCAFE), "payload");
  EXPECT_EQ(P.Z.DirEntry(0)->ExtraData(0x5455), std::string("\x01\x02\x03\x04\x05", 5));
  EXPECT_EQ(P.Z.DirEntry(0)->ExtraData(0x9999), "");
  EXPECT_EQ(P.Z.DirEntry(1)->ExtraData(0x1234), "ab");
  EXPECT_EQ(P.Z.DirEntry(1)->ExtraData(0xBEEF), "");
  EXPECT_EQ(P.Z.DirEntry(2)->ExtraData(1), "");
}

TEST_F(ZMListerView, HugeAnnouncedCountAllocatesOnlyWhatTheFileCanHold) {
  // The end record announces 65535 entries; the directory holds one.
  std::string bytes = BuildZip({{"a", "1"}});
  bytes[bytes.size() - 22 + 8] = '\xFF';
  bytes[bytes.size() - 22 + 9] = '\xFF';
  bytes[bytes.size() - 22 + 10] = '\xFF';
  bytes[bytes.size() - 22 + 11] = '\xFF';
  P.Z.SetZipFileName(Write("h.zip", bytes));
  EXPECT_NE(P.Z.ErrCode(), 0);
  EXPECT_LT(P.View().Capacity(), 100);
}

using ZMListerFinish = ZMListerFixture;

TEST_F(ZMListerFinish, RewrittenArchiveIsListedAgainAtTheEnd) {
  TScopedUi ui;
  TOpZipMate z;
  z.SetUnattended(true);
  int updates = 0;
  z.OnDirUpdate = [&](TObject*) { ++updates; };
  const std::string arc = Write("r.zip", BuildZip({{"old", "1"}}));
  z.SetZipFileName(arc);
  ASSERT_EQ(z.Count(), 1);
  updates = 0;
  ASSERT_TRUE(z.RunOperation([&] {
    WriteFile(arc, BuildZip({{"new1", "a"}, {"new2", "b"}}));
    z.ZipLister()->SetState(kListerRewritten);
  }));
  EXPECT_EQ(z.ErrCode(), 0);
  ASSERT_EQ(z.Count(), 2);
  EXPECT_EQ(z.DirEntry(1)->FileName(), "new2");
  // View emptied, new reader installed, directory loaded, end of the listing.
  EXPECT_EQ(updates, 4);
}

TEST_F(ZMListerFinish, FailedOperationReducesTheReaderState) {
  TScopedUi ui;
  TOpZipMate z;
  z.SetUnattended(true);
  z.SetZipFileName(Write("f.zip", BuildZip({{"a", "1"}})));
  TZMZipFile* reader = z.ZipLister()->CenDir().CurrentReader();
  ASSERT_TRUE(reader);
  EXPECT_NE(reader->Info() & kInfoLoaded, 0u);
  reader->SetInfo(reader->Info() | TZMWorkZip::kInfoDiskCancelled);
  z.RunOperation([] { throw EZipMate::CreateCode(ZM_CODE(zmmZMLister, zmsUnknownError), false); });
  EXPECT_EQ(reader->Info(), TZMWorkZip::kInfoDiskCancelled | 0x08u);
  EXPECT_FALSE(z.ZipLister()->CanProcess());
  // The view stays as it was.
  EXPECT_EQ(z.Count(), 1);
  EXPECT_EQ(z.DirEntry(0)->FileName(), "a");
}

TEST_F(ZMListerFinish, PlainArchiveClearsDiskSpanUnlessNoReadAux) {
  const std::string arc = Write("p.zip", BuildZip({{"a", "1"}}));
  P.Z.SetWriteOptions(TZMWriteOpts{zwoDiskSpan, zwoSafe});
  P.Z.SetNoReadAux(true);
  P.Z.SetZipFileName(arc);
  EXPECT_TRUE(P.Z.WriteOptions().Contains(zwoDiskSpan));
  // Taking over is still pending on this reader.
  EXPECT_NE(P.View().CurrentReader()->Info() & kInfoNewSettings, 0u);
  P.Z.SetNoReadAux(false);
  P.Z.SetZipFileName(arc);
  EXPECT_FALSE(P.Z.WriteOptions().Contains(zwoDiskSpan));
  EXPECT_TRUE(P.Z.WriteOptions().Contains(zwoSafe));
  EXPECT_EQ(P.View().CurrentReader()->Info() & kInfoNewSettings, 0u);
  EXPECT_FALSE(P.Z.AuxChanged());
}

// ---- Self-extractor stubs ----

namespace {

using zmtest::Bytes;

// A PE image above the 12,000-byte minimum with icon 1 in its resources.
Bytes StubImage(const Bytes& iconBits = zmtest::SampleIconBits()) {
  zmtest::TPeImage pe;
  pe.Sections.push_back({".text", 0x1000, Bytes(13000, 0x90), 0});
  pe.Sections.push_back({".rsrc", 0x10000, zmtest::BuildIconResourceSection(0x10000, iconBits), 0});
  pe.ResourceAddress = 0x10000;
  pe.ResourceSize = 0x700;
  return pe.Build();
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

std::string TextTable(const std::vector<std::pair<int, std::string>>& items) {
  std::string t;
  for (auto& [id, text] : items) t += char(id) + text + '\0';
  return t + '\0';
}

// A version 2 header: options, overwrite mode, message flags and the text table.
std::string HeaderV2(uint16_t options, uint16_t overwrite, uint8_t flags, const std::string& table,
                     bool compress) {
  std::string body;
  if (compress) {
    const std::string packed = testzip::RawDeflate(table, 9);
    Put16(body, uint16_t(packed.size()));
    Put16(body, uint16_t(table.size()));
    Put32(body, Crc(table));
    body += packed;
    options |= 0x8000;
  } else {
    body = table;
  }
  std::string h;
  Put32(h, 0x0C005A44);
  Put16(h, uint16_t(12 + body.size()));
  Put16(h, options);
  Put16(h, overwrite);
  h += char(flags);
  h += '\0';
  return h + body;
}

// A version 1 header with its end record.
std::string HeaderV1(uint16_t options, uint8_t overwrite, uint8_t flags,
                     const std::vector<std::string>& texts) {
  std::string t;
  for (const auto& s : texts) t += s;
  std::string h;
  Put32(h, 0x01005A44);
  Put16(h, uint16_t(18 + t.size()));
  Put16(h, options);
  h += char(overwrite);
  for (const auto& s : texts) h += char(s.size());
  h += char(flags);
  h += std::string(3, '\0');
  h += t;
  Put32(h, 0x010A5A44);
  Put32(h, 0);
  return h;
}

const std::vector<TEntry> kPayload = {{"inside.txt", "self-extracting"}};

}  // namespace

using ZMListerSFX = ZMListerFixture;

TEST_F(ZMListerSFX, VersionTwoHeaderSettingsAreTakenOver) {
  const std::string table = TextTable({{1,
                                        "Caption \xC5\x81\xC3\xB3"
                                        "d\xC5\xBA"},
                                       {2, "C:\\Target"},
                                       {3, "><setup.exe"},
                                       {4, "reg\\fail"},
                                       {5, "Extract now?"},
                                       {1, "second caption is ignored"}});
  // Bits 0-9 stay, 11 -> soCreateEmptyDirs, 12 -> soSuccessAlways, 10 and 13 dropped.
  const uint16_t opts = 0x0205 | 0x0400 | 0x0800 | 0x1000 | 0x2000;
  for (bool compress : {false, true}) {
    SCOPED_TRACE(compress ? "compressed table" : "plain table");
    TListingProbe p;
    const std::string exe =
        Write(compress ? "v2c.exe" : "v2.exe",
              BuildZip(kPayload, "", Str(StubImage()) + HeaderV2(opts, 1, 1, table, compress)));
    p.Z.SetZipFileName(exe);
    ASSERT_EQ(p.Z.ErrCode(), 0) << p.Z.ErrMsg();
    ASSERT_EQ(p.Z.Count(), 1);
    ASSERT_TRUE(p.View().CurrentReader()->Stub());
    EXPECT_EQ(p.Z.SFXCaption(),
              "Caption \xC5\x81\xC3\xB3"
              "d\xC5\xBA");
    EXPECT_EQ(p.Z.SFXDefaultDir(), "C:\\Target");
    EXPECT_EQ(p.Z.SFXCommandLine(), "><setup.exe");
    EXPECT_EQ(p.Z.SFXRegFailPath(), "reg\\fail");
    EXPECT_EQ(p.Z.SFXMessage(), "1|Extract now?");
    EXPECT_EQ(p.Z.SFXOverwriteMode(), ovrNever);
    EXPECT_EQ(p.Z.SFXOptions(), TZMSFXOpts({soAskCmdLine, soHideOverWriteBox, soCanBeCancelled,
                                            soCreateEmptyDirs, soSuccessAlways}));
    ASSERT_TRUE(p.Z.SFXIcon());
    EXPECT_EQ(p.Z.SFXIcon()->Bits(), zmtest::SampleIconBits());
    EXPECT_FALSE(p.Z.AuxChanged());
  }
}

TEST_F(ZMListerSFX, VersionOneHeaderSettingsAreTakenOver) {
  const std::string exe = Write(
      "v1.exe",
      BuildZip(kPayload, "", Str(StubImage()) + HeaderV1(0x1803, 7, 4, {"Cap", "Dir", "Cmd", "Reg", "Msg"})));
  P.Z.SetZipFileName(exe);
  ASSERT_EQ(P.Z.ErrCode(), 0) << P.Z.ErrMsg();
  ASSERT_EQ(P.Z.Count(), 1);
  EXPECT_EQ(P.Z.SFXCaption(), "Cap");
  EXPECT_EQ(P.Z.SFXDefaultDir(), "Dir");
  EXPECT_EQ(P.Z.SFXCommandLine(), "Cmd");
  EXPECT_EQ(P.Z.SFXRegFailPath(), "Reg");
  EXPECT_EQ(P.Z.SFXMessage(), "2|Msg");
  EXPECT_EQ(P.Z.SFXOverwriteMode(), ovrConfirm);
  // Bit 12 means nothing in a version 1 header.
  EXPECT_EQ(P.Z.SFXOptions(), TZMSFXOpts({soAskCmdLine, soAskFiles, soCreateEmptyDirs}));
}

TEST_F(ZMListerSFX, DamagedStubsLeaveTheSettingsAlone) {
  const std::string table = TextTable({{1, "caption"}});
  std::string badCompressed = HeaderV2(0, 0, 0, table, true);
  badCompressed[16] ^= 0x55;  // CRC of the table no longer matches
  zmtest::TPeImage plain;
  plain.Sections.push_back({".text", 0x1000, Bytes(13000, 0x90), 0});
  const struct {
    const char* Name;
    std::string Stub;
  } cases[] = {
      {"crc.exe", Str(StubImage()) + badCompressed},
      {"noicon.exe", Str(plain.Build()) + HeaderV2(0, 0, 0, table, false)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TListingProbe p;
    p.Z.SetSFXCaption("kept");
    p.Z.SetNoReadAux(false);
    p.Z.SetWriteOptions(TZMWriteOpts{zwoDiskSpan});
    p.Z.SetZipFileName(Write(c.Name, BuildZip(kPayload, "", c.Stub)));
    EXPECT_EQ(p.Z.ErrCode(), 0) << p.Z.ErrMsg();
    EXPECT_EQ(p.Z.Count(), 1);
    EXPECT_EQ(p.Z.SFXCaption(), "kept");
    // Nothing else is taken over either.
    EXPECT_TRUE(p.Z.WriteOptions().Contains(zwoDiskSpan));
    EXPECT_TRUE(p.Messages.empty());
  }
}

TEST(ZMListerSFXParse, HeadersThatRunPastTheImageAreRefused) {
  const Bytes image = StubImage();
  TZMSFXSettings s;
  // Too short or not an executable: nothing to read.
  EXPECT_EQ(TZMLister::ParseSFXHeader(image.data(), 12000, s), 0);
  Bytes notMz = image;
  notMz[0] = 'X';
  EXPECT_EQ(TZMLister::ParseSFXHeader(notMz.data(), notMz.size(), s), 0);
  // No header after the image.
  EXPECT_EQ(TZMLister::ParseSFXHeader(image.data(), image.size(), s), kSFXBadHeader);
  // A version 1 header whose texts run past the end.
  std::string v1 = Str(image) + HeaderV1(0, 0, 0, {"a", "b", "c", "d", "e"});
  v1.resize(v1.size() - 12);
  EXPECT_EQ(TZMLister::ParseSFXHeader(reinterpret_cast<const uint8_t*>(v1.data()), v1.size(), s),
            kSFXBadHeader);
  // A version 2 header claiming more bytes than there are.
  std::string v2 = Str(image) + HeaderV2(0, 0, 0, TextTable({{1, "x"}}), false);
  v2.resize(v2.size() - 2);
  EXPECT_EQ(TZMLister::ParseSFXHeader(reinterpret_cast<const uint8_t*>(v2.data()), v2.size(), s),
            kSFXBadHeader);
  // A compressed table whose sizes disagree.
  std::string v2c = HeaderV2(0, 0, 0, TextTable({{1, "xyz"}}), true);
  v2c[14] = char(v2c[14] + 1);
  const std::string all = Str(image) + v2c;
  EXPECT_EQ(TZMLister::ParseSFXHeader(reinterpret_cast<const uint8_t*>(all.data()), all.size(), s),
            kSFXBadTextTable);
  // A PE header pointing outside the image.
  Bytes badPe = image;
  badPe[60] = '\xF0';
  badPe[61] = '\xFF';
  EXPECT_EQ(TZMLister::ImageEnd(badPe.data(), badPe.size()), -1);
  EXPECT_EQ(TZMLister::ParseSFXHeader(badPe.data(), badPe.size(), s), kSFXBadHeader);
  // An unterminated last text still reads to the end of its table.
  std::string open = Str(image) + HeaderV2(0, 0, 0, std::string("\x05open end", 9), false);
  ASSERT_EQ(TZMLister::ParseSFXHeader(reinterpret_cast<const uint8_t*>(open.data()), open.size(), s), 1);
  EXPECT_EQ(s.Message, "open end");
}

TEST_F(ZMListerSFX, DetachedHeaderIsRecognised) {
  // A stub and its header followed directly by a central directory (no entry data).
  const std::string stub = Str(StubImage()) + HeaderV2(0, 0, 0, TextTable({{1, "c"}}), false);
  std::string full = BuildZip({{"detached-entry-name.txt", "0123456789"}}, "", stub);
  const size_t local = 30 + 23 + 10;
  std::string detached = full.substr(0, stub.size()) + full.substr(stub.size() + local);
  // Central offset as it would be in the separate archive.
  const size_t eoc = detached.size() - 22;
  detached[eoc + 16] = 0;
  detached[eoc + 17] = 0;
  detached[eoc + 18] = 0;
  detached[eoc + 19] = 0;
  detached.replace(stub.size() + 42, 4, std::string(4, '\0'));
  const std::string exe = Write("detached.exe", detached);
  TZMLister& l = *([&]() -> TZMLister* {
    P.Z.SetZipFileName(Write("any.zip", BuildZip({{"a", "1"}})));
    return P.Z.ZipLister();
  })();
  EXPECT_TRUE(l.IsDetachedSFXHeader(exe));
  EXPECT_TRUE(l.IsDetachedSFXHeader(Write("UPPER.EXE", detached)));
  EXPECT_FALSE(l.IsDetachedSFXHeader(Write("detached.zip", detached)));
  // A complete self-extracting archive is not a detached header.
  EXPECT_FALSE(l.IsDetachedSFXHeader(Write("whole.exe", full)));
  EXPECT_FALSE(l.IsDetachedSFXHeader(Dir / "missing.exe"));
  // A stub shorter than 12,000 bytes is not one either.
  zmtest::TPeImage small;
  small.Sections.push_back({".text", 0x1000, Bytes(600, 0x90), 0});
  EXPECT_FALSE(l.IsDetachedSFXHeader(
      Write("small.exe", BuildZip({{"a", "1"}}, "", Str(small.Build()) + HeaderV2(0, 0, 0, "", false)))));
}
