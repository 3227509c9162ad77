// The engine worker without an engine: the callbacks answered from records built
// here, the text arguments, the stream callback and the command block.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "PlatPath.h"
#include "ZMDllLoadTestKit.h"
#include "ZMMsgStr.h"
#include "ZipMateTestKit.h"

namespace {

struct TCallbackFixture : ::testing::Test {
  TScopedUi Ui;
  TBindZipMate Comp;
  std::unique_ptr<TZMDLLOpr> W;
  TDZCallbackRec Rec{};
  std::vector<std::pair<int, std::string>> Messages;
  std::string T1, T2;

  void SetUp() override {
    Comp.SetUnattended(true);
    Comp.OnMessage = [this](TObject*, int c, const std::string& m) { Messages.emplace_back(c, m); };
    W = std::make_unique<TZMDLLOpr>(Comp);
  }
  // A fresh record for the action with the given texts.
  TDZCallbackRec& Make(int action, const std::string& t1 = "", const std::string& t2 = "") {
    T1 = t1;
    T2 = t2;
    Rec = TDZCallbackRec{};
    Rec.Worker = W.get();
    Rec.Request = action;
    Rec.Magic = DZ_CALLBACK_MAGIC;
    Rec.Text1 = T1.c_str();
    Rec.Text2 = T2.c_str();
    return Rec;
  }
  int Call() { return DZMainCallback(&Rec); }
  std::string Back() const { return Rec.Text1 ? static_cast<const char*>(Rec.Text1) : "<null>"; }
};

}  // namespace

TEST_F(TCallbackFixture, WrongMagicAndUnknownActions) {
  Make(2).Magic = 1798;
  EXPECT_EQ(Call(), -5);
  for (int a : {0, 17, 20, 63}) {
    Make(a);
    EXPECT_EQ(Call(), -1) << a;
  }
  // Only the low six bits name the action.
  Make(0x40 | 18).Param1 = 99;
  EXPECT_EQ(Call(), 0);
  EXPECT_EQ(W->OpKey(), 99u);
  TDZStreamRec s{};
  s.Worker = W.get();
  s.Magic = 1;
  EXPECT_EQ(DZStreamCallback(&s), -5);
}

TEST_F(TCallbackFixture, OverwriteWithoutHandlerAnswersZero) {
  Make(12, "a.txt").Param1 = 1;
  EXPECT_EQ(Call(), 0);
}

TEST_F(TCallbackFixture, OverwriteHandlerDecides) {
  bool seenOlder = false;
  int seenIndex = -1;
  Comp.OnExtractOverwrite = [&](TObject*, const std::string& f, bool older, bool& doIt, int index) {
    EXPECT_EQ(f, "a.txt");
    seenOlder = older;
    seenIndex = index;
    doIt = !doIt;
  };
  auto& r = Make(12, "a.txt");
  r.Param1 = 0;
  r.Param2 = 7;
  r.Param3 = 1;
  EXPECT_EQ(Call(), 1);
  EXPECT_TRUE(seenOlder);
  EXPECT_EQ(seenIndex, 7);
  Make(12, "a.txt").Param1 = 1;
  Rec.Param3 = 2;
  EXPECT_EQ(Call(), 2);
  EXPECT_FALSE(seenOlder);
}

TEST_F(TCallbackFixture, ExceptionInHandlerIsAbsorbedThenEveryCallStops) {
  Comp.OnExtractOverwrite = [](TObject*, const std::string&, bool, bool&, int) {
    throw std::runtime_error("disk on fire");
  };
  Make(12, "x");
  EXPECT_EQ(Call(), -4);
  EXPECT_EQ(W->EventErr(), " #12 \"disk on fire\"");
  EXPECT_EQ(W->CancelCode(), 193);
  Make(2).ItemSize = 10;
  EXPECT_EQ(Call(), -2);
  Make(19).Param1 = 0;
  EXPECT_EQ(Call(), -2);
  // A second exception keeps the first description.
  Make(12, "y");
  EXPECT_EQ(Call(), -4);
  EXPECT_EQ(W->EventErr(), " #12 \"disk on fire\"");
}

