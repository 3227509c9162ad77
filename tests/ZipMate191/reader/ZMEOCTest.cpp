// The archive trailer: end records built byte by byte (comments, several signatures,
// lying lengths, Zip64 locators and records), archives from real writers compared with
// Python's reading, self-extractor stubs, numbered multi-part sets, and writing.
#include "ZMEOC.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PlatFileSys.h"
#include "PlatPath.h"
#include "TestZip.h"
#include "ZMEndian.h"
#include "ZMMsg.h"
#include "ZMUtilsPeImage.h"
#include "ZipMateTestKit.h"
#include "TestPeers.h"
#include "TestTempDir.h"
#include "ZMRecords.h"

namespace fs = std::filesystem;

namespace {

using testzip::Le16;
using testzip::Le32;
using testzip::Le64;

struct TEnd {
  uint16_t ThisDisk = 0, CenDisk = 0, OnDisk = 0, Total = 0;
  uint32_t Size = 0, Offset = 0;
  std::string Comment;
  int RecordedLen = -1;  // -1: the comment's length
};

std::string EndRecord(const TEnd& e) {
  const size_t commentLength = e.RecordedLen < 0 ? e.Comment.size() : size_t(e.RecordedLen);
  return Le32(zm::layout::TEndOfCentral::Signature) + Le16(e.ThisDisk) + Le16(e.CenDisk) + Le16(e.OnDisk) +
         Le16(e.Total) + Le32(e.Size) + Le32(e.Offset) + Le16(commentLength) + e.Comment;
}

std::string Locator(uint32_t disk, uint64_t offset, uint32_t total) {
  return Le32(zm::layout::TZip64Locator::Signature) + Le32(disk) + Le64(offset) + Le32(total);
}

struct TZ64 {
  uint64_t RestSize = 44;
  uint16_t Needed = 45;
  uint32_t ThisDisk = 0, CenDisk = 0;
  uint64_t OnDisk = 0, Total = 0, Size = 0, Offset = 0;
};

std::string Zip64Record(const TZ64& r) {
  return Le32(zm::layout::TZip64EndOfCentral::Signature) + Le64(r.RestSize) + Le16(45) /* made by */ +
         Le16(r.Needed) + Le32(r.ThisDisk) + Le32(r.CenDisk) + Le64(r.OnDisk) + Le64(r.Total) + Le64(r.Size) +
         Le64(r.Offset);
}

using zmtest::HaveTool;
using zmtest::RunCapture;
using zmtest::Slurp;

struct EOCFixture : ::testing::Test {
  zmtest::TTempDir FTemp{"zmeoc"};
  TScopedUi ui;
  TTestZipMate z;
  std::unique_ptr<TZMEOC> eoc;
  std::string dir;
  void SetUp() override {
    dir = FTemp.Dir();
    eoc = std::make_unique<TZMEOC>(z);
  }
  void TearDown() override { eoc.reset(); }
  std::string Make(const std::string& name, const std::string& bytes) {
    std::ofstream(dir + name, std::ios::binary) << bytes;
    return dir + name;
  }
  int32_t Open(const std::string& name, const std::string& bytes, bool eocOnly = false) {
    eoc->SetFileName(Make(name, bytes));
    return eoc->OpenEOC(eocOnly);
  }
  // Python's reading of the end records: entries, central size, offset, comment (hex).
  std::string PythonEnd(const std::string& name) {
    return RunCapture(
        "python3 -c \"import zipfile,sys;f=open(sys.argv[1],'rb');e=zipfile._EndRecData(f);"
        "print(e[zipfile._ECD_ENTRIES_TOTAL],e[zipfile._ECD_SIZE],e[zipfile._ECD_OFFSET],"
        "e[zipfile._ECD_COMMENT].hex())\" '" +
        name + "'");
  }
  // The central directory as the end records describe it.
  std::string Directory() const {
    return std::to_string(eoc->TotalEntries()) + " entries, " + std::to_string(eoc->CentralEntries()) +
           " on this disk, " + std::to_string(eoc->CentralSize()) + " bytes at " +
           std::to_string(eoc->CentralOffset()) + ", end record at " + std::to_string(eoc->EOCOffset());
  }
  std::string OurEnd() const {
    std::ostringstream s;
    std::string hex;
    for (unsigned char c : eoc->ZipComment()) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", c);
      hex += b;
    }
    s << eoc->TotalEntries() << ' ' << eoc->CentralSize() << ' ' << eoc->CentralOffset() << ' ' << hex
      << '\n';
    return s.str();
  }
};

}  // namespace

using ZMEOCLocate = EOCFixture;

