// Writing multi-part targets on a fixed drive: part names of the numbered and the
// compatible schemes, part sizes under MaxVolumeSize and the keep-free settings, the
// last part's final name, records that never straddle two parts, and the removal of
// what a failed write left behind. Every set written is read back across its parts.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMMsg.h"
#include "ZMWZip.h"
#include "ZipMateTestKit.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

struct VolumeWriteFixture : TComponentFixture {
  VolumeWriteFixture() : TComponentFixture("zmvolw") {}
  void SetUp() override {
    TComponentFixture::SetUp();
    z.SetMinFreeVolumeSize(1);
  }
  static std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(g());
    return s;
  }
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Writes data in pieces of step bytes (unbroken when negative) to a new target.
  void WriteSet(TZMWorkZip& w, const std::string& name, const std::string& data, int step) {
    w.SetIsMultiDisk(true);
    ASSERT_TRUE(w.File_Create(dir + name));
    const int n = step < 0 ? -step : step;
    for (size_t at = 0; at < data.size(); at += size_t(n)) {
      const int32_t len = int32_t(std::min<size_t>(size_t(n), data.size() - at));
      ASSERT_EQ(w.Write(data.data() + at, step < 0 ? -len : len), len) << "at " << at;
    }
  }
  // Reads the whole set back from its first part, moving across parts.
  std::string ReadBack(const std::string& lastName, int total, uint8_t numbering) {
    TZMWorkZip r(z);
    r.SetFileName(dir + lastName);
    r.SetNumbering(numbering);
    r.SetTotalDisks(total);
    r.SetDiskNr(total - 1);
    r.GetVolume(0, false);
    std::string out(1 << 20, '\0');
    const int32_t got = r.Read(out.data(), int32_t(out.size()));
    EXPECT_GE(got, 0);
    out.resize(size_t(std::max(got, 0)));
    return out;
  }
};

}  // namespace

using ZMVolumeWrite = VolumeWriteFixture;

TEST_F(ZMVolumeWrite, NumberedPartsAreFullVolumesAndReadBackWhole) {
  z.SetMaxVolumeSize(1000);
  const std::string data = Bytes(3500, 1);
  TZMWorkZip w(z);
  WriteSet(w, "set.zip", data, 333);
  EXPECT_EQ(w.FileName(), dir + "set.zip");  // the set keeps its name while parts change
  EXPECT_EQ(w.RealFileName(), dir + "set004.zip");
  EXPECT_EQ(w.Numbering(), TZMWorkZip::kNumberingNumbered);
  EXPECT_EQ(w.FinishVolumes(), 0);
  EXPECT_EQ(w.TotalDisks(), 4);
  EXPECT_FALSE(w.IsOpen());
  // Several numbered parts keep their numbers, the last one too.
  EXPECT_EQ(Listing(), (std::vector<std::string>{"set001.zip", "set002.zip", "set003.zip", "set004.zip"}));
  for (int k = 1; k <= 3; ++k) EXPECT_EQ(fs::file_size(dir + "set00" + std::to_string(k) + ".zip"), 1000u);
  EXPECT_EQ(fs::file_size(dir + "set004.zip"), 500u);
  EXPECT_EQ(ReadBack("set004.zip", 4, TZMWorkZip::kNumberingNumbered), data);
}

TEST_F(ZMVolumeWrite, CompatiblePartsEndInTheSetsOwnName) {
  z.SetMaxVolumeSize(4096);
  z.SetSpanOptions(TZMSpanOpts{spCompatName});
  const std::string data = Bytes(4096 * 11 + 17, 2);
  TZMWorkZip w(z);
  z.SetVerbose(true);
  WriteSet(w, "big.zip", data, 1500);
  EXPECT_EQ(w.RealFileName(), dir + "big.z12");
  EXPECT_EQ(w.FinishVolumes(), 0);
  EXPECT_EQ(w.RealFileName(), dir + "big.zip");
  std::vector<std::string> expected;
  for (int k = 1; k <= 11; ++k)
    expected.push_back(k <= 9 ? "big.z0" + std::to_string(k) : "big.z" + std::to_string(k));
  expected.push_back("big.zip");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listing(), expected);
  EXPECT_EQ(fs::file_size(dir + "big.z10"), 4096u);
  EXPECT_EQ(fs::file_size(dir + "big.zip"), 17u);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "renamed " + dir + "big.z12 to " + dir + "big.zip"),
            lines.end());
  EXPECT_EQ(ReadBack("big.zip", 12, TZMWorkZip::kNumberingCompatible), data);
}

