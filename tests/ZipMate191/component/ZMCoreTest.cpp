// Reporting, progress, cancelling, temporary files, worker ownership and pipes.
#include "ZMCore.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "PlatPath.h"
#include "ZMMsgStr.h"
#include "ZipMateTestKit.h"
#include "ZMMsg.h"

namespace fs = std::filesystem;

namespace {

struct TMsg {
  int Code;
  std::string Text;
};

struct ZMCoreFixture : ::testing::Test {
  TScopedUi ui;
  TTestZipMate z;
  std::vector<TMsg> msgs;
  int ticks = 0;
  void SetUp() override {
    z.OnMessage = [this](TObject* s, int c, const std::string& m) {
      EXPECT_EQ(s, &z);
      msgs.push_back({c, m});
    };
    z.OnTick = [this](TObject*) { ++ticks; };
  }
};

}  // namespace

using ZMCoreReport = ZMCoreFixture;

TEST_F(ZMCoreReport, EmitMessageRecordsOnlyTheFirstError) {
  const int32_t code = ZM_CODE(zmmZMCore, zmsCopying);
  z.OnExtract = [&] {
    z.EmitMessage(-code, "first", true);
    z.EmitMessage(7, "second", true);
    z.EmitMessage(9, "not recorded", false);
  };
  z.Extract();
  EXPECT_EQ(z.ErrCode(), 5);
  EXPECT_EQ(z.FullErrCode(), code);
  EXPECT_EQ(z.ErrMsg(), "first");
  ASSERT_EQ(msgs.size(), 3u);
  EXPECT_EQ(msgs[1].Code, 7);
}

TEST_F(ZMCoreReport, ShowMessageTextAlwaysOverwrites) {
  z.SetUnattended(true);
  z.OnExtract = [&] {
    z.EmitMessage(5, "first", true);
    z.ShowMessageText("later", -140, true);
  };
  z.Extract();
  EXPECT_EQ(z.ErrCode(), zmsInternalError);
  EXPECT_EQ(z.FullErrCode(), zmsInternalError);
  EXPECT_EQ(z.ErrMsg(), "later");
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[1].Code, 140 & 0x1F);  // the short code
}

TEST_F(ZMCoreReport, CancelMessagesAreNeverShown) {
  z.ShowMessageText("User canceled operation", ZMMakeCode(5, 10, 2), true);
  z.ShowMessageText("User Abort", 4, true);
  EXPECT_TRUE(ui.Ui.Dialogs.empty());
  EXPECT_EQ(z.ErrCode(), 4);
  z.ShowMessageText("shown", 5, true);
  ASSERT_EQ(ui.Ui.Dialogs.size(), 1u);
  EXPECT_EQ(ui.Ui.Dialogs[0].Icon, plat::diInformation);
  EXPECT_EQ(ui.Ui.Dialogs[0].Caption, u"ScriptedApp");
  EXPECT_EQ(msgs.size(), 3u);
}

TEST_F(ZMCoreReport, InactiveComponentRecordsNothing) {
  z.SetActive(false);
  z.EmitMessage(5, "x", true);
  EXPECT_EQ(z.ErrMsg(), "");
  EXPECT_EQ(z.ErrCode(), zmsNotActive);
}

TEST_F(ZMCoreReport, MessageByIdAndSuffix) {
  z.SetUnattended(true);
  z.ShowMessageIdSuffix(10101761, "boom");
  EXPECT_EQ(z.ErrMsg(), "Unknown Errorboom");
  EXPECT_EQ(z.ErrCode(), 1);
  TZMCore w(z);
  w.ShowMessageById(-ZMMakeCode(3, 4, 197), false);
  EXPECT_EQ(z.ErrMsg(), "not Active");
  EXPECT_EQ(z.FullErrCode(), ZMMakeCode(3, 4, 197));
}

