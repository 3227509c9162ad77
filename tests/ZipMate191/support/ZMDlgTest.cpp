// The prompt dialog's layout and the console and scripted user interfaces.
#include "ZMDlg.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "ZMMsgStr.h"
#include "ZMUTF8.h"
#include "ZipMateTestKit.h"

namespace {
const plat::TDlgControl& Get(const plat::TDlgForm& f, const std::string& name) {
  const plat::TDlgControl* c = f.Find(name);
  if (!c) throw std::runtime_error("no control " + name);
  return *c;
}
std::vector<const plat::TDlgControl*> Buttons(const plat::TDlgForm& f) {
  std::vector<const plat::TDlgControl*> b;
  for (auto& c : f.Controls)
    if (c.Kind == plat::TDlgControlKind::Button) b.push_back(&c);
  return b;
}
}  // namespace

TEST(ZMDlgLayout, KindsIconsAndMeasures) {
  EXPECT_EQ(ZMDlgKindOf(0x122710), 2);
  EXPECT_EQ(ZMDlgKindOf(0x140000), 4);
  EXPECT_EQ(ZMDlgKindOf(0x070000), 4);
  EXPECT_EQ(ZMDlgKindOf(0x030000), 3);
  EXPECT_EQ(MulDiv(8, 7, 4), 14);
  EXPECT_EQ(MulDiv(10, 15, 8), 19);  // 18.75 rounds up
  EXPECT_EQ(MulDiv(-10, 15, 8), -19);
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  TScopedUi ui;
  TZipDialogBox d(0x122710);
  EXPECT_EQ(d.CharSize(), (plat::TUiSize{7, 15}));
  EXPECT_EQ(d.Kind(), 2);
  EXPECT_FALSE(d.IsPassword());
}

TEST(ZMDlgLayout, ButtonsInFixedOrderWithNamesAndResults) {
  TScopedUi ui;
  TZipDialogBox d(0x30000);
  d.BuildLayout("Title", "Question?", TMsgDlgButtons{mbYesToAll, mbNo, mbYes, mbHelp, mbCancel});
  auto b = Buttons(d.Form());
  ASSERT_EQ(b.size(), 4u);
  EXPECT_EQ(b[0]->Name, "ZMDlg_A1");
  EXPECT_EQ(b[0]->ModalResult, mrYes);
  EXPECT_EQ(b[1]->ModalResult, mrNo);
  EXPECT_EQ(b[2]->ModalResult, mrCancel);
  EXPECT_EQ(b[3]->Name, "ZMDlg_A4");
  EXPECT_EQ(b[3]->ModalResult, mrYesToAll);
  EXPECT_EQ(b[0]->Caption, WideFromModeString(LoadMessage(83)));
  EXPECT_EQ(b[3]->Caption, WideFromModeString(LoadMessage(92)));
  EXPECT_TRUE(b[0]->Default);  // mbYes without mbOK
  EXPECT_TRUE(b[2]->Cancel);   // mbCancel before mbNo
  EXPECT_FALSE(b[1]->Cancel);
  EXPECT_EQ(b[0]->TabOrder, 1);
  EXPECT_EQ(b[3]->TabOrder, 4);
  // One row, common width, centred.
  for (auto* x : b) {
    EXPECT_EQ(x->Top, b[0]->Top);
    EXPECT_EQ(x->Width, b[0]->Width);
  }
  int rowWidth = b[3]->Left + b[3]->Width - b[0]->Left;
  EXPECT_NEAR(b[0]->Left, (d.Form().ClientWidth - rowWidth) / 2, 1);
  EXPECT_EQ(d.Form().Caption, u"Title");
  EXPECT_EQ(d.Form().Icon, plat::diQuestion);
  EXPECT_NE(d.Form().Find("Image"), nullptr);
}

TEST(ZMDlgLayout, DefaultAndCancelChoices) {
  TScopedUi ui;
  auto build = [](TMsgDlgButtons set) {
    TZipDialogBox d(0x40000);
    d.BuildLayout("", "m", set);
    return d.Form();
  };
  auto find = [](const plat::TDlgForm& f, bool def) {
    for (auto* b : Buttons(f))
      if (def ? b->Default : b->Cancel) return b->ModalResult;
    return 0;
  };
  auto f1 = build({mbYes, mbNo});
  EXPECT_EQ(find(f1, true), mrYes);
  EXPECT_EQ(find(f1, false), mrNo);
  auto f2 = build({mbAbort, mbRetry, mbIgnore});
  EXPECT_EQ(find(f2, true), mrRetry);
  EXPECT_EQ(find(f2, false), 0);
  auto f3 = build({mbAbort, mbIgnore});
  EXPECT_EQ(find(f3, true), 0);
  auto f4 = build({mbOK});
  EXPECT_EQ(find(f4, true), mrOk);
  EXPECT_EQ(find(f4, false), mrOk);
  auto f5 = build({});
  EXPECT_TRUE(Buttons(f5).empty());
  EXPECT_EQ(f5.Find("Image"), nullptr);  // kind 4: no icon
  EXPECT_EQ(f5.Caption, u"ScriptedApp");
}