TEST_F(ZMVolumeWrite, OnePartTakesTheFinalNameInEitherScheme) {
  z.SetMaxVolumeSize(1000);
  const std::string data = Bytes(999, 3);
  {
    TZMWorkZip w(z);
    WriteSet(w, "one.zip", data, 999);
    EXPECT_EQ(w.FinishVolumes(), 0);
  }
  z.SetSpanOptions(TZMSpanOpts{spCompatName});
  {
    TZMWorkZip w(z);
    WriteSet(w, "two.zip", data, 999);
    EXPECT_EQ(w.FinishVolumes(), 0);
  }
  EXPECT_EQ(Listing(), (std::vector<std::string>{"one.zip", "two.zip"}));
  EXPECT_EQ(Slurp(dir + "one.zip"), data);
}

TEST_F(ZMVolumeWrite, AnExistingFileUnderTheFinalNameIsReplacedOnlyWhenAllowed) {
  z.SetMaxVolumeSize(100);
  z.SetSpanOptions(TZMSpanOpts{spCompatName});
  const std::string data = Bytes(150, 4);
  std::ofstream(dir + "c.zip") << "older";
  std::vector<std::pair<int, std::string>> asked;
  z.OnStatusDisk = [&](TObject*, int disk, std::string file, TZMZipDiskStatus status, TZMDiskAction& action) {
    asked.emplace_back(disk, file);
    EXPECT_TRUE(status.Contains(zdsSameFileName));
    action = zdaReject;
  };
  TZMWorkZip w(z);
  WriteSet(w, "c.zip", data, 150);
  EXPECT_EQ(w.FinishVolumes(), -1);
  EXPECT_EQ(asked, (std::vector<std::pair<int, std::string>>{{1, dir + "c.zip"}}));
  EXPECT_EQ(Slurp(dir + "c.zip"), "older");
  EXPECT_EQ(Slurp(dir + "c.z02"), data.substr(100));
  EXPECT_EQ(lines.back(), "Last part left as : " + dir + "c.z02");
  // Yes to all: this and every later question is answered.
  z.OnStatusDisk = [&](TObject*, int, std::string, TZMZipDiskStatus, TZMDiskAction& action) {
    asked.emplace_back(-1, "");
    action = zdaYesToAll;
  };
  TZMWorkZip again(z);
  WriteSet(again, "c.zip", data, 150);
  EXPECT_EQ(again.FinishVolumes(), 0);
  EXPECT_EQ(Slurp(dir + "c.zip"), data.substr(100));
  EXPECT_EQ(asked.size(), 2u);
  // Without a handler the user is asked; a refusal keeps the older file.
  z.OnStatusDisk = nullptr;
  ui.Ui.Answers.push_back({mrNo, u""});
  TZMWorkZip third(z);
  WriteSet(third, "c.zip", Bytes(150, 5), 150);
  EXPECT_EQ(third.FinishVolumes(), -1);
  EXPECT_EQ(Slurp(dir + "c.zip"), data.substr(100));
}

TEST_F(ZMVolumeWrite, KeepFreeSettingsShrinkThePartsInWholeSectors) {
  z.SetMaxVolumeSize(4000);
  z.SetKeepFreeOnDisk1(1000);  // rounded up to 1024 on the first part only
  z.SetKeepFreeOnAllDisks(1);  // a fixed disk's size is far above the maximum
  const std::string data = Bytes(9000, 6);
  TZMWorkZip w(z);
  WriteSet(w, "k.zip", data, 700);
  w.FinishVolumes();
  EXPECT_EQ(fs::file_size(dir + "k001.zip"), 4000u - 1024u);
  EXPECT_EQ(fs::file_size(dir + "k002.zip"), 4000u);
  EXPECT_EQ(fs::file_size(dir + "k003.zip"), 9000u - 2976u - 4000u);
  EXPECT_EQ(ReadBack("k003.zip", 3, TZMWorkZip::kNumberingNumbered), data);
}