TEST_F(ZMEOCLocate, BareEndRecordOpensWithZeroCounts) {
  EXPECT_EQ(Open("e.zip", EndRecord({})), 0);
  EXPECT_TRUE(eoc->IsOpen());
  EXPECT_EQ(Directory(), "0 entries, 0 on this disk, 0 bytes at 0, end record at 0");
  EXPECT_EQ(eoc->ArchiveSize(), 22);
  EXPECT_EQ(eoc->TotalDisks(), 1);
  EXPECT_FALSE(eoc->MultiPart());
  EXPECT_EQ(eoc->FileKind(), kFileKindUnknown);
}

TEST_F(ZMEOCLocate, CommentFoundBySearchByteForByte) {
  const std::string comment(
      "a\0b\xff"
      "cdefgh",
      10);
  TEnd e;
  e.Total = e.OnDisk = 3;
  e.Size = 0x30;
  e.Offset = 0x40;
  e.Comment = comment;
  std::string file = "PK\x03\x04" + std::string(0x6C, 'x');
  EXPECT_EQ(Open("c.zip", file + EndRecord(e)), 0);
  EXPECT_EQ(eoc->ZipComment(), comment);
  EXPECT_EQ(eoc->ZipCommentLength(), 10);
  EXPECT_EQ(Directory(),
            "3 entries, 3 on this disk, 48 bytes at 64, end record at " + std::to_string(file.size()));
  EXPECT_EQ(eoc->FileKind(), kFileKindLocal);
  EXPECT_EQ(eoc->ArchiveSize(), int64_t(file.size() + 22 + 10));
}

TEST_F(ZMEOCLocate, LaterOfTwoSignaturesWins) {
  TEnd inner;
  inner.Total = 7;
  inner.Comment = "tail!";
  const std::string innerRec = EndRecord(inner);
  TEnd outer;
  outer.Total = 1;
  outer.Comment = innerRec;  // the first record's comment holds a second record
  const std::string lead(50, 'z');
  EXPECT_EQ(Open("two.zip", lead + EndRecord(outer)), 0);
  EXPECT_EQ(eoc->TotalEntries(), 7);
  EXPECT_EQ(eoc->EOCOffset(), int64_t(lead.size() + 22));
  EXPECT_EQ(eoc->ZipComment(), "tail!");
}

TEST_F(ZMEOCLocate, SignatureThatDescribesNoDirectoryIsPassedOver) {
  // A comment holding the signature and bytes whose directory could not lie in front.
  TEnd fake;
  fake.Size = fake.Offset = 0x7FFFFFF0;
  TEnd outer;
  outer.Total = 2;
  outer.Comment = EndRecord(fake);
  const std::string lead(50, 'z');
  EXPECT_EQ(Open("fake.zip", lead + EndRecord(outer)), 0);
  EXPECT_EQ(eoc->TotalEntries(), 2);
  EXPECT_EQ(eoc->EOCOffset(), int64_t(lead.size()));
}

TEST_F(ZMEOCLocate, CommentLongerThanFileIsShortenedSilently) {
  TEnd e;
  e.Comment = "0123456789";
  e.RecordedLen = 100;
  EXPECT_EQ(Open("long.zip", std::string(30, 'q') + EndRecord(e)), 0);
  EXPECT_EQ(eoc->ZipComment(), "0123456789");
}

TEST_F(ZMEOCLocate, QuickRecordWithCommentLengthFlagsIt) {
  TEnd e;
  e.RecordedLen = 5;
  eoc->SetFileName(Make("q.zip", std::string(40, 'q') + EndRecord(e)));
  EXPECT_EQ(eoc->LocateEOC(), 1);
  EXPECT_TRUE(eoc->ZipComment().empty());
  EXPECT_EQ(eoc->OpenEOC(false), 1);
}

TEST_F(ZMEOCLocate, GarbageAfterCommentFlagsAndSetsArchiveSize) {
  TEnd e;
  e.Comment = "abcd";
  const std::string lead(64, 'L');
  EXPECT_EQ(Open("g.zip", lead + EndRecord(e) + "GARBAGE"), 1);
  EXPECT_EQ(eoc->ZipComment(), "abcd");
  EXPECT_EQ(eoc->ArchiveSize(), int64_t(lead.size() + 22 + 4));
}

TEST_F(ZMEOCLocate, TooShortOrNoRecordIsNotAnArchive) {
  int32_t r = Open("s.zip", "PK\x05\x06short");
  EXPECT_LT(r, 0);
  EXPECT_EQ(ZMMsgOf(r), zmsNotValidZipArchive);
  EXPECT_FALSE(eoc->IsOpen());
  r = Open("empty.zip", "");
  EXPECT_EQ(ZMMsgOf(r), zmsNotValidZipArchive);
  // No signature at all: the bare message number without a location.
  EXPECT_EQ(Open("n.zip", std::string(70000, 'n')), -zmsNotValidZipArchive);
  EXPECT_FALSE(eoc->IsOpen());
  EXPECT_EQ(Open("n2.zip", std::string(23, 'n')), -zmsNotValidZipArchive);
}