TEST_F(ZMCoreReport, TraceLineNeedsVerbosity) {
  TZMCore w(z);
  w.TraceLine("quiet");
  EXPECT_TRUE(msgs.empty());
  EXPECT_EQ(ticks, 0);
  z.SetVerbose(true);
  w.TraceLine("Trace: twice");
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].Text, "Trace: Trace: twice");
  EXPECT_EQ(msgs[0].Code, 0);
  EXPECT_EQ(ticks, 1);
}

TEST_F(ZMCoreReport, ReportFormattedPrefixes) {
  SetTextHook([](int id, std::string& s) {
    if (id == 310) s = "#line %d";
    if (id == 311) s = "!note %s";
  });
  z.ReportFormatted(310, {4});
  z.ReportFormatted(311, {"x"});
  SetTextHook(nullptr);
  ASSERT_EQ(msgs.size(), 2u);
  EXPECT_EQ(msgs[0].Text, "Trace: line 4");
  EXPECT_EQ(msgs[1].Text, "info: note x");
  EXPECT_EQ(z.ErrCode(), 0);
}

TEST_F(ZMCoreReport, SkipsStopWhenListedInNoSkipping) {
  std::vector<int> seen;
  z.OnSkipped = [&](TObject*, const std::string& f, TZMSkipTypes t, int& ext) {
    EXPECT_EQ(f, "a.txt");
    seen.push_back(ext);
    if (t == stReadError) ext = 0;
  };
  EXPECT_TRUE(z.ReportSkipped("a.txt", 0, stDupName));
  EXPECT_FALSE(z.ReportSkipped("a.txt", 0, stReadError));  // handler allowed it
  EXPECT_FALSE(z.ReportSkipped("a.txt", 0, stNotFound));
  EXPECT_FALSE(z.ReportSkipped("a.txt", -30, stNotFound));
  EXPECT_TRUE(z.ReportSkipped("a.txt", -30, stDupName));
  EXPECT_EQ(seen, (std::vector<int>{-17, -17, 0, 30, -30}));
}

TEST_F(ZMCoreReport, SkipWithoutHandlerGoesToMessagesWhenVerbose) {
  EXPECT_FALSE(z.ReportSkipped("b.txt", 0, stNotFound));
  EXPECT_TRUE(msgs.empty());
  z.SetVerbose(true);
  EXPECT_TRUE(z.ReportSkipped("b.txt", 0, stDupName));
  ASSERT_EQ(msgs.size(), 1u);
  EXPECT_EQ(msgs[0].Code, 200);
  EXPECT_EQ(msgs[0].Text, "Skipped b.txt 15");
}

TEST_F(ZMCoreReport, PollAndCheckTerminate) {
  bool abortNext = false;
  z.OnCheckTerminate = [&](TObject*, bool& abort) { abort = abort || abortNext; };
  EXPECT_FALSE(z.Poll());
  EXPECT_EQ(ui.Ui.ProcessCount, 0);  // the handler replaces message processing
  abortNext = true;
  EXPECT_FALSE(z.Poll());  // the cancel shows in the next poll
  EXPECT_TRUE(z.Cancel());
  EXPECT_TRUE(z.Poll());
  z.OnCheckTerminate = nullptr;
  z.Poll();
  EXPECT_EQ(ui.Ui.ProcessCount, 1);
  EXPECT_EQ(ticks, 4);
}

TEST_F(ZMCoreReport, OsErrorText) {
  std::string t = z.OSErrorText(2);
  EXPECT_EQ(t.rfind(" [0x2] ", 0), 0u);
  EXPECT_GT(t.size(), 7u);
}

TEST_F(ZMCoreReport, CheckIndexRaises199) {
  EXPECT_NO_THROW(z.CheckIndex(0, 1));
  try {
    z.CheckIndex(3, 3);
    FAIL();
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, zmsIndexOutsideRange);
    EXPECT_EQ(e.Message(), "Index (3) outside range 0..2");
  }
}

// ---- Dialog requests ----