TEST_F(ZMVolumeWrite, UnbrokenRecordsMoveWholeToTheNextPart) {
  z.SetMaxVolumeSize(100);
  TZMWorkZip w(z);
  w.SetIsMultiDisk(true);
  ASSERT_TRUE(w.File_Create(dir + "u.zip"));
  const std::string rec = Bytes(30, 7);
  std::string written;
  for (int i = 0; i < 7; ++i) {
    ASSERT_EQ(w.Write(rec.data(), -30), 30);
    written += rec;
  }
  // 30 + 30 + 30 fill a part to 90: each record starts a part when it would straddle.
  EXPECT_EQ(w.DiskNr(), 2);
  EXPECT_EQ(w.Write(rec.data(), -(30 | TZMWorkFile::kUnbrokenMoveFlag)), 30);
  EXPECT_EQ(w.Write(rec.data(), -(30 | TZMWorkFile::kUnbrokenMoveFlag)), 30);
  // A record that asks to be told of the move is not written then.
  EXPECT_EQ(w.Write(rec.data(), -(30 | TZMWorkFile::kUnbrokenMoveFlag)), TZMWorkFile::kMovedToNextVolume);
  EXPECT_EQ(w.DiskNr(), 3);
  ASSERT_EQ(w.Write(rec.data(), -30), 30);
  written += rec + rec + rec;
  const int32_t sizes[] = {10, 15, 5};
  ASSERT_EQ(w.WriteFields(rec.data(), sizes, 2), 30);
  written += rec;
  w.FinishVolumes();
  EXPECT_EQ(fs::file_size(dir + "u001.zip"), 90u);
  EXPECT_EQ(fs::file_size(dir + "u002.zip"), 90u);
  EXPECT_EQ(fs::file_size(dir + "u003.zip"), 90u);
  EXPECT_EQ(fs::file_size(dir + "u004.zip"), 60u);
  EXPECT_EQ(ReadBack("u004.zip", 4, TZMWorkZip::kNumberingNumbered), written);
}

TEST_F(ZMVolumeWrite, ImpossibleVolumesFailAndLeaveNoParts) {
  TZMWorkZip w(z);
  // A record larger than a whole volume can never be placed.
  z.SetMaxVolumeSize(50);
  WriteSet(w, "r.zip", Bytes(120, 8), 60);
  EXPECT_EQ(w.DiskNr(), 2);
  const std::string rec = Bytes(60, 9);
  EXPECT_EQ(w.Write(rec.data(), -60), -zmsNotEnoughFreeSpace);
  EXPECT_TRUE(Listing().empty()) << Listing().front();
  // A first part eaten up by KeepFreeOnDisk1 leaves no room below MinFreeVolumeSize.
  z.SetMaxVolumeSize(2048);
  z.SetKeepFreeOnDisk1(1500);
  z.SetMinFreeVolumeSize(600);
  TZMWorkZip v(z);
  v.SetIsMultiDisk(true);
  try {
    v.File_Create(dir + "m.zip");
    FAIL() << "created a part with 512 bytes of room";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsNotEnoughFreeSpace);
  }
  EXPECT_TRUE(Listing().empty());
}

TEST_F(ZMVolumeWrite, ACancelMidwayRemovesEveryPartWritten) {
  z.SetMaxVolumeSize(100);
  TZMWorkZip w(z);
  WriteSet(w, "x.zip", Bytes(250, 10), 50);
  EXPECT_EQ(Listing().size(), 3u);
  w.SetCancelCode(ZM_CODE(zmmZMWZip, zmsUserAbort));
  EXPECT_EQ(w.Write("abc", 3), -zmsUserAbort);
  EXPECT_TRUE(Listing().empty());
  EXPECT_FALSE(w.IsOpen());
}

TEST_F(ZMVolumeWrite, MoreThan999PartsAreRefused) {
  z.SetMaxVolumeSize(1);
  TZMWorkZip w(z);
  WriteSet(w, "many.zip", std::string(999, 'm'), 999);
  EXPECT_EQ(w.Write("z", 1), -zmsMoreThan999Parts);
  EXPECT_TRUE(Listing().empty());
}