TEST_F(ZMEOCLocate, RecordOutsideTheSearchWindowIsNotFound) {
  TEnd e;
  e.Comment = std::string(65535, 'c');
  // A record followed by more than 64 KiB cannot be found.
  EXPECT_EQ(Open("far.zip", EndRecord(e) + std::string(10, 'x')), -zmsNotValidZipArchive);
  EXPECT_EQ(Open("near.zip", "PK\x03\x04" + EndRecord(e)), 0);
  EXPECT_EQ(eoc->ZipCommentLength(), 65535);
}

TEST_F(ZMEOCLocate, MissingFileGives123) {
  eoc->SetFileName(dir + "none.zip");
  const int32_t r = eoc->OpenEOC(false);
  EXPECT_EQ(ZMMsgOf(r), zmsInputFileDoesNotExist);
  EXPECT_EQ((ZMAbsCode(r) >> 23) & 0xFF, zmmZMEOC);
}

TEST_F(ZMEOCLocate, FileKindsAndDiskFields) {
  TEnd e;
  e.ThisDisk = 2;
  e.CenDisk = 1;
  e.OnDisk = 4;
  e.Total = 9;
  EXPECT_EQ(Open("k.zip", std::string("PK\x07\x08PK\x03\x04", 8) + std::string(30, 'd') + EndRecord(e)), 0);
  EXPECT_EQ(eoc->FileKind(), kFileKindSpanned);
  EXPECT_TRUE(eoc->MultiPart());
  EXPECT_EQ(eoc->DiskNr(), 2);
  EXPECT_EQ(eoc->TotalDisks(), 3);
  EXPECT_EQ(eoc->CentralDisk(), 1);
  EXPECT_EQ(eoc->CentralEntries(), 4);
  EXPECT_EQ(Open("m.zip", "MZ" + std::string(40, 0) + EndRecord({})), 0);
  EXPECT_EQ(eoc->FileKind(), kFileKindExe);
  EXPECT_FALSE(eoc->MultiPart());
  // The spanning marker without a local header after it is nothing known.
  EXPECT_EQ(Open("k2.zip", std::string("PK\x07\x08xxxx", 8) + EndRecord({})), 0);
  EXPECT_EQ(eoc->FileKind(), kFileKindUnknown);
}

TEST_F(ZMEOCLocate, ReopeningResetsEarlierValues) {
  TEnd e;
  e.Total = 5;
  e.Comment = "first";
  ASSERT_EQ(Open("a.zip", std::string(30, 'a') + EndRecord(e)), 0);
  ASSERT_EQ(eoc->TotalEntries(), 5);
  // The same object reads another file: nothing of the first survives.
  EXPECT_EQ(Open("b.zip", EndRecord({})), 0);
  EXPECT_EQ(eoc->TotalEntries(), 0);
  EXPECT_TRUE(eoc->ZipComment().empty());
  // LocateEOC on an open file starts again from its beginning.
  EXPECT_EQ(eoc->LocateEOC(), 0);
}

using ZMEOCZip64 = EOCFixture;

namespace {
// A Zip64 trailer in front of which `lead` bytes of central directory stand.
std::string Zip64Trailer(const std::string& lead, const TZ64& rec, uint32_t locDisk = 0,
                         uint32_t locTotal = 1, int64_t recOffset = -1) {
  TEnd e;
  e.ThisDisk = 0;
  e.OnDisk = e.Total = 0xFFFF;
  e.Size = e.Offset = 0xFFFFFFFFu;
  const uint64_t at = recOffset < 0 ? lead.size() : uint64_t(recOffset);
  return lead + Zip64Record(rec) + Locator(locDisk, at, locTotal) + EndRecord(e);
}

// A Zip64 record of 70000 entries whose central directory of 100 bytes is at 400.
TZ64 LargeRecord() {
  TZ64 r;
  r.OnDisk = r.Total = 70000;
  r.Size = 100;
  r.Offset = 400;
  return r;
}
}  // namespace

