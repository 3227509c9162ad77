// The archive file object: opening and closing with their trace lines, transfers and
// the unbroken-count convention, seeks, block sizes of the copies, the progress filter.
#include "ZMWorkFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMMsg.h"
#include "ZMWFuncs.h"
#include "ZipMateTestKit.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

// Records the sizes asked of Read and Write.
class TCountingFile : public TZMWorkFile {
 public:
  using TZMWorkFile::TZMWorkFile;
  std::vector<int32_t> Reads, Writes;
  int32_t Read(void* buffer, int32_t count) override {
    Reads.push_back(count);
    return TZMWorkFile::Read(buffer, count);
  }
  int32_t Write(const void* buffer, int32_t count) override {
    Writes.push_back(count);
    return TZMWorkFile::Write(buffer, count);
  }
};

struct WorkFileFixture : TComponentFixture {
  WorkFileFixture() : TComponentFixture("zmwfile") {}
  bool HasLine(const std::string& start) const {
    for (const auto& l : lines)
      if (l.rfind(start, 0) == 0) return true;
    return false;
  }
  // Makes the file name of bytes in the folder and opens f on it in mode.
  bool OpenMade(TZMWorkFile& f, const std::string& name, const std::string& bytes, uint32_t mode = 0x20) {
    f.SetFileName(Make(name, bytes));
    return f.File_Open(mode);
  }
  static std::string Bytes(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
  }
};

}  // namespace

using ZMWorkFileOpen = WorkFileFixture;

TEST_F(ZMWorkFileOpen, NewObjectIsClosedWithDefaults) {
  TZMWorkFile f(z);
  EXPECT_FALSE(f.IsOpen());
  EXPECT_EQ(f.Handle(), plat::kInvalidHandle);
  EXPECT_EQ(f.OpenMode(), 0u);
  EXPECT_EQ(f.ReportMode(), 0);
  EXPECT_EQ(f.StampDate(), 0u);
  EXPECT_FALSE(f.IsTemp());
  EXPECT_EQ(f.Position(), -1);
  EXPECT_EQ(f.Seek(0, 0), -1);
  EXPECT_TRUE(f.AtEnd());
}

TEST_F(ZMWorkFileOpen, MissingFileFailsWithSystemText) {
  z.SetVerbose(true);
  TZMWorkFile f(z);
  f.SetFileName(dir + "absent.zip");
  EXPECT_FALSE(f.File_Open(0x20));
  EXPECT_FALSE(f.IsOpen());
  ASSERT_TRUE(HasLine("Trace: FileOpen Failed: " + dir + "absent.zip  "));
  for (const auto& l : lines) {
    if (l.rfind("Trace: FileOpen Failed", 0) == 0) {
      EXPECT_NE(l.find("[0x2]"), std::string::npos) << l;
    }
  }
  // Without trace only the failure is written, not "Opening".
  EXPECT_FALSE(HasLine("Trace: Opening"));
}

TEST_F(ZMWorkFileOpen, TraceWritesOpeningAndClosed) {
  z.SetTrace(true);
  TZMWorkFile f(z);
  f.SetAlias("arc");
  ASSERT_TRUE(OpenMade(f, "a.bin", "abc"));
  EXPECT_EQ(f.OpenMode(), 0x20u);
  f.File_Close();
  EXPECT_TRUE(HasLine("Trace: Opening arc<" + dir + "a.bin>"));
  EXPECT_TRUE(HasLine("Trace: Closed arc<" + dir + "a.bin>"));
}