TEST_F(ZMCoreReport, ZipDialogHandlerResults) {
  int given = -1;
  z.OnZipDialog = [&](TObject*, const std::string& title, std::string& msg, int& result, TMsgDlgButtons b) {
    EXPECT_EQ(title, "T");
    EXPECT_TRUE(b.Contains(mbYes));
    given = result;
    msg = "edited";
    result = 6;
  };
  std::string msg = "ask";
  EXPECT_EQ(z.MessageDialog("T", msg, TMsgDlgButtons{mbYes, mbNo}, 0x30005), 6);
  EXPECT_EQ(given, 0x30005);
  EXPECT_EQ(msg, "edited");
  EXPECT_TRUE(ui.Ui.Dialogs.empty());
  for (int r : {1, 10}) {
    z.OnZipDialog = [r](TObject*, const std::string&, std::string&, int& result, TMsgDlgButtons) {
      result = r;
    };
    EXPECT_EQ(z.MessageDialog("T", msg, TMsgDlgButtons{mbOK}, 0), r);
  }
  for (int r : {0, 11, -1}) {
    z.OnZipDialog = [r](TObject*, const std::string&, std::string& m, int& result, TMsgDlgButtons) {
      m = "dropped";
      result = r;
    };
    ui.Ui.Answers.push_back({7, u""});
    msg = "keep";
    EXPECT_EQ(z.MessageDialog("T", msg, TMsgDlgButtons{mbYes, mbNo}, 0x30001), 7);
    EXPECT_EQ(msg, "keep");
  }
  EXPECT_EQ(ui.Ui.Dialogs.size(), 3u);
}

TEST_F(ZMCoreReport, DialogTitleShowsContextWhenVerbose) {
  z.SetTrace(true);
  std::string seen;
  z.OnZipDialog = [&](TObject*, const std::string& t, std::string&, int& r, TMsgDlgButtons) {
    seen = t;
    r = 1;
  };
  std::string m;
  z.MessageDialog("", m, TMsgDlgButtons{mbOK}, 0x122710);
  EXPECT_EQ(seen, "ScriptedApp   (10000)");
}

TEST_F(ZMCoreReport, InputDialogReturnsEnteredText) {
  ui.Ui.Answers.push_back({1, u"s3cret"});
  ui.Ui.Answers.push_back({2, u"ignored"});
  std::string m = "Enter";
  EXPECT_EQ(z.MessageDialog("P", m, TMsgDlgButtons{mbOK, mbCancel}, 0x140000 + 10003), 1);
  EXPECT_EQ(m, "s3cret");
  m = "Enter";
  EXPECT_EQ(z.MessageDialog("P", m, TMsgDlgButtons{mbOK, mbCancel}, 0x140000 + 10003), 2);
  EXPECT_EQ(m, "");
}

// ---- Password prompts ----

TEST_F(ZMCoreReport, AddPasswordMismatchIsRefused) {
  ui.Ui.Answers.push_back({1, u"one"});
  ui.Ui.Answers.push_back({1, u"two"});
  ui.Ui.Answers.push_back({1, u""});  // the error box
  TMsgDlgBtn r = mbHelp;
  EXPECT_EQ(z.AskAddPassword(r), "");
  EXPECT_EQ(r, mbOK);
  ASSERT_EQ(ui.Ui.Dialogs.size(), 3u);
  EXPECT_EQ(z.ErrCode(), zmsErrorPasswordsDoNotMatch);
  EXPECT_EQ(z.ErrMsg(), LoadMessage(134));
  EXPECT_NE(ui.Ui.Dialogs[0].Find("zmdEdit"), nullptr);
}

TEST_F(ZMCoreReport, AddPasswordConfirmedBecomesThePassword) {
  ui.Ui.Answers.push_back({1, u"same"});
  ui.Ui.Answers.push_back({1, u"same"});
  TMsgDlgBtn r = mbHelp;
  EXPECT_EQ(z.AskAddPassword(r), "same");
  EXPECT_EQ(r, mbOK);
  EXPECT_EQ(z.Password(), "same");  // idle: the component keeps it
  ui.Ui.Answers.push_back({2, u"x"});
  EXPECT_EQ(z.AskAddPassword(r), "");
  EXPECT_EQ(r, mbCancel);
}

