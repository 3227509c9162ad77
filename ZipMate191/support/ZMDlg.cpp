#include "ZMDlg.h"

#include <algorithm>

#include "ZMMsgStr.h"
#include "ZMUTF8.h"

namespace {

// A message's text as UTF-16, through the component's 8-bit form.
std::u16string MessageWide(int id) {
  std::string t = LoadMessage(id);
  return WideFromModeString(UTF8Mode() ? Utf8FromAnsi(t) : t);
}

constexpr int kIconSize = 32;
constexpr int kEditHeight = 15;

}  // namespace

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  int64_t p = int64_t(a) * b;
  int64_t q = p / c, r = p % c;
  if (2 * (r < 0 ? -r : r) >= (c < 0 ? -int64_t(c) : int64_t(c))) q += ((p < 0) != (c < 0)) ? -1 : 1;
  return int(q);
}

int ZMDlgKindOf(uint32_t context) {
  int k = int((context >> 16) & 7);
  return k > 4 ? 4 : k;
}

TZipDialogBox::TZipDialogBox(uint32_t context) : FContext(context), FKind(ZMDlgKindOf(context)) {
  FIconId = FKind < 4 ? plat::TDlgIcon(FKind) : plat::diNone;
  FBeep = FKind < 4;
  // The average character of a sample of letters, a blank, digits and a colon.
  static const std::u16string sample = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxy 0123456789:";
  plat::TUiSize s = plat::Ui().TextExtent(sample);
  FCharSize = {std::max(1, s.cx / 64), std::max(1, s.cy)};
}