TEST_F(ZMWorkFileOpen, ReopenSameModeKeepsHandle) {
  TZMWorkFile f(z);
  ASSERT_TRUE(OpenMade(f, "a.bin", "abcdef"));
  ASSERT_EQ(f.Seek(0, 3), 3);
  const plat::THandle h = f.Handle();
  EXPECT_EQ(f.File_Reopen(0x20), 0);
  EXPECT_EQ(f.Handle(), h);
  EXPECT_EQ(f.Position(), 3);  // not closed, so the position stays
  EXPECT_EQ(f.File_Reopen(plat::fmOpenReadWrite), 0);
  EXPECT_EQ(f.OpenMode(), uint32_t(plat::fmOpenReadWrite));
  EXPECT_EQ(f.Position(), 0);
}

TEST_F(ZMWorkFileOpen, ReopenFailureGives164) {
  z.SetVerbose(true);
  TZMWorkFile f(z);
  f.SetFileName(dir + "gone.zip");
  const int32_t r = f.File_Reopen(0x20);
  EXPECT_LT(r, 0);
  EXPECT_EQ(ZMMsgOf(r), zmsZipFileCouldNotBeOpened);
  EXPECT_EQ((ZMAbsCode(r) >> 23) & 0xFF, zmmZMWorkFile);
  EXPECT_TRUE(HasLine("Trace: Reopening " + dir + "gone.zip"));
  EXPECT_TRUE(HasLine("Trace: Could not File_Reopen: " + dir + "gone.zip  "));
}

TEST_F(ZMWorkFileOpen, NewNameClosesOpenFile) {
  TZMWorkFile f(z);
  ASSERT_TRUE(OpenMade(f, "a.bin", "a"));
  f.SetFileName(f.FileName());
  EXPECT_TRUE(f.IsOpen());
  f.SetFileName(Make("b.bin", "b"));
  EXPECT_FALSE(f.IsOpen());
}

TEST_F(ZMWorkFileOpen, DisplayNameWithAlias) {
  TZMWorkFile f(z);
  f.SetFileName("x.zip");
  EXPECT_EQ(f.DisplayName(true), "x.zip");
  f.SetAlias("Payload");
  EXPECT_EQ(f.DisplayName(false), "Payload");
  EXPECT_EQ(f.DisplayName(true), "Payload<x.zip>");
}

TEST_F(ZMWorkFileOpen, AssignCopiesSettingsButNoHandle) {
  TZMWorkFile a(z), b(z);
  a.SetFileName(Make("a.bin", "a"));
  a.SetAlias("al");
  a.SetReportMode(2);
  a.SetStampDate(0x12345678);
  ASSERT_TRUE(a.File_Open(0x20));
  b.AssignFrom(a);
  EXPECT_EQ(b.FileName(), a.FileName());
  EXPECT_EQ(b.Alias(), "al");
  EXPECT_EQ(b.ReportMode(), 2);
  EXPECT_EQ(b.StampDate(), 0x12345678u);
  EXPECT_EQ(b.OpenMode(), 0x20u);
  EXPECT_FALSE(b.IsOpen());
  EXPECT_EQ(b.Handle(), plat::kInvalidHandle);
}

TEST_F(ZMWorkFileOpen, CreateRegistersTempAndUsesReadWrite) {
  z.SetTrace(true);
  TZMWorkFile f(z);
  ASSERT_TRUE(f.File_Create(dir + "new.zip"));
  EXPECT_EQ(f.FileName(), dir + "new.zip");
  EXPECT_EQ(f.OpenMode(), 2u);
  EXPECT_TRUE(HasLine("Trace: Creating " + dir + "new.zip"));
  ASSERT_EQ(f.TempFiles().Count(), 1);
  EXPECT_EQ(f.TempFiles().Strings(0), dir + "new.zip");
  EXPECT_FALSE(f.File_Create(dir + "no/such/folder.zip"));
  EXPECT_TRUE(HasLine("Trace: FileCreate Failed: " + dir + "no/such/folder.zip  "));
}

