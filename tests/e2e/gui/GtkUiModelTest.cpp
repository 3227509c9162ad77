// The GTK front end's toolkit-free rules: text conversion, mnemonics, message box
// buttons, the prompt dialog's focus order and Escape answer, typed chooser paths,
// and the main window's style sheet (parsed by GTK's own CSS parser).
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "GtkUiModel.h"

using namespace gtkui;

namespace {

plat::TDlgControl Control(plat::TDlgControlKind kind, const std::string& name, int tabOrder,
                          bool tabStop = true) {
  plat::TDlgControl c;
  c.Kind = kind;
  c.Name = name;
  c.TabOrder = tabOrder;
  c.TabStop = tabStop;
  return c;
}

plat::TDlgControl Button(const std::string& name, int tabOrder, int result, bool def = false,
                         bool cancel = false) {
  plat::TDlgControl c = Control(plat::TDlgControlKind::Button, name, tabOrder);
  c.ModalResult = result;
  c.Default = def;
  c.Cancel = cancel;
  return c;
}

// A password prompt as the component lays it out: image, text, entry, OK and Cancel.
plat::TDlgForm PasswordForm() {
  plat::TDlgForm f;
  f.Controls.push_back(Control(plat::TDlgControlKind::Image, "Image", -1, false));
  f.Controls.push_back(Control(plat::TDlgControlKind::Label, "zmdText", -1, false));
  f.Controls.push_back(Control(plat::TDlgControlKind::Edit, "zmdEdit", 1));
  f.Controls.push_back(Button("ZMDlg_A1", 2, 1, true));
  f.Controls.push_back(Button("ZMDlg_A2", 3, 2, false, true));
  f.ActiveControl = 2;
  return f;
}

}  // namespace

TEST(GtkUiModel, Utf16RoundTripKeepsPolishLettersAndSurrogatePairs) {
  const std::string utf8 = "Błędny katalog: ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ \xF0\x9F\x93\x81";
  std::u16string w = Utf16Of(utf8);
  EXPECT_EQ(w.substr(0, 6), u"Błędny");
  EXPECT_EQ(w.size(), 38u);  // 36 BMP characters and one surrogate pair
  EXPECT_EQ(Utf8Of(w), utf8);
  EXPECT_EQ(Utf8Of(u""), "");
  EXPECT_EQ(Utf16Of(""), u"");
}

TEST(GtkUiModel, MnemonicsFollowTheAmpersandConvention) {
  EXPECT_EQ(MnemonicOf(u"&Yes"), "_Yes");
  EXPECT_EQ(MnemonicOf(u"Yes to &All"), "Yes to _All");
  EXPECT_EQ(MnemonicOf(u"Save && Exit"), "Save & Exit");
  EXPECT_EQ(MnemonicOf(u"&&&No"), "&_No");
  EXPECT_EQ(MnemonicOf(u"file_name"), "file__name");  // a literal underscore stays literal
  EXPECT_EQ(MnemonicOf(u"OK&"), "OK");                // a trailing marker marks nothing
  EXPECT_EQ(MnemonicOf(u"&Tak, zastąp"), "_Tak, zastąp");
  EXPECT_EQ(MnemonicOf(u""), "");
}

TEST(GtkUiModel, MessageBoxButtonsIconsAndClosingAnswers) {
  auto results = [](uint32_t flags) {
    std::vector<int> r;
    for (const auto& b : BoxButtonsOf(flags)) r.push_back(b.Result);
    return r;
  };
  EXPECT_EQ(results(plat::MB_OK), (std::vector<int>{1}));
  EXPECT_EQ(results(plat::MB_OKCANCEL), (std::vector<int>{1, 2}));
  EXPECT_EQ(results(plat::MB_YESNO | plat::MB_ICONQUESTION), (std::vector<int>{6, 7}));
  EXPECT_EQ(results(3), (std::vector<int>{6, 7, 2}));
  EXPECT_EQ(results(2), (std::vector<int>{3, 4, 5}));
  EXPECT_EQ(results(5), (std::vector<int>{4, 2}));
  EXPECT_EQ(results(0xF), (std::vector<int>{1}));  // unknown kinds fall back to OK
  EXPECT_STREQ(BoxButtonsOf(plat::MB_YESNO)[0].Label, "_Yes");

  // Closing a box answers as its safe button would.
  EXPECT_EQ(BoxCloseResultOf(plat::MB_OK | plat::MB_ICONHAND), 1);
  EXPECT_EQ(BoxCloseResultOf(plat::MB_OKCANCEL), 2);
  EXPECT_EQ(BoxCloseResultOf(plat::MB_YESNO | plat::MB_ICONQUESTION), 7);
  EXPECT_EQ(BoxCloseResultOf(3), 2);
  EXPECT_EQ(BoxCloseResultOf(2), 3);

  // Icon bits are read apart from the button bits.
  EXPECT_EQ(BoxIconOf(plat::MB_YESNO | plat::MB_ICONQUESTION), TBoxIcon::Question);
  EXPECT_EQ(BoxIconOf(plat::MB_OK | plat::MB_ICONASTERISK), TBoxIcon::Information);
  EXPECT_EQ(BoxIconOf(plat::MB_OKCANCEL | plat::MB_ICONHAND), TBoxIcon::Error);
  EXPECT_EQ(BoxIconOf(plat::MB_ICONEXCLAMATION), TBoxIcon::Warning);
  EXPECT_EQ(BoxIconOf(plat::MB_YESNO), TBoxIcon::None);
}