TEST(ZMDlgLayout, MeasuresFollowTheCharacterSize) {
  TScopedUi ui;
  ui.Ui.CharCell = {8, 16};
  TZipDialogBox d(0x10000);
  d.BuildLayout("t", "abc", TMsgDlgButtons{mbOK});
  const auto& f = d.Form();
  const auto& text = Get(f, "zmdText");
  const auto& img = Get(f, "Image");
  EXPECT_EQ(img.Left, 16);  // 8w/4
  EXPECT_EQ(img.Top, 16);   // 8h/8
  EXPECT_EQ(img.Width, 32);
  EXPECT_EQ(text.Top, 16);
  EXPECT_EQ(text.Width, 24);
  EXPECT_EQ(text.Left, 32 + 20 + 16);  // icon, 10w/4 spacing, margin
  const auto& ok = Get(f, "ZMDlg_A1");
  EXPECT_EQ(ok.Width, 100);  // 50w/4
  EXPECT_EQ(ok.Height, 28);  // 14h/8
  EXPECT_EQ(ok.Top, 32 + 16 + 20);
  EXPECT_EQ(f.ClientWidth, 100 + 32);
  EXPECT_EQ(f.ClientHeight, 32 + 28 + 20 + 32);
  EXPECT_EQ(f.Left, (1280 - f.ClientWidth) / 2);
}

TEST(ZMDlgLayout, LongMessageWrapsAtHalfTheScreen) {
  TScopedUi ui;
  ui.Ui.Screen = {800, 600};
  std::string msg;
  for (int i = 0; i < 60; ++i) msg += "word ";
  TZipDialogBox d(0x20000);
  d.BuildLayout("", msg, TMsgDlgButtons{mbOK});
  const auto& text = Get(d.Form(), "zmdText");
  EXPECT_LE(text.Width, 400);
  EXPECT_GT(text.Height, 15);
  EXPECT_EQ(text.Caption, WideFromModeString(msg));
  EXPECT_TRUE(text.WordWrap);
}

TEST(ZMDlgLayout, PasswordDialogHasTheEntryField) {
  TScopedUi ui;
  TZipDialogBox d(0x140000 + 10003);
  EXPECT_TRUE(d.IsPassword());
  d.BuildLayout("Password", "Enter Password ", TMsgDlgButtons{mbOK, mbCancel, mbAll});
  const auto& f = d.Form();
  const auto& e = Get(f, "zmdEdit");
  EXPECT_EQ(e.Kind, plat::TDlgControlKind::Edit);
  EXPECT_EQ(e.MaxLength, 80);
  EXPECT_EQ(e.PasswordChar, u'*');
  EXPECT_EQ(e.TabOrder, 1);
  EXPECT_EQ(e.Height, 15);
  EXPECT_EQ(e.Width, 80 * 7);
  EXPECT_GE(f.ClientWidth, 80 * 7);
  ASSERT_GE(f.ActiveControl, 0);
  EXPECT_EQ(f.Controls[size_t(f.ActiveControl)].Name, "zmdEdit");
  EXPECT_EQ(f.Find("Image"), nullptr);
  auto b = Buttons(f);
  ASSERT_EQ(b.size(), 3u);
  EXPECT_EQ(b[0]->TabOrder, 2);
  EXPECT_GT(b[0]->Top, e.Top + e.Height);
  EXPECT_EQ(b[2]->ModalResult, mrAll);
  // The entry is limited to 80 characters.
  ui.Ui.Answers.push_back({1, std::u16string(120, u'x')});
  EXPECT_EQ(d.ShowModal(), 1);
  EXPECT_EQ(d.EnteredText(), std::string(80, 'x'));
}

TEST(ZMDlgLayout, RightToLeftMirrorsTheText) {
  TScopedUi ui;
  ui.Ui.RTL = true;
  TZipDialogBox d(0x140000);
  d.BuildLayout("", "abc", TMsgDlgButtons{mbOK});
  const auto& f = d.Form();
  EXPECT_TRUE(f.RightToLeft);
  const auto& t = Get(f, "zmdText");
  const auto& e = Get(f, "zmdEdit");
  EXPECT_EQ(t.Left + t.Width, f.ClientWidth - 14);
  EXPECT_EQ(e.Left + e.Width, f.ClientWidth - 14);
}