TEST_F(TCallbackFixture, PasswordAbortAnswersMinus3ThenMinus2) {
  Comp.OnPasswordError = [](TObject*, bool isZip, std::string& pw, const std::string& f, uint32_t& n,
                            TMsgDlgBtn& act) {
    EXPECT_FALSE(isZip);
    EXPECT_EQ(f, "secret.txt");
    EXPECT_EQ(n, 3u);
    pw = "ignored";
    act = mbAbort;
  };
  Make(10, "secret.txt").Param1 = 3;
  EXPECT_EQ(Call(), -3);
  EXPECT_EQ(W->CancelCode(), 4);
  EXPECT_EQ(Rec.Param1, 0);  // no password given
  Make(1, "next").ItemSize = 5;
  EXPECT_EQ(Call(), -2);
}

TEST_F(TCallbackFixture, PasswordFromHandlerIsWrittenBackAndCountCapped) {
  Comp.OnPasswordError = [](TObject*, bool, std::string& pw, const std::string&, uint32_t& n, TMsgDlgBtn&) {
    pw = "open sesame";
    n = 40;
  };
  Make(10, "f").Param1 = 1;
  EXPECT_EQ(Call(), 1);
  EXPECT_EQ(Back(), "open sesame");
  EXPECT_EQ(Rec.Param1, 15);
  Comp.OnPasswordError = [](TObject*, bool, std::string& pw, const std::string&, uint32_t&, TMsgDlgBtn& a) {
    pw = "x";
    a = mbNoToAll;
  };
  Make(10, "f");
  EXPECT_EQ(Call(), 3);
  Comp.OnPasswordError = [](TObject*, bool, std::string& pw, const std::string&, uint32_t&, TMsgDlgBtn& a) {
    pw = "x";
    a = mbCancel;
  };
  Make(10, "f");
  EXPECT_EQ(Call(), 2);
}

TEST_F(TCallbackFixture, UnattendedPasswordQuestionGivesNoneAndReports22) {
  Make(10, "f").Param1 = 2;
  EXPECT_EQ(Call(), 2);
  EXPECT_EQ(Rec.Param1, 0);
  EXPECT_EQ(Comp.ErrCode(), zmsErrorNoExtractPasswordGiven);
}

TEST_F(TCallbackFixture, CommentIsCutTo255) {
  Comp.OnFileComment = [](TObject*, const std::string& f, std::string& c, bool& changed) {
    EXPECT_EQ(f, "a");
    EXPECT_EQ(c, "old");
    c = std::string(300, 'c');
    changed = true;
  };
  Make(14, "a", "old");
  EXPECT_EQ(Call(), 1);
  EXPECT_EQ(Rec.Param1, 255);
  EXPECT_EQ(Back(), std::string(255, 'c'));
  Comp.OnFileComment = [](TObject*, const std::string&, std::string&, bool&) {};
  Make(14, "a", "old");
  EXPECT_EQ(Call(), 0);
}

TEST_F(TCallbackFixture, ExtractNameMayNotTurnAFolderIntoAFile) {
  std::string base;
  Comp.OnSetExtName = [&](TObject*, std::string& name, const std::string& b, bool& changed) {
    base = b;
    if (!name.empty() && name.back() == plat::PathDelim)
      name.pop_back();
    else
      name = "renamed/" + name;
    changed = true;
  };
  Make(16, std::string("dir") + plat::PathDelim, "base/sub");
  EXPECT_EQ(Call(), 0);
  EXPECT_EQ(base, std::string("base") + plat::PathDelim + "sub");
  Make(16, "file.txt", "base");
  EXPECT_EQ(Call(), 1);
  EXPECT_EQ(Back(), "renamed/file.txt");
  // Changed flag without a different name: nothing written back.
  Comp.OnSetExtName = [](TObject*, std::string&, const std::string&, bool& changed) { changed = true; };
  Make(16, "same.txt", "base");
  EXPECT_EQ(Call(), 0);
}

