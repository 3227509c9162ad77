// The archive file: part names, the search for parts, file-information capture, the
// work buffer, and the volume layer reading and writing across numbered parts and
// asking for disks in a simulated removable drive.
#include "ZMWZip.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "PlatDriveDouble.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMEOC.h"
#include "ZMMsg.h"
#include "ZipMateTestKit.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

struct WZipFixture : TComponentFixture {
  WZipFixture() : TComponentFixture("zmwzip") {}
};

}  // namespace

using ZMWZipNames = WZipFixture;

TEST_F(ZMWZipNames, NumberedCompatibleAndLabelNames) {
  TZMWorkZip w(z);
  EXPECT_EQ(w.NumberedName("d/arc.zip", 1, false), "d/arc001.zip");
  EXPECT_EQ(w.NumberedName("d/arc007.zip", 12, true), "d/arc012.zip");
  EXPECT_EQ(w.NumberedName("d/ab.zip", 2, true), "d/002.zip");  // never into the folder
  EXPECT_THROW(w.NumberedName("arc.zip", 1000, false), EZipMate);
  w.SetTotalDisks(3);
  w.SetDiskNr(0);
  EXPECT_EQ(w.PartName("arc.zip", false, true), "arc.z01");
  w.SetDiskNr(1);
  EXPECT_EQ(w.PartName("arc.zip", false, true), "arc.z02");
  EXPECT_EQ(w.PartName("arc.zip", false, false), "arc002.zip");
  w.SetDiskNr(2);
  EXPECT_EQ(w.PartName("arc.z02", false, true), "arc.ZIP");
  w.SetTotalDisks(20);
  w.SetDiskNr(9);
  EXPECT_EQ(w.PartName("arc.zip", false, true), "arc.z10");
  EXPECT_EQ(TZMWorkZip::VolumeLabel(0), "PKBACK#001");
  EXPECT_EQ(TZMWorkZip::VolumeLabel(998), "PKBACK#999");
  EXPECT_EQ(TZMWorkZip::VolumeLabelSpaced(1), "PKBACK# 002");
}

TEST_F(ZMWZipNames, NumberingToSpanOptions) {
  TZMWorkZip w(z);
  const TZMSpanOpts start{spNoVolumeName, spWipeFiles};
  EXPECT_EQ(w.NumberingToSpanOptions(start), start);
  w.SetNumbering(TZMWorkZip::kNumberingLabels);
  EXPECT_EQ(w.NumberingToSpanOptions(start), (TZMSpanOpts{spWipeFiles}));
  w.SetNumbering(TZMWorkZip::kNumberingCompatible);
  EXPECT_EQ(w.NumberingToSpanOptions(start), (TZMSpanOpts{spNoVolumeName, spCompatName, spWipeFiles}));
  w.SetNumbering(TZMWorkZip::kNumberingNumbered);
  EXPECT_EQ(w.NumberingToSpanOptions(TZMSpanOpts{spCompatName}), (TZMSpanOpts{spNoVolumeName}));
}

TEST_F(ZMWZipNames, FindFirstPartAndSpannedFirstParts) {
  Make("arc.z00", "x");  // number 0: skipped
  Make("arc.zab", "x");  // no number: skipped
  Make("arc.z03", "x");
  Make("arc000.zip", "x");
  Make("arc004.zip", "x");
  EXPECT_EQ(FindFirstPart(dir + "arc", true), "arc.z03");
  EXPECT_EQ(FindFirstPart(dir + "arc", false), "arc004.zip");
  EXPECT_EQ(FindFirstPart(dir + "none", false), "");
  Make("only.zip", "x");
  EXPECT_EQ(FindFirstPart(dir + "only", true), "only.zip");  // the last part of a compatible set
  const std::string head("PK\x07\x08PK\x03\x04", 8);
  EXPECT_TRUE(TZMWorkZip::IsSpannedFirstPart(Make("s1.zip", head + std::string(27, 'x'))));
  EXPECT_FALSE(TZMWorkZip::IsSpannedFirstPart(Make("s2.zip", head + std::string(26, 'x'))));  // 34 bytes
  EXPECT_FALSE(TZMWorkZip::IsSpannedFirstPart(Make("s3.zip", "PK\x03\x04" + std::string(40, 'x'))));
  EXPECT_FALSE(TZMWorkZip::IsSpannedFirstPart(dir + "missing.zip"));
}

using ZMWZipState = WZipFixture;