TEST_F(ZMCoreReport, PasswordPromptsWhenUnattended) {
  z.SetUnattended(true);
  TMsgDlgBtn r = mbRetry;
  EXPECT_EQ(z.AskAddPassword(r), "");
  EXPECT_EQ(r, mbRetry);
  EXPECT_EQ(z.ErrCode(), zmsErrorNoAddPasswordGiven);
  EXPECT_EQ(z.FullErrCode(), 12221461);
  EXPECT_EQ(z.AskExtractPassword(r), "");
  EXPECT_EQ(z.ErrCode(), zmsErrorNoExtractPasswordGiven);
  EXPECT_EQ(z.FullErrCode(), zmsErrorNoExtractPasswordGiven);
  EXPECT_TRUE(ui.Ui.Dialogs.empty());
}

TEST_F(ZMCoreReport, ExtractPasswordResponses) {
  const std::pair<int, TMsgDlgBtn> cases[] = {
      {1, mbOK}, {2, mbCancel}, {8, mbNoToAll}, {3, mbAbort}, {6, mbAbort}};
  for (auto [result, expect] : cases) {
    ui.Ui.Answers.push_back({result, u"pw"});
    TMsgDlgBtn r = mbHelp;
    std::string p = z.AskExtractPassword(r);
    EXPECT_EQ(r, expect) << result;
    EXPECT_EQ(p, result == 1 ? "pw" : "") << result;
  }
  // While busy the component's password is not changed.
  z.OnExtract = [&] {
    ui.Ui.Answers.push_back({1, u"busy"});
    TMsgDlgBtn r;
    EXPECT_EQ(z.AskExtractPassword(r), "busy");
  };
  z.SetPassword("kept");
  z.Extract();
  EXPECT_EQ(z.Password(), "kept");
}

// ---- Progress ----

using ZMCoreProgress = ZMCoreFixture;

TEST_F(ZMCoreProgress, EveryAction) {
  TZMCore w(z);
  std::vector<TZMProgressKind> kinds;
  z.OnProgress = [&](TObject*, TZMProgressDetails* d) {
    EXPECT_EQ(d, &w.Details());
    kinds.push_back(d->Kind());
  };
  auto& d = w.Details();
  w.NotifyProgress(3, 0, 0, "");  // no batch yet: no event
  EXPECT_TRUE(kinds.empty());
  w.NotifyProgress(4, 0, 2, "");
  EXPECT_EQ(d.TotalItems(), 2);
  w.NotifyProgress(5, 0, 1000, "");
  EXPECT_TRUE(d.BatchOpen());
  EXPECT_EQ(d.TotalBytes(), 1000);
  w.NotifyProgress(1, 0, 600, "a.txt");
  EXPECT_EQ(d.CurrentIndex(), 1);
  EXPECT_EQ(d.CurrentName(), "a.txt");
  w.NotifyProgress(2, 0, 100, "");
  w.NotifyProgress(2, 0, 50, "");
  EXPECT_EQ(d.CurrentDone(), 150);
  EXPECT_EQ(d.TotalDone(), 150);
  EXPECT_EQ(d.StepSize(), 50);
  w.NotifyProgress(1, 0, -1, "ignored");
  EXPECT_EQ(d.Kind(), pkItemEnd);
  EXPECT_EQ(d.CurrentIndex(), 1);
  EXPECT_EQ(d.CurrentName(), "a.txt");
  w.NotifyProgress(6, 5, 77, "");
  EXPECT_EQ(d.CurrentName(), "*Finalising");
  EXPECT_EQ(d.CurrentSize(), 77);
  w.NotifyProgress(6, 40, 1, "");
  EXPECT_EQ(d.CurrentName(), "*Checking");
  w.NotifyProgress(7, 0, 0x100000005LL, "");
  EXPECT_EQ(d.StepSize(), 5);
  EXPECT_EQ(d.CurrentDone(), 5);
  EXPECT_EQ(d.TotalDone(), 150);
  d.SetStopRequested(true);
  w.NotifyProgress(3, 0, 0, "");
  EXPECT_FALSE(d.BatchOpen());
  EXPECT_FALSE(d.StopRequested());
  EXPECT_EQ(kinds,
            (std::vector<TZMProgressKind>{pkTotalItems, pkTotalBytes, pkNewItem, pkItemStep, pkItemStep,
                                          pkItemEnd, pkNewExtra, pkNewExtra, pkExtraStep, pkBatchEnd}));
  w.SetWrittenBytes(99);
  EXPECT_EQ(d.WrittenBytes(), 99);
  EXPECT_EQ(kinds.size(), 10u);
}