TEST_F(TCallbackFixture, EngineMessageWithPrefixTakesTheComponentsText) {
  Make(8, " (detail)").Param1 = 0x0A05;
  EXPECT_EQ(Call(), 0);
  ASSERT_EQ(Messages.size(), 1u);
  EXPECT_EQ(Messages[0].first, 0x0610A000 + 236);
  EXPECT_EQ(Messages[0].second, LoadMessage(236) + " (detail)");
  EXPECT_EQ(Comp.ErrCode(), zmsEngineInvalidStructure);
  EXPECT_EQ(Comp.ErrMsg(), Messages[0].second);
  EXPECT_EQ(uint32_t(Comp.FullErrCode()), 0x80000A05u);
  // A later error keeps the first; errors past 35 map to 237; no code is no error.
  Make(8, "later").Param1 = 0x0200 | 40;
  Call();
  EXPECT_EQ(Messages.back().first, 0x0610A000 + 237);
  EXPECT_EQ(Messages.back().second, "later");  // no prefix without bit 11
  EXPECT_EQ(Comp.ErrCode(), zmsEngineInvalidStructure);
  Make(8, "info").Param1 = 0;
  Call();
  EXPECT_EQ(Messages.back().first, 0);
}

TEST_F(TCallbackFixture, TextArguments) {
  Comp.FSpecArgs().Add("only.txt");
  Comp.WorkingSpecs().Assign(Comp.FSpecArgs());
  W->SetArg0("/arch/a.zip");
  Comp.SetPassword("pw");
  Comp.SetExtrBaseDir("/out");
  Comp.SetTempDir("/tmpdir");
  auto ask = [&](int kind, int index) {
    Make(19).Param1 = kind;
    Rec.Param3 = index;
    return Call();
  };
  EXPECT_EQ(ask(0, 0), 1);
  EXPECT_EQ(Back(), "/arch/a.zip");
  EXPECT_EQ(ask(1, 0), 1);
  EXPECT_EQ(Back(), "pw");
  EXPECT_EQ(ask(3, 0), 1);
  EXPECT_EQ(Back(), "/out");
  EXPECT_EQ(ask(8, 0), 1);
  EXPECT_EQ(Back(), std::string("/tmpdir") + plat::PathDelim);
  EXPECT_EQ(ask(5, 0), 1);
  EXPECT_EQ(Back(), "only.txt");
  EXPECT_EQ(Rec.Param3, 1);
  EXPECT_EQ(ask(5, 3), 0);
  EXPECT_EQ(Rec.Param3, 1);
  EXPECT_EQ(Back(), "");
  EXPECT_EQ(ask(6, 0), 0);
  EXPECT_EQ(Rec.Param3, 0);
  EXPECT_EQ(ask(5, -1), -5);
  EXPECT_EQ(ask(9, 0), -5);
  EXPECT_EQ(ask(-1, 0), -5);
  EXPECT_EQ(ask(2, 0), 1);
  EXPECT_EQ(Back(), "");  // an empty text is still a valid pointer
}

TEST_F(TCallbackFixture, StoreSuffixTextFollowsTheSet) {
  TZMAddStoreExts set{assGIF, assDVR, assEXT};
  Comp.SetAddStoreSuffixes(set);
  Comp.SetExtAddStoreSuffixes("abc;.Def");
  EXPECT_EQ(W->StoreSuffixText(), ".gif:.dvr-ms:.abc:.def:");
  Make(19).Param1 = 7;
  EXPECT_EQ(Call(), 1);
  EXPECT_EQ(Back(), ".gif:.dvr-ms:.abc:.def:");
}

TEST_F(TCallbackFixture, TextBufferGrowsInSteps) {
  Comp.OnFileComment = [](TObject*, const std::string&, std::string& c, bool& ch) {
    ch = true;
    c = std::string(100, 'a');
  };
  Make(14, "a", "");
  Call();
  EXPECT_EQ(W->Callback().TextBufSize(), 512u);
  Comp.OnPasswordError = [](TObject*, bool, std::string& pw, const std::string&, uint32_t&, TMsgDlgBtn&) {
    pw = std::string(508, 'p');  // 508 + 4 is not below 512
  };
  Make(10, "f");
  Call();
  EXPECT_EQ(W->Callback().TextBufSize(), 1024u);
  EXPECT_EQ(std::strlen(static_cast<const char*>(Rec.Text1)), 508u);
}