TEST_F(ZMWorkFileOpen, TemporaryFileDeletedOnDestruction) {
  z.SetVerbose(true);
  const std::string name = Make("t.tmp", "x");
  {
    TZMWorkFile f(z);
    f.SetFileName(name);
    f.SetIsTemp(true);
    ASSERT_TRUE(f.File_Open(0x20));
  }
  EXPECT_FALSE(fs::exists(name));
  EXPECT_TRUE(HasLine("Trace: Deleting " + name));
  const std::string kept = Make("k.bin", "x");
  {
    TZMWorkFile f(z);
    f.SetFileName(kept);
  }
  EXPECT_TRUE(fs::exists(kept));
}

struct ZMWorkFileStamp : WorkFileFixture {
  // Opens the file in mode, gives it each date in turn and closes it; whether it ended closed.
  bool StampAndClose(uint32_t mode, std::initializer_list<uint32_t> dates) {
    TZMWorkFile f(z);
    f.SetFileName(Name);
    if (!f.File_Open(mode)) return false;
    for (const uint32_t date : dates) f.SetStampDate(date);
    f.File_Close();
    return !f.IsOpen();
  }
  const std::string Name = Make("s.bin", "abc");
};

TEST_F(ZMWorkFileStamp, ReadOnlyCloseKeepsDate) {
  const int32_t before = FileStamp(Name);
  EXPECT_TRUE(StampAndClose(0x20, {0x3C210000}));  // 2010-01-01 00:00:00
  EXPECT_EQ(FileStamp(Name), before);
}

TEST_F(ZMWorkFileStamp, WritableCloseSetsDate) {
  z.SetTrace(true);
  EXPECT_TRUE(StampAndClose(plat::fmOpenReadWrite, {0x3C216000}));  // 2010-01-01 12:00:00
  EXPECT_EQ(FileStamp(Name), 0x3C216000);
  EXPECT_TRUE(HasLine("Trace: Set file Date " + Name + " to 2010-01-01 12:00:00"));
}

TEST_F(ZMWorkFileStamp, BadDateWarnsAndStillCloses) {
  z.SetVerbose(true);
  // A valid date, then month 15.
  EXPECT_TRUE(
      StampAndClose(plat::fmOpenReadWrite, {0x3C3F0000, (uint32_t(0x3C) << 24) | (15u << 21) | (1u << 16)}));
  EXPECT_TRUE(HasLine("Trace: Warning: Set file Date" + Name + " to "));
}

using ZMWorkFileTransfer = WorkFileFixture;

TEST_F(ZMWorkFileTransfer, NegativeCountReadsMagnitude) {
  TZMWorkFile f(z);
  ASSERT_TRUE(OpenMade(f, "r.bin", "0123456789"));
  char buf[16] = {};
  EXPECT_EQ(f.Read(buf, -4), 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_TRUE(f.Reads(buf, -3));
  EXPECT_EQ(std::string(buf, 3), "456");
  EXPECT_FALSE(f.Reads(buf, 5));  // only 3 left
  EXPECT_EQ(f.Read(buf, 4), 0);
  EXPECT_TRUE(f.AtEnd());
}

TEST_F(ZMWorkFileTransfer, WriteMasksTheMoveFlag) {
  TZMWorkFile f(z);
  ASSERT_TRUE(f.File_Create(dir + "w.bin"));
  EXPECT_EQ(f.Write("abcdef", -(6 | TZMWorkFile::kUnbrokenMoveFlag)), 6);
  EXPECT_TRUE(f.Writes("gh", -2));
  f.File_Close();
  std::ifstream in(dir + "w.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "abcdefgh");
}

TEST_F(ZMWorkFileTransfer, FieldsTransferTheirSum) {
  TZMWorkFile f(z);
  ASSERT_TRUE(f.File_Create(dir + "w.bin"));
  const int32_t sizes[] = {2, 3, 1};
  EXPECT_EQ(f.WriteFields("abcdefg", sizes, 2), 6);
  f.SetPosition(0);
  char buf[8] = {};
  EXPECT_EQ(f.ReadFields(buf, sizes, 1), 5);
  EXPECT_EQ(std::string(buf, 5), "abcde");
}

TEST_F(ZMWorkFileTransfer, FailuresGiveTheirMessages) {
  TZMWorkFile f(z);
  char buf[4];
  EXPECT_EQ(ZMMsgOf(f.Read(buf, 4)), zmsErrorReadingFile);
  EXPECT_EQ(ZMMsgOf(f.Write(buf, 4)), zmsErrorWritingFile);
  ASSERT_TRUE(OpenMade(f, "r.bin", "ab"));
  EXPECT_LT(f.Write(buf, 2), 0);  // read-only handle
  try {
    f.ReadCheck(buf, 4, 0);
    FAIL() << "short read not raised";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsErrorReadingFile);
  }
  try {
    f.WriteCheck(buf, 1, ZM_CODE(zmmZMEOC, zmsErrorWritingEndOfCentral));
    FAIL() << "failed write not raised";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsErrorWritingEndOfCentral);
  }
}

