// Split sets written by Info-ZIP's zip -s (several part sizes, and Zip64 records with
// -fz): the component lists them from their last part with the names, sizes and CRCs
// Python reads from the same set joined into one file, and the volume layer reads the
// parts as one unbroken stream whatever the sizes of the reads. The same parts put on
// labelled disks of the simulated drive list after the disk prompts.
#include <gtest/gtest.h>

#include <sstream>

#include "PlatDriveDouble.h"
#include "PlatPath.h"
#include "ZMListingTestKit.h"
#include "ZMMsg.h"
#include "ZMWZip.h"
#include "ZMXcpt.h"

using namespace zmlist;

namespace {

const char* kPyEntries = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    for i in z.infolist():
        print('%s\t%d\t%d' % (i.filename.encode('utf-8').hex(), i.file_size, i.CRC))
)PY";

struct TPeerEntry {
  std::string Name;
  int64_t Size;
  uint32_t Crc;
};

std::string Unhex(const std::string& h) {
  std::string r;
  for (size_t i = 0; i + 1 < h.size(); i += 2) r += char(std::stoi(h.substr(i, 2), nullptr, 16));
  return r;
}

struct PeerFixture : ::testing::Test {
  TTempDir dir;
  void SetUp() override {
    if (!HaveTool("zip") || !HaveTool("python3")) GTEST_SKIP() << "Info-ZIP zip or python3 missing";
    WriteFile(dir / "src/big.bin", testzip::Noise(150000, 1));
    WriteFile(dir / "src/docs/readme.txt", std::string(5000, 'r') + "\n");
    WriteFile(dir / "src/docs/mid.bin", testzip::Noise(70000, 2));
    WriteFile(dir / "src/tiny.txt", "tiny");
    for (int i = 0; i < 40; ++i)
      WriteFile(dir / ("src/many/f" + std::to_string(i) + ".bin"), testzip::Noise(900 + i * 37, 10 + i));
  }
  // Splits the sample folder into dir/name/arc.zip; the parts' names, in order.
  std::vector<std::string> Split(const std::string& name, const std::string& size, const std::string& flags) {
    const std::string out = dir / name;
    fs::create_directories(out);
    int status = 0;
    RunCapture("cd " + Quote(dir / "src") + " && zip -q -r " + flags + " -s " + size + " " +
                   Quote(out + "/arc.zip") + " . 2>&1",
               &status);
    EXPECT_EQ(status, 0) << "zip -s " << size << " " << flags;
    std::vector<std::string> parts;
    for (int k = 1; fs::exists(out + "/arc.z" + (k < 10 ? "0" : "") + std::to_string(k)); ++k)
      parts.push_back(out + "/arc.z" + (k < 10 ? "0" : "") + std::to_string(k));
    parts.push_back(out + "/arc.zip");
    return parts;
  }
  std::vector<TPeerEntry> PythonEntries(const std::string& joined) {
    WriteFile(dir / "entries.py", kPyEntries);
    int status = 0;
    std::istringstream in(RunCapture("python3 " + Quote(dir / "entries.py") + " " + Quote(joined), &status));
    EXPECT_EQ(status, 0);
    std::vector<TPeerEntry> r;
    std::string hex, size, crc;
    while (std::getline(in, hex, '\t') && std::getline(in, size, '\t') && std::getline(in, crc))
      r.push_back({Unhex(hex), std::stoll(size), uint32_t(std::stoul(crc))});
    return r;
  }
  void ExpectListedLikeTheJoinedSet(const std::string& name, const std::string& size,
                                    const std::string& flags) {
    SCOPED_TRACE(name);
    const std::vector<std::string> parts = Split(name, size, flags);
    ASSERT_GE(parts.size(), 3u);
    const std::string joined = dir / (name + "-joined.zip");
    int status = 0;
    RunCapture("zip -q -s 0 " + Quote(parts.back()) + " --out " + Quote(joined) + " 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::vector<TPeerEntry> py = PythonEntries(joined);
    ASSERT_GE(py.size(), 44u);
    TListingProbe p;
    p.Z.SetUseDirOnlyEntries(true);
    p.Z.SetZipFileName(parts.back());
    ASSERT_EQ(p.Z.ErrCode(), 0) << p.Z.ErrMsg();
    ASSERT_EQ(size_t(p.Z.Count()), py.size());
    for (size_t i = 0; i < py.size(); ++i) {
      auto d = p.Z.DirEntry(int(i));
      ASSERT_TRUE(d);
      std::string expected = py[i].Name;
      for (char& c : expected)
        if (c == '/') c = plat::PathDelim;
      EXPECT_EQ(d->FileName(), expected);
      EXPECT_EQ(d->UncompressedSize(), py[i].Size) << py[i].Name;
      EXPECT_EQ(d->CRC32(), py[i].Crc) << py[i].Name;
    }
  }
};

}  // namespace

using ZMVolumePeer = PeerFixture;

TEST_F(ZMVolumePeer, InfoZipSplitSetsListLikeTheJoinedArchive) {
  ExpectListedLikeTheJoinedSet("s64", "64k", "");
  ExpectListedLikeTheJoinedSet("s100", "100k", "");
  ExpectListedLikeTheJoinedSet("stored", "64k", "-0");
}

