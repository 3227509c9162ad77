// A three-disk set on the simulated removable drive A:, driven through every question
// the volume layer asks: the disk prompts with their numbers, a disk holding files, a
// previous disk of the set, a disk whose file has the set's name, a disk without
// enough space, erasing and formatting, a wrong disk while reading, and cancelling
// (message 2, nothing left of the set on the disk in the drive).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include "PlatDriveDouble.h"
#include "PlatFileSys.h"
#include "PlatPath.h"
#include "ZMMsg.h"
#include "ZMWZip.h"
#include "ZipMateTestKit.h"
#include "TestTempDir.h"

namespace fs = std::filesystem;

namespace {

constexpr uint8_t Bit(TZMZipDiskStatusEnum e) { return uint8_t(1u << e); }

struct TAsked {
  int Seq, Total;
  std::string Drive;
  bool operator==(const TAsked& o) const { return Seq == o.Seq && Total == o.Total && Drive == o.Drive; }
};
struct TStatus {
  int Disk;
  std::string File;
  uint8_t Bits;
  bool operator==(const TStatus& o) const { return Disk == o.Disk && File == o.File && Bits == o.Bits; }
};

std::ostream& operator<<(std::ostream& os, const TAsked& a) {
  return os << "(" << a.Seq << "," << a.Total << "," << a.Drive << ")";
}
std::ostream& operator<<(std::ostream& os, const TStatus& s) {
  return os << "(" << s.Disk << "," << s.File << "," << int(s.Bits) << ")";
}

struct DiskFixture : TComponentFixture {
  DiskFixture() : TComponentFixture("zmvold") {}
  std::unique_ptr<plat::TRemovableDriveDouble> a;
  std::unique_ptr<plat::TScopedDrives> scope;
  std::vector<TAsked> asked;
  std::vector<TStatus> statuses;
  std::vector<int> inserts;            // the medium put in at each prompt, in order
  std::vector<TZMDiskAction> answers;  // answers to the status questions, in order
  std::vector<std::string> prompts;    // the texts of the dialogs shown, in order
  std::vector<int> replies;            // answers to the dialogs that are not disk prompts
  int blank = -1, withFiles = -1, full = -1, sameName = -1, spare = -1;