TEST(ZMDlgLayout, NonPasswordDialogHasNoText) {
  TScopedUi ui;
  ui.Ui.Answers.push_back({6, u"typed"});
  TZipDialogBox d(0x30000);
  d.BuildLayout("", "q", TMsgDlgButtons{mbYes, mbNo});
  EXPECT_EQ(d.ShowModal(), 6);
  EXPECT_EQ(d.EnteredText(), "");
  EXPECT_EQ(d.ShowModal(), 2);  // no answer: closed
}

// ---- Console user interface ----

namespace {
struct TConsoleRun {
  std::FILE* In = std::tmpfile();
  std::FILE* Out = std::tmpfile();
  plat::TConsoleUi Ui;
  explicit TConsoleRun(const std::string& input) {
    std::fputs(input.c_str(), In);
    std::rewind(In);
    Ui.SetStreams(In, Out);
  }
  ~TConsoleRun() {
    std::fclose(In);
    std::fclose(Out);
  }
  std::string Output() {
    std::fflush(Out);
    std::rewind(Out);
    std::string s;
    int c;
    while ((c = std::fgetc(Out)) != EOF) s += char(c);
    return s;
  }
};

plat::TDlgForm YesNoCancel() {
  TScopedUi ui;
  TZipDialogBox d(0x30000);
  d.BuildLayout("Confirm", "Overwrite?", TMsgDlgButtons{mbYes, mbNo, mbCancel});
  return d.Form();
}
}  // namespace

TEST(ZMDlgConsole, AnswersByNumberOrCaption) {
  plat::TDlgForm f = YesNoCancel();
  std::u16string entered;
  {
    TConsoleRun r("2\n");
    EXPECT_EQ(r.Ui.ShowModalDialog(f, entered), mrNo);
    std::string out = r.Output();
    EXPECT_EQ(out.rfind("\a== Confirm ==", 0), 0u);  // question kind: with its sound
    EXPECT_NE(out.find("Overwrite?"), std::string::npos);
  }
  {
    TConsoleRun r("maybe\n9\n  yes \n");
    EXPECT_EQ(r.Ui.ShowModalDialog(f, entered), mrYes);
  }
}

TEST(ZMDlgConsole, EmptyAnswerOrEndOfInputCancels) {
  plat::TDlgForm f = YesNoCancel();
  std::u16string entered;
  {
    TConsoleRun r("\n");
    EXPECT_EQ(r.Ui.ShowModalDialog(f, entered), mrCancel);
  }
  {
    TConsoleRun r("");
    EXPECT_EQ(r.Ui.ShowModalDialog(f, entered), mrCancel);
  }
  {
    TConsoleRun r("");
    EXPECT_EQ(r.Ui.MessageBox("Delete?", "Q", plat::MB_YESNO), 7);
  }
}

TEST(ZMDlgConsole, PasswordEntry) {
  TScopedUi ui;
  TZipDialogBox d(0x140000);
  d.BuildLayout("Password", "Enter Password ", TMsgDlgButtons{mbOK, mbCancel});
  std::u16string entered;
  {
    TConsoleRun r("h\xC3\xA9slo\n");
    EXPECT_EQ(r.Ui.ShowModalDialog(d.Form(), entered), mrOk);
    EXPECT_EQ(entered, u"h\u00E9slo");
  }
  {
    TConsoleRun r("\n");
    EXPECT_EQ(r.Ui.ShowModalDialog(d.Form(), entered), mrCancel);
    EXPECT_EQ(entered, u"");
  }
  {
    TConsoleRun r(std::string(100, 'p') + "\n");
    r.Ui.ShowModalDialog(d.Form(), entered);
    EXPECT_EQ(entered.size(), 80u);
  }
}

TEST(ZMDlgConsole, TextCellsWrapAndExpandTabs) {
  auto lines = plat::WrapTextCells(u"a\tb\r\nlongword here", 9);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], u"a       b");
  EXPECT_EQ(lines[1], u"longword");
  EXPECT_EQ(lines[2], u"here");
  EXPECT_EQ(plat::WrapTextCells(u"abcdefgh", 3), (std::vector<std::u16string>{u"abc", u"def", u"gh"}));
  EXPECT_EQ(plat::WrapTextCells(u"", 5).size(), 1u);
  plat::TConsoleUi c;
  EXPECT_EQ(c.TextExtent(u"abcd"), (plat::TUiSize{32, 16}));
}