TEST_F(TCallbackFixture, LevelAndExtraData) {
  Comp.OnSetCompLevel = [](TObject*, const std::string&, int& level, bool& ch) {
    EXPECT_EQ(level, 6);
    level = 3;
    ch = true;
  };
  Make(15, "f").Param2 = 6;
  EXPECT_EQ(Call(), 2);
  EXPECT_EQ(Rec.Param2, 3);
  Comp.OnSetCompLevel = [](TObject*, const std::string&, int& level, bool& ch) {
    level = 12;  // out of range: not taken
    ch = true;
  };
  std::string raw("\x01\x00\x02\x00zz", 6);
  Comp.OnFileExtra = [&](TObject*, const std::string&, std::string& data, bool& ch) {
    EXPECT_EQ(data, raw);
    data = std::string(3000, 'e');
    ch = true;
  };
  auto& r = Make(15, "f");
  r.Text2 = raw.data();
  r.Param1 = int32_t(raw.size());
  r.Param2 = 6;
  r.TextForm = 0;
  EXPECT_EQ(Call(), 1);
  EXPECT_EQ(Rec.Param2, 6);
  EXPECT_EQ(Rec.Param1, 2047);
}

TEST_F(TCallbackFixture, ProgressAndStopRequest) {
  std::vector<TZMProgressKind> kinds;
  Comp.OnProgress = [&](TObject*, TZMProgressDetails* d) {
    kinds.push_back(d->Kind());
    if (d->Kind() == pkItemEnd) d->SetStopRequested(true);
  };
  Make(4).Param1 = 2;
  EXPECT_EQ(Call(), 0);
  Make(5).ItemSize = 100;
  Call();
  Make(1, "a.txt").ItemSize = 100;
  EXPECT_EQ(Call(), 0);
  Make(2).ItemSize = 100;
  Rec.ItemDone = 100;
  Call();
  EXPECT_EQ(W->Details().WrittenBytes(), 100);
  EXPECT_EQ(W->Details().CurrentName(), "a.txt");
  Make(1).ItemSize = -1;
  EXPECT_EQ(Call(), 1);  // the handler asked to stop at the end of the item
  EXPECT_EQ(kinds,
            (std::vector<TZMProgressKind>{pkTotalItems, pkTotalBytes, pkNewItem, pkItemStep, pkItemEnd}));
}

TEST_F(TCallbackFixture, SkippedAndCrc) {
  std::vector<std::string> skipped;
  Comp.OnSkipped = [&](TObject*, const std::string& f, TZMSkipTypes t, int& e) {
    skipped.push_back(f + ":" + std::to_string(int(t)) + ":" + std::to_string(e));
  };
  auto& r = Make(13, "bad.txt");
  r.Param1 = 5;
  r.Param2 = stBadPassword + 1;
  EXPECT_EQ(Call(), 0);
  ASSERT_EQ(skipped.size(), 1u);
  EXPECT_EQ(skipped[0], "bad.txt:3:236");
  EXPECT_EQ(Comp.FullErrCode(), zmsEngineInvalidStructure);
  // A skip kind the component refuses to pass over stops the run.
  Comp.SetNoSkipping(TZMSkipAborts{stBadPassword});
  auto& r2 = Make(13, "bad.txt");
  r2.Param2 = stBadPassword + 1;
  EXPECT_EQ(Call(), 1);
  // A nonsense kind is taken as a general error, not an index past the set.
  Make(13, "x").Param2 = 999;
  EXPECT_EQ(Call(), 0);

  Make(11, "c.txt");
  EXPECT_EQ(Call(), 0);
  Comp.OnCRC32Error = [](TObject*, const std::string&, uint32_t found, uint32_t expected, bool& doIt) {
    EXPECT_EQ(found, 0xDEADBEEFu);
    EXPECT_EQ(expected, 1u);
    doIt = false;
  };
  auto& r3 = Make(11, "c.txt");
  r3.Param1 = int32_t(0xDEADBEEFu);
  r3.Param2 = 1;
  EXPECT_EQ(Call(), 3);
}

TEST_F(TCallbackFixture, MutedWorkerAnswersNothing) {
  W->SetProgressMuted(true);
  Make(99);
  EXPECT_EQ(Call(), 0);
}