TEST_F(ZMWZipState, NamesOpenedAndShown) {
  TZMWorkZip w(z);
  w.SetFileName(Make("a.zip", "abc"));
  ASSERT_TRUE(w.File_Open(0x20));
  EXPECT_EQ(w.RealFileName(), dir + "a.zip");
  EXPECT_EQ(w.DisplayName(true), dir + "a.zip");
  w.SetArchiveName("set.zip");
  EXPECT_EQ(w.DisplayName(true), "set.zip");
  w.SetAlias("Al");
  EXPECT_EQ(w.DisplayName(true), "Al<set.zip>");
  EXPECT_EQ(w.DisplayName(false), "Al");
  TZMWorkZip c(z);
  ASSERT_TRUE(c.File_Create(dir + "tmp.zip"));
  EXPECT_EQ(c.RealFileName(), dir + "tmp.zip");
}

TEST_F(ZMWZipState, TemporaryRealFileIsDeleted) {
  z.SetVerbose(true);
  {
    TZMWorkZip w(z);
    w.SetFileName(dir + "final.zip");
    ASSERT_TRUE(w.File_Create(dir + "final.zip"));
    w.SetIsTemp(true);
  }
  EXPECT_FALSE(fs::exists(dir + "final.zip"));
  bool seen = false;
  for (const auto& l : lines) seen = seen || l == "Trace: Deleting " + dir + "final.zip";
  EXPECT_TRUE(seen);
}

TEST_F(ZMWZipState, ChangeCaptureNoticesWritesAndSizes) {
  const std::string name = Make("c.zip", "0123456789");
  TZMWorkZip w(z);
  w.SetFileName(name);
  ASSERT_TRUE(w.File_Open(0x40));  // others may write: the test changes the file meanwhile
  w.CaptureFileInfo();
  EXPECT_FALSE(w.FileChanged(false));
  EXPECT_NE(w.FileDateTime(), 0);
  fs::last_write_time(name, fs::last_write_time(name) - std::chrono::hours(5));
  EXPECT_TRUE(w.FileChanged(false));
  // With write access the write time is not compared; the creation time always is.
  // Where the system has no creation time of its own (wine gives the write time in
  // its place) the new write time is also a new creation time, which must be seen.
  plat::TFileInfo now;
  ASSERT_TRUE(plat::FileInfoByHandle(w.Handle(), now));
#ifdef _WIN32
  const bool creationMoved = now.CreationTime != w.CapturedFileInfo().CreationTime;
#else
  const bool creationMoved = false;          // the status-change time moves with every date change
#endif
  EXPECT_EQ(w.FileChanged(true), creationMoved);
  std::ofstream(name, std::ios::app) << "more";
  EXPECT_TRUE(w.FileChanged(true));
  w.ClearFileInfo();
  EXPECT_EQ(w.CapturedFileInfo().Size, 0u);
  w.File_Close();
  EXPECT_TRUE(w.FileChanged(true));  // nothing to compare with
  EXPECT_EQ(w.FileDateTime(), 0);
}

TEST_F(ZMWZipState, WorkBufferGrowsInKiBSteps) {
  TZMWorkZip w(z);
  EXPECT_NE(w.WorkBuffer(10), nullptr);
  EXPECT_EQ(w.WorkBufferSize(), 1024);
  w.WorkBuffer(1023);
  EXPECT_EQ(w.WorkBufferSize(), 1024);  // 1023 + 1 bytes fit
  w.WorkBuffer(1024);
  EXPECT_EQ(w.WorkBufferSize(), 2048);
  w.WorkBuffer(100);
  EXPECT_EQ(w.WorkBufferSize(), 2048);  // never shrinks on request
  w.WorkBuffer(5000);
  EXPECT_EQ(w.WorkBufferSize(), 5120);
  EXPECT_EQ(w.WorkBuffer(0), nullptr);
  EXPECT_EQ(w.WorkBufferSize(), 0);
}

TEST_F(ZMWZipState, AssignCopiesVolumeFieldsAndDrive) {
  TZMWorkZip a(z), b(z);
  a.SetFileName(Make("a.zip", "x"));
  a.SetArchiveName("set.zip");
  a.SetDiskNr(4);
  a.SetTotalDisks(7);
  a.SetNumbering(2);
  a.SetIsMultiDisk(true);
  ASSERT_TRUE(a.File_Open(0x20));
  a.CaptureFileInfo();
  b.AssignFrom(a);
  EXPECT_FALSE(b.IsOpen());
  EXPECT_EQ(b.ArchiveName(), "set.zip");
  EXPECT_EQ(b.DiskNr(), 4);
  EXPECT_EQ(b.TotalDisks(), 7);
  EXPECT_EQ(b.Numbering(), 2);
  EXPECT_TRUE(b.IsMultiDisk());
  EXPECT_EQ(b.CapturedFileInfo().Size, 1u);
  EXPECT_EQ(b.Drive().DriveRoot(), a.Drive().DriveRoot());
}