void TZipDialogBox::BuildLayout(const std::string& title, const std::string& msg, TMsgDlgButtons btns) {
  plat::TUserInterface& ui = plat::Ui();
  const int w = FCharSize.cx, h = FCharSize.cy;
  FForm = plat::TDlgForm{};
  FForm.RightToLeft = ui.RightToLeft();
  FForm.Caption = title.empty() ? WideFromUtf8String(ui.ApplicationTitle()) : WideFromModeString(title);
  FForm.Icon = FIconId;
  FForm.Beep = FBeep;
  std::u16string text = WideFromModeString(msg);

  const int hMargin = MulDiv(8, w, 4), vMargin = MulDiv(8, h, 8);
  const int hSpacing = MulDiv(10, w, 4), vSpacing = MulDiv(10, h, 8);
  int buttonWidth = MulDiv(50, w, 4);
  const int buttonHeight = MulDiv(14, h, 8), buttonSpacing = MulDiv(4, w, 4);

  btns.Exclude(mbHelp);
  TMsgDlgBtn defBtn = btns.Contains(mbOK) ? mbOK : btns.Contains(mbYes) ? mbYes : mbRetry;
  TMsgDlgBtn cancelBtn = btns.Contains(mbCancel) ? mbCancel : btns.Contains(mbNo) ? mbNo : mbOK;
  const bool password = IsPassword();
  FHasEdit = password;

  std::vector<plat::TDlgControl> buttons;
  int tab = password ? 2 : 1;
  for (int b = mbYes; b <= mbYesToAll; ++b) {
    auto m = TMsgDlgBtn(b);
    if (!btns.Contains(m)) continue;
    plat::TDlgControl c;
    c.Kind = plat::TDlgControlKind::Button;
    c.Name = "ZMDlg_A" + std::to_string(buttons.size() + 1);
    c.Caption = MessageWide(83 + b);
    c.ModalResult = b == mbOK        ? mrOk
                    : b == mbCancel  ? mrCancel
                    : b == mbYes     ? mrYes
                    : b == mbNo      ? mrNo
                    : b == mbAbort   ? mrAbort
                    : b == mbRetry   ? mrRetry
                    : b == mbIgnore  ? mrIgnore
                    : b == mbAll     ? mrAll
                    : b == mbNoToAll ? mrNoToAll
                                     : mrYesToAll;
    c.Default = m == defBtn;
    c.Cancel = m == cancelBtn;
    c.TabStop = true;
    c.TabOrder = tab++;
    buttonWidth = std::max(buttonWidth, ui.TextExtent(c.Caption).cx + 8);
    buttons.push_back(std::move(c));
  }

  plat::TUiSize textSize = ui.WrappedTextExtent(text, ui.ScreenSize().cx / 2);
  const bool icon = FIconId != plat::diNone;
  const int iconTextWidth = textSize.cx + (icon ? kIconSize + hSpacing : 0);
  const int iconTextHeight = icon ? std::max(textSize.cy, kIconSize) : textSize.cy;
  const int n = int(buttons.size());
  const int rowWidth = n ? n * buttonWidth + (n - 1) * buttonSpacing : 0;
  int contentWidth = std::max(iconTextWidth, rowWidth);
  int contentHeight = iconTextHeight + buttonHeight;

  plat::TDlgControl edit;
  if (password) {
    contentWidth = std::max(contentWidth, 80 * w);
    edit.Kind = plat::TDlgControlKind::Edit;
    edit.Name = "zmdEdit";
    edit.PasswordChar = u'*';
    edit.MaxLength = ZMDlgMaxPassword;
    edit.TabOrder = 1;
    edit.TabStop = true;
    edit.Left = iconTextWidth - textSize.cx + hMargin;
    edit.Top = iconTextHeight + vMargin + vSpacing;
    edit.Width = std::max(80 * w, textSize.cx);
    edit.Height = kEditHeight;
    contentHeight += kEditHeight + vMargin;
  }

  FForm.ClientWidth = contentWidth + 2 * hMargin;
  FForm.ClientHeight = contentHeight + vSpacing + 2 * vMargin;
  plat::TUiSize screen = ui.ScreenSize();
  FForm.Left = (screen.cx - FForm.ClientWidth) / 2;
  FForm.Top = (screen.cy - FForm.ClientHeight) / 2;
  auto mirror = [&](plat::TDlgControl& c) {
    if (FForm.RightToLeft) c.Left = FForm.ClientWidth - c.Left - c.Width;
  };

  if (icon) {
    plat::TDlgControl img;
    img.Kind = plat::TDlgControlKind::Image;
    img.Name = "Image";
    img.Left = hMargin;
    img.Top = vMargin;
    img.Width = img.Height = kIconSize;
    mirror(img);
    FForm.Controls.push_back(img);
  }
  plat::TDlgControl label;
  label.Kind = plat::TDlgControlKind::Label;
  label.Name = "zmdText";
  label.Caption = text;
  label.WordWrap = true;
  label.Top = vMargin;
  label.Left = iconTextWidth - textSize.cx + hMargin;
  label.Width = textSize.cx;
  label.Height = textSize.cy;
  mirror(label);
  FForm.Controls.push_back(label);
  if (password) {
    mirror(edit);
    FForm.Controls.push_back(edit);
    FForm.ActiveControl = int(FForm.Controls.size()) - 1;
  }
  int top = iconTextHeight + vMargin + vSpacing + (password ? kEditHeight + vSpacing : 0);
  int left = (FForm.ClientWidth - rowWidth) / 2;
  for (auto& b : buttons) {
    b.Left = left;
    b.Top = top;
    b.Width = buttonWidth;
    b.Height = buttonHeight;
    left += buttonWidth + buttonSpacing;
    FForm.Controls.push_back(b);
  }
}

int TZipDialogBox::ShowModal() {
  FEntered.clear();
  int r = plat::Ui().ShowModalDialog(FForm, FEntered);
  if (!FHasEdit) FEntered.clear();
  if (FEntered.size() > size_t(ZMDlgMaxPassword)) FEntered.resize(size_t(ZMDlgMaxPassword));
  return r < 0 || r > 10 ? mrCancel : r;
}

std::string TZipDialogBox::EnteredText() const {
  return FHasEdit ? ModeStringFromWide(FEntered) : std::string();
}