TEST_F(ZMCoreProgress, PollsAndMuting) {
  TZMCore w(z);
  int events = 0;
  z.OnProgress = [&](TObject*, TZMProgressDetails*) { ++events; };
  w.NotifyProgress(0, 0, 0, "");
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(events, 0);
  w.NotifyProgress(9, 0, 0, "x");
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(events, 0);
  w.SetProgressMuted(true);
  w.NotifyProgress(1, 0, 5, "x");
  w.NotifyProgress(0, 0, 0, "");
  EXPECT_EQ(ticks, 3);
  EXPECT_EQ(events, 0);
}

TEST(ZMCoreProgressRecord, AnnounceItemsResetsAllButBatch) {
  TProgDetails d;
  d.AnnounceBytes(10);
  d.NewItem("x", 4);
  d.Step(3);
  d.SetStopRequested(true);
  d.AnnounceItems(7);
  EXPECT_TRUE(d.BatchOpen());
  EXPECT_EQ(d.TotalItems(), 7);
  EXPECT_EQ(d.TotalBytes(), 0);
  EXPECT_EQ(d.CurrentIndex(), 0);
  EXPECT_EQ(d.CurrentName(), "");
  EXPECT_FALSE(d.StopRequested());
  EXPECT_EQ(d.Kind(), pkTotalItems);
}

// ---- Cancelling and temporary files ----

TEST_F(ZMCoreReport, CancelCodes) {
  TZMCore w(z);
  w.RequestCancel(4);
  EXPECT_EQ(w.CancelCode(), 4);
  w.Prepare();
  EXPECT_EQ(w.CancelCode(), 0);
  w.CancelByUser();
  EXPECT_EQ(w.CancelCode(), 2);
  w.Prepare();
  EXPECT_NO_THROW(w.ThrowIfCancelled());
  w.SetCancelCode(4);
  EXPECT_TRUE(z.Cancel());
  try {
    w.ThrowIfCancelled();
    FAIL();
  } catch (const EZipMate& e) {
    EXPECT_EQ(e.MsgId, 4);
    EXPECT_TRUE(e.Show);
    EXPECT_EQ(e.Message(), "User Abort");
  }
}