TEST_F(ZMVolumePeer, Zip64SplitSetsListLikeTheJoinedArchive) {
  ExpectListedLikeTheJoinedSet("z64", "64k", "-fz");
  ExpectListedLikeTheJoinedSet("z64stored", "80k", "-fz -0");
}

TEST_F(ZMVolumePeer, PartsReadAsOneStreamAcrossEveryBoundary) {
  const std::vector<std::string> parts = Split("raw", "64k", "-0");
  ASSERT_GE(parts.size(), 4u);
  std::string whole;
  for (const auto& part : parts) whole += ReadFile(part);
  TScopedUi ui;
  TTestZipMate z;
  for (const int32_t step : {65536, 777, 4096, 100000}) {
    SCOPED_TRACE(step);
    TZMWorkZip w(z);
    w.SetFileName(parts.back());
    w.SetTotalDisks(int32_t(parts.size()));
    w.SetDiskNr(int32_t(parts.size()) - 1);
    w.GetVolume(0, false);
    ASSERT_EQ(w.Numbering(), TZMWorkZip::kNumberingCompatible);
    std::string back;
    std::string buf(size_t(step), '\0');
    for (;;) {
      const int32_t r = w.Read(buf.data(), step);
      ASSERT_GE(r, 0);
      back.append(buf.data(), size_t(r));
      if (r < step) break;
    }
    EXPECT_EQ(back.size(), whole.size());
    EXPECT_TRUE(back == whole);
    EXPECT_EQ(w.DiskNr(), int32_t(parts.size()) - 1);
  }
  // An unbroken read at a part's end starts on the next part; one that would straddle fails.
  TZMWorkZip w(z);
  w.SetFileName(parts.back());
  w.SetTotalDisks(int32_t(parts.size()));
  w.SetDiskNr(1);
  w.GetVolume(0, false);
  const int64_t first = int64_t(fs::file_size(parts[0]));
  std::string buf(size_t(first), '\0');
  ASSERT_EQ(w.Read(buf.data(), int32_t(first - 10)), int32_t(first - 10));
  EXPECT_EQ(ZMMsgOf(w.Read(buf.data(), -20)), zmsErrorReadingFile);
  w.GetVolume(0, false);
  ASSERT_EQ(w.Read(buf.data(), int32_t(first)), int32_t(first));
  ASSERT_EQ(w.Read(buf.data(), -20), 20);
  EXPECT_EQ(buf.substr(0, 20), whole.substr(size_t(first), 20));
}

TEST_F(ZMVolumePeer, PartsOnLabelledDisksListAfterTheDiskPrompts) {
  const std::vector<std::string> parts = Split("disks", "64k", "");
  ASSERT_GE(parts.size(), 3u);
  const int n = int(parts.size());
  const std::string joined = dir / "disks-joined.zip";
  int status = 0;
  RunCapture("zip -q -s 0 " + Quote(parts.back()) + " --out " + Quote(joined) + " 2>&1", &status);
  ASSERT_EQ(status, 0);
  const std::vector<TPeerEntry> py = PythonEntries(joined);
  const std::string drive = dir / "drive";
  fs::create_directories(drive);
  plat::TRemovableDriveDouble a(drive);
  plat::TScopedDrives scope(&a);
  for (int k = 0; k < n; ++k) {
    const int m = a.AddMedium(k == 1 ? "pkback# 002" : TZMWorkZip::VolumeLabel(k), 1 << 20);
    a.Insert(m);
    fs::copy_file(parts[size_t(k)], drive + "/arc.zip");
  }
  a.Insert(0);  // the first disk is in the drive
  TScopedUi ui;
  TZipMate z;
  std::vector<std::pair<int, int>> asked;
  z.OnGetNextDisk = [&](TObject*, int seq, int total, std::string letter, bool& abort) {
    asked.emplace_back(seq, total);
    EXPECT_EQ(letter, "A");
    a.Insert(seq == 0 ? n - 1 : seq - 1);  // 0 asks for the last disk
    abort = false;
  };
  z.SetUseDirOnlyEntries(true);
  z.SetZipFileName(drive + "/arc.zip");
  ASSERT_EQ(z.ErrCode(), 0) << z.ErrMsg();
  ASSERT_EQ(size_t(z.Count()), py.size());
  for (size_t i = 0; i < py.size(); ++i) {
    EXPECT_EQ(z.DirEntry(int(i))->UncompressedSize(), py[i].Size) << py[i].Name;
    EXPECT_EQ(z.DirEntry(int(i))->CRC32(), py[i].Crc) << py[i].Name;
  }
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), std::make_pair(0, 0));  // the last disk first
  // Cancelling the prompt for the last disk lists nothing and says so.
  a.Insert(0);
  TZipMate c;
  c.OnGetNextDisk = [&](TObject*, int, int, std::string, bool& abort) { abort = true; };
  c.SetZipFileName(drive + "/arc.zip");
  EXPECT_EQ(c.Count(), 0);
  EXPECT_EQ(c.ErrCode(), zmsUserCanceledOperation);
}