TEST_F(ZMEOCZip64, CountsAndSizesComeFromTheZip64Record) {
  const TZ64 r = LargeRecord();
  const std::string lead = "PK\x03\x04" + std::string(496, 'x');
  eoc->SetFileName(Make("z.zip", Zip64Trailer(lead, r)));
  EXPECT_EQ(eoc->LocateEOC(), kEOCNeedsZip64);
  EXPECT_EQ(eoc->OpenEOC(false), 0);
  EXPECT_TRUE(eoc->Z64());
  EXPECT_EQ(Directory(), "70000 entries, 70000 on this disk, 100 bytes at 400, end record at 500");
  EXPECT_EQ(eoc->ArchiveStart(), 0);
  EXPECT_EQ(eoc->TotalDisks(), 1);
  // Only the end record: the markers stay.
  EXPECT_EQ(eoc->OpenEOC(true), 0);
  EXPECT_EQ(eoc->TotalEntries(), 0xFFFF);
}

TEST_F(ZMEOCZip64, DataInFrontIsReported) {
  TZ64 r;
  r.Size = 100;
  r.Offset = 400;
  const std::string lead = std::string(120, 'S') + "PK\x03\x04" + std::string(496, 'x');
  EXPECT_EQ(Open("front.zip", Zip64Trailer(lead, r)), kEOCDataBefore);
  EXPECT_EQ(eoc->ArchiveStart(), 120);
}

TEST_F(ZMEOCZip64, RecordMovedByAPrefixIsFoundInFrontOfTheLocator) {
  // A stub of 300 bytes in front: the locator's offset is the one written before it.
  const TZ64 r = LargeRecord();
  const std::string archive = "PK\x03\x04" + std::string(496, 'x');
  TEnd e;
  e.OnDisk = e.Total = 0xFFFF;
  e.Size = e.Offset = 0xFFFFFFFFu;
  const std::string stub(300, 'S');
  EXPECT_EQ(Open("sfx64.zip", stub + archive + Zip64Record(r) + Locator(0, archive.size(), 1) + EndRecord(e)),
            kEOCDataBefore);
  EXPECT_EQ(eoc->TotalEntries(), 70000);
  EXPECT_EQ(eoc->CentralOffset(), 400);
  EXPECT_EQ(eoc->EOCOffset(), int64_t(stub.size() + archive.size()));
  EXPECT_EQ(eoc->ArchiveStart(), 300);
}

TEST_F(ZMEOCZip64, UnsupportedVersionOrShortRecord) {
  TZ64 r;
  r.Needed = 46;
  int32_t x = Open("v46.zip", Zip64Trailer(std::string(10, 'x'), r));
  EXPECT_EQ(ZMMsgOf(x), zmsUnsupportedZipVersion);
  EXPECT_FALSE(eoc->IsOpen());
  r.Needed = 0x012D;  // only the low byte counts: 45
  EXPECT_GE(Open("v45.zip", Zip64Trailer(std::string(10, 'x'), r)), 0);
  r.Needed = 45;
  r.RestSize = 43;
  EXPECT_EQ(ZMMsgOf(Open("short.zip", Zip64Trailer(std::string(10, 'x'), r))), zmsUnsupportedZipVersion);
}

TEST_F(ZMEOCZip64, LyingLocators) {
  TZ64 r;
  // Disk of the record differs from the disk count.
  EXPECT_EQ(ZMMsgOf(Open("d.zip", Zip64Trailer("", r, 3, 1))), zmsErrorReadingEndOfCentral);
  // No disks at all, or more than a count can hold.
  EXPECT_EQ(ZMMsgOf(Open("d0.zip", Zip64Trailer("", r, 0, 0))), zmsErrorReadingEndOfCentral);
  EXPECT_EQ(ZMMsgOf(Open("dh.zip", Zip64Trailer("", r, 0xFFFFFFFE, 0xFFFFFFFF))),
            zmsErrorReadingEndOfCentral);
  // Record offset past the end of the file, or beyond any file.
  EXPECT_EQ(ZMMsgOf(Open("p.zip", Zip64Trailer("", r, 0, 1, 1 << 30))), zmsErrorReadingEndOfCentral);
  const int hm = ZMMsgOf(Open("h.zip", Zip64Trailer("", r, 0, 1, INT64_MAX)));
  EXPECT_TRUE(hm == zmsErrorReadingEndOfCentral || hm == zmsSeekErrorInInputFile) << hm;
  std::string huge = Zip64Trailer("", r, 0, 1, 0);
  zm::PutLE64(huge.data() + 56 + 8, 0xFFFFFFFFFFFFFFF0ull);
  EXPECT_EQ(ZMMsgOf(Open("hh.zip", huge)), zmsSeekErrorInInputFile);
  EXPECT_FALSE(eoc->IsOpen());
}

TEST_F(ZMEOCZip64, CountsBeyondTheReaderAreRefused) {
  TZ64 r;
  r.Total = r.OnDisk = 0x80000000ull;
  EXPECT_EQ(ZMMsgOf(Open("c.zip", Zip64Trailer("", r))), zmsErrorReadingEndOfCentral);
  r.Total = r.OnDisk = 5;
  r.Size = 0x8000000000000000ull;
  EXPECT_EQ(ZMMsgOf(Open("s.zip", Zip64Trailer("", r))), zmsErrorReadingEndOfCentral);
}