struct ZMWZipVolumes : WZipFixture {
  std::string p1 = std::string(100, '1'), p2 = std::string(50, '2'), p3 = std::string(30, '3');
  void MakeParts() {
    Make("arc001.zip", p1);
    Make("arc002.zip", p2);
    Make("arc003.zip", p3);
  }
  void OpenFirst(TZMWorkZip& w) {
    w.SetFileName(dir + "arc003.zip");
    w.SetNumbering(TZMWorkZip::kNumberingNumbered);
    w.SetTotalDisks(3);
    w.SetDiskNr(2);
    w.GetVolume(0, false);
  }
};

TEST_F(ZMWZipVolumes, ReadsRunOnAcrossParts) {
  MakeParts();
  TZMWorkZip w(z);
  OpenFirst(w);
  ASSERT_TRUE(w.IsOpen());
  EXPECT_EQ(w.FileName(), dir + "arc001.zip");
  EXPECT_TRUE(w.IsMultiDisk());
  std::string buf(400, '\0');
  EXPECT_EQ(w.Read(buf.data(), 400), 180);  // all parts, then the end
  EXPECT_EQ(buf.substr(0, 180), p1 + p2 + p3);
  EXPECT_EQ(w.DiskNr(), 2);
}

TEST_F(ZMWZipVolumes, UnbrokenReadsStayInOnePart) {
  MakeParts();
  TZMWorkZip w(z);
  OpenFirst(w);
  std::string buf(200, '\0');
  ASSERT_EQ(w.Read(buf.data(), 90), 90);
  // Ten bytes left in part 1: an unbroken request for more fails.
  EXPECT_EQ(ZMMsgOf(w.Read(buf.data(), -20)), zmsErrorReadingFile);
  OpenFirst(w);
  ASSERT_EQ(w.Read(buf.data(), 100), 100);
  // Nothing left in part 1: an unbroken read continues in part 2.
  EXPECT_EQ(w.Read(buf.data(), -20), 20);
  EXPECT_EQ(buf.substr(0, 20), std::string(20, '2'));
  EXPECT_EQ(w.DiskNr(), 1);
  const int32_t sizes[] = {30, 10};
  // Each field whole: 30 bytes remain in part 2, the second field comes from part 3.
  EXPECT_EQ(w.ReadFields(buf.data(), sizes, 1), 40);
  EXPECT_EQ(buf.substr(0, 40), std::string(30, '2') + std::string(10, '3'));
}

TEST_F(ZMWZipVolumes, MissingPartOnAFixedDriveFails) {
  Make("arc001.zip", p1);
  TZMWorkZip w(z);
  OpenFirst(w);
  std::string buf(200, '\0');
  EXPECT_EQ(ZMMsgOf(w.Read(buf.data(), 150)), zmsInputFileDoesNotExist);
  w.SetFileName(dir + "arc003.zip");
  w.SetDiskNr(2);
  try {
    w.SelectDisk(1);
    FAIL() << "missing part opened";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsInputFileDoesNotExist);
  }
}

TEST_F(ZMWZipVolumes, CompatibleNamesAreFoundFirst) {
  Make("arc.z01", "AAAA");
  Make("arc.zip", "BB");
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetTotalDisks(2);
  w.SetDiskNr(1);
  w.GetVolume(0, false);
  EXPECT_EQ(w.FileName(), dir + "arc.z01");
  EXPECT_EQ(w.Numbering(), TZMWorkZip::kNumberingCompatible);
  char buf[8];
  EXPECT_EQ(w.Read(buf, 6), 6);
  EXPECT_EQ(std::string(buf, 6), "AAAABB");
#ifdef _WIN32
  // Letter case does not tell names apart: the built name opens the part as it is.
  EXPECT_EQ(w.FileName(), dir + "arc.ZIP");
#else
  EXPECT_EQ(w.FileName(), dir + "arc.zip");  // the last part as it is spelt on disk
#endif
}