TEST(GtkUiModel, PasswordPromptFocusStartsInTheEntryAndCyclesInTabOrder) {
  plat::TDlgForm f = PasswordForm();
  EXPECT_EQ(TabSequenceOf(f), (std::vector<int>{2, 3, 4}));
  EXPECT_EQ(InitialFocusOf(f), 2);
  EXPECT_EQ(NextTabStop(f, 2, true), 3);
  EXPECT_EQ(NextTabStop(f, 4, true), 2);   // wraps forward
  EXPECT_EQ(NextTabStop(f, 2, false), 4);  // wraps backward
  EXPECT_EQ(NextTabStop(f, -1, true), 2);  // from outside the sequence: its first
  EXPECT_EQ(NextTabStop(f, 1, false), 4);  // a label is outside: backward starts at the end
  EXPECT_EQ(EscapeResultOf(f), 2);
}

TEST(GtkUiModel, TabOrderNotListOrderDecidesAndNonStopsAreSkipped) {
  plat::TDlgForm f;
  f.Controls.push_back(Button("ZMDlg_A1", 3, 6));
  f.Controls.push_back(Button("ZMDlg_A2", 1, 7, false, true));
  f.Controls.push_back(Button("off", 0, 1));
  f.Controls.back().TabStop = false;
  f.Controls.push_back(Button("ZMDlg_A3", 1, 2));  // same tab order: list order breaks the tie
  EXPECT_EQ(TabSequenceOf(f), (std::vector<int>{1, 3, 0}));
  EXPECT_EQ(InitialFocusOf(f), 1);  // no active control: the first of the sequence
  f.ActiveControl = 2;              // an active control that takes no focus is passed over
  EXPECT_EQ(InitialFocusOf(f), 1);
  EXPECT_EQ(EscapeResultOf(f), 7);
}

TEST(GtkUiModel, DialogWithoutFocusableControlsOrCancelButton) {
  plat::TDlgForm f;
  f.Controls.push_back(Control(plat::TDlgControlKind::Label, "zmdText", 5));
  f.Controls.push_back(Button("ZMDlg_A1", 1, 1, true));
  f.Controls.back().TabStop = false;
  EXPECT_TRUE(TabSequenceOf(f).empty());
  EXPECT_EQ(InitialFocusOf(f), -1);
  EXPECT_EQ(NextTabStop(f, 0, true), -1);
  EXPECT_EQ(EscapeResultOf(f), 0);  // Escape does nothing without a cancel button
}

TEST(GtkUiModel, TypedFolderPathsAreKeptAsTypedOrResolvedAgainstTheShownFolder) {
  EXPECT_EQ(TypedFolderPath("/srv/kopie/ROB 2016", "/home/u", "/home/u"), "/srv/kopie/ROB 2016");
  EXPECT_EQ(TypedFolderPath("  /srv/kopie/  ", "/x", "/h"), "/srv/kopie/");  // trailing separator kept
  EXPECT_EQ(TypedFolderPath("/", "/x", "/h"), "/");
  EXPECT_EQ(TypedFolderPath("nowy", "/home/u/Dokumenty", "/h"), "/home/u/Dokumenty/nowy");
  EXPECT_EQ(TypedFolderPath("a/b", "/", "/h"), "/a/b");
  EXPECT_EQ(TypedFolderPath("~", "/x", "/home/u"), "/home/u");
  EXPECT_EQ(TypedFolderPath("~/kopia", "/x", "/home/u/"), "/home/u/kopia");
  EXPECT_EQ(TypedFolderPath("~kopia", "/x", "/home/u"), "/x/~kopia");  // not the home folder
  EXPECT_EQ(TypedFolderPath("nowy", "", "/h"), "");                    // no folder to start from
  EXPECT_EQ(TypedFolderPath(" \t ", "/x", "/h"), "");
}

TEST(GtkUiModel, FontFamilyListPutsTheFaceFirstAndCannotBreakTheSheet) {
  EXPECT_EQ(FontFamilyList("Tahoma").rfind("\"Tahoma\", ", 0), 0u);
  EXPECT_NE(FontFamilyList("Tahoma").find("sans-serif"), std::string::npos);
  std::string hostile = FontFamilyList("Evil\"; } * { color: red");
  EXPECT_EQ(hostile.find('}'), std::string::npos);
  EXPECT_EQ(hostile.find(';'), std::string::npos);
  EXPECT_EQ(FontFamilyList("").rfind("\"DejaVu", 0), 0u);
}

// GTK's parser accepts the sheet without a single error, and the rules that matter
// are present: the font size in pixels and the memo's colours in the disabled state.
TEST(GtkUiModel, MainWindowStyleSheetParsesCleanly) {
  std::string css = MainWindowCss("FormMainShort", "cxMemo1", "Tahoma", 11);
  EXPECT_NE(css.find("font-size: 11px"), std::string::npos);
  EXPECT_NE(css.find("#cxMemo1 text:disabled"), std::string::npos);
  EXPECT_NE(css.find("#FormMainShort button"), std::string::npos);

  GtkCssProvider* provider = gtk_css_provider_new();
  int errors = 0;
  g_signal_connect(
      provider, "parsing-error",
      G_CALLBACK(+[](GtkCssProvider*, GtkCssSection*, GError*, gpointer n) { ++*static_cast<int*>(n); }),
      &errors);
  GError* error = nullptr;
  EXPECT_TRUE(gtk_css_provider_load_from_data(provider, css.c_str(), -1, &error));
  if (error) {
    ADD_FAILURE() << error->message;
    g_error_free(error);
  }
  EXPECT_EQ(errors, 0) << css;
  g_object_unref(provider);
}