TEST_F(ZMEOCZip64, ADirectoryAfterTheLastDiskIsRefused) {
  TZ64 r;
  r.CenDisk = 0x7FFFFFFF;  // once taken, naming the part to open overflowed
  TEnd e;
  e.CenDisk = e.OnDisk = e.Total = 0xFFFF;
  e.Size = e.Offset = 0xFFFFFFFFu;
  EXPECT_EQ(ZMMsgOf(Open("cd.zip", Zip64Record(r) + Locator(0, 0, 1) + EndRecord(e))),
            zmsErrorReadingEndOfCentral);
  r.CenDisk = 1;
  EXPECT_EQ(ZMMsgOf(Open("cd1.zip", Zip64Record(r) + Locator(0, 0, 1) + EndRecord(e))),
            zmsErrorReadingEndOfCentral);
  r.CenDisk = 0;
  EXPECT_GE(Open("cd0.zip", Zip64Record(r) + Locator(0, 0, 1) + EndRecord(e)), 0);
}

TEST_F(ZMEOCZip64, WrongRecordSignatureKeepsEndRecordValues) {
  TZ64 r;
  std::string bytes = Zip64Trailer(std::string(8, 'x'), r);
  bytes[8] = 'Q';  // spoil the record's signature
  EXPECT_EQ(Open("w.zip", bytes), kEOCDataBefore);
  EXPECT_TRUE(eoc->Z64());  // the locator was accepted
  EXPECT_EQ(eoc->TotalEntries(), 0xFFFF);
  EXPECT_EQ(eoc->CentralSize(), 0xFFFFFFFFLL);
}

TEST_F(ZMEOCZip64, MissingLocatorAndTinyFiles) {
  TEnd e;
  e.Total = e.OnDisk = 0xFFFF;
  // Markers but no locator: the end record's values, and its offsets make no sense.
  EXPECT_EQ(Open("nl.zip", std::string(40, 'x') + EndRecord(e)), kEOCDataBefore);
  EXPECT_FALSE(eoc->Z64());
  // The record at offset 0 has no room for a locator: nothing is read.
  EXPECT_EQ(Open("t.zip", EndRecord(e)), 0);
  // Disk 0xFFFF with a small disk total ignores the locator.
  e.ThisDisk = 0xFFFF;
  TZ64 r;
  const std::string lead(4, 'y');
  EXPECT_GE(Open("ff.zip", lead + Zip64Record(r) + Locator(0, 4, 1) + EndRecord(e)), 0);
  EXPECT_EQ(eoc->DiskNr(), 0xFFFF);
  EXPECT_FALSE(eoc->Z64());
}

using ZMEOCWrite = EOCFixture;

TEST_F(ZMEOCWrite, PlainTrailerRoundTrip) {
  const std::string name = dir + "w.zip";
  ASSERT_TRUE(eoc->File_Create(name));
  eoc->SetZipComment("written by us");
  EXPECT_EQ(eoc->WriteEOC(), 22 + 13);
  eoc->File_Close();
  TZMEOC back(z);
  back.SetFileName(name);
  EXPECT_EQ(back.OpenEOC(false), 0);
  EXPECT_EQ(back.ZipComment(), "written by us");
  EXPECT_EQ(back.TotalDisks(), 1);
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  EXPECT_EQ(RunCapture("python3 -c \"import "
                       "zipfile,sys;z=zipfile.ZipFile(sys.argv[1]);print(len(z.infolist()),z.comment)\" '" +
                       name + "'"),
            "0 b'written by us'\n");
}

TEST_F(ZMEOCWrite, LargeValuesUseZip64Records) {
  const std::string name = dir + "w64.zip";
  ASSERT_TRUE(eoc->File_Create(name));
  ASSERT_TRUE(eoc->Writes(std::string(100, 'c').data(), 100));
  eoc->SetTotalEntries(70000);
  eoc->SetCentralEntries(70000);
  eoc->SetCentralSize(60);
  eoc->SetCentralOffset(40);
  eoc->SetZipComment("z");
  EXPECT_EQ(eoc->WriteEOC(), 23);
  EXPECT_TRUE(eoc->Z64());
  eoc->File_Close();
  const std::string bytes = Slurp(name);
  ASSERT_EQ(bytes.size(), size_t(100 + 56 + 20 + 22 + 1));
  EXPECT_EQ(zm::GetLE32(bytes.data() + 100), zm::layout::TZip64EndOfCentral::Signature);
  EXPECT_EQ(zm::GetLE64(bytes.data() + 156 + 8), 100u);  // the locator points at the record
  EXPECT_EQ(zm::GetLE32(bytes.data() + 156 + 16), 1u);
  EXPECT_EQ(zm::GetLE16(bytes.data() + 176 + 10), 0xFFFF);
  TZMEOC back(z);
  back.SetFileName(name);
  EXPECT_EQ(back.OpenEOC(false), 0);
  EXPECT_EQ(back.TotalEntries(), 70000);
  EXPECT_EQ(back.CentralOffset(), 40);
  EXPECT_EQ(back.CentralSize(), 60);
  EXPECT_EQ(back.EOCOffset(), 100);
  EXPECT_EQ(back.ZipComment(), "z");
}