TEST_F(ZMWZipVolumes, WritesSplitAtTheVolumeSizeAndTheTrailerFollows) {
  z.SetMaxVolumeSize(100);
  z.SetMinFreeVolumeSize(0);
  TZMEOC w(z);
  w.SetFileName(dir + "out.zip");
  w.SetIsMultiDisk(true);
  std::string data(250, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = char('a' + i % 26);
  EXPECT_EQ(w.Write(data.data(), 250), 250);
  EXPECT_EQ(w.DiskNr(), 2);
  // 50 bytes left on part 3: an unbroken 60 bytes that asks to be told moves on.
  EXPECT_EQ(w.Write(data.data(), -(60 | TZMWorkFile::kUnbrokenMoveFlag)), TZMWorkFile::kMovedToNextVolume);
  EXPECT_EQ(w.DiskNr(), 3);
  EXPECT_EQ(w.Write(data.data(), -60), 60);
  // The end record does not fit after 60 + 30 bytes: it moves and names its disk.
  EXPECT_EQ(w.Write(data.data(), 30), 30);
  w.SetZipComment("end");
  EXPECT_EQ(w.WriteEOC(), 25);
  w.File_Close();
  EXPECT_EQ(Slurp(dir + "out001.zip"), data.substr(0, 100));
  EXPECT_EQ(Slurp(dir + "out002.zip"), data.substr(100, 100));
  EXPECT_EQ(Slurp(dir + "out003.zip"), data.substr(200, 50));
  EXPECT_EQ(Slurp(dir + "out004.zip").size(), 90u);
  // The set opens by its name and ends on part 5.
  TZMEOC r(z);
  r.SetFileName(dir + "out.zip");
  EXPECT_EQ(r.OpenTrailer(false), 0);
  EXPECT_EQ(r.FileName(), dir + "out005.zip");
  EXPECT_EQ(r.TotalDisks(), 5);
  EXPECT_EQ(r.DiskNr(), 4);
  EXPECT_EQ(r.ZipComment(), "end");
}

using ZMWZipFloppy = WZipFixture;

TEST_F(ZMWZipFloppy, LabelledDisksAreAskedForAndRecognised) {
  plat::TRemovableDriveDouble a(dir);
  plat::TScopedDrives scope(&a);
  a.Label = "PKBACK#003";
  Make("arc.zip", "last disk");
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  ASSERT_TRUE(w.Drive().IsFloppy());
  w.SetTotalDisks(3);
  std::vector<int> asked;
  z.OnGetNextDisk = [&](TObject*, int seq, int total, std::string drive, bool& abort) {
    asked.push_back(seq);
    EXPECT_EQ(total, 3);
    EXPECT_EQ(drive, "A");
    a.Label = TZMWorkZip::VolumeLabel(seq - 1);  // the user inserts the disk asked for
    abort = false;
  };
  w.GetVolume(0, false);
  EXPECT_EQ(asked, (std::vector<int>{1}));
  EXPECT_EQ(w.Numbering(), TZMWorkZip::kNumberingLabels);
  EXPECT_TRUE(w.IsOpen());
  EXPECT_EQ(a.Label, "PKBACK#001");
  // A refused disk cancels the operation.
  z.OnGetNextDisk = [&](TObject*, int, int, std::string, bool& abort) { abort = true; };
  try {
    w.GetVolume(1, false);
    FAIL() << "cancel ignored";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsUserCanceledOperation);
    EXPECT_FALSE(e.Show);
  }
  EXPECT_NE(w.Info() & TZMWorkZip::kInfoDiskCancelled, 0u);
  z.SetUnattended(true);
  try {
    w.GetVolume(1, false);
    FAIL() << "unattended prompt";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsUnattendedDiskSpanningNotImplemented);
  }
}

TEST_F(ZMWZipFloppy, TrailerOnALabelledDiskDetectsLabels) {
  plat::TRemovableDriveDouble a(dir);
  plat::TScopedDrives scope(&a);
  a.Label = "pkback#002";
  std::string rec("PK\x05\x06\x01\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00", 22);
  Make("arc.zip", std::string(10, 'x') + rec);
  TZMEOC e(z);
  e.SetFileName(dir + "arc.zip");
  ASSERT_EQ(e.OpenTrailer(false), 0);
  ASSERT_TRUE(e.Drive().HasMedia(false));
  e.DetectNumbering();
  EXPECT_EQ(e.Numbering(), TZMWorkZip::kNumberingLabels);
}