TEST_F(ZMWorkFileTransfer, SeekCheckCodes) {
  TZMWorkFile f(z);
  ASSERT_TRUE(OpenMade(f, "r.bin", "abcdef"));
  EXPECT_EQ(f.SeekCheck(2, 0, -2), 4);
  try {
    f.SeekCheck(0, 0, -5);
    FAIL();
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.FullCode, zmsFileSeekError);  // no location
  }
  try {
    f.SeekCheck(0, -1, -5);
    FAIL();
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsSeekErrorInInputFile);
  }
  try {
    f.SeekCheck(0, 128, -5);
    FAIL();
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsUnsupportedZipVersion);
  }
}

TEST_F(ZMWorkFileTransfer, AtEndRestoresPosition) {
  TZMWorkFile f(z);
  ASSERT_TRUE(OpenMade(f, "r.bin", "abcdef", plat::fmOpenReadWrite));
  f.SetPosition(2);
  EXPECT_FALSE(f.AtEnd());
  EXPECT_EQ(f.Position(), 2);
  f.SetPosition(6);
  EXPECT_TRUE(f.AtEnd());
  f.SetPosition(3);
  EXPECT_TRUE(f.Truncate());
  EXPECT_TRUE(f.AtEnd());
  plat::TFileInfo info;
  ASSERT_TRUE(f.FileInformation(info));
  EXPECT_EQ(info.Size, 3u);
  plat::TFileTime t = 0;
  EXPECT_TRUE(f.LastWriteTime(t));
  EXPECT_NE(t, 0u);
  f.File_Close();
  EXPECT_FALSE(f.FileInformation(info));
  EXPECT_EQ(info.Size, 0u);
  EXPECT_FALSE(f.LastWriteTime(t));
  EXPECT_EQ(t, 0u);
}

TEST_F(ZMWorkFileTransfer, PositionBeyondTwoGiB) {
  TZMWorkFile f(z);
  ASSERT_TRUE(f.File_Create(dir + "sparse.bin"));
  const int64_t far = (int64_t(1) << 31) + 4096;
  ASSERT_EQ(f.Seek(0, far), far);
  EXPECT_EQ(f.Position(), far);
}

using ZMWorkFileCopy = WorkFileFixture;