TEST_F(ZMEOCWrite, CommentTooLongForTheRecordIsRefused) {
  ASSERT_TRUE(eoc->File_Create(dir + "c.zip"));
  eoc->SetZipComment(std::string(70000, 'c'));
  EXPECT_THROW(eoc->WriteEOC(), EZipMate);
}

using ZMEOCPeers = EOCFixture;

TEST_F(ZMEOCPeers, InfoZipArchivesAgreeWithPython) {
  if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "zip or python3 missing";
  Make("one.txt", "hello world\n");
  Make("empty.txt", "");
  fs::create_directories(dir + "sub");
  Make("sub/two.txt", std::string(5000, 'b'));
  const std::string cd = "cd '" + dir + "' && ";
  ASSERT_EQ(std::system((cd + "zip -qr plain.zip one.txt empty.txt sub").c_str()), 0);
  ASSERT_EQ(std::system((cd + "zip -qr -fz big.zip one.txt empty.txt sub").c_str()), 0);
  ASSERT_EQ(
      std::system((cd + "cp plain.zip commented.zip && printf 'line one\\nline two' | zip -qz commented.zip")
                      .c_str()),
      0);
  for (const char* n : {"plain.zip", "big.zip", "commented.zip"}) {
    SCOPED_TRACE(n);
    eoc->SetFileName(dir + n);
    EXPECT_EQ(eoc->OpenEOC(false), 0);
    EXPECT_EQ(OurEnd(), PythonEnd(dir + n));
    EXPECT_EQ(eoc->FileKind(), kFileKindLocal);
  }
  eoc->SetFileName(dir + "commented.zip");
  ASSERT_EQ(eoc->OpenEOC(false), 0);
  EXPECT_EQ(eoc->ZipComment(), "line one\r\nline two");  // zip writes CR LF
}

TEST_F(ZMEOCPeers, PythonZip64ArchiveOf70000Entries) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  const std::string name = dir + "many.zip";
  ASSERT_EQ(std::system(("python3 -c \"import zipfile,sys\nwith zipfile.ZipFile(sys.argv[1],'w') as z:\n"
                         " z.comment=b'many'\n for i in range(70000): z.writestr('f%d'%i,b'')\" '" +
                         name + "'")
                            .c_str()),
            0);
  eoc->SetFileName(name);
  EXPECT_EQ(eoc->OpenEOC(false), 0);
  EXPECT_TRUE(eoc->Z64());
  EXPECT_EQ(eoc->TotalEntries(), 70000);
  EXPECT_EQ(OurEnd(), PythonEnd(name));
}

TEST_F(ZMEOCPeers, OtherWritersAgreeWithPython) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 missing";
  Make("a.txt", std::string(3000, 'a'));
  const std::string cd = "cd '" + dir + "' && ";
  std::vector<std::string> made;
  if (HaveTool("7z") && std::system((cd + "7z a -tzip seven.zip a.txt >/dev/null").c_str()) == 0)
    made.push_back("seven.zip");
  if (HaveTool("bsdtar") && std::system((cd + "bsdtar --format zip -cf tar.zip a.txt").c_str()) == 0)
    made.push_back("tar.zip");
  if (made.empty()) GTEST_SKIP() << "neither 7z nor bsdtar available";
  for (const auto& n : made) {
    SCOPED_TRACE(n);
    eoc->SetFileName(dir + n);
    EXPECT_EQ(eoc->OpenEOC(false), 0);
    EXPECT_EQ(OurEnd(), PythonEnd(dir + n));
  }
}

using ZMEOCStub = EOCFixture;

namespace {
// A small executable image followed by a self-extractor record of format B.
std::string StubBytes() {
  zmtest::TPeImage img;
  zmtest::TPeSection text;
  text.Name = ".text";
  text.VirtualAddress = 0x1000;
  text.Data.assign(300, 0x90);
  img.Sections.push_back(text);
  const zmtest::Bytes b = img.Build();
  std::string s(b.begin(), b.end());
  return s + Le32(0x0C005A44) + Le16(8) + Le16(0);
}
}  // namespace