TEST_F(ZMCoreReport, TempFilesRemovedByOutcome) {
  fs::path dir = fs::temp_directory_path() / ("zmcore_tmp_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "sub");
  auto touch = [](const fs::path& p) { std::ofstream(p) << "x"; };
  touch(dir / "always.tmp");
  touch(dir / "onfail.tmp");
  {
    TZMCore w(z);
    w.RegisterTempFile((dir / "always.tmp").string(), true);
    w.RegisterTempFile((dir / "onfail.tmp").string(), false);
    w.RegisterTempFile((dir / "sub").string() + plat::PathDelim, true);
    w.RegisterTempFile((dir / "missing.tmp").string(), true);
    w.RegisterTempFile("x", true);
    ASSERT_EQ(w.TempFiles().Count(), 5);
    EXPECT_TRUE(fs::path(w.TempFiles().Strings(4)).is_absolute());
    w.Finished(true);
    EXPECT_EQ(w.TempFiles().Count(), 0);
  }
  EXPECT_FALSE(fs::exists(dir / "always.tmp"));
  EXPECT_FALSE(fs::exists(dir / "sub"));
  EXPECT_TRUE(fs::exists(dir / "onfail.tmp"));
  {
    TZMCore w(z);
    w.RegisterTempFile((dir / "onfail.tmp").string(), false);
    w.Finished(false);
  }
  EXPECT_FALSE(fs::exists(dir / "onfail.tmp"));
  {
    TZMCore w(z);  // destroyed without Finished: the file stays
    touch(dir / "kept.tmp");
    w.RegisterTempFile((dir / "kept.tmp").string(), true);
  }
  EXPECT_TRUE(fs::exists(dir / "kept.tmp"));
  fs::remove_all(dir);
}

// ---- Worker ownership ----

TEST(ZMCoreWorkBin, OwnerDestroysChildrenLastFirst) {
  static std::vector<int> order;
  struct TNode : TZMWorkBin {
    int Id;
    TNode(int id, TZMWorkBin* owner) : TZMWorkBin(owner), Id(id) {}
    ~TNode() override { order.push_back(Id); }
  };
  order.clear();
  auto* root = new TNode(0, nullptr);
  EXPECT_EQ(root->Children(), nullptr);
  auto* a = new TNode(1, root);
  new TNode(2, root);
  new TNode(3, a);
  ASSERT_NE(root->Children(), nullptr);
  EXPECT_EQ(root->Children()->size(), 2u);
  EXPECT_EQ(a->OwnerBin(), root);
  delete root;
  EXPECT_EQ(order, (std::vector<int>{0, 2, 1, 3}));
}

TEST(ZMCoreWorkBin, ChildLeavesItsOwner) {
  TZMWorkBin root;
  auto* a = new TZMWorkBin(&root);
  auto* b = new TZMWorkBin(&root);
  delete a;
  ASSERT_NE(root.Children(), nullptr);
  EXPECT_EQ(root.Children()->size(), 1u);
  delete b;
  EXPECT_EQ(root.Children(), nullptr);
}

TEST(ZMCoreWorkBase, ForwardsToTheComponent) {
  TTestZipMate z;
  TZMCore w(z);
  EXPECT_EQ(&w.Master(), &z);
  EXPECT_EQ(&w.WorkingSpecs(), &z.WorkingSpecs());
  int32_t s1 = w.NextSerial();
  EXPECT_EQ(w.NextSerial(), s1 + 1);
  EXPECT_EQ(w.Lister(), nullptr);
  w.SetErrCode(-33);
  EXPECT_EQ(z.ErrCode(), zmsStageResettingArchiveBit);
  w.SetSpanOptions(TZMSpanOpts{spExactName});
  EXPECT_TRUE(z.SpanOptions().Contains(spExactName));
  EXPECT_FALSE(z.AuxChanged());  // accessors skip the setters' rules
  EXPECT_EQ(w.WorkStream().Size(), 0);
  TIcon icon;
  icon.SetBits({1});
  w.SetSFXIcon(&icon);
  ASSERT_NE(z.SFXIcon(), nullptr);
  w.SetSFXIcon(nullptr);
  EXPECT_EQ(z.SFXIcon(), nullptr);
}

// ---- Pipes ----

namespace {
struct TCountedStream : TMemoryStream {
  int* Alive;
  explicit TCountedStream(int* alive, int size = 0) : Alive(alive) {
    ++*Alive;
    std::vector<uint8_t> b(size_t(size), 7);
    if (size) LoadFromBytes(b.data(), b.size());
    SetPosition(size / 2);
  }
  ~TCountedStream() override { --*Alive; }
};
}  // namespace

TEST(ZMCorePipes, ItemsGrowAndRangeIsChecked) {
  TZMPipeListImp l;
  TZMPipe* p = l.Items(3);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(l.Count(), 4);
  EXPECT_EQ(l.Peek(0), nullptr);
  EXPECT_EQ(l.Items(3), p);
  for (int bad : {10, -1}) {
    try {
      l.Items(bad);
      FAIL() << bad;
    } catch (const EZipMate& e) {
      EXPECT_EQ(e.MsgId, zmsIndexOutsideRange);
      EXPECT_EQ(e.Message(), "Index (" + std::to_string(bad) + ") outside range 0..9");
    }
  }
  EXPECT_THROW(l.SetCount(11), EZipMate);
  EXPECT_THROW(l.SetItems(10, nullptr), EZipMate);
  l.SetCount(2);
  EXPECT_EQ(l.Count(), 4);  // never shrinks
  l.SetCount(9);
  EXPECT_EQ(l.Count(), 9);
}

TEST(ZMCorePipes, StreamsOwnedOrLent) {
  int alive = 0;
  TCountedStream lent(&alive, 100);
  {
    TZMPipeListImp l;
    int i = l.Add(&lent, "lent.bin", false);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(l.Items(0)->Size(), 100);
    EXPECT_EQ(lent.Position(), 0);
    EXPECT_EQ(l.Items(0)->FileName(), "lent.bin");
    EXPECT_NE(l.Items(0)->DosDate(), 0);
    l.Items(0)->SetSize(500);
    EXPECT_EQ(l.Items(0)->Size(), 100);
    l.Items(0)->SetSize(40);
    EXPECT_EQ(l.Items(0)->Size(), 40);
    l.Items(0)->SetStream(nullptr);  // lent: stays alive
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(l.Items(0)->Size(), 40);
    l.Items(0)->SetSize(10);
    EXPECT_EQ(l.Items(0)->Size(), 0);
    EXPECT_FALSE(l.HasStream(0));

    l.Add(new TCountedStream(&alive, 8), "own.bin", true);
    EXPECT_EQ(alive, 2);
    EXPECT_TRUE(l.HasStream(1));
    EXPECT_FALSE(l.HasStream(7));
    l.DropOwnedStream(1);
    EXPECT_EQ(alive, 1);
    EXPECT_FALSE(l.HasStream(1));
    l.Items(1)->SetOwnsStream(true);
    l.Items(1)->SetStream(new TCountedStream(&alive, 3));
    l.Items(1)->SetStream(new TCountedStream(&alive, 4));  // the owned one is freed
    EXPECT_EQ(alive, 2);
    l.SetItems(1, new TZMPipeImp());  // frees the old pipe and its stream
    EXPECT_EQ(alive, 1);
    l.Items(2)->SetOwnsStream(true);
    l.Items(2)->SetStream(new TCountedStream(&alive));
    EXPECT_EQ(alive, 2);
  }
  EXPECT_EQ(alive, 1);
}

TEST(ZMCorePipes, MoveToHandsEverythingOver) {
  int alive = 0;
  TZMPipeListImp a, b;
  a.Add(new TCountedStream(&alive, 1), "x", true);
  a.Items(2);
  b.Add(new TCountedStream(&alive, 1), "old", true);
  a.MoveTo(&b);
  EXPECT_EQ(alive, 1);
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(b.Count(), 3);
  EXPECT_EQ(b.Items(0)->FileName(), "x");
  b.MoveTo(&b);
  b.MoveTo(nullptr);
  EXPECT_EQ(b.Count(), 3);
  b.Clear();
  EXPECT_EQ(alive, 0);
  for (int i = 0; i < 10; ++i) b.Add(nullptr, "n", false);
  EXPECT_THROW(b.Add(nullptr, "full", false), EZipMate);
  EXPECT_EQ(b.Count(), 10);
}

TEST(ZMCorePipes, FailedOperationClearsTheComponentsPipes) {
  TScopedUi ui;
  TTestZipMate z;
  z.SetUnattended(true);
  z.Pipes().Add(nullptr, "p", false);
  z.OnExtract = [] {};
  z.Extract();
  EXPECT_EQ(z.Pipes().Count(), 1);
  z.OnExtract = [] { throw EZipMate::CreateCode(1); };
  z.Extract();
  EXPECT_EQ(z.Pipes().Count(), 0);
}