TEST_F(TCallbackFixture, StreamsFromPipes) {
  auto* ms = new TMemoryStream();
  ms->WriteBuffer("0123456789", 10);
  W->Pipes().Add(ms, "mem.bin", true);
  W->Pipes().Items(0)->SetDosDate(0x12345678);
  TDZStreamRec s{};
  s.Worker = W.get();
  s.Magic = DZ_STREAM_MAGIC;
  s.StreamNo = 0;
  s.StreamOp = DZ_SO_IDENTIFY;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.Pos, 10);
  EXPECT_EQ(s.Info1, 0x12345678u);
  s.StreamOp = DZ_SO_OPEN;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.StreamRef, ms);
  s.StreamOp = DZ_SO_SEEK;
  s.Pos = 6;
  s.ByteCount = 0;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.Pos, 6);
  char buf[16] = {};
  s.StreamOp = DZ_SO_READ;
  s.DataPtr = buf;
  s.ByteCount = 16;  // cut to the 4 bytes left
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.ByteCount, 4);
  EXPECT_EQ(std::string(buf, 4), "6789");
  s.StreamOp = DZ_SO_WRITE;
  s.DataPtr = const_cast<char*>("ab");
  s.ByteCount = 2;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(ms->Size(), 12);
  s.StreamOp = DZ_SO_SEEK;
  s.Pos = -100;
  s.ByteCount = 1;
  EXPECT_EQ(DZStreamCallback(&s), 0);
  s.StreamRef = ms;
  s.StreamOp = DZ_SO_CLOSE;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.StreamRef, nullptr);
  EXPECT_FALSE(W->Pipes().HasStream(0));  // the owned stream was released
  // Unknown numbers, operations and missing streams answer 0.
  s.StreamNo = 5;
  s.StreamOp = DZ_SO_OPEN;
  EXPECT_EQ(DZStreamCallback(&s), 0);
  s.StreamOp = 9;
  EXPECT_EQ(DZStreamCallback(&s), 0);
  s.StreamRef = nullptr;
  s.StreamOp = DZ_SO_READ;
  EXPECT_EQ(DZStreamCallback(&s), 0);
}

TEST_F(TCallbackFixture, StreamsFromTheApplicationAndAFailingHandler) {
  TMemoryStream app;
  Comp.OnStream = [&](TObject*, TZMStreamOp op, int n, TStream*& s, TZMSStats& st, bool& done) {
    if (n == 3) throw std::runtime_error("no");
    if (op == zsoIdentify) st.Size = 77;
    if (op == zsoOpen) s = &app;
    if (op == zsoClose) s = nullptr;
    done = true;
  };
  TDZStreamRec s{};
  s.Worker = W.get();
  s.Magic = DZ_STREAM_MAGIC;
  s.StreamNo = 1;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.Pos, 77);
  s.StreamOp = DZ_SO_OPEN;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.StreamRef, &app);
  s.StreamOp = DZ_SO_CLOSE;
  EXPECT_EQ(DZStreamCallback(&s), 1);
  EXPECT_EQ(s.StreamRef, nullptr);
  s.StreamNo = 3;
  s.StreamOp = DZ_SO_IDENTIFY;
  EXPECT_EQ(DZStreamCallback(&s), -5);
}

TEST(ZMDllOprCommand, ExtractOptionsAndCommonFields) {
  TScopedUi ui;
  TBindZipMate comp;
  TZMDLLOpr w(comp);
  comp.SetExtrOptions(TZMExtrOpts{ExtrOverWrite});
  TDZCommand* c = w.BuildExtractCommand("a.zip");
  EXPECT_EQ(c->Options, 0x424u);
  EXPECT_EQ(c->Magic, DZ_CMD_MAGIC);
  EXPECT_EQ(c->CmdVersion, 190);
  EXPECT_EQ(c->Worker, &w);
  EXPECT_EQ(c->MsgLevel, 0);
  EXPECT_EQ(c->PwdReqCount, 1);
  EXPECT_NE(c->Callback, nullptr);
  EXPECT_EQ(w.Arg0(), "a.zip");
  comp.SetExtrOptions(TZMExtrOpts{ExtrTest, ExtrUpdate, ExtrFreshen, ExtrDirNames, ExtrForceDirs, ExtrNTFS});
  comp.SetTrace(true);
  comp.SetVerbose(true);
  comp.SetEncoding(zeoUTF8);
  comp.SetUnattended(true);
  c = w.BuildExtractCommand("a.zip");
  EXPECT_EQ(c->Options, 0x20u | 0x08u | 0x80u | 0x200u | 0x08000000u);
  EXPECT_EQ(c->MsgLevel, -1);
  EXPECT_EQ(c->NameEncoding, 3);
  EXPECT_EQ(c->ParentWindow, nullptr);
  comp.SetTrace(false);
  c = w.BuildExtractCommand("a.zip");
  EXPECT_EQ(c->MsgLevel, 1);
  w.FreeCommand();
  EXPECT_EQ(w.Command(), nullptr);
}