TEST_F(ZMEOCStub, StubInFrontOfAnArchiveIsKept) {
  // The archive behind the stub comes from zip where it runs, else from our own builder.
  std::string arc;
  if (HaveTool("zip")) {
    Make("in.txt", "payload");
    ASSERT_EQ(std::system(("cd '" + dir + "' && zip -q arc.zip in.txt").c_str()), 0);
    arc = Slurp(dir + "arc.zip");
  } else {
    arc = testzip::BuildZip({{.Name = "in.txt", .Data = "payload"}});
  }
  const std::string stub = StubBytes();
  eoc->SetFileName(Make("setup.exe", stub + arc));
  EXPECT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_EQ(eoc->FileKind(), kFileKindExe);
  ASSERT_NE(eoc->Stub(), nullptr);
  EXPECT_TRUE(eoc->StubValid());
  ASSERT_EQ(eoc->Stub()->Size(), int64_t(stub.size()));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(eoc->Stub()->Memory()), stub.size()), stub);
  EXPECT_EQ(eoc->ArchiveName(), dir + "setup.exe");
  // An executable without a stub record keeps no stub.
  eoc->SetFileName(Make("plain.exe", StubBytes().substr(0, stub.size() - 8) + EndRecord({})));
  EXPECT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_EQ(eoc->Stub(), nullptr);
}

using ZMEOCMultiPart = EOCFixture;

namespace {
std::string FirstPart() { return std::string("PK\x07\x08PK\x03\x04", 8) + std::string(60, 'f'); }
std::string LastPart(uint16_t thisDisk) {
  TEnd e;
  e.ThisDisk = thisDisk;
  e.CenDisk = thisDisk;
  return std::string(40, 'c') + EndRecord(e);
}
}  // namespace

struct ZMEOCNumbered : EOCFixture {
  void MakeSet(int parts, int declared) {
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (int k = 1; k <= parts; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "arc%03d.zip", k);
      Make(name, k == 1 ? FirstPart() : k == parts ? LastPart(uint16_t(declared - 1)) : std::string(80, 'm'));
      fs::last_write_time(dir + name, when);
    }
  }
};

TEST_F(ZMEOCNumbered, NameOfTheSetOpensTheLastNumberedPart) {
  MakeSet(3, 3);
  eoc->SetFileName(dir + "arc.zip");
  EXPECT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_TRUE(eoc->IsOpen());
  EXPECT_EQ(eoc->FileName(), dir + "arc003.zip");
  EXPECT_EQ(eoc->ArchiveName(), dir + "arc.zip");
  EXPECT_EQ(eoc->Numbering(), TZMWorkZip::kNumberingNumbered);
  EXPECT_EQ(eoc->TotalDisks(), 3);
  EXPECT_EQ(eoc->DiskNr(), 2);
}

TEST_F(ZMEOCNumbered, PartWithAnotherDateStopsTheSearch) {
  MakeSet(3, 3);
  fs::last_write_time(dir + "arc002.zip", fs::file_time_type::clock::now());
  eoc->SetFileName(dir + "arc.zip");
  int32_t r = eoc->OpenTrailer(false);
  EXPECT_EQ(ZMMsgOf(r), zmsInputFileDoesNotExist);
  EXPECT_FALSE(eoc->IsOpen());
  EXPECT_EQ(eoc->FileName(), "");
  z.SetSpanOptions(TZMSpanOpts{spAnyTime});
  eoc->SetFileName(dir + "arc.zip");
  EXPECT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_EQ(eoc->FileName(), dir + "arc003.zip");
}

TEST_F(ZMEOCNumbered, LastPartDeclaringAnotherCountFails) {
  MakeSet(3, 4);
  eoc->SetFileName(dir + "arc.zip");
  EXPECT_EQ(ZMMsgOf(eoc->OpenTrailer(false)), zmsZipFileCouldNotBeOpened);
  EXPECT_FALSE(eoc->IsOpen());
}

TEST_F(ZMEOCNumbered, SingleNumberedArchiveIsNotASet) {
  Make("solo001.zip", LastPart(0));
  eoc->SetFileName(dir + "solo.zip");
  EXPECT_EQ(ZMMsgOf(eoc->OpenTrailer(false)), zmsZipFileCouldNotBeOpened);
}

TEST_F(ZMEOCNumbered, BothSchemesPresentLeavesTheArchiveClosed) {
  MakeSet(2, 2);
  Make("arc002.z01", "x");
  eoc->SetFileName(dir + "arc.zip");
  EXPECT_GE(eoc->OpenTrailer(false), 0);
  EXPECT_FALSE(eoc->IsOpen());
}