TEST_F(ZMWorkFileCopy, CopyFromUsesTenKiBBlocksAndReports) {
  const std::string data = Bytes(25000);
  TCountingFile src(z), dst(z);
  ASSERT_TRUE(OpenMade(src, "src.bin", data));
  ASSERT_TRUE(dst.File_Create(dir + "dst.bin"));
  dst.SetReportMode(1);
  std::vector<int64_t> steps;
  z.OnProgress = [&](TObject*, TZMProgressDetails* d) {
    if (d->Kind() == pkItemStep) steps.push_back(d->StepSize());
  };
  EXPECT_EQ(dst.CopyFrom(src, 25000), 25000);
  EXPECT_EQ(src.Reads, (std::vector<int32_t>{10240, 10240, 4520}));
  EXPECT_EQ(dst.Writes, (std::vector<int32_t>{10240, 10240, 4520}));
  EXPECT_EQ(steps, (std::vector<int64_t>{10240, 10240, 4520}));
  dst.File_Close();
  std::ifstream in(dir + "dst.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), data);
}

TEST_F(ZMWorkFileCopy, CopyFromShortSourceGives176) {
  TZMWorkFile src(z), dst(z);
  ASSERT_TRUE(OpenMade(src, "src.bin", Bytes(100)));
  ASSERT_TRUE(dst.File_Create(dir + "dst.bin"));
  EXPECT_EQ(ZMMsgOf(dst.CopyFrom(src, 200)), zmsErrorReadingFile);
  TZMWorkFile closed(z);
  src.SetPosition(0);
  EXPECT_EQ(ZMMsgOf(closed.CopyFrom(src, 50)), zmsErrorWritingFile);
}

TEST_F(ZMWorkFileCopy, StreamTransfersUse20KiBBlocks) {
  const std::string data = Bytes(50000);
  TCountingFile f(z);
  ASSERT_TRUE(OpenMade(f, "s.bin", data));
  TMemoryStream ms;
  EXPECT_EQ(f.ReadTo(ms, 50000), 50000);
  EXPECT_EQ(f.Reads, (std::vector<int32_t>{20480, 20480, 9040}));
  ASSERT_EQ(ms.Size(), 50000);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(ms.Memory()), 50000), data);
  f.SetPosition(49990);
  EXPECT_EQ(ZMMsgOf(f.ReadTo(ms, 20)), zmsFileError);

  TCountingFile w(z);
  ASSERT_TRUE(w.File_Create(dir + "o.bin"));
  ms.SetPosition(1000);
  EXPECT_EQ(w.WriteFrom(ms, 1000000), 49000);  // limited to what the stream holds
  EXPECT_EQ(w.Writes, (std::vector<int32_t>{20480, 20480, 8040}));
  EXPECT_EQ(ms.Position(), 50000);
  w.File_Close();
  std::ifstream in(dir + "o.bin", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), data.substr(1000));
}

using ZMWorkFileProgress = WorkFileFixture;

TEST_F(ZMWorkFileProgress, ReportModeFiltersKinds) {
  struct TSeen {
    TZMProgressKind Kind;
    std::string Name;
  };
  std::vector<TSeen> seen;
  int ticks = 0;
  z.OnProgress = [&](TObject*, TZMProgressDetails* d) { seen.push_back({d->Kind(), d->CurrentName()}); };
  z.OnTick = [&](TObject*) { ++ticks; };
  TZMWorkFile f(z);
  // Quiet: nothing reaches OnProgress, the advancing kinds still poll.
  f.SetReportMode(0);
  for (uint8_t k = 1; k <= 7; ++k) f.ProgReport(k, 40, 10, "x");
  EXPECT_TRUE(seen.empty());
  EXPECT_GT(ticks, 0);
  // Full: a new item then a step arrive as they are.
  f.SetReportMode(1);
  f.ProgReport(1, 40, 100, "item");
  f.ProgReport(2, 40, 10, "item");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Kind, pkNewItem);
  EXPECT_EQ(seen[1].Kind, pkItemStep);
  // Partial: new items are dropped, steps become extra steps, totals become extras.
  seen.clear();
  f.SetReportMode(2);
  f.ProgReport(1, 40, 100, "item");
  f.ProgReport(4, 40, 100, "item");
  EXPECT_TRUE(seen.empty());
  f.ProgReport(5, zmsStageCopying, 100);
  f.ProgReport(2, 40, 10, "item");
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Kind, pkNewExtra);
  EXPECT_EQ(seen[1].Kind, pkExtraStep);
}