TEST(ZMDllOprCommand, AddOptions) {
  TScopedUi ui;
  TBindZipMate comp;
  TZMDLLOpr w(comp);
  comp.SetAddOptions(TZMAddOpts{AddUpdate, AddFreshen, AddEncrypt});
  comp.SetHowToDelete(htdFinal);
  comp.SetWriteOptions(TZMWriteOpts{zwoSafe});
  TDZCommand* c = w.BuildAddCommand("");
  EXPECT_EQ(c->Options, 0x21u | 0x80u | 0x800u | 0x1000u | 0x2000000u);
  EXPECT_EQ(c->Level, 9);
  EXPECT_EQ(c->PwdReqCount, 0);
}

TEST(ZMDllOprCommand, EngineResultsBecomeMessages) {
  TScopedUi ui;
  TBindZipMate comp;
  TZMDLLOpr w(comp);
  auto idOf = [&](int32_t r) {
    try {
      w.CheckEngineResult(r);
    } catch (const EZMException& e) {
      return e.MsgId;
    }
    return 0;
  };
  EXPECT_EQ(idOf(5), 0);
  EXPECT_EQ(idOf(-1), 2);
  EXPECT_EQ(idOf(-2), 2);
  EXPECT_EQ(idOf(-3), 234);
  EXPECT_EQ(idOf(-6), 237);
  EXPECT_EQ(idOf(-35), 266);
  EXPECT_EQ(idOf(-37), 192);
  EXPECT_EQ(idOf(INT32_MIN), 192);
}

TEST(ZMDllOprCommand, PipesBecomeSpecifications) {
  TScopedUi ui;
  TBindZipMate comp;
  TZMDLLOpr w(comp);
  comp.WorkingSpecs().Add("*.txt");
  w.Pipes().Add(new TMemoryStream(), "", true);
  w.Pipes().Add(new TMemoryStream(), "named.bin", true);
  w.InsertPipeSpecs();
  ASSERT_EQ(comp.WorkingSpecs().Count(), 3);
  EXPECT_EQ(comp.WorkingSpecs().Strings(0), "0:#stream0#");
  EXPECT_EQ(comp.WorkingSpecs().Strings(1), "1:named.bin");
  EXPECT_EQ(comp.WorkingSpecs().Strings(2), "*.txt");
  TZMDLLOpr w2(comp);
  w2.Pipes().Add(new TMemoryStream(), "bad|name", true);
  try {
    w2.InsertPipeSpecs();
    FAIL() << "an invalid pipe name was accepted";
  } catch (const EZMException& e) {
    EXPECT_EQ(e.MsgId, zmsInvalidFilename);
  }
}

TEST(ZMDllOprCommand, StreamConvertRefusesBadArguments) {
  TScopedUi ui;
  TBindZipMate comp;
  TZMDLLOpr w(comp);
  TMemoryStream a, b;
  uint32_t crc = 0;
  int32_t method = 2;
  EXPECT_EQ(ZMMsgOf(w.StreamConvert(nullptr, &b, crc, method, -1)), zmsNoInputStream);
  EXPECT_EQ(ZMMsgOf(w.StreamConvert(&a, nullptr, crc, method, -1)), zmsNoOutputStream);
  EXPECT_EQ(ZMMsgOf(w.StreamConvert(&w.WorkStream(), &b, crc, method, -1)), 105);
  comp.SetUnattended(true);
  method = 3;
  EXPECT_EQ(ZMMsgOf(w.StreamConvert(&a, &b, crc, method, -1)), zmsUnattendedWithoutPassword);
  TZMFileOpr base(comp);
  EXPECT_EQ(ZMMsgOf(base.StreamConvert(&a, &b, crc, method, -1)), zmsInternalError);
}