TEST_F(ZMEOCNumbered, OtherExtensionsAndExactNamesAreNotSearched) {
  MakeSet(3, 3);
  eoc->SetFileName(dir + "arc.dat");
  EXPECT_EQ(ZMMsgOf(eoc->OpenTrailer(false)), zmsInputFileDoesNotExist);
  z.SetSpanOptions(TZMSpanOpts{spExactName});
  eoc->SetFileName(dir + "arc.zip");
  EXPECT_EQ(ZMMsgOf(eoc->OpenTrailer(false)), zmsInputFileDoesNotExist);
  EXPECT_EQ(eoc->FileName(), dir + "arc.zip");
}

TEST_F(ZMEOCNumbered, NotAnArchiveGives127AndClearsTheName) {
  eoc->SetFileName(Make("junk.zip", std::string(100, 'j')));
  EXPECT_EQ(ZMMsgOf(eoc->OpenTrailer(false)), zmsNotValidZipArchive);
  EXPECT_EQ(eoc->FileName(), "");
}

TEST_F(ZMEOCNumbered, DetectNumberingAfterOpeningAPartDirectly) {
  MakeSet(3, 3);
  eoc->SetFileName(dir + "arc003.zip");
  ASSERT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_EQ(eoc->Numbering(), 0);
  eoc->DetectNumbering();
  EXPECT_EQ(eoc->Numbering(), TZMWorkZip::kNumberingNumbered);
  // The numbering detected for a part written and opened on its own; -1 when it does
  // not open.
  const auto detected = [&](const std::string& name, const std::string& bytes) {
    eoc->SetNumbering(0);
    eoc->SetFileName(Make(name, bytes));
    if (eoc->OpenTrailer(false) != 0) return -1;
    eoc->DetectNumbering();
    return int(eoc->Numbering());
  };
  // A last part whose first part is missing: compatible names.
  EXPECT_EQ(detected("set.zip", LastPart(1)), TZMWorkZip::kNumberingCompatible);
  // A single archive keeps "unknown".
  EXPECT_EQ(detected("one.zip", LastPart(0)), 0);
}

TEST_F(ZMEOCNumbered, DetachedHeaderNamesTheSet) {
  MakeSet(2, 2);
  // Format A with a name record: the archive is data.zip beside the program.
  std::string s = StubBytes().substr(0, StubBytes().size() - 8);
  s += Le32(0x01005A44) + Le16(8) + Le16(0) + Le32(0x010A5A44) + Le32(0) + Le32(0x01145A44) + Le32(3) +
       Le32(3);
  s += "arczip";
  s += Le32(0x02145A44) + Le32(0) + Le32(0) + Le32(zm::layout::TCentralHeader::Signature);
  eoc->SetFileName(Make("setup.exe", s + EndRecord({})));
  EXPECT_EQ(eoc->OpenTrailer(false), 0);
  EXPECT_EQ(eoc->FileName(), dir + "arc002.zip");
}

TEST(ZMEOCCorpus, EveryArchiveOpensOrFailsWithAKnownMessage) {
  const std::string root = ZM_CORPUS_DIR;
  if (!fs::exists(root)) GTEST_SKIP() << "no corpus at " << root;
  TScopedUi ui;
  TTestZipMate z;
  std::map<int, int> tally;
  std::ostringstream table;
  table << "trailer outcome per corpus file\n";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  for (const auto& p : files) {
    TZMEOC eoc(z);
    z.SetSpanOptions(TZMSpanOpts{spExactName});
    eoc.SetFileName(p.string());
    const int32_t r = eoc.OpenTrailer(false);
    const int msg = r < 0 ? ZMMsgOf(r) : 0;
    ++tally[msg];
    char line[512];
    std::snprintf(line, sizeof line, "%-70s %s %3d entries=%d kind=%d z64=%d\n",
                  fs::relative(p, root).string().c_str(), r < 0 ? "FAIL" : "ok  ", r < 0 ? msg : r,
                  eoc.TotalEntries(), eoc.FileKind(), eoc.Z64() ? 1 : 0);
    table << line;
    if (r < 0) {
      EXPECT_TRUE(msg == zmsNotValidZipArchive || msg == zmsErrorReadingEndOfCentral ||
                  msg == zmsUnsupportedZipVersion || msg == zmsSeekErrorInInputFile ||
                  msg == zmsZipFileCouldNotBeOpened || msg == zmsInputFileDoesNotExist)
          << p << " gave " << msg;
    }
  }
  std::printf("%s", table.str().c_str());
  EXPECT_GT(tally[0], int(files.size()) / 2);
}