  void SetUp() override {
    TComponentFixture::SetUp();
    a = std::make_unique<plat::TRemovableDriveDouble>(FTemp.Path.string());
    scope = std::make_unique<plat::TScopedDrives>(a.get());
    a->BytesPerSector = 512;
    a->SectorsPerCluster = 1;
    a->FreeFromFiles = true;
    z.SetMinFreeVolumeSize(512);
    z.OnGetNextDisk = [this](TObject*, int seq, int total, std::string drive, bool& abort) {
      asked.push_back({seq, total, drive});
      if (inserts.empty()) {
        abort = true;
        return;
      }
      a->Insert(inserts.front());
      inserts.erase(inserts.begin());
    };
    z.OnStatusDisk = [this](TObject*, int disk, std::string file, TZMZipDiskStatus st,
                            TZMDiskAction& action) {
      statuses.push_back({disk, file, uint8_t(st.ToBits())});
      action = answers.empty() ? zdaCancel : answers.front();
      if (!answers.empty()) answers.erase(answers.begin());
    };
  }
  void TearDown() override {
    scope.reset();
    a.reset();
  }
  // Dialogs of the component answered as a user would: a disk prompt by putting in
  // the next of inserts, any other question with the next of replies.
  void AnswerDialogs() {
    z.OnZipDialog = [this](TObject*, const std::string&, std::string& msg, int& result, TMsgDlgButtons) {
      prompts.push_back(msg);
      if (msg.rfind("Please insert", 0) == 0) {
        a->Insert(inserts.front());
        inserts.erase(inserts.begin());
        result = mrOk;
      } else {
        result = replies.front();
        replies.erase(replies.begin());
      }
    };
  }
  void PutOn(int medium, const std::string& name, size_t size) {
    a->Insert(medium);
    std::ofstream(dir + name, std::ios::binary) << std::string(size, 'f');
  }
  // Media: 0..2 blank, a disk holding a foreign file, a nearly full disk, a disk
  // holding a foreign file under the set's name.
  void MakeMedia() {
    for (int i = 0; i < 3; ++i) a->AddMedium("", 4096);
    withFiles = a->AddMedium("DATA", 4096);
    full = a->AddMedium("FULL", 4096);
    sameName = a->AddMedium("OTHER", 4096);
    spare = a->AddMedium("", 4096);
    blank = 0;
    PutOn(withFiles, "notes.txt", 100);
    PutOn(full, "big.bin", 3800);
    PutOn(sameName, "arc.zip", 700);
    a->Insert(-1);
  }
  static std::string Bytes(size_t n, unsigned seed) {
    std::mt19937 g(seed);
    std::string s(n, '\0');
    for (char& c : s) c = char(g());
    return s;
  }
  std::string ContentOf(int medium, const std::string& name) {
    a->Insert(medium);
    std::ifstream in(dir + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
};

}  // namespace

using ZMVolumeDisk = DiskFixture;

TEST_F(ZMVolumeDisk, ThreeLabelledDisksThroughEveryQuestionThenReadBack) {
  MakeMedia();
  const std::string data = Bytes(9000, 11);
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetArchiveSize(9000);
  w.SetIsMultiDisk(true);
  // Disk 1: the disk with files is accepted. Disk 2: the first disk again (refused),
  // the full disk (accepted, but too small: message 121), then a blank one. Disk 3:
  // a disk whose arc.zip is not ours, erased on request.
  inserts = {withFiles, withFiles, full, 1, sameName};
  answers = {zdaOk, zdaReject, zdaOk, zdaErase};
  ASSERT_TRUE(w.File_Create());
  EXPECT_EQ(w.Numbering(), TZMWorkZip::kNumberingLabels);
  ASSERT_EQ(w.Write(data.data(), int32_t(data.size())), int32_t(data.size()));
  EXPECT_EQ(w.FinishVolumes(), 0);
  EXPECT_EQ(w.TotalDisks(), 3);
  // The total is an estimate from the archive's size and the disk's size.
  EXPECT_EQ(asked, (std::vector<TAsked>{{1, 1, "A"}, {2, 2, "A"}, {2, 2, "A"}, {2, 2, "A"}, {3, 3, "A"}}));
  const std::string part = dir + "arc.zip";
  EXPECT_EQ(statuses, (std::vector<TStatus>{
                          {0, part, Bit(zdsHasFiles)},
                          {1, part, uint8_t(Bit(zdsHasFiles) | Bit(zdsPreviousDisk) | Bit(zdsSameFileName))},
                          {1, part, uint8_t(Bit(zdsHasFiles) | Bit(zdsNotEnoughSpace))},
                          {2, part, uint8_t(Bit(zdsHasFiles) | Bit(zdsSameFileName))},
                      }));
  EXPECT_NE(std::find(lines.begin(), lines.end(), "This disk has not enough free space available"),
            lines.end());
  // What each disk holds: the free space of the disk decides the part's size.
  EXPECT_EQ(a->FilesOf(withFiles), (std::vector<std::string>{"arc.zip", "notes.txt"}));
  EXPECT_EQ(a->FilesOf(full), (std::vector<std::string>{"big.bin"}));
  EXPECT_EQ(a->FilesOf(sameName), (std::vector<std::string>{"arc.zip"}));
  const std::string p1 = ContentOf(withFiles, "arc.zip");
  EXPECT_EQ(p1.size(), 4096u - 512u);  // notes.txt takes one sector
  EXPECT_EQ(a->Label, "PKBACK#001");
  const std::string p2 = ContentOf(1, "arc.zip");
  EXPECT_EQ(p2.size(), 4096u);
  EXPECT_EQ(a->Label, "PKBACK#002");
  const std::string p3 = ContentOf(sameName, "arc.zip");
  EXPECT_EQ(a->Label, "PKBACK#003");
  EXPECT_EQ(p1 + p2 + p3, data);

  // Reading: a wrong disk is asked for again; the parts run on into one stream.
  asked.clear();
  inserts = {sameName, withFiles, 1, sameName};
  TZMWorkZip r(z);
  r.SetFileName(dir + "arc.zip");
  r.SetTotalDisks(3);
  r.SetDiskNr(2);
  r.GetVolume(0, false);
  EXPECT_EQ(r.Numbering(), TZMWorkZip::kNumberingLabels);
  std::string back(10000, '\0');
  EXPECT_EQ(r.Read(back.data(), 10000), 9000);
  back.resize(9000);
  EXPECT_EQ(back, data);
  EXPECT_EQ(asked, (std::vector<TAsked>{{1, 3, "A"}, {1, 3, "A"}, {2, 3, "A"}, {3, 3, "A"}}));
}

TEST_F(ZMVolumeDisk, CancelAtThePromptRemovesThePartOnTheDiskInTheDrive) {
  MakeMedia();
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  inserts = {withFiles};  // the second prompt finds none: the user cancels
  answers = {zdaOk};
  ASSERT_TRUE(w.File_Create());
  const std::string data = Bytes(5000, 12);
  EXPECT_EQ(w.Write(data.data(), 5000), -zmsUserCanceledOperation);
  EXPECT_NE(w.Info() & TZMWorkZip::kInfoDiskCancelled, 0u);
  EXPECT_EQ(w.CancelCode() & 0x1FF, zmsUserAbort);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_FALSE(w.IsOpen());
  // The disk with the first part is still in the drive: its part is gone, the
  // foreign file stays.
  EXPECT_EQ(a->Inserted(), withFiles);
  EXPECT_EQ(a->FilesOf(withFiles), (std::vector<std::string>{"notes.txt"}));
}

TEST_F(ZMVolumeDisk, CancelAtAStatusQuestionLeavesNothing) {
  MakeMedia();
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  inserts = {blank, sameName};
  answers = {zdaCancel};
  ASSERT_TRUE(w.File_Create());
  const std::string data = Bytes(5000, 13);
  EXPECT_EQ(w.Write(data.data(), 5000), -zmsUserCanceledOperation);
  EXPECT_EQ(statuses.size(), 1u);
  // The foreign arc.zip was not touched; the first part went to another disk,
  // which is out of reach now.
  EXPECT_EQ(ContentOf(sameName, "arc.zip"), std::string(700, 'f'));
  // A second try that is cancelled at the very first prompt creates nothing at all.
  TZMWorkZip v(z);
  v.SetFileName(dir + "arc.zip");
  v.SetIsMultiDisk(true);
  inserts.clear();
  try {
    v.File_Create();
    FAIL() << "no disk, yet a part";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsUserCanceledOperation);
    EXPECT_FALSE(e.Show);
  }
}

TEST_F(ZMVolumeDisk, QuestionsWithoutHandlersGoToTheUser) {
  MakeMedia();
  z.OnStatusDisk = nullptr;
  z.OnGetNextDisk = nullptr;
  AnswerDialogs();
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  // Disk 1 holds arc.zip: no. Then a blank disk. Disk 2: the first disk again: yes.
  inserts = {sameName, blank, blank};
  replies = {mrNo, mrYes};
  ASSERT_TRUE(w.File_Create());
  const std::string data = Bytes(5000, 14);
  ASSERT_EQ(w.Write(data.data(), 5000), 5000);
  w.FinishVolumes();
  ASSERT_EQ(prompts.size(), 5u);
  EXPECT_EQ(prompts[0], "Please insert disk volume 1\r\nin drive: A:" + std::string(plat::PathDelimStr));
  EXPECT_EQ(prompts[1], "There is already a file " + dir + "arc.zip\r\nDo you want to overwrite this file");
  // Once the disk's size is known the total is estimated too.
  EXPECT_EQ(prompts[2], "Please insert disk volume 1 of 1\r\nin drive: A:" + std::string(plat::PathDelimStr));
  EXPECT_EQ(prompts[3], "Please insert disk volume 2 of 2\r\nin drive: A:" + std::string(plat::PathDelimStr));
  EXPECT_EQ(prompts[4],
            "ATTENTION: This is previous disk no 1!!!\r\nAre you sure you want to overwrite the contents");
  // The previous disk was overwritten with part 2: only the second part survives.
  EXPECT_EQ(ContentOf(blank, "arc.zip"), data.substr(4096));
  EXPECT_EQ(ContentOf(sameName, "arc.zip"), std::string(700, 'f'));
}

TEST_F(ZMVolumeDisk, WipingErasesOrFormatsEachNewDisk) {
  MakeMedia();
  z.SetVerbose(true);
  z.SetSpanOptions(TZMSpanOpts{spWipeFiles, spTryFormat});
  z.SetConfirmErase(true);
  z.OnGetNextDisk = nullptr;  // without a disk handler every disk is wiped
  AnswerDialogs();
  a->Insert(withFiles);
  fs::create_directories(dir + "sub");
  std::ofstream(dir + "sub/deep.txt") << "x";
  a->Insert(-1);
  // Disk 1: the format dialog is declined, the erase is confirmed. Disk 2: formatted.
  inserts = {withFiles, full};
  replies = {mrYes};
  a->FormatAnswer = plat::TRemovableDriveDouble::fmtDeclined;
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  ASSERT_TRUE(w.File_Create());
  a->FormatAnswer = plat::TRemovableDriveDouble::fmtDone;
  const std::string data = Bytes(6000, 15);
  ASSERT_EQ(w.Write(data.data(), 6000), 6000);
  w.FinishVolumes();
  EXPECT_EQ(a->Formats, 2);
  EXPECT_EQ(prompts[1], "Erase A:" + std::string(plat::PathDelimStr));
  EXPECT_EQ(prompts.size(), 3u);  // no erase question after a done format
  const std::string del = "EraseFloppy - Deleting " + dir + "notes.txt";
  const std::string rem = "EraseFloppy - Removing " + dir + "sub";
  EXPECT_NE(std::find(lines.begin(), lines.end(), del), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), rem), lines.end());
  EXPECT_EQ(a->FilesOf(withFiles), (std::vector<std::string>{"arc.zip"}));
  EXPECT_EQ(a->FilesOf(full), (std::vector<std::string>{"arc.zip"}));
  const std::string p1 = ContentOf(withFiles, "arc.zip");
  EXPECT_EQ(a->Label, "PKBACK#001");
  const std::string p2 = ContentOf(full, "arc.zip");
  EXPECT_EQ(a->Label, "PKBACK#002");
  EXPECT_EQ(p1 + p2, data);
}

TEST_F(ZMVolumeDisk, WithoutAFormatOnOfferTheFilesAreErasedAndTheUserIsTold) {
  MakeMedia();
  z.SetSpanOptions(TZMSpanOpts{spWipeFiles, spTryFormat});
  inserts = {full};
  answers = {zdaErase};  // the full disk: erase it; later disks are erased unasked
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  ASSERT_TRUE(w.File_Create());
  EXPECT_EQ(statuses.size(), 1u);
  EXPECT_EQ(a->FilesOf(full), (std::vector<std::string>{"arc.zip"}));
  inserts = {withFiles};
  const std::string data = Bytes(5000, 16);
  ASSERT_EQ(w.Write(data.data(), 5000), 5000);
  EXPECT_EQ(statuses.size(), 1u);  // the erase answer carries over to the next disk
  EXPECT_EQ(a->FilesOf(withFiles), (std::vector<std::string>{"arc.zip"}));
  const std::string told = "Formatting A:" + std::string(plat::PathDelimStr) +
                           " is not offered on this system; its files are erased instead";
  EXPECT_NE(std::find(lines.begin(), lines.end(), told), lines.end());
}

TEST_F(ZMVolumeDisk, ALabelThatCannotBeWrittenStopsTheWrite) {
  MakeMedia();
  a->Insert(spare);
  a->ReadOnly = true;
  a->Insert(-1);
  inserts = {spare};
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  try {
    w.File_Create();
    FAIL() << "label ignored";
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsVolumeLabelCouldNotBeSet);
  }
  EXPECT_TRUE(a->FilesOf(spare).empty());
}

TEST_F(ZMVolumeDisk, NumberedNamesOnDisksAndTheLastDiskPrompt) {
  MakeMedia();
  z.SetSpanOptions(TZMSpanOpts{spNoVolumeName});
  inserts = {blank, 1};
  TZMWorkZip w(z);
  w.SetFileName(dir + "arc.zip");
  w.SetIsMultiDisk(true);
  ASSERT_TRUE(w.File_Create());
  const std::string data = Bytes(5000, 17);
  ASSERT_EQ(w.Write(data.data(), 5000), 5000);
  w.FinishVolumes();
  EXPECT_EQ(a->FilesOf(blank), (std::vector<std::string>{"arc001.zip"}));
  EXPECT_EQ(a->FilesOf(1), (std::vector<std::string>{"arc002.zip"}));
  EXPECT_TRUE(statuses.empty());
  // Asking for the last disk of a set whose size is unknown.
  asked.clear();
  inserts = {1};
  TZMWorkZip r(z);
  r.SetFileName(dir + "arc.zip");
  r.SetDiskNr(-1);
  r.SetNewDisk(true);
  r.AskDisk(false, false);
  EXPECT_EQ(asked, (std::vector<TAsked>{{0, 0, "A"}}));
  EXPECT_EQ(a->Inserted(), 1);
}
